#include "dynamics/peak_compressor.h"

#include <cmath>
#include <cstddef>

namespace sorvan {

void setPeakCompressor(PeakCompressorSettings& settings, int channel, std::int64_t threshold,
                       long attack, long release, double ratio) {
  const auto ch = static_cast<std::size_t>(channel);
  settings.on[ch] = true;
  settings.thresh[ch] = threshold;
  // The settings reader enforces wider limits; these only keep a direct
  // caller from dividing by zero in the curves or the gain.
  settings.attack[ch] = attack < 1 ? 1 : attack;
  settings.release[ch] = release < 1 ? 1 : release;
  settings.ratio[ch] = ratio >= 1.0 ? ratio : 1.0;
}

namespace {

// One side's peak of the current half-wave. The sample at which the polarity
// changes still counts into the half-wave it closes; the next one starts at 0.
struct HalfWavePeak {
  double& newpeak;
  double& oldpeak;

  void add(double x) {
    if (x > newpeak) newpeak = x;
  }
  void close() {
    oldpeak = newpeak;
    newpeak = 0.0;
  }
};

}  // namespace

void PEAKCOMPRESSOR(const PeakCompressorSettings& settings, PeakCompressorState& st, int channel,
                    long n, double* left, double* right) {
  using namespace compressor_phase;
  const auto ch = static_cast<std::size_t>(channel);

  const long attack = settings.attack[ch];
  const long release = settings.release[ch];
  const double ratio = settings.ratio[ch];
  const double T = static_cast<double>(settings.thresh[ch]);
  const double halfT = T * 0.5;

  HalfWavePeak peakL{st.newpeakL[ch], st.oldpeakL[ch]};
  HalfWavePeak peakR{st.newpeakR[ch], st.oldpeakR[ch]};
  int phase = st.state[ch];
  double pL = st.oldpolarL[ch];
  double pR = st.oldpolarR[ch];
  std::int64_t attackCount = st.attackCount[ch];
  std::int64_t releaseCount = st.releaseCount[ch];
  int passTL = st.passTL[ch];
  int passTR = st.passTR[ch];

  for (long i = 0; i < n; ++i) {
    const double qL = left[i] >= 0.0 ? 1.0 : -1.0;
    const double qR = right[i] >= 0.0 ? 1.0 : -1.0;
    double xL = std::fabs(left[i]);
    double xR = std::fabs(right[i]);
    if (xL < kMagnitudeFloor) xL = kMagnitudeFloor;
    if (xR < kMagnitudeFloor) xR = kMagnitudeFloor;

    if (phase == kIdle && (xL > T || xR > T)) {
      // The triggering sample is already attack step 1.
      phase = kAttack;
      attackCount = 1;
      releaseCount = 1;
      peakL.oldpeak = peakR.oldpeak = 0.0;
      peakL.newpeak = peakR.newpeak = 0.0;
      passTL = passTR = 0;
    }

    switch (phase) {
      case kAttack: {
        // The peak gathers over the whole attack, across crossings.
        peakL.add(xL);
        peakR.add(xR);
        const std::int64_t c = attackCount;
        const double s = curveValue(c, attack);
        left[i] = attackMagnitude(xL, ratio, s) * qL;
        right[i] = attackMagnitude(xR, ratio, s) * qR;
        if (c < attack)
          attackCount = c + 1;
        else
          phase = kCompressed;
        break;
      }
      case kCompressed:
        left[i] = (xL / ratio) * qL;
        right[i] = (xR / ratio) * qR;
        peakL.add(xL);
        peakR.add(xR);
        if (qL != pL) {
          passTL = peakL.newpeak < halfT ? countQuietHalfWave(passTL) : 0;
          peakL.close();
        }
        if (qR != pR) {
          passTR = peakR.newpeak < halfT ? countQuietHalfWave(passTR) : 0;
          peakR.close();
        }
        if (passTL > 3 && passTR > 3) phase = kRelease;
        break;
      case kRelease: {
        peakL.add(xL);
        peakR.add(xR);
        if (qL != pL) peakL.close();
        if (qR != pR) peakR.close();
        const std::int64_t c = releaseCount;
        const double s = curveValue(c, release);
        left[i] = releaseMagnitude(xL, ratio, s) * qL;
        right[i] = releaseMagnitude(xR, ratio, s) * qR;
        releaseCount = walkRelease(c, peakL.oldpeak < T && peakR.oldpeak < T);
        if (releaseCount > release) phase = kIdle;
        break;
      }
      default:  // idle: the sample passes untouched
        break;
    }

    pL = qL;
    pR = qR;
  }

  st.state[ch] = phase;
  st.oldpolarL[ch] = pL;
  st.oldpolarR[ch] = pR;
  st.attackCount[ch] = attackCount;
  st.releaseCount[ch] = releaseCount;
  st.passTL[ch] = passTL;
  st.passTR[ch] = passTR;
}

}  // namespace sorvan
