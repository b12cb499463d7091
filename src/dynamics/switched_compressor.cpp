#include "dynamics/switched_compressor.h"

#include <cmath>

#include "base/target.h"

namespace sorvan {

SwitchedCompressorSettings switchedCompressor(std::int64_t threshold, long attackSamples,
                                              long releaseSamples, double ratio) {
  SwitchedCompressorSettings s;
  s.thresh = threshold;
  s.attackSamples = attackSamples < 1 ? 1 : attackSamples;
  s.releaseSamples = releaseSamples < 1 ? 1 : releaseSamples;
  s.ratio = ratio >= 1.0 ? ratio : 1.0;
  return s;
}

void triggerAttack(SwitchedPhase& s) {
  s.phase = compressor_phase::kAttack;
  s.attackCount = 1;
  s.releaseCount = 1;
  s.passTL = s.passTR = 0;
}

std::vector<double> curveTable(long length) {
  std::vector<double> table(static_cast<std::size_t>(length) + 1);
  for (long step = 0; step <= length; ++step)
    table[static_cast<std::size_t>(step)] = curveValue(step, length);
  return table;
}

namespace {

// One side of one frame; every kind is worked out and the frame's own chosen,
// so that the loop has no branch.
inline double scaled(double sample, std::int64_t kind, double v, double ratio) {
  const double x = std::fabs(sample);
  const double floored = x < kMagnitudeFloor ? kMagnitudeFloor : x;
  const double sign = sample >= 0.0 ? 1.0 : -1.0;
  const double q = floored / ratio;
  const double attack = (floored - (floored - q) * v) * sign;
  const double full = q * sign;
  const double release = ((floored - q) * v + q) * sign;
  const double compressed = kind == frame_gain::kAttack ? attack
                            : kind == frame_gain::kFull ? full
                                                        : release;
  return kind == frame_gain::kPass ? sample : compressed;
}

}  // namespace

SORVAN_ALSO_AVX512 void applyPhaseGains(const PhaseNotes& notes, long n, double ratio, double* left,
                                        double* right) {
  for (long i = 0; i < n; ++i) {
    left[i] = scaled(left[i], notes.kind[i], notes.curve[i], ratio);
    right[i] = scaled(right[i], notes.kind[i], notes.curve[i], ratio);
  }
}

}  // namespace sorvan
