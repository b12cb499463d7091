#include "dynamics/rms_compressor.h"

#include <cmath>

#include "base/numeric.h"

namespace sorvan {
namespace {

// One side's half-wave detector. Returns true when this sample ended a
// half-wave, i.e. its polarity differs from the previous sample's; the
// crossing sample still counts into the half-wave it closes.
bool addToHalfWave(float& rms, float& squares, float& interval, double polarity, double oldPolarity,
                   double square) {
  // Single-precision sums, each addition done in double.
  squares = toSingle(static_cast<double>(squares) + square);
  interval = static_cast<float>(static_cast<double>(interval) + 1.0);
  if (polarity == oldPolarity) return false;
  rms = std::sqrt(squares / interval);
  squares = 0.0f;
  interval = 0.0f;
  return true;
}

}  // namespace

void RMSCOMPRESSOR(const SwitchedCompressorSettings& settings, RmsChannelState& st, long n,
                   double* left, double* right) {
  // The trigger and the release compare in single precision, the quiet test
  // in double.
  const float threshF = static_cast<float>(settings.thresh);
  const double halfThresh = static_cast<double>(settings.thresh) * 0.5;
  RmsChannelState s = st;

  PhaseNotes notes;
  for (long at = 0; at < n; at += kPhaseChunkFrames) {
    const long m = n - at < kPhaseChunkFrames ? n - at : kPhaseChunkFrames;
    for (long j = 0; j < m; ++j) {
      const double pL = left[at + j] >= 0.0 ? 1.0 : -1.0;
      const double pR = right[at + j] >= 0.0 ? 1.0 : -1.0;
      const FlooredMagnitude mL = flooredMagnitude(left[at + j]);
      const FlooredMagnitude mR = flooredMagnitude(right[at + j]);

      HalfWaveReport r;
      r.endedL = addToHalfWave(s.rmsL, s.squaresL, s.intervalL, pL, s.oldpolarL, mL.square);
      r.endedR = addToHalfWave(s.rmsR, s.squaresR, s.intervalR, pR, s.oldpolarR, mR.square);
      r.quietL = static_cast<double>(s.rmsL) < halfThresh;
      r.quietR = static_cast<double>(s.rmsR) < halfThresh;
      r.belowL = s.rmsL < threshF;
      r.belowR = s.rmsR < threshF;

      if (s.phase.phase == compressor_phase::kIdle && (s.rmsL > threshF || s.rmsR > threshF))
        triggerAttack(s.phase);
      advancePhase(s.phase, settings, s.curves, r, notes.kind[j], notes.curve[j]);
      s.oldpolarL = pL;
      s.oldpolarR = pR;
    }
    applyPhaseGains(notes, m, settings.ratio, left + at, right + at);
  }
  st = s;
}

}  // namespace sorvan
