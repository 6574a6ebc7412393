#include <gtest/gtest.h>

#include "control/zav.hpp"

namespace zav {
namespace {

enum class Fn { kNumero, kNumeroEsp, kAlfa, kAlfaNum };

struct TextCase {
  Fn fn;
  std::string input;
  std::int16_t largo;
  bool expected;
  std::string left;  // the caller's text after the call
};

TEST(Validators, TextValidatorsAnswerAndTrimAsStated) {
  const TextCase cases[] = {
      {Fn::kNumero, " 12", 3, false, "12"},
      {Fn::kNumero, "-000012", 7, true, "-000012"},
      {Fn::kNumero, "12A4567", 7, false, "12A4567"},
      {Fn::kNumero, "       ", 7, false, ""},
      {Fn::kNumero, "1.5E+02", 7, true, "1.5E+02"},
      {Fn::kNumero, "12\t", 3, false, "12\t"},  // only spaces are trimmed
      {Fn::kNumeroEsp, "       ", 7, true, "       "},
      {Fn::kNumeroEsp, "12-4", 4, false, "12-4"},
      {Fn::kNumeroEsp, "1.2.3", 5, true, "1.2.3"},
      {Fn::kNumeroEsp, "12 4", 4, true, "12 4"},
      {Fn::kNumeroEsp, "123", 4, false, "123"},
      {Fn::kAlfa, "abc", 3, true, "abc"},
      {Fn::kAlfa, "AB ", 3, false, "AB "},
      {Fn::kAlfa, "A1C", 3, false, "A1C"},
      {Fn::kAlfa, "\351ab", 3, false, "\351ab"},  // é upper-cases to É, not a plain letter
      {Fn::kAlfaNum, "   ", 3, true, ""},
      {Fn::kAlfaNum, "A1 ", 3, true, "A1"},
      {Fn::kAlfaNum, "A1", 3, false, "A1"},
      {Fn::kAlfaNum, "A-1", 3, false, "A-1"},
      {Fn::kAlfaNum, " a.b ", 5, true, "a.b"},
  };
  ZAV z;
  for (const TextCase& c : cases) {
    std::string text = c.input;
    bool got = false;
    switch (c.fn) {
      case Fn::kNumero:
        got = z.ValidaNumero(text, c.largo);
        break;
      case Fn::kNumeroEsp:
        got = z.ValidaNumeroEsp(text, c.largo);
        break;
      case Fn::kAlfa:
        got = z.ValidaAlfa(text, c.largo);
        break;
      case Fn::kAlfaNum:
        got = z.ValidaAlfaNum(text, c.largo);
        break;
    }
    EXPECT_EQ(got, c.expected) << static_cast<int>(c.fn) << " '" << c.input << "'";
    EXPECT_EQ(text, c.left) << static_cast<int>(c.fn) << " '" << c.input << "'";
  }
}

TEST(Validators, TruncaRoundsHalfAwayFromZeroOnTheDecimalForm) {
  // The rounding itself is FormatFixed2's.
  const std::pair<double, double> cases[] = {
      {0.125, 0.13}, {-12.345, -12.35}, {0.004, 0}, {99999999.995, 100000000}};
  ZAV z;
  for (const auto& [in, out] : cases) EXPECT_DOUBLE_EQ(z.Trunca(in), out) << in;
}

TEST(Validators, PeriodAmountTests) {
  struct Case {
    std::uint8_t toler;
    std::int16_t month;
    double value;
    bool men13, per1314;
  } cases[] = {
      {0, 3, 1, true, false},      {0, 3, 0, false, false},        {0, 4, 99, false, false},
      {0, 13, 1, false, true},     {0, 14, 5, false, true},        {50, 3, 50, false, false},
      {50, 3, 51, true, false},    {50, 13, 50.004, false, false}, {0, 15, 1, false, false},
      {0, 3, 0.004, false, false},
  };
  ZAV z;
  for (const Case& c : cases) {
    z.igToler = c.toler;
    z.working().igNumPeriodo = c.month;
    z.working().bgPeriodoPar = c.month % 2 == 0;
    EXPECT_EQ(z.ValImpMen13(c.value), c.men13) << c.month << " " << c.value;
    EXPECT_EQ(z.ValPer1314(c.value), c.per1314) << c.month << " " << c.value;
  }
}

}  // namespace
}  // namespace zav
