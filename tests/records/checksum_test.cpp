// The file check value and the capture-line check strings.
#include "records/checksum.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "basic/expect_failure.hpp"
#include "control/zav.hpp"

namespace zav {
namespace {

const std::string kZeros(19, '0');

TEST(Checksum, CheckStringOfKnownTexts) {
  struct Case {
    std::string text, expected;
  } cases[] = {
      {"ABC123", "716"},
      {"abc", "000"},  // lower case is not counted, nor folded to upper case
      {"A-1 b2", "204"},
      {"", "000"},
      {"\321\341 \r\n", "000"},  // accented letters, blanks and line ends are skipped
  };
  ZAV zav;
  for (auto& c : cases) {
    std::string out = "stale";
    zav.CheckString(c.text, out);
    EXPECT_EQ(out, c.expected) << c.text;
  }
}

// Nothing counted keeps the counters and cleans the digits.
TEST(Checksum, NothingCountedCleansTheDigits) {
  ZAV zav;
  std::string record = "abc -", sum = "12x4";
  std::int16_t i = 7, j = 3, r = 5;
  zav.AcarreaCheckString(record, sum, i, j, r);
  EXPECT_EQ(sum, "1204000000000000000");
  EXPECT_EQ((std::array<std::int16_t, 3>{i, j, r}), (std::array<std::int16_t, 3>{7, 3, 5}));
}

// A record of the type with `tail` at position 121, where a validation record keeps its
// check value.
std::string Record(char type, const std::string& tail) {
  std::string record(295, ' ');
  record.replace(0, 2, {'0', type});
  record.replace(20, 10, "PAYMENT 42");
  record.replace(120, tail.size(), tail);
  return record;
}

// The driver's object and the host's method agree over a run of records.
TEST(Checksum, RunningObjectMatchesChainedCalls) {
  const std::vector<std::string> records = {Record('2', "HEADER"), Record('3', "W0001"),
                                            Record('4', "MOVE"), Record('6', "99999")};
  ZAV zav;
  RunningCheck check;
  std::string sum = kZeros;
  std::int16_t i = 0, j = 0, r = 0;
  for (const std::string& original : records) {
    std::string record = original;
    check.Fold(record);
    zav.AcarreaCheckString(record, sum, i, j, r);
    EXPECT_EQ(record, original);
  }
  EXPECT_EQ((std::tuple{sum, i, j, r}),
            (std::tuple{std::string(check.value()), check.i(), check.j(), check.r()}));
}

TEST(Checksum, OutOfRangeStateIsRefusedWithoutWriting) {
  const struct { std::int16_t i, j, r; } cases[] = {{19, 0, 0}, {-1, 0, 0}, {0, 19, 0}, {0, 0, 9}};
  ZAV zav;
  for (const auto& c : cases) {
    std::string record = "AAAA", sum = "77";
    std::int16_t i = c.i, j = c.j, r = c.r;
    EXPECT_RUNTIME_FAILURE(err::kSubscriptOutOfRange, zav.AcarreaCheckString(record, sum, i, j, r));
    EXPECT_EQ(sum, "77");
    EXPECT_EQ((std::array{i, j, r}), (std::array{c.i, c.j, c.r}));
  }
}

}  // namespace
}  // namespace zav
