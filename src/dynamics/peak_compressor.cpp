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

// One peak compressor's phase walk, its state held where the compiler can
// keep it in registers.
struct PeakWalk {
  const SwitchedCompressorSettings* settings = nullptr;
  PeakChannelState s;
  double T = 0, halfT = 0;

  void start(const SwitchedCompressorSettings& c, const PeakChannelState& state) {
    settings = &c;
    s = state;
    T = static_cast<double>(c.thresh);
    halfT = T * 0.5;
  }
  void finish(PeakChannelState& state) const { state = s; }

  void step(double left, double right, std::int64_t& kind, double& curve) {
    PeakSide sideL{s.newpeakL, s.oldpeakL};
    PeakSide sideR{s.newpeakR, s.oldpeakR};
    const double qL = left >= 0.0 ? 1.0 : -1.0;
    const double qR = right >= 0.0 ? 1.0 : -1.0;
    const double xL = flooredMagnitude(left).x;
    const double xR = flooredMagnitude(right).x;

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
    advancePhase(s.phase, *settings, s.curves, r, kind, curve);
    s.oldpolarL = qL;
    s.oldpolarR = qR;
  }
};

}  // namespace

void PEAKCOMPRESSOR(const SwitchedCompressorSettings& settings, PeakChannelState& state, long n,
                    double* left, double* right) {
  const PeakJob job{&settings, &state, left, right};
  walkCompressors<PeakWalk>(&job, 1, n);
}

void PEAKCOMPRESSORS(const PeakJob* jobs, int count, long n) {
  walkCompressors<PeakWalk>(jobs, count, n);
}

}  // namespace sorvan
