#include "basic/number_text.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

#include "basic/runtime_failure.hpp"

namespace zav {
namespace {

void RequireFinite(double v) {
  if (!std::isfinite(v)) throw RuntimeFailure(err::kOverflow);
}

// The digits of |v| rounded half away from zero at `decimals` places after the point,
// taken from its 15-significant-digit decimal form, as the digits of an integer (the
// value times 10^decimals, without leading zeros; "0" for zero).
std::string RoundedScaledDigits(double v, int decimals) {
  // "d.dddddddddddddde+XX": 15 significant digits, correctly rounded.
  char text[32];
  const auto written =
      std::to_chars(text, text + sizeof text, std::fabs(v), std::chars_format::scientific, 14);
  const std::string_view form(text, static_cast<std::size_t>(written.ptr - text));
  const std::size_t e = form.find('e');
  int exponent = 0;
  std::from_chars(form.data() + e + (form[e + 1] == '+' ? 2 : 1), form.data() + form.size(),
                  exponent);
  std::string digits;
  digits += form[0];
  digits.append(form.substr(2, e - 2));
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (digits == "0") return "0";

  // Digits whose place is at least 10^-decimals.
  const int kept = exponent + 1 + decimals;
  if (kept < 0) return "0";
  if (kept == 0) return digits[0] >= '5' ? "1" : "0";
  if (static_cast<std::size_t>(kept) >= digits.size()) {
    digits.append(static_cast<std::size_t>(kept) - digits.size(), '0');
    return digits;
  }
  const bool round_up = digits[static_cast<std::size_t>(kept)] >= '5';
  digits.resize(static_cast<std::size_t>(kept));
  if (round_up) {
    std::size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0) {
      digits.insert(digits.begin(), '1');
    } else {
      ++digits[i - 1];
    }
  }
  return digits;
}

std::string PadLeft(std::string digits, std::size_t width) {
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

}  // namespace

std::string FormatFixed2(double v) {
  RequireFinite(v);
  std::string digits = PadLeft(RoundedScaledDigits(v, 2), 3);
  digits.insert(digits.size() - 2, 1, '.');
  return v < 0 ? "-" + digits : digits;
}

std::string GeneralNumberText(double v) {
  RequireFinite(v);
  if (v == 0) return "0";
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 15);
  std::string result(text, written.ptr);
  for (char& c : result) {
    if (c == 'e') c = 'E';
  }
  return result;
}

std::string FormatZeroPadded(double v, int digits) {
  RequireFinite(v);
  std::string text = PadLeft(RoundedScaledDigits(v, 0), digits > 1 ? digits : 1);
  return v < 0 ? "-" + text : text;
}

}  // namespace zav
