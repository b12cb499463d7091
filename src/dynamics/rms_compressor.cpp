#include "dynamics/rms_compressor.h"

#include <cmath>
#include <cstddef>

#include "base/numeric.h"

namespace sorvan {

void setRmsCompressor(RmsCompressorSettings& settings, int channel, std::int64_t threshold,
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

// One side's half-wave detector. Returns true when this sample ended a
// half-wave, i.e. its polarity differs from the previous sample's; the
// crossing sample still counts into the half-wave it closes.
struct HalfWaveRms {
  float& rms;
  float& squares;
  float& interval;

  bool add(double polarity, double oldPolarity, double square) {
    // Single-precision sums, each addition done in double.
    squares = toSingle(static_cast<double>(squares) + square);
    interval = static_cast<float>(static_cast<double>(interval) + 1.0);
    if (polarity == oldPolarity) return false;
    rms = std::sqrt(squares / interval);
    squares = 0.0f;
    interval = 0.0f;
    return true;
  }
};

}  // namespace

void RMSCOMPRESSOR(const RmsCompressorSettings& settings, RmsCompressorState& st, int channel,
                   long n, double* left, double* right) {
  using namespace compressor_phase;
  const auto ch = static_cast<std::size_t>(channel);

  if (st.first[ch] == 0) {
    st.first[ch] = 1;
    st.rmsL[ch] = st.rmsR[ch] = 0.0f;
    st.squaresL[ch] = st.squaresR[ch] = 0.0f;
    st.intervalL[ch] = st.intervalR[ch] = 0.0f;
    st.oldpolarL[ch] = st.oldpolarR[ch] = 0.0;
  }

  const long attack = settings.attack[ch];
  const long release = settings.release[ch];
  const double ratio = settings.ratio[ch];
  // The trigger and the release compare in single precision, the quiet test
  // in double.
  const float threshF = static_cast<float>(settings.thresh[ch]);
  const double halfThresh = static_cast<double>(settings.thresh[ch]) * 0.5;

  HalfWaveRms detL{st.rmsL[ch], st.squaresL[ch], st.intervalL[ch]};
  HalfWaveRms detR{st.rmsR[ch], st.squaresR[ch], st.intervalR[ch]};
  int phase = st.state[ch];
  double oldpolarL = st.oldpolarL[ch];
  double oldpolarR = st.oldpolarR[ch];
  std::int64_t attackCount = st.attackCount[ch];
  std::int64_t releaseCount = st.releaseCount[ch];
  int passTL = st.passTL[ch];
  int passTR = st.passTR[ch];

  for (long i = 0; i < n; ++i) {
    const double pL = left[i] >= 0.0 ? 1.0 : -1.0;
    const double pR = right[i] >= 0.0 ? 1.0 : -1.0;
    const FlooredMagnitude mL = flooredMagnitude(left[i]);
    const FlooredMagnitude mR = flooredMagnitude(right[i]);
    const double xL = mL.x;
    const double xR = mR.x;

    const bool endedL = detL.add(pL, oldpolarL, mL.square);
    const bool endedR = detR.add(pR, oldpolarR, mR.square);

    if (phase == kIdle && (detL.rms > threshF || detR.rms > threshF)) {
      // The triggering frame is already attack step 1.
      phase = kAttack;
      attackCount = 1;
      releaseCount = 1;
      passTL = passTR = 0;
    }

    switch (phase) {
      case kAttack: {
        const std::int64_t c = attackCount;
        const double s = curveValue(c, attack);
        left[i] = attackMagnitude(xL, ratio, s) * pL;
        right[i] = attackMagnitude(xR, ratio, s) * pR;
        if (c < attack)
          attackCount = c + 1;
        else
          phase = kCompressed;
        break;
      }
      case kCompressed:
        left[i] = (xL / ratio) * pL;
        right[i] = (xR / ratio) * pR;
        if (endedL)
          passTL = static_cast<double>(detL.rms) < halfThresh ? countQuietHalfWave(passTL) : 0;
        if (endedR)
          passTR = static_cast<double>(detR.rms) < halfThresh ? countQuietHalfWave(passTR) : 0;
        if (passTL > 3 && passTR > 3) phase = kRelease;
        break;
      case kRelease: {
        const std::int64_t c = releaseCount;
        const double s = curveValue(c, release);
        left[i] = releaseMagnitude(xL, ratio, s) * pL;
        right[i] = releaseMagnitude(xR, ratio, s) * pR;
        releaseCount = walkRelease(c, detL.rms < threshF && detR.rms < threshF);
        if (releaseCount > release) phase = kIdle;
        break;
      }
      default:  // idle: the sample passes untouched
        break;
    }

    oldpolarL = pL;
    oldpolarR = pR;
  }

  st.state[ch] = phase;
  st.oldpolarL[ch] = oldpolarL;
  st.oldpolarR[ch] = oldpolarR;
  st.attackCount[ch] = attackCount;
  st.releaseCount[ch] = releaseCount;
  st.passTL[ch] = passTL;
  st.passTR[ch] = passTR;
}

}  // namespace sorvan
