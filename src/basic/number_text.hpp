// Numbers written as text, the way the control writes them into its outputs. The decimal
// separator is always a point and there are never group separators, whatever the locale.
//
// The fixed patterns round the value's decimal form, not its binary one: the value is
// first written with at most 15 significant digits, and that text is rounded half away
// from zero (2.345, stored as 2.34499999..., still gives 2.35). A negative value that
// rounds to zero keeps its sign ("-0.00"), as the classic pattern formatting does; a zero
// (even a negative zero) does not.
//
// Infinities and NaN cannot be written: they throw RuntimeFailure(err::kOverflow).
#pragma once

#include <string>

namespace zav {

// The "###0.00" pattern: at least one integer digit, exactly two decimals, "-" in front
// of a negative. 0.125 -> "0.13", -2.345 -> "-2.35", 1234 -> "1234.00".
std::string FormatFixed2(double v);

// The general number text: at most 15 significant digits, no trailing zeros or point,
// "-" for negatives, no leading blank. Exponent form ("1E+15", "1.5E-05") when the
// rounded magnitude is 1E15 or more, or below 0.0001. 0.1 + 0.2 -> "0.3".
std::string GeneralNumberText(double v);

// The zero-padded whole-number patterns ("0000", "00"): rounded to an integer half away
// from zero, at least `digits` digits (at least one) with leading zeros, "-" in front of
// a negative. (7, 2) -> "07", (2005, 4) -> "2005", (-5, 2) -> "-05", (12345, 4) -> "12345".
std::string FormatZeroPadded(double v, int digits);

}  // namespace zav
