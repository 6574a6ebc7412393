#include "basic/conversions.hpp"

#include <cmath>
#include <cstdint>

#include "basic/runtime_failure.hpp"

namespace zav {
namespace {

// Rounds and checks the range; the comparisons are false for NaN, so NaN overflows too.
double RoundedInRange(double v, double low, double high) {
  const double r = RoundHalfEven(v);
  if (!(r >= low && r <= high)) throw RuntimeFailure(err::kOverflow);
  return r;
}

}  // namespace

double RoundHalfEven(double v) noexcept {
  // From 2^52 on every double is whole; NaN and infinities come back as they are.
  if (!(std::fabs(v) < 0x1p52)) return v;
  // A whole number, the usual case (day totals, record types), is its own rounding.
  if (static_cast<double>(static_cast<std::int64_t>(v)) == v) return v;
  const double below = std::floor(v);
  // Exact: below and v share their integer bits, so the difference is the fraction.
  const double fraction = v - below;
  if (fraction < 0.5) return below;
  if (fraction > 0.5) return below + 1;
  return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

std::uint8_t ToByteRounded(double v) {
  return static_cast<std::uint8_t>(RoundedInRange(v, 0, 255));
}

std::int16_t ToIntegerRounded(double v) {
  return static_cast<std::int16_t>(RoundedInRange(v, -32768.0, 32767.0));
}

std::int32_t ToLongRounded(double v) {
  return static_cast<std::int32_t>(RoundedInRange(v, -2147483648.0, 2147483647.0));
}

}  // namespace zav
