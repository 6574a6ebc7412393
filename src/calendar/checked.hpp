// Integer arithmetic of a fixed width, as the calendar rules are written: every step
// that leaves the range of its type is an overflow (RuntimeFailure err::kOverflow), and
// division truncates toward zero. A division by zero is error 11.
#pragma once

#include <concepts>

#include "basic/runtime_failure.hpp"

namespace zav::checked {

template <std::signed_integral T>
T Add(T a, T b) {
  T out;
  if (__builtin_add_overflow(a, b, &out)) throw RuntimeFailure(err::kOverflow);
  return out;
}

template <std::signed_integral T>
T Sub(T a, T b) {
  T out;
  if (__builtin_sub_overflow(a, b, &out)) throw RuntimeFailure(err::kOverflow);
  return out;
}

template <std::signed_integral T>
T Mul(T a, T b) {
  T out;
  if (__builtin_mul_overflow(a, b, &out)) throw RuntimeFailure(err::kOverflow);
  return out;
}

// Truncating division ("\").
template <std::signed_integral T>
T Div(T a, T b) {
  if (b == 0) throw RuntimeFailure(err::kDivisionByZero);
  // The one quotient outside the range: the most negative value divided by -1.
  if (b == -1) return Sub(T{0}, a);
  return static_cast<T>(a / b);
}

// The remainder of the truncating division ("Mod"): the sign of the dividend.
template <std::signed_integral T>
T Mod(T a, T b) {
  if (b == 0) throw RuntimeFailure(err::kDivisionByZero);
  if (b == -1) return 0;
  return static_cast<T>(a % b);
}

}  // namespace zav::checked
