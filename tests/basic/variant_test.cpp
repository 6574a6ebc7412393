// Variants, and text between Windows-1252 and UTF-8. Trim is tested with the validators that
// trim their text by reference (validators_test.cpp).
#include "basic/variant.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "basic/cp1252.hpp"
#include "basic/expect_failure.hpp"

namespace zav {
namespace {

TEST(Variant, ArithmeticWidensAndKeepsTypes) {
  struct Case {
    Variant a, b;
    Variant sum;
  } cases[] = {
      {Variant(), Variant(), Variant::Integer(0)},
      {Variant(), Variant::Double(1.5), Variant::Double(1.5)},
      {Variant::Integer(32767), Variant::Integer(1), Variant::Long(32768)},
      {Variant::Long(2147483647), Variant::Integer(1), Variant::Double(2147483648.0)},
      {Variant::String("12"), Variant::Integer(3), Variant::Double(15)},
      {Variant::String("ab"), Variant::String("cd"), Variant::String("abcd")},
      {Variant(), Variant::String("x"), Variant::String("x")},
      {Variant::Boolean(true), Variant::Integer(1), Variant::Integer(0)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.a + c.b, c.sum) << c.a.ToText() << " + " << c.b.ToText();
  }
  EXPECT_EQ(Variant::String("10") - Variant::String("4"), Variant::Double(6));
  EXPECT_EQ(Variant::Integer(300) * Variant::Integer(300), Variant::Long(90000));
}

TEST(Variant, ConversionsAndFailures) {
  EXPECT_EQ(Variant().ToText(), "");
  EXPECT_EQ(Variant().ToDouble(), 0);
  EXPECT_EQ(Variant::Double(-2.5).ToText(), "-2.5");
  EXPECT_EQ(Variant::Boolean(true).ToText(), "True");
  EXPECT_EQ(Variant::Boolean(true).ToDouble(), -1);
  EXPECT_EQ(Variant::String("false").ToBoolean(), false);
  EXPECT_RUNTIME_FAILURE(err::kTypeMismatch, (void)Variant::String("1A").ToDouble());
  EXPECT_RUNTIME_FAILURE(err::kTypeMismatch, (void)(Variant::String("x") + Variant::Integer(1)));
  EXPECT_RUNTIME_FAILURE(err::kOverflow, (void)Variant::Double(40000).ToInteger());
  const Variant object = Variant::Object(std::make_shared<VariantObject>());
  EXPECT_RUNTIME_FAILURE(err::kTypeMismatch, (void)object.ToDouble());
}

// Text assigned to a date reads as the control's locale writes dates: day/month/year or
// year-month-day; anything else, or a day that does not exist, is a type mismatch.
TEST(Variant, DateFromText) {
  const struct {
    const char* text;
    double serial;  // days since 30/12/1899; NAN: 13
  } cases[] = {
      {"07/03/2005", 38418}, {"7/3/2005", 38418}, {" 2005-03-07 ", 38418}, {"29/02/2004", 38046},
      {"30/12/1899", 0},     {"29/12/1899", -1},  {"31/12/9999", 2958465}, {"29/02/2005", NAN},
      {"31/04/2005", NAN},   {"07/03/05", NAN},   {"2005/03/07", NAN},     {"07-03-2005", NAN},
      {"38418", NAN},        {"", NAN},           {"07/03/2005 x", NAN},   {"007/03/2005", NAN},
      {"01/01/0099", NAN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    if (std::isnan(c.serial)) {
      EXPECT_RUNTIME_FAILURE(err::kTypeMismatch, (void)Variant::String(c.text).ToDate());
    } else {
      EXPECT_EQ(Variant::String(c.text).ToDate().serial, c.serial);
    }
  }
}

TEST(Variant, CompareNumbersAndTexts) {
  EXPECT_EQ(Compare(Variant(), Variant::Integer(0)), 0);
  EXPECT_EQ(Compare(Variant(), Variant::String("")), 0);
  EXPECT_LT(Compare(Variant::Integer(2), Variant::Double(2.5)), 0);
  EXPECT_GT(Compare(Variant::String("b"), Variant::String("B")), 0);  // binary, case-sensitive
  EXPECT_EQ(Compare(Variant::String("10"), Variant::Long(10)), 0);
}

TEST(UpperCase1252Test, FollowsTheCodePage) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc xyz", "ABC XYZ"},
      {"\361", "\321"},                  // n tilde
      {"\377", "\237"},                  // y diaeresis
      {"\232\234\236", "\212\214\216"},  // s caron, oe, z caron
      {"\367\337\265", "\367\337\265"},  // division sign, sharp s, micro sign stay
      {"\321\311\200{", "\321\311\200{"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(UpperCase1252(in), out) << in;
  EXPECT_EQ(UpperCase1252('q'), 'Q');
}

TEST(Cp1252Utf8Test, RoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);

  const std::pair<std::string, std::string> cases[] = {
      {"\361", "\303\261"},      // n tilde
      {"\200", "\342\202\254"},  // euro sign
      {"\237", "\305\270"},      // Y diaeresis
      {"\201", "\302\201"},      // undefined byte -> U+0081
  };
  for (const auto& [cp, utf8] : cases) {
    EXPECT_EQ(Cp1252ToUtf8(cp), utf8);
    EXPECT_EQ(Utf8ToCp1252(utf8), cp);
  }
}

TEST(Cp1252Utf8Test, RefusesWhatHasNoByte) {
  const std::string refused[] = {
      "\302\200",          // U+0080: no byte in the code page
      "\304\200",          // U+0100
      "\360\237\230\200",  // U+1F600
      "\303",              // truncated
      "a\251",             // stray continuation byte
      "\300\261",          // overlong
      "\355\240\200",      // surrogate
      "\364\220\200\200",  // beyond U+10FFFF
  };
  for (const auto& text : refused) {
    EXPECT_THROW(Utf8ToCp1252(text), RuntimeFailure) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace zav
