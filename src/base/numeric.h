// Number helpers shared by every module: the one saturating real-to-integer
// conversion, and the tolerant readers for numbers written in text files.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

namespace sorvan {

// Truncates toward zero like a cast, but NaN gives 0 and values beyond the
// integer type's range give its nearest bound instead of undefined behaviour.
template <typename Int, typename Real>
constexpr Int truncateTo(Real value) {
  static_assert(std::is_integral_v<Int> && std::is_floating_point_v<Real>);
  if (!(value == value)) return 0;
  // Both bounds (min, and max + 1) are powers of two and therefore exact in
  // any floating type: the value is compared in its own type, which keeps
  // this cheap enough for every sample.
  constexpr Real lo = static_cast<Real>(std::numeric_limits<Int>::min());
  constexpr Real hiExclusive =
      static_cast<Real>(std::numeric_limits<Int>::max() / 2 + 1) * static_cast<Real>(2);
  if (value <= lo) return std::numeric_limits<Int>::min();
  if (value >= hiExclusive) return std::numeric_limits<Int>::max();
  return static_cast<Int>(value);
}

// Narrows an integer, saturating at the target type's range.
template <typename To, typename From>
constexpr To saturateTo(From value) {
  static_assert(std::is_integral_v<To> && std::is_integral_v<From>);
  if constexpr (std::is_signed_v<From> == std::is_signed_v<To>) {
    if (value < static_cast<From>(std::numeric_limits<To>::min()) && sizeof(From) > sizeof(To))
      return std::numeric_limits<To>::min();
    if (value > static_cast<From>(std::numeric_limits<To>::max()) && sizeof(From) > sizeof(To))
      return std::numeric_limits<To>::max();
    return static_cast<To>(value);
  } else {
    if (std::cmp_less(value, std::numeric_limits<To>::min())) return std::numeric_limits<To>::min();
    if (std::cmp_greater(value, std::numeric_limits<To>::max()))
      return std::numeric_limits<To>::max();
    return static_cast<To>(value);
  }
}

// Base-10 integer: leading white space, optional sign, digits up to the first
// other character; no digits give 0. Saturates at the 64-bit range.
std::int64_t readInteger(const char* text);

template <typename Int>
Int readIntegerAs(const char* text) {
  return saturateTo<Int>(readInteger(text));
}

// Real number: leading white space, optional sign, digits with an optional
// decimal point, optional exponent (e or E, optional sign, digits). Nothing
// readable gives 0; "nan", "inf" and hexadecimal floats are not numbers.
// A value beyond the double range reads as the largest finite value of its sign.
double readReal(const char* text);

// Like readReal, but says whether the text starts with a number at all
// (after white space); false leaves `value` unchanged.
bool parseReal(const char* text, double& value);

// 10^(dB/20) x reference in double, returned in single precision.
float dBtoRatio(double dB, double reference);

// 64-bit sums and differences of positions that stick at the type's bounds:
// positions come from text and may already be saturated.
std::int64_t addSaturating(std::int64_t a, std::int64_t b);
std::int64_t subtractSaturating(std::int64_t a, std::int64_t b);

// dB of a fader level (2^27 is 0 dB); level 0 reads as -144 dB.
double levelToDb(std::int64_t level);

}  // namespace sorvan

namespace sorvan {

// Rounds a double to single precision; values beyond the float range give the
// largest finite float of their sign rather than undefined behaviour.
inline float toSingle(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value > kMax) return std::numeric_limits<float>::max();
  if (value < -kMax) return -std::numeric_limits<float>::max();
  return static_cast<float>(value);
}

}  // namespace sorvan
