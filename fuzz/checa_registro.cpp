// The checa_registro entry: records checked one call at a time, after the header of a
// sample file of the period.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "entries.hpp"
#include "platform/record_file.hpp"
#include "support.hpp"
#include "validation/file_checks.hpp"
#include "writing/payment_writer.hpp"

namespace zav::fuzz {

void ChecaRegistroInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::string> headers = [] {
    std::vector<std::string> out;
    for (const int month : {4, 5, 13, 14}) {
      PaymentPlan plan = SamplePaymentPlan(2, 1);
      plan.month = month;
      out.push_back(SampleFile(plan).substr(0, RecordFile::kRecordLength));
    }
    return out;
  }();
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.empty()) return;
  const auto options = static_cast<std::uint8_t>(Take(in, 1)[0]);

  ZAV z;
  std::string header = headers[(options >> 2) & 3];
  ResetTotals(z);
  CopyHeader(z, header);
  DerivePeriod(z);
  z.bgGerencia = (options & 1) != 0;
  z.working().lgDiasAtraso = (options & 2) != 0 ? 3 : 0;
  z.NumDiscos = 1;
  try {
    z.ChecaRegistro(2, 1, header);
  } catch (const RuntimeFailure&) {
    // A failed call reaches the host as such; the next call goes on.
  }
  for (int calls = 0; calls < 64 && !in.empty(); ++calls) {
    const auto type = static_cast<std::uint8_t>(TakeNumber(in, 1));
    const auto record = static_cast<std::int32_t>(TakeNumber(in, 4));
    std::string text(Take(in, TakeNumber(in, 2)));
    try {
      z.ChecaRegistro(type, record, text);
    } catch (const RuntimeFailure&) {
    }
  }
}

}  // namespace zav::fuzz
