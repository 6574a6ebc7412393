#include <gtest/gtest.h>

#include "control/zav.hpp"

namespace zav {
namespace {

TEST(Validators, TextValidatorsAnswerAndTrimAsStated) {
  const auto numero = &ZAV::ValidaNumero, esp = &ZAV::ValidaNumeroEsp, alfa = &ZAV::ValidaAlfa,
             alfanum = &ZAV::ValidaAlfaNum;
  const struct {
    bool (ZAV::*validator)(std::string&, std::int16_t);
    std::string input;
    std::int16_t largo;
    bool expected;
    std::string left;  // the caller's text after the call
  } cases[] = {
      // clang-format off
      {numero, " 12", 3, false, "12"},        {numero, "-000012", 7, true, "-000012"},
      {numero, "12A4567", 7, false, "12A4567"}, {numero, "       ", 7, false, ""},
      {numero, "1.5E+02", 7, true, "1.5E+02"},
      {numero, "12\t", 3, false, "12\t"},  // only spaces are trimmed
      {esp, "       ", 7, true, "       "},   {esp, "12-4", 4, false, "12-4"},
      {esp, "1.2.3", 5, true, "1.2.3"},       {esp, "12 4", 4, true, "12 4"},
      {esp, "123", 4, false, "123"},
      {alfa, "abc", 3, true, "abc"},          {alfa, "AB ", 3, false, "AB "},
      {alfa, "A1C", 3, false, "A1C"},
      {alfa, "\351ab", 3, false, "\351ab"},  // é upper-cases to É, not a plain letter
      {alfanum, "   ", 3, true, ""},          {alfanum, "A1 ", 3, true, "A1"},
      {alfanum, "A1", 3, false, "A1"},        {alfanum, "A-1", 3, false, "A-1"},
      {alfanum, " a.b ", 5, true, "a.b"},
      // clang-format on
  };
  ZAV z;
  for (const auto& c : cases) {
    std::string text = c.input;
    EXPECT_EQ((z.*c.validator)(text, c.largo), c.expected) << '\'' << c.input << '\'';
    EXPECT_EQ(text, c.left) << '\'' << c.input << '\'';
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
