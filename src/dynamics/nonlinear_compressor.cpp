#include "dynamics/nonlinear_compressor.h"

#include <cmath>
#include <cstddef>

#include "base/numeric.h"

namespace sorvan {

void setNonLinComp(NonLinCompSettings& settings, int channel, std::int64_t threshold, long window,
                   double ratio) {
  const auto ch = static_cast<std::size_t>(channel);
  settings.on[ch] = true;
  settings.thresh[ch] = threshold;
  settings.window[ch] = window;
  // The settings reader enforces the range; this only keeps a direct caller
  // from dividing by zero.
  settings.ratio[ch] = ratio >= 1.0 ? ratio : 1.0;
}

namespace {

// One side's level meter. Measurements are taken at polarity changes, but
// only once more than `window` samples have gathered since the last one.
struct LevelMeter {
  float& squares;
  float& interval;
  float& rms;
  float& oldrms;
  double& gamma;

  // Single-precision sums, each addition done in double.
  void accumulate(double square) {
    interval = static_cast<float>(static_cast<double>(interval) + 1.0);
    squares = toSingle(static_cast<double>(squares) + square);
  }

  // Measures and sets this side's own gain.
  void measure(double thresh, double ratio) {
    const float r1 = rms;
    const float r2 = oldrms;
    oldrms = r1;
    const float r0 = std::sqrt(squares / interval);
    rms = r0;
    squares = 0.0f;
    interval = 0.0f;
    // Smoothed over the last three measurements, weighted 3:2:1.
    const float S = static_cast<float>(
        (3.0 * static_cast<double>(r0) + 2.0 * static_cast<double>(r1) + static_cast<double>(r2)) *
        0.16666666666666666);
    // The output level S * gamma is T + (S - T) / ratio; above 1 when S < T.
    const double g = thresh / static_cast<double>(S);
    gamma = (1.0 - g) / ratio + g;
  }
};

// The two sides' gains are averaged before the cap, so a quiet side (gamma
// above 1) eases the reduction of a loud one.
double linkedGain(double gammaA, double gammaB) {
  const double g = 0.5 * gammaA + 0.5 * gammaB;
  return g < 1.0 ? g : 1.0;
}

}  // namespace

void NonLinCOMP(const NonLinCompSettings& settings, NonLinCompState& st, int channel, long n,
                double* left, double* right) {
  const auto ch = static_cast<std::size_t>(channel);

  if (st.first[ch] == 0) {
    st.rmsL[ch] = st.rmsR[ch] = 0.0f;
    st.oldrmsL[ch] = st.oldrmsR[ch] = 0.0f;
    st.squaresL[ch] = st.squaresR[ch] = 0.0f;
    st.intervalL[ch] = st.intervalR[ch] = 0.0f;
    st.oldpolarL[ch] = st.oldpolarR[ch] = 0;
    st.gammaL[ch] = st.gammaR[ch] = 1.0;
    st.GrandGammaL[ch] = st.GrandGammaR[ch] = 1.0;
    st.first[ch] = 1;
  }

  const double thresh = static_cast<double>(settings.thresh[ch]);
  const double ratio = settings.ratio[ch];
  const float window = static_cast<float>(settings.window[ch]);

  LevelMeter meterL{st.squaresL[ch], st.intervalL[ch], st.rmsL[ch], st.oldrmsL[ch], st.gammaL[ch]};
  LevelMeter meterR{st.squaresR[ch], st.intervalR[ch], st.rmsR[ch], st.oldrmsR[ch], st.gammaR[ch]};
  int oldpolarL = st.oldpolarL[ch];
  int oldpolarR = st.oldpolarR[ch];
  double GrandGammaL = st.GrandGammaL[ch];
  double GrandGammaR = st.GrandGammaR[ch];

  for (long i = 0; i < n; ++i) {
    const int pL = left[i] >= 0.0 ? 1 : -1;
    const int pR = right[i] >= 0.0 ? 1 : -1;
    const FlooredMagnitude mL = flooredMagnitude(left[i]);
    const FlooredMagnitude mR = flooredMagnitude(right[i]);
    const double xL = mL.x;
    const double xR = mR.x;

    meterR.accumulate(mR.square);
    meterL.accumulate(mL.square);

    // Left first: the right link below already sees a left gain updated at
    // this very frame.
    if (pL != oldpolarL && meterL.interval > window) {
      meterL.measure(thresh, ratio);
      GrandGammaL = linkedGain(meterR.gamma, meterL.gamma);
    }
    if (pR != oldpolarR && meterR.interval > window) {
      meterR.measure(thresh, ratio);
      GrandGammaR = linkedGain(meterL.gamma, meterR.gamma);
    }
    oldpolarL = pL;
    oldpolarR = pR;

    left[i] = static_cast<double>(pL) * xL * GrandGammaL;
    right[i] = static_cast<double>(pR) * xR * GrandGammaR;
  }

  st.oldpolarL[ch] = oldpolarL;
  st.oldpolarR[ch] = oldpolarR;
  st.GrandGammaL[ch] = GrandGammaL;
  st.GrandGammaR[ch] = GrandGammaR;
}

}  // namespace sorvan
