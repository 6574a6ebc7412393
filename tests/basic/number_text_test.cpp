#include "basic/number_text.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "basic/runtime_failure.hpp"

namespace zav {
namespace {

struct TextCase {
  double value;
  std::string text;
};

TEST(FormatFixed2Test, RoundsTheDecimalFormHalfAwayFromZero) {
  // clang-format off
  const TextCase cases[] = {
      // 2.345 and 1.005 lie a little below their decimal text in binary
      {0.125, "0.13"}, {2.345, "2.35"}, {-2.345, "-2.35"}, {1.005, "1.01"}, {0.004, "0.00"},
      {0.995, "1.00"}, {1234, "1234.00"}, {-0.0, "0.00"}, {-0.001, "-0.00"}, {0.1 + 0.2, "0.30"},
      {0.00999999999999999, "0.01"},
      // 100 * 0.29, and a value beyond the 15 digits
      {28.999999999999996, "29.00"}, {1e20, "100000000000000000000.00"}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(FormatFixed2(c.value), c.text) << c.value;
}

TEST(GeneralNumberTextTest, FifteenDigitsAndClassicExponentForm) {
  // clang-format off
  const TextCase cases[] = {
      // plain decimal
      {0, "0"}, {-0.0, "0"}, {1234.5, "1234.5"}, {0.1 + 0.2, "0.3"},
      {1.0 / 3, "0.333333333333333"}, {123456789012345, "123456789012345"}, {0.29 * 100, "29"},
      {0.0001, "0.0001"},
      // exponent form
      {999999999999999.9, "1E+15"}, {-1.5e100, "-1.5E+100"},
      {0.00001, "1E-05"}, {0.000012345, "1.2345E-05"}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(GeneralNumberText(c.value), c.text) << c.value;
}

TEST(FormatZeroPaddedTest, WholeNumbersWithLeadingZeros) {
  const struct {
    double value;
    int digits;
    std::string text;
  } cases[] = {{7, 2, "07"},   {12345, 4, "12345"}, {-5, 2, "-05"},
               {2.5, 2, "03"}, {-2.5, 2, "-03"},    {7, 0, "7"}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(FormatZeroPadded(c.value, c.digits), c.text) << c.value << " " << c.digits;
  }
}

TEST(NumberTextTest, NonFiniteValuesOverflow) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_THROW(FormatFixed2(inf), RuntimeFailure);
  EXPECT_THROW(GeneralNumberText(-inf), RuntimeFailure);
  EXPECT_THROW(FormatZeroPadded(std::numeric_limits<double>::quiet_NaN(), 2), RuntimeFailure);
}

}  // namespace
}  // namespace zav
