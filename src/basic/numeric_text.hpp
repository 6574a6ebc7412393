// Reading numbers out of field text, the way the control has always done it.
//
// Two rules, deliberately different:
// - LeadingValue: the value of the number at the start of a text. Spaces, tabs and line
//   feeds are skipped wherever they occur; a sign, digits, one point and an exponent (E or
//   D) are read, as are the radix forms &H and &O; reading stops at the first other
//   character (a comma or a dollar sign ends it). No digits gives 0. It never fails.
// - IsNumeric / StrictNumber: the whole text must be a number as the locale-aware
//   conversion reads it (point decimal, comma groups, dollar currency): sign before or
//   after, digits with commas between them, one point, exponent E, parentheses for a
//   negative, one dollar sign, &H/&O forms; spaces around. Nothing else, not even tabs.
//
// Radix forms are 16-bit or 32-bit signed, like the classic runtime: &HFFFF is -1,
// &H10000 is 65536, &HFFFFFFFF is -1.
//
// None of these allocate: they run for every field of every record. The usual field, plain
// digits, is answered inline without the general grammar.
#pragma once

#include <cstdint>
#include <string_view>

namespace zav {

// The leading-number value. Decimal values are correctly rounded; an exponent beyond the
// double range gives +/-infinity (the integer conversions report that as an overflow),
// one below it gives 0. A radix form wider than 32 bits keeps its plain (positive) value.
double LeadingValue(std::string_view text) noexcept;

// The numeric test. Empty or all-space text is not numeric; neither is a number outside
// the double range (1E400) nor a radix form wider than 32 bits.
bool IsNumeric(std::string_view text) noexcept;

// The usual field: one to fifteen plain digits and nothing else. Both rules give it its
// integer value exactly (no blank, sign, point or exponent to read, and fifteen digits are
// an exact double). True, with that value, for such a text; false for any other.
inline bool PlainDigitsValue(std::string_view text, double& value) noexcept {
  if (text.empty() || text.size() > 15) return false;
  std::uint64_t m = 0;
  for (const char c : text) {
    const auto digit = static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
    if (digit > 9) return false;
    m = m * 10 + digit;
  }
  value = static_cast<double>(m);
  return true;
}

// Both rules at once, reading the usual field only once: the numeric test's answer, and
// leading_value := LeadingValue(text) whatever the answer.
inline bool NumericValue(std::string_view text, double& leading_value) noexcept {
  if (PlainDigitsValue(text, leading_value)) return true;
  leading_value = LeadingValue(text);
  return IsNumeric(text);
}

// The strict text-to-number conversion: the value of a text that passes IsNumeric (commas
// ignored, parentheses or a trailing minus make it negative). A text that is not a number
// throws RuntimeFailure(err::kTypeMismatch); a well-formed number outside the double range
// (or a radix form wider than 32 bits) throws RuntimeFailure(err::kOverflow).
double StrictNumber(std::string_view text);

}  // namespace zav
