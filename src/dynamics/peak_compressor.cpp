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
  // Written as selections: crossings in noisy material come at random, and
  // a branch on them would be mispredicted half the time.
  bool listen(int phase, double x, bool crossed, double halfThresh, bool& quiet) {
    newpeak = x > newpeak ? x : newpeak;
    const bool ended = phase != compressor_phase::kAttack && crossed;
    quiet = ended ? newpeak < halfThresh : quiet;
    oldpeak = ended ? newpeak : oldpeak;
    newpeak = ended ? 0.0 : newpeak;
    return ended;
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

  PhaseNotes notes;
  for (long at = 0; at < n; at += kPhaseChunkFrames) {
    const long m = n - at < kPhaseChunkFrames ? n - at : kPhaseChunkFrames;
    for (long j = 0; j < m; ++j) {
      const double qL = left[at + j] >= 0.0 ? 1.0 : -1.0;
      const double qR = right[at + j] >= 0.0 ? 1.0 : -1.0;
      const double xL = flooredMagnitude(left[at + j]).x;
      const double xR = flooredMagnitude(right[at + j]).x;

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
      advancePhase(s.phase, settings, s.curves, r, notes.kind[j], notes.curve[j]);
      s.oldpolarL = qL;
      s.oldpolarR = qR;
    }
    applyPhaseGains(notes, m, settings.ratio, left + at, right + at);
  }
  st = s;
}

}  // namespace sorvan
