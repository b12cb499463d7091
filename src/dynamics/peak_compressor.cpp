#include "dynamics/peak_compressor.h"

namespace sorvan {
namespace {

// One side's half-wave peak. The detector only listens while the compressor
// works: through the attack it gathers across crossings; compressed and
// releasing, a change of polarity completes the half-wave (the crossing
// sample still counts into the half-wave it closes).
struct PeakSide {
  double& newpeak;
  double& oldpeak;

  // Returns whether a half-wave was completed, and whether it was quiet.
  bool listen(int phase, double x, bool crossed, double halfThresh, bool& quiet) {
    if (x > newpeak) newpeak = x;
    if (phase == compressor_phase::kAttack || !crossed) return false;
    quiet = newpeak < halfThresh;
    oldpeak = newpeak;
    newpeak = 0.0;
    return true;
  }
};

}  // namespace

void PEAKCOMPRESSOR(const SwitchedCompressorSettings& settings, PeakChannelState& st, long n,
                    double* left, double* right) {
  const double T = static_cast<double>(settings.thresh);
  const double halfT = T * 0.5;
  PeakChannelState s = st;
  PeakSide sideL{s.newpeakL, s.oldpeakL};
  PeakSide sideR{s.newpeakR, s.oldpeakR};

  for (long i = 0; i < n; ++i) {
    const double qL = left[i] >= 0.0 ? 1.0 : -1.0;
    const double qR = right[i] >= 0.0 ? 1.0 : -1.0;
    const double xL = flooredMagnitude(left[i]).x;
    const double xR = flooredMagnitude(right[i]).x;

    if (s.phase.phase == compressor_phase::kIdle && (xL > T || xR > T)) {
      triggerAttack(s.phase);
      s.oldpeakL = s.oldpeakR = 0.0;
      s.newpeakL = s.newpeakR = 0.0;
    }
    HalfWaveReport r;
    if (s.phase.phase != compressor_phase::kIdle) {
      r.endedL = sideL.listen(s.phase.phase, xL, qL != s.oldpolarL, halfT, r.quietL);
      r.endedR = sideR.listen(s.phase.phase, xR, qR != s.oldpolarR, halfT, r.quietR);
      r.belowL = s.oldpeakL < T;
      r.belowR = s.oldpeakR < T;
    }
    stepPhase(s.phase, settings, s.curves, r, xL, xR, qL, qR, left[i], right[i]);
    s.oldpolarL = qL;
    s.oldpolarR = qR;
  }
  st = s;
}

}  // namespace sorvan
