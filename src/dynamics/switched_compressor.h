// What the RMS and the peak compressor share: the four phases of their state
// word and the sine-shaped gain curves between unity and 1/ratio.
#pragma once

#include <climits>
#include <cmath>
#include <cstdint>

namespace sorvan {

// Values of a switched compressor's state word. "Off" is not a phase: a strip
// without the compressor simply never calls it (its settings' on flag).
namespace compressor_phase {
inline constexpr int kIdle = 1;
inline constexpr int kAttack = 2;
inline constexpr int kCompressed = 3;
inline constexpr int kRelease = 4;
}  // namespace compressor_phase

// Curve value at step `step` of a curve `length` steps long: a quarter sine
// turn, 0 at step 0 and 1 at step `length`.
inline double curveValue(std::int64_t step, long length) {
  return std::sin(static_cast<double>(step) * 1.5707963267948966 / static_cast<double>(length));
}

// Magnitude during the attack: unity gain at s = 0 falling to 1/ratio at s = 1.
inline double attackMagnitude(double x, double ratio, double s) { return x - (x - x / ratio) * s; }

// Magnitude during the release: 1/ratio at s = 0 rising to unity at s = 1.
inline double releaseMagnitude(double x, double ratio, double s) {
  return (x - x / ratio) * s + x / ratio;
}

// Quiet half-wave counter while compressed. Only "more than three" matters,
// so the count stops at the top of its range instead of overflowing when one
// side stays loud for hours while the other is quiet.
// One step of the release curve: quiet measurements walk it on, a loud one
// walks it back toward full reduction, but never past step 0.
inline std::int64_t walkRelease(std::int64_t step, bool quiet) {
  if (quiet) return step + 1;
  return step > 0 ? step - 1 : step;
}

inline int countQuietHalfWave(int count) { return count < INT_MAX ? count + 1 : count; }

}  // namespace sorvan
