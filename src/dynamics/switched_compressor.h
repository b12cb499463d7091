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

// How the phase step scales one frame: untouched while idle, then along the
// attack curve, fully compressed, or along the release curve.
namespace frame_gain {
inline constexpr std::int64_t kPass = 0;
inline constexpr std::int64_t kAttack = 1;
inline constexpr std::int64_t kFull = 2;
inline constexpr std::int64_t kRelease = 3;
}  // namespace frame_gain

// A compressor walks its phases frame by frame, which cannot run as vectors,
// and notes for each frame how it is scaled; a second pass then scales the
// frames, which can. A stretch of frames at a time, so the notes stay in the
// first-level cache.
inline constexpr long kPhaseChunkFrames = 512;

struct PhaseNotes {
  std::int64_t kind[kPhaseChunkFrames];
  double curve[kPhaseChunkFrames];  // the curve value of an attack or release frame
};

// Moves the phase on over one frame and notes how the frame is scaled.
inline void advancePhase(SwitchedPhase& s, const SwitchedCompressorSettings& c,
                         const SwitchedCurves& curves, const HalfWaveReport& r, std::int64_t& kind,
                         double& curve) {
  using namespace compressor_phase;
  curve = 0.0;
  switch (s.phase) {
    case kAttack:
      // Unity gain at curve value 0 falling to 1/ratio at 1.
      kind = frame_gain::kAttack;
      curve =
          curves.attack ? curves.attack[s.attackCount] : curveValue(s.attackCount, c.attackSamples);
      if (s.attackCount < c.attackSamples)
        ++s.attackCount;
      else
        s.phase = kCompressed;
      break;
    case kCompressed:
      kind = frame_gain::kFull;
      s.passTL = r.endedL ? (r.quietL ? countQuietHalfWave(s.passTL) : 0) : s.passTL;
      s.passTR = r.endedR ? (r.quietR ? countQuietHalfWave(s.passTR) : 0) : s.passTR;
      if (s.passTL > 3 && s.passTR > 3) s.phase = kRelease;
      break;
    case kRelease:
      // 1/ratio at curve value 0 rising to unity at 1.
      kind = frame_gain::kRelease;
      curve = curves.release ? curves.release[s.releaseCount]
                             : curveValue(s.releaseCount, c.releaseSamples);
      s.releaseCount = walkRelease(s.releaseCount, r.belowL && r.belowR);
      if (s.releaseCount > c.releaseSamples) s.phase = kIdle;
      break;
    default:
      kind = frame_gain::kPass;
      break;
  }
}

// One compressor of several run together: its settings, its state, and the
// samples it works on in place.
template <typename State>
struct CompressorJob {
  const SwitchedCompressorSettings* settings = nullptr;
  State* state = nullptr;
  double* left = nullptr;
  double* right = nullptr;
};

inline constexpr int kMaxCompressorJobs = 4;

// Walks K compressors (Walk: one compressor's phase walk over its frames)
// frame by frame, the K of one frame one after the other: each walk is a
// chain of dependent steps, and independent chains side by side let the
// processor work on all of them at once. Then each one's gain pass.
template <typename Walk, int K, typename State>
void walkTogether(const CompressorJob<State>* jobs, long n) {
  Walk walks[K];
  PhaseNotes notes[K];
  for (int c = 0; c < K; ++c) walks[c].start(*jobs[c].settings, *jobs[c].state);
  for (long at = 0; at < n; at += kPhaseChunkFrames) {
    const long m = n - at < kPhaseChunkFrames ? n - at : kPhaseChunkFrames;
    for (long j = 0; j < m; ++j) {
#pragma GCC unroll 4
      for (int c = 0; c < K; ++c)
        walks[c].step(jobs[c].left[at + j], jobs[c].right[at + j], notes[c].kind[j],
                      notes[c].curve[j]);
    }
    for (int c = 0; c < K; ++c)
      applyPhaseGains(notes[c], m, jobs[c].settings->ratio, jobs[c].left + at, jobs[c].right + at);
  }
  for (int c = 0; c < K; ++c) walks[c].finish(*jobs[c].state);
}

// jobs[0..count-1] (count at most kMaxCompressorJobs), walked together.
template <typename Walk, typename State>
void walkCompressors(const CompressorJob<State>* jobs, int count, long n) {
  for (int done = 0; done < count;) {
    switch (count - done) {
      case 1:
        walkTogether<Walk, 1>(jobs + done, n);
        return;
      case 2:
        walkTogether<Walk, 2>(jobs + done, n);
        return;
      case 3:
        walkTogether<Walk, 3>(jobs + done, n);
        return;
      default:
        walkTogether<Walk, 4>(jobs + done, n);
        done += 4;
        break;
    }
  }
}

// Scales frames [0, n) of left and right as `notes` say, each from its floored
// magnitude and its sign: the attack frame x - (x - x/ratio) v, the
// compressed x/ratio, the release (x - x/ratio) v + x/ratio, each with its sign.
void applyPhaseGains(const PhaseNotes& notes, long n, double ratio, double* left, double* right);

}  // namespace sorvan
