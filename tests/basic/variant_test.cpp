#include "basic/variant.hpp"

#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
}  // namespace zav
