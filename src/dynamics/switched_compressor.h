// What the RMS and the peak compressor share: their settings, the four phases
// of their state word, and the phase step that moves a frame along the
// sine-shaped gain curves between unity and 1/ratio. Each compressor keeps its
// own detector and tells the step what the detector saw.
#pragma once

#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "dynamics/strip_table.h"

namespace sorvan {

// Values of a switched compressor's state word. "Off" is not a phase: a strip
// without the compressor simply never calls it.
namespace compressor_phase {
inline constexpr int kIdle = 1;
inline constexpr int kAttack = 2;
inline constexpr int kCompressed = 3;
inline constexpr int kRelease = 4;
}  // namespace compressor_phase

// Read-only during the mix.
struct SwitchedCompressorSettings {
  std::int64_t thresh = kDefaultThreshold;  // strip's scale
  long attackSamples = 1;
  long releaseSamples = 10;
  double ratio = 1.0;  // divisor while compressed
};

// Settings from checked values. The settings reader enforces wider limits;
// these only keep a direct caller from dividing by zero in the curves or the gain.
SwitchedCompressorSettings switchedCompressor(std::int64_t threshold, long attackSamples,
                                              long releaseSamples, double ratio);

// Where a compressor stands on its curves, carried from block to block.
struct SwitchedPhase {
  int phase = compressor_phase::kIdle;
  std::int64_t attackCount = 0;
  std::int64_t releaseCount = 0;
  int passTL = 0, passTR = 0;  // consecutive quiet half-waves while compressed
};

// What a detector reports about one frame, per side.
struct HalfWaveReport {
  bool endedL = false, endedR = false;  // a half-wave was completed at this frame
  bool quietL = false, quietR = false;  // ... and stayed below half the threshold
  bool belowL = false, belowR = false;  // the level that lets the release walk on
};

// The curves' values, sin(step x pi/2 / length) for steps 0..length, worked
// out once before the mix; nullptr where they are computed as they are needed
// (the same numbers either way).
struct SwitchedCurves {
  const double* attack = nullptr;
  const double* release = nullptr;
};

// Curve value at step `step` of a curve `length` steps long: a quarter sine
// turn, 0 at step 0 and 1 at step `length`.
inline double curveValue(std::int64_t step, long length) {
  return std::sin(static_cast<double>(step) * 1.5707963267948966 / static_cast<double>(length));
}

// The values of a curve `length` steps long for steps 0..length.
std::vector<double> curveTable(long length);

// Starts the attack; the triggering frame is already attack step 1.
void triggerAttack(SwitchedPhase& s);

// Only "more than three" matters, so the count stops at the top of its range
// instead of overflowing when one side stays loud for hours.
inline int countQuietHalfWave(int count) { return count < INT_MAX ? count + 1 : count; }

// Quiet measurements walk the release on; a loud one walks it back toward full
// reduction, but never past step 0.
inline std::int64_t walkRelease(std::int64_t step, bool quiet) {
  if (quiet) return step + 1;
  return step > 0 ? step - 1 : step;
}

// One frame of magnitudes xL, xR (floored) with polarities pL, pR (+-1.0):
// writes the frame at the phase's gain to left and right, unless the
// compressor idles, where the frame passes untouched; then moves the phase on.
inline void stepPhase(SwitchedPhase& s, const SwitchedCompressorSettings& c,
                      const SwitchedCurves& curves, const HalfWaveReport& r, double xL, double xR,
                      double pL, double pR, double& left, double& right) {
  using namespace compressor_phase;
  const double ratio = c.ratio;
  switch (s.phase) {
    case kAttack: {
      // Unity gain at curve value 0 falling to 1/ratio at 1.
      const double v =
          curves.attack ? curves.attack[s.attackCount] : curveValue(s.attackCount, c.attackSamples);
      left = (xL - (xL - xL / ratio) * v) * pL;
      right = (xR - (xR - xR / ratio) * v) * pR;
      if (s.attackCount < c.attackSamples)
        ++s.attackCount;
      else
        s.phase = kCompressed;
      break;
    }
    case kCompressed:
      left = (xL / ratio) * pL;
      right = (xR / ratio) * pR;
      if (r.endedL) s.passTL = r.quietL ? countQuietHalfWave(s.passTL) : 0;
      if (r.endedR) s.passTR = r.quietR ? countQuietHalfWave(s.passTR) : 0;
      if (s.passTL > 3 && s.passTR > 3) s.phase = kRelease;
      break;
    case kRelease: {
      // 1/ratio at curve value 0 rising to unity at 1.
      const double v = curves.release ? curves.release[s.releaseCount]
                                      : curveValue(s.releaseCount, c.releaseSamples);
      left = ((xL - xL / ratio) * v + xL / ratio) * pL;
      right = ((xR - xR / ratio) * v + xR / ratio) * pR;
      s.releaseCount = walkRelease(s.releaseCount, r.belowL && r.belowR);
      if (s.releaseCount > c.releaseSamples) s.phase = kIdle;
      break;
    }
    default:
      break;
  }
}

}  // namespace sorvan
