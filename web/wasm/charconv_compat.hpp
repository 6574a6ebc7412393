// The floating-point number conversions of <charconv> for a standard library that lacks
// them (the libc++ that the browser toolchain ships: Debian 12's has neither direction,
// Debian 13's writes but cannot read). Included ahead of every unit of the browser build;
// the build tries each direction first (CMakeLists.txt) and asks here only for what is
// missing, so with a library that has both it adds nothing.
//
// The control's number rules ask for four forms only: scientific and general output with
// a precision, and scientific or general input. printf's "%.*e" and "%.*g" and strtod are
// exact in the browser's C library (correctly rounded), and these forms are defined as
// printf's, so the results are the same digits the native build gives.
#pragma once

#include <charconv>

#if defined(ZAV_NEED_TO_CHARS_DOUBLE) || defined(ZAV_NEED_FROM_CHARS_DOUBLE)

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace std {

#ifdef ZAV_NEED_TO_CHARS_DOUBLE

inline to_chars_result to_chars(char* first, char* last, double value, chars_format fmt,
                                int precision) {
  char buffer[512];
  const char* pattern = fmt == chars_format::scientific ? "%.*e"
                        : fmt == chars_format::fixed    ? "%.*f"
                                                        : "%.*g";
  const int n = std::snprintf(buffer, sizeof buffer, pattern, precision, value);
  if (n < 0 || n >= static_cast<int>(sizeof buffer) || n > last - first) {
    return {last, errc::value_too_large};
  }
  std::memcpy(first, buffer, static_cast<size_t>(n));
  return {first + n, errc{}};
}

inline to_chars_result to_chars(char* first, char* last, double value, chars_format fmt) {
  return to_chars(first, last, value, fmt, fmt == chars_format::general ? 17 : 6);
}
#endif

#ifdef ZAV_NEED_FROM_CHARS_DOUBLE

// Accepts what the standard's from_chars accepts for these forms: an optional '-',
// digits with an optional point, and an exponent (required for scientific). No leading
// blanks, no '+', no hexadecimal, no "inf" or "nan".
inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format fmt = chars_format::general) {
  const char* p = first;
  if (p != last && *p == '-') ++p;
  const char* digits = p;
  bool any_digit = false;
  while (p != last && *p >= '0' && *p <= '9') ++p, any_digit = true;
  if (p != last && *p == '.') {
    ++p;
    while (p != last && *p >= '0' && *p <= '9') ++p, any_digit = true;
  }
  if (!any_digit || digits == last) return {first, errc::invalid_argument};
  const char* mantissa_end = p;
  if (p != last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    if (q != last && (*q == '+' || *q == '-')) ++q;
    const char* exponent_digits = q;
    while (q != last && *q >= '0' && *q <= '9') ++q;
    if (q != exponent_digits) p = q;
  }
  if (fmt == chars_format::scientific && p == mantissa_end) return {first, errc::invalid_argument};
  if (fmt == chars_format::fixed) p = mantissa_end;
  char buffer[512];
  const size_t length = static_cast<size_t>(p - first);
  if (length >= sizeof buffer) return {first, errc::invalid_argument};
  std::memcpy(buffer, first, length);
  buffer[length] = '\0';
  errno = 0;
  const double parsed = std::strtod(buffer, nullptr);
  if (errno == ERANGE) return {p, errc::result_out_of_range};
  value = parsed;
  return {p, errc{}};
}
#endif

}  // namespace std

#endif
