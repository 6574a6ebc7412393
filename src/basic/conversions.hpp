// Conversions of a number to the classic integer types. Every one rounds to the nearest
// integer, an exact half going to the even neighbour (2.5 -> 2, 3.5 -> 4), and a result
// outside the target range (or a NaN or infinite input) is an overflow:
// RuntimeFailure(err::kOverflow).
#pragma once

#include <cstdint>

namespace zav {

// To the nearest integer, ties to even. NaN and infinities come back unchanged.
double RoundHalfEven(double v) noexcept;

std::uint8_t ToByte(double v);     // 0 .. 255
std::int16_t ToInteger(double v);  // -32768 .. 32767
std::int32_t ToLong(double v);     // -2147483648 .. 2147483647

}  // namespace zav
