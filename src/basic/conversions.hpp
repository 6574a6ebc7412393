// Conversions of a number to the classic integer types. Every one rounds to the nearest
// integer, an exact half going to the even neighbour (2.5 -> 2, 3.5 -> 4), and a result
// outside the target range (or a NaN or infinite input) is an overflow:
// RuntimeFailure(err::kOverflow).
#pragma once

#include <cstdint>
#include <limits>

namespace zav {

// To the nearest integer, ties to even. NaN and infinities come back unchanged.
double RoundHalfEven(double v) noexcept;

// The general conversions, for any value.
std::uint8_t ToByteRounded(double v);
std::int16_t ToIntegerRounded(double v);
std::int32_t ToLongRounded(double v);

// A whole number in range, the usual case (record types, day totals), needs no rounding:
// it converts inline.
template <typename Int>
inline bool WholeInRange(double v, Int& out) {
  if (!(v >= static_cast<double>(INT32_MIN) && v <= static_cast<double>(INT32_MAX))) return false;
  const auto whole = static_cast<std::int32_t>(v);
  if (static_cast<double>(whole) != v || whole < std::numeric_limits<Int>::min() ||
      whole > std::numeric_limits<Int>::max()) {
    return false;
  }
  out = static_cast<Int>(whole);
  return true;
}

inline std::uint8_t ToByte(double v) {  // 0 .. 255
  std::uint8_t out;
  return WholeInRange(v, out) ? out : ToByteRounded(v);
}
inline std::int16_t ToInteger(double v) {  // -32768 .. 32767
  std::int16_t out;
  return WholeInRange(v, out) ? out : ToIntegerRounded(v);
}
inline std::int32_t ToLong(double v) {  // -2147483648 .. 2147483647
  std::int32_t out;
  return WholeInRange(v, out) ? out : ToLongRounded(v);
}

}  // namespace zav
