// What the RMS and the peak compressor share: their settings, the four phases
// of their state word, and the phase step that moves a frame along the
// sine-shaped gain curves between unity and 1/ratio. Each compressor keeps its
// own detector and tells the step what the detector saw.
#pragma once

#include <cstdint>

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

// Starts the attack; the triggering frame is already attack step 1.
void triggerAttack(SwitchedPhase& s);

// One frame of magnitudes xL, xR (floored) with polarities pL, pR (+-1.0):
// writes the frame at the phase's gain to left and right, unless the
// compressor idles, where the frame passes untouched; then moves the phase on.
void stepPhase(SwitchedPhase& s, const SwitchedCompressorSettings& c, const HalfWaveReport& r,
               double xL, double xR, double pL, double pR, double& left, double& right);

}  // namespace sorvan
