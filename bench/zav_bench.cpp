// Micro-benchmarks of the validation hot path: one record through its check, the running
// check value over a megabyte of records, and the two number rules on typical fields.
// Built only with -DZAV_BUILD_BENCH=ON (make bench runs them).
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "basic/numeric_text.hpp"
#include "control/zav.hpp"
#include "records/checksum.hpp"
#include "records/layout.hpp"
#include "validation/file_checks.hpp"
#include "writing/payment_writer.hpp"

namespace {

// The records of a sample payment file of `workers` generated workers.
std::vector<std::string> SampleRecords(std::int64_t workers) {
  std::ostringstream out;
  zav::WritePaymentFile(zav::SamplePaymentPlan(workers, 1), out);
  const std::string bytes = out.str();
  std::vector<std::string> records;
  for (std::size_t at = 0; at + zav::kRecordLength <= bytes.size(); at += zav::kRecordLength) {
    records.push_back(bytes.substr(at, zav::kRecordLength));
  }
  return records;
}

// A control that has read the header and the last record of `records`, as the validation
// run leaves it before the record walk.
void Prepare(zav::ZAV& z, std::vector<std::string>& records) {
  zav::ResetTotals(z);
  zav::CopyHeader(z, records.front());
  zav::DerivePeriod(z);
  zav::ReadLastRecord(z, records.back());
  if (z.ChecaRegistro(2, 1, records.front()) != 0) throw std::runtime_error("bad header");
}

// Runs records of one type through ChecaRegistro; totals are cleared now and then so that
// the 32-bit ones never overflow however long the benchmark runs.
void RunRecords(benchmark::State& state, std::uint8_t type) {
  std::vector<std::string> records = SampleRecords(200);
  zav::ZAV z;
  Prepare(z, records);
  std::vector<std::string> chosen;
  for (const std::string& r : records) {
    if (r.compare(0, 2, type == 3 ? "03" : "04") == 0) chosen.push_back(r);
  }
  std::size_t k = 0;
  std::int64_t since_reset = 0;
  for (auto _ : state) {
    std::string& record = chosen[k];
    benchmark::DoNotOptimize(z.ChecaRegistro(type, 300, record));
    if (++k == chosen.size()) k = 0;
    if (++since_reset == 1'000'000) {
      zav::ResetTotals(z);
      since_reset = 0;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(zav::kRecordLength));
}

void BM_WorkerRecord(benchmark::State& state) { RunRecords(state, 3); }
BENCHMARK(BM_WorkerRecord);

void BM_MovementRecord(benchmark::State& state) { RunRecords(state, 4); }
BENCHMARK(BM_MovementRecord);

// RunningCheck::Fold over 1 MiB worth of sample records, record by record.
void BM_ChecksumFoldPerMiB(benchmark::State& state) {
  const std::vector<std::string> sample = SampleRecords(100);
  std::vector<std::string_view> records;
  const std::size_t count = (1u << 20) / zav::kRecordLength;
  for (std::size_t k = 0; k < count; ++k) records.push_back(sample[1 + k % (sample.size() - 3)]);
  zav::RunningCheck check;
  for (auto _ : state) {
    for (const std::string_view r : records) check.Fold(r);
    benchmark::DoNotOptimize(check);
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(count * zav::kRecordLength));
}
BENCHMARK(BM_ChecksumFoldPerMiB)->Unit(benchmark::kMicrosecond);

// Fields as the record checks meet them: plain digits, and the rarer other forms.
constexpr std::string_view kFields[] = {"0001234", "30", "00000000001", "1", "0000000"};
constexpr std::string_view kOddFields[] = {"12.50", "-3", "1E3", "  7 ", "&H1F", "1,234"};

template <bool (*Rule)(std::string_view) noexcept>
void RunIsNumeric(benchmark::State& state, const std::string_view* fields, std::size_t n) {
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Rule(fields[k]));
    if (++k == n) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_IsNumericPlainDigits(benchmark::State& state) {
  RunIsNumeric<zav::IsNumeric>(state, kFields, std::size(kFields));
}
BENCHMARK(BM_IsNumericPlainDigits);

void BM_IsNumericOtherForms(benchmark::State& state) {
  RunIsNumeric<zav::IsNumeric>(state, kOddFields, std::size(kOddFields));
}
BENCHMARK(BM_IsNumericOtherForms);

void RunLeadingValue(benchmark::State& state, const std::string_view* fields, std::size_t n) {
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zav::LeadingValue(fields[k]));
    if (++k == n) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_LeadingValuePlainDigits(benchmark::State& state) {
  RunLeadingValue(state, kFields, std::size(kFields));
}
BENCHMARK(BM_LeadingValuePlainDigits);

void BM_LeadingValueOtherForms(benchmark::State& state) {
  RunLeadingValue(state, kOddFields, std::size(kOddFields));
}
BENCHMARK(BM_LeadingValueOtherForms);

}  // namespace

BENCHMARK_MAIN();
