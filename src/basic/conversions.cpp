#include "basic/conversions.hpp"

#include <cmath>

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
  if (!std::isfinite(v)) return v;
  const double below = std::floor(v);
  // Exact: below and v share their integer bits, so the difference is the fraction.
  const double fraction = v - below;
  if (fraction < 0.5) return below;
  if (fraction > 0.5) return below + 1;
  return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

std::uint8_t ToByte(double v) { return static_cast<std::uint8_t>(RoundedInRange(v, 0, 255)); }

std::int16_t ToInteger(double v) {
  return static_cast<std::int16_t>(RoundedInRange(v, -32768.0, 32767.0));
}

std::int32_t ToLong(double v) {
  return static_cast<std::int32_t>(RoundedInRange(v, -2147483648.0, 2147483647.0));
}

}  // namespace zav
