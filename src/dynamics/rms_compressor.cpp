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
  // Single-precision sums, each addition done in double. Adding 1 to a float
  // in double is exact, so rounding it back gives what a float addition
  // gives: the count is added as a float.
  squares = toSingle(static_cast<double>(squares) + square);
  interval += 1.0f;
  if (polarity == oldPolarity) return false;
  rms = std::sqrt(squares / interval);
  squares = 0.0f;
  interval = 0.0f;
  return true;
}

// One RMS compressor's phase walk, its state held where the compiler can keep
// it in registers.
struct RmsWalk {
  const SwitchedCompressorSettings* settings = nullptr;
  RmsChannelState s;
  // The trigger and the release compare in single precision, the quiet test
  // in double.
  float threshF = 0;
  double halfThresh = 0;

  void start(const SwitchedCompressorSettings& c, const RmsChannelState& state) {
    settings = &c;
    s = state;
    threshF = static_cast<float>(c.thresh);
    halfThresh = static_cast<double>(c.thresh) * 0.5;
  }
  void finish(RmsChannelState& state) const { state = s; }

  void step(double left, double right, std::int64_t& kind, double& curve) {
    const double pL = left >= 0.0 ? 1.0 : -1.0;
    const double pR = right >= 0.0 ? 1.0 : -1.0;
    const FlooredMagnitude mL = flooredMagnitude(left);
    const FlooredMagnitude mR = flooredMagnitude(right);

    HalfWaveReport r;
    r.endedL = addToHalfWave(s.rmsL, s.squaresL, s.intervalL, pL, s.oldpolarL, mL.square);
    r.endedR = addToHalfWave(s.rmsR, s.squaresR, s.intervalR, pR, s.oldpolarR, mR.square);
    r.quietL = static_cast<double>(s.rmsL) < halfThresh;
    r.quietR = static_cast<double>(s.rmsR) < halfThresh;
    r.belowL = s.rmsL < threshF;
    r.belowR = s.rmsR < threshF;

    if (s.phase.phase == compressor_phase::kIdle && (s.rmsL > threshF || s.rmsR > threshF))
      triggerAttack(s.phase);
    advancePhase(s.phase, *settings, s.curves, r, kind, curve);
    s.oldpolarL = pL;
    s.oldpolarR = pR;
  }
};

}  // namespace

void RMSCOMPRESSOR(const SwitchedCompressorSettings& settings, RmsChannelState& state, long n,
                   double* left, double* right) {
  const RmsJob job{&settings, &state, left, right};
  walkCompressors<RmsWalk>(&job, 1, n);
}

void RMSCOMPRESSORS(const RmsJob* jobs, int count, long n) {
  walkCompressors<RmsWalk>(jobs, count, n);
}

}  // namespace sorvan
