// The payment writer: what it refuses and that it streams. Whether the control accepts what it
// writes is file_driver_test.cpp's; that each break is refused with its message, cli_test.cpp's.
#include "writing/payment_writer.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <sstream>
#include <streambuf>

#include "basic/expect_failure.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

// Counts and hashes what is written, keeping nothing.
struct DigestBuffer : std::streambuf {
  std::uint64_t bytes = 0;
  std::uint64_t hash = 1469598103934665603ULL;
  int_type overflow(int_type c) override {  // every byte, as there is no buffer
    ++bytes;
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return c;
  }
};

long PeakKilobytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(PaymentWriterTest, RefusesWhatCannotBeLaidOutBeforeWritingAnything) {
  struct Case {
    const char* what;
    std::function<void(PaymentPlan&)> change;
  };
  // clang-format off
  const Case cases[] = {
      {"registration of 10 characters", [](PaymentPlan& s) { s.registro_patronal = "A123456789"; }},
      {"name of 51 characters", [](PaymentPlan& s) { s.nombre = std::string(51, 'N'); }},
      {"100 diskettes", [](PaymentPlan& s) { s.diskettes = 100; }},
      {"an amount of 8 digits", [](PaymentPlan& s) {
         s.workers.resize(1); s.workers[0].cuota_fija = 10'000'000; }},
      {"a worker NSS of 10 characters", [](PaymentPlan& s) {
         s.workers.resize(1); s.workers[0].nss = "1234567890"; }},
      {"a summary amount past 9 digits", [](PaymentPlan& s) {
         s.workers.resize(101);
         for (PaymentWorker& w : s.workers) w.cuota_fija = 9'999'999; }},
  };
  // clang-format on
  for (const Case& c : cases) {
    PaymentPlan plan = SamplePaymentPlan(3, 1);
    c.change(plan);
    SCOPED_TRACE(c.what);
    std::ostringstream out;
    EXPECT_RUNTIME_FAILURE(err::kInvalidCall, WritePaymentFile(plan, out));
    EXPECT_TRUE(out.str().empty()) << c.what;
  }
}

TEST(PaymentWriterTest, RefusesDiskettesThatCannotBeMade) {
  testing::TempDrives drives("A=removable");
  const PaymentPlan plan = SamplePaymentPlan(2, 1);  // 6 records: at most 5 parts
  const std::pair<const char*, int> refused[] = {
      {"P04", 2}, {"P0404268", 0}, {"P0404268", 11}, {"P0404268", 6}};
  for (const auto& [stem, parts] : refused) {
    EXPECT_RUNTIME_FAILURE(err::kInvalidCall, WriteDiskettes(plan, drives.root('A'), stem, parts));
  }
  EXPECT_EQ(WriteDiskettes(plan, drives.root('A'), "P0404268", 5).size(), 5u);
}

TEST(PaymentWriterTest, PeriodPaidOnTimeToday) {
  // Today, then the period and the deadline's month; the deadline is the 17th.
  const std::array<int, 7> cases[] = {
      {2025, 3, 17, 2025, 2, 2025, 3},    // due today
      {2025, 3, 18, 2025, 2, 2025, 4},    // past the 17th: due next month
      {2025, 1, 5, 2024, 12, 2025, 1},    // the period in the year before
      {2025, 12, 31, 2025, 11, 2026, 1},  // due in the next year
  };
  for (const auto& [y, m, d, year, month, deadline_year, deadline_month] : cases) {
    PaymentPlan plan;
    SetPeriodPaidOn(plan, std::chrono::year(y) / m / d);
    EXPECT_EQ((std::array{plan.year, plan.month, plan.deadline_year, plan.deadline_month,
                          plan.deadline_day}),
              (std::array{year, month, deadline_year, deadline_month, 17}))
        << y << "-" << m << "-" << d;
  }
}

// Generated workers are written in constant memory and the same plan writes the same
// bytes; a file held whole would take 295 bytes a worker.
TEST(PaymentWriterTest, StreamsGeneratedWorkers) {
  const PaymentPlan plan = SamplePaymentPlan(100'000, 5);
  const long before = PeakKilobytes();
  DigestBuffer first, second;
  std::ostream out_first(&first), out_second(&second);
  WritePaymentFile(plan, out_first);
  WritePaymentFile(plan, out_second);
  EXPECT_LT(PeakKilobytes() - before, 15'000);
  EXPECT_EQ(first.bytes, static_cast<std::uint64_t>(PaymentRecordCount(plan)) * 295);
  EXPECT_GT(first.bytes, 100'000u * 295);
  EXPECT_EQ(first.hash, second.hash);
}

}  // namespace
}  // namespace zav
