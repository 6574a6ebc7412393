// The control's text validators, and the record checks' field views (digits eight bytes at a
// time) answering exactly as ValidaNumero and the leading-number value, wherever the field lies.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "basic/numeric_text.hpp"
#include "control/zav.hpp"
#include "validation/field_checks.hpp"

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
  // Trunca rounds half away from zero on the decimal form (the rounding is FormatFixed2's).
  const std::pair<double, double> rounded[] = {
      {0.125, 0.13}, {-12.345, -12.35}, {0.004, 0}, {99999999.995, 100000000}};
  for (const auto& [in, out] : rounded) EXPECT_DOUBLE_EQ(z.Trunca(in), out) << in;
}

TEST(Validators, PeriodAmountTests) {
  const struct {
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
  for (const auto& c : cases) {
    z.igToler = c.toler;
    z.working().igNumPeriodo = c.month;
    z.working().bgPeriodoPar = c.month % 2 == 0;
    EXPECT_EQ(z.ValImpMen13(c.value), c.men13) << c.month << " " << c.value;
    EXPECT_EQ(z.ValPer1314(c.value), c.per1314) << c.month << " " << c.value;
  }
}

// The field test as the validators define it, against both views of the field.
void ExpectSame(ZAV& z, const std::string& record, const Field& f) {
  std::string text(Cut(record, f));
  SCOPED_TRACE('"' + text + '"');
  const bool numeric = z.ValidaNumero(text, static_cast<std::int16_t>(f.length));
  const double expected = LeadingValue(text);
  double got = -1;
  std::string_view view;
  ASSERT_EQ(NumeroValue(z, record, f, got), numeric);
  ASSERT_EQ(NumeroField(z, record, f, view), numeric);
  if (numeric) {
    EXPECT_EQ(std::pair(got, LeadingValue(view)), std::pair(expected, expected));
  }
}

TEST(FieldChecks, ViewsAnswerAsTheValidators) {
  const std::string cases[] = {
      "0001234", "9999999", "0000000", "1",       "12345678", "  12345",  "12345  ", "123 456",
      "12.5000", "-000001", "+000001", "1E3    ", "&H1F   ",  "1,234  ",  "       ", "12345\t7",
      "/000000", ":000000", "0000009", "00000:0", "\3610000", "99999999", "0.5",
  };
  ZAV z;
  for (const std::string& text : cases) {
    const int length = static_cast<int>(text.size());
    // The field in the middle of a record, and ending one to seven bytes before its end
    // (too close to be read eight bytes at a time), and cut short by the end.
    for (const int tail : {40, 7, 3, 1, 0}) {
      std::string record(60, '#');
      const int start = 60 - tail - length + 1;
      record.replace(static_cast<std::size_t>(start - 1), text.size(), text);
      ExpectSame(z, record, Field{start, length, "campo"});
    }
    ExpectSame(z, "##" + text.substr(0, text.size() / 2), Field{3, length, "campo"});
  }
  // Random fields of number-like characters.
  std::mt19937 rng(3);
  const std::string alphabet = "0123456789000000  .-+E,$&H";
  for (int round = 0; round < 20000; ++round) {
    const int length = 1 + static_cast<int>(rng() % 11);
    std::string record(40, 'x');
    for (int k = 0; k < length; ++k) record[10 + k] = alphabet[rng() % alphabet.size()];
    ExpectSame(z, record, Field{11, length, "campo"});
  }
}

}  // namespace
}  // namespace zav
