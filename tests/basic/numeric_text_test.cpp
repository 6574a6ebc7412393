#include "basic/numeric_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "basic/expect_failure.hpp"

namespace zav {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

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
