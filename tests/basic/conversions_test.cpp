#include "basic/conversions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "basic/expect_failure.hpp"

namespace zav {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(RoundHalfEvenTest, TiesGoToTheEvenNeighbour) {
  // clang-format off
  const std::pair<double, double> cases[] = {
      // ties
      {0.5, 0}, {1.5, 2}, {2.5, 2}, {-1.5, -2}, {-2.5, -2},
      {4503599627370495.5, 4503599627370496.0},
      // not ties
      {2.4999999, 2}, {-2.6, -3}, {0.49999999999999994, 0}, {1e300, 1e300}};
  // clang-format on
  for (const auto& [v, rounded] : cases) EXPECT_EQ(RoundHalfEven(v), rounded) << v;
  EXPECT_EQ(RoundHalfEven(kInf), kInf);
  EXPECT_TRUE(std::isnan(RoundHalfEven(std::nan(""))));
}

TEST(IntegerConversionsTest, RoundThenCheckTheRange) {
  EXPECT_EQ(ToInteger(-32768.5), -32768);
  EXPECT_EQ(ToInteger(32767.4), 32767);
  EXPECT_EQ(ToByte(-0.5), 0);
  EXPECT_EQ(ToByte(254.5), 254);
  EXPECT_EQ(ToLong(-2147483648.5), -2147483647 - 1);
  EXPECT_EQ(ToLong(2147483646.5), 2147483646);

  const double overflows[][3] = {// byte, integer, long
                                 {255.5, 32767.5, 2147483647.5},
                                 {-0.6, -32768.6, -2147483648.6},
                                 {kInf, -kInf, kInf},
                                 {std::nan(""), std::nan(""), std::nan("")}};
  for (const auto& row : overflows) {
    EXPECT_RUNTIME_FAILURE(err::kOverflow, ToByte(row[0]));
    EXPECT_RUNTIME_FAILURE(err::kOverflow, ToInteger(row[1]));
    EXPECT_RUNTIME_FAILURE(err::kOverflow, ToLong(row[2]));
  }
}

}  // namespace
}  // namespace zav
