#include "basic/variant.hpp"

#include <gtest/gtest.h>

#include "basic/runtime_failure.hpp"

namespace zav {
namespace {

int FailureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeFailure& e) {
    return e.number();
  }
  return 0;
}

TEST(Variant, ArithmeticWidensAndKeepsTypes) {
  struct Case {
    Variant a, b;
    Variant sum;
  } cases[] = {
      {Variant(), Variant(), Variant::Integer(0)},
      {Variant(), Variant::Double(1.5), Variant::Double(1.5)},
      {Variant::Integer(32767), Variant::Integer(1), Variant::Long(32768)},
      {Variant::Integer(-32768), Variant::Integer(-1), Variant::Long(-32769)},
      {Variant::Long(2147483647), Variant::Integer(1), Variant::Double(2147483648.0)},
      {Variant::Double(0.1), Variant::Double(0.2), Variant::Double(0.1 + 0.2)},
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
  EXPECT_EQ(Variant::Double(2.5).ToInteger(), 2);
  EXPECT_EQ(Variant::Double(3.5).ToInteger(), 4);
  EXPECT_EQ(Variant::String("false").ToBoolean(), false);
  EXPECT_EQ(FailureOf([] { (void)Variant::String("1A").ToDouble(); }), err::kTypeMismatch);
  EXPECT_EQ(FailureOf([] { (void)(Variant::String("x") + Variant::Integer(1)); }),
            err::kTypeMismatch);
  EXPECT_EQ(FailureOf([] { (void)Variant::Double(40000).ToInteger(); }), err::kOverflow);
  auto object = std::make_shared<VariantObject>();
  EXPECT_EQ(FailureOf([&] { (void)Variant::Object(object).ToDouble(); }), err::kTypeMismatch);
}

TEST(Variant, TypeTagsAndObjectIdentity) {
  EXPECT_EQ(Variant().type(), VarType::kEmpty);
  EXPECT_EQ(Variant::Integer(1).type(), VarType::kInteger);
  EXPECT_EQ(Variant::Long(1).type(), VarType::kLong);
  EXPECT_EQ(Variant::Double(1).type(), VarType::kDouble);
  EXPECT_EQ(Variant::String("").type(), VarType::kString);
  EXPECT_EQ(Variant::Boolean(false).type(), VarType::kBoolean);
  EXPECT_EQ(Variant::FromDate(Date{1}).type(), VarType::kDate);
  auto object = std::make_shared<VariantObject>();
  const Variant held = Variant::Object(object);
  EXPECT_EQ(held.type(), VarType::kObject);
  EXPECT_EQ(held.object().get(), object.get());
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
