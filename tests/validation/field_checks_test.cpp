// The record checks' field tests against the control's own validators: reading a field as
// a view (digits-only fields eight bytes at a time) must answer exactly as copying it into
// a string, ValidaNumero and the leading-number value do, wherever the field lies.
#include "validation/field_checks.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "basic/numeric_text.hpp"
#include "control/zav.hpp"

namespace zav {
namespace {

// The field test as the validators define it.
bool Expected(ZAV& z, const std::string& record, const Field& f, double& value) {
  std::string text(Cut(record, f));
  const bool numeric = z.ValidaNumero(text, static_cast<std::int16_t>(f.length));
  value = LeadingValue(text);
  return numeric;
}

void ExpectSame(ZAV& z, const std::string& record, const Field& f) {
  double expected = 0;
  const bool numeric = Expected(z, record, f, expected);
  double got = -1;
  std::string_view view;
  SCOPED_TRACE('"' + std::string(Cut(record, f)) + '"');
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
    std::string short_record = "##" + text.substr(0, text.size() / 2);
    ExpectSame(z, short_record, Field{3, length, "campo"});
  }
}

TEST(FieldChecks, RandomFieldsAnswerAsTheValidators) {
  std::mt19937 rng(3);
  const std::string alphabet = "0123456789000000  .-+E,$&H";
  ZAV z;
  for (int round = 0; round < 20000; ++round) {
    const int length = 1 + static_cast<int>(rng() % 11);
    std::string record(40, 'x');
    for (int k = 0; k < length; ++k) record[10 + k] = alphabet[rng() % alphabet.size()];
    ExpectSame(z, record, Field{11, length, "campo"});
  }
}

}  // namespace
}  // namespace zav
