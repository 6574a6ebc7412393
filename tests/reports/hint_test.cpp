// The hint beside a refused file's verdict: one row a recognisable cause, and the refusals
// with none.
#include "reports/hint.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "basic/cp1252.hpp"
#include "records/record_02.hpp"
#include "support/payment_run.hpp"

namespace zav {
namespace {

using namespace testing;

TEST(Hint, NamesTheCauseOfARefusal) {
  const std::string file = FileOf(SamplePaymentPlan(3, 2));  // P0404268.ZAV, 7 records
  std::string with_enye = file;
  Put(with_enye, 1, record02::kRazonSocial, "PE\321A");  // PEÑA, in Windows-1252
  struct Case {
    const char* what;
    std::string bytes;
    std::int16_t message;
    std::int32_t failure;
    HintKind kind;
    const char* said = "";
    std::string source = "P0404268.ZAV";
    std::string work = "P0404268.ZAV";
  } cases[] = {
      {"the empty file", "", 0, 13, HintKind::kEmpty, "vac\355o (0 bytes)"},
      {"no extension", file, 0, 5, HintKind::kExtension, "P0404268 no termina en .ZAV", "P0404268"},
      {"a 7-character part name", file, 234, 0, HintKind::kPartName, "A040426.ZA0 no",
       "A040426.ZA0"},
      {"a later diskette part alone", file.substr(2 * kRecordLength), 219, 0, HintKind::kLaterPart,
       "tipo 03, no con el encabezado patronal (02)", "P0404268.ZA1"},
      {"a text file", "hola mundo\n", 0, 13, HintKind::kNotPayment, "no es un archivo de pagos"},
      {"a work name the header does not ask for", file, 234, 0, HintKind::kWorkName,
       "pide el nombre P0404268.ZAV", "PAGO.ZAV", "PAGO.ZAV"},
      {"CR LF after every record", WithLineEnds(file, "\r\n"), 219, 0, HintKind::kLineEnds,
       "(CR LF): el archivo fue abierto y guardado con un editor"},
      {"LF after every record", WithLineEnds(file, "\n"), 219, 0, HintKind::kLineEnds, "(LF)"},
      {"saved as UTF-8", Cp1252ToUtf8(with_enye), 219, 0, HintKind::kUtf8, "(\303\221 por \321)"},
      {"7 bytes too many", file + "1234567", 144, 0, HintKind::kSize,
       "mide 2072 bytes, que no es m\372ltiplo de 295 (el tama\361o de un registro): sobran 7 "
       "bytes, o faltan 288"},
      {"accepted", file, 0, 0, HintKind::kNone},
      {"a sound file with an altered check value", file, 144, 0, HintKind::kNone},
  };
  TempDrives drives("");
  for (const Case& c : cases) {
    const std::filesystem::path path = drives.base() / "work";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    const Hint hint = HintFor({path, c.source, c.work, c.message, c.failure});
    EXPECT_EQ(hint.kind, c.kind) << c.what << ": " << hint.text;
    EXPECT_NE(hint.text.find(c.said), std::string::npos) << c.what << ": " << hint.text;
    EXPECT_EQ(hint.expected_name, c.kind == HintKind::kWorkName ? "P0404268.ZAV" : "") << c.what;
  }
  EXPECT_EQ(HintFor({drives.base() / "missing", "P0404268.ZAV", "P0404268.ZAV", 2, 0}).kind,
            HintKind::kNone);
}

}  // namespace
}  // namespace zav
