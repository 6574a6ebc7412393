// Rounding and range checks, numbers as text and text as numbers.
#include "basic/numeric_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "basic/conversions.hpp"
#include "basic/expect_failure.hpp"
#include "basic/number_text.hpp"

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
  EXPECT_EQ((std::vector<long>{ToInteger(-32768.5), ToInteger(32767.4), ToByte(-0.5), ToByte(254.5),
                               ToLong(-2147483648.5), ToLong(2147483646.5)}),
            (std::vector<long>{-32768, 32767, 0, 254, -2147483648L, 2147483646}));

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
  for (const auto& c : cases) {
    EXPECT_EQ(FormatZeroPadded(c.value, c.digits), c.text) << c.value << " " << c.digits;
  }
  EXPECT_THROW(FormatFixed2(kInf), RuntimeFailure);
  EXPECT_THROW(GeneralNumberText(-kInf), RuntimeFailure);
  EXPECT_THROW(FormatZeroPadded(std::numeric_limits<double>::quiet_NaN(), 2), RuntimeFailure);
}

struct ValueCase {
  std::string text;
  double value;
};

TEST(LeadingValueTest, ReadsTheNumberAtTheStart) {
  // clang-format off
  const ValueCase cases[] = {
      {"0001234", 1234}, {"-000012", -12}, {"+7", 7}, {"", 0}, {"ZA1", 0}, {"-", 0}, {".5", 0.5},
      {"12.34.56", 12.34}, {"12A4567", 12}, {"--5", 0},
      // commas and dollar signs end the number; spaces, tabs and line feeds are skipped
      {"1,234", 1}, {"$12", 0}, {"12$", 12}, {" 1 2\t3\n4", 1234}, {"- 5", -5}, {"1\r2", 1},
      // exponents, E or D, complete or not
      {"1.5E3", 1500}, {"1.5e-3", 0.0015}, {"2D2", 200}, {"1 E 2", 100}, {"1E+X", 1}, {"1E-400", 0},
      {"0.000000000000000000000000000001", 1e-30},
      // radix forms: 16-bit, then 32-bit signed
      {"& h 1f", 31}, {"&H8000", -32768}, {"&HFFFF", -1}, {"&H0000FFFF", -1}, {"&H10000", 65536},
      {"&HFFFFFFFF", -1}, {"&H100000000", 4294967296.0}, {"&HG", 0}, {"&O17", 15}, {"&O177777", -1},
      {"&O18", 1}, {"&X1", 0}, {"-&H10", 0}
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(LeadingValue(c.text), c.value) << '"' << c.text << '"';
}

TEST(LeadingValueTest, IsCorrectlyRoundedAndNeverFails) {
  // Exactly halfway between 1 and the next double.
  const std::string tie = "1.00000000000000011102230246251565404236316680908203125";
  EXPECT_EQ(LeadingValue(tie), 1.0);
  // A non-zero digit far beyond the kept digits still tips the tie.
  EXPECT_EQ(LeadingValue(tie + std::string(900, '0') + "1"), std::nextafter(1.0, 2.0));
  EXPECT_EQ(LeadingValue("4.9406564584124654E-324"), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(LeadingValue("1E400"), kInf);
  EXPECT_EQ(LeadingValue("-1E99999999999999999999"), -kInf);
  EXPECT_EQ(LeadingValue(std::string(2000, '9')), kInf);
}

TEST(IsNumericTest, AcceptsWhatTheLocaleConversionAccepts) {
  const std::string numeric[] = {"0001234", "-000012", "000012-", "+12",     "12+",       "1.5",
                                 "5.",      ".5",      "1E5",     "1e-5",    "1,234.50",  "1,2,3",
                                 "(12)",    "$12",     "12$",     "-$1,234", "($5)",      "  12  ",
                                 "- 12",    "&HFFFF",  "&hff",    "&O777",   "&HFFFFFFFF"};
  const std::string not_numeric[] = {
      "",    "   ",   "12A4567", "1.2.3", "12 4",  "\t12",  "12\n",       "1D5",
      "1E",  "1E+",   ",12",     "12,",   "1,,2",  "1,.5",  "1.2,3",      "(12",
      "12)", "(-12)", "-12-",    "+-12",  "$$12",  "-",     ".",          "$",
      "&H",  "&O8",   "&HG",     "-&H10", "& H10", "1E400", "&H100000000"};
  for (const auto& text : numeric) EXPECT_TRUE(IsNumeric(text)) << '"' << text << '"';
  for (const auto& text : not_numeric) EXPECT_FALSE(IsNumeric(text)) << '"' << text << '"';
}

TEST(StrictNumberTest, ValuesAndFailures) {
  const ValueCase cases[] = {{"1,234.50", 1234.5}, {"(12)", -12},    {"12-", -12},
                             {"$-5", -5},          {" 7 ", 7},       {"&HFFFF", -1},
                             {"&H10000", 65536},   {"2.5E-1", 0.25}, {"1E-400", 0},
                             {"(0)", 0},           {"0.1", 0.1}};
  for (const auto& c : cases) EXPECT_EQ(StrictNumber(c.text), c.value) << '"' << c.text << '"';

  const std::pair<std::string, int> failures[] = {
      {"", err::kTypeMismatch},  {"12A", err::kTypeMismatch}, {"1E400x", err::kTypeMismatch},
      {"1E400", err::kOverflow}, {"-1E400", err::kOverflow},  {"&H100000000", err::kOverflow}};
  for (const auto& [text, number] : failures) EXPECT_RUNTIME_FAILURE(number, StrictNumber(text));
}

}  // namespace
}  // namespace zav
