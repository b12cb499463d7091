#include "dynamics/nonlinear_compressor.h"

#include <cmath>

#include "base/numeric.h"

namespace sorvan {

NonLinCompSettings nonLinComp(std::int64_t threshold, long windowSamples, double ratio) {
  NonLinCompSettings s;
  s.thresh = threshold;
  s.windowSamples = windowSamples;
  s.ratio = ratio >= 1.0 ? ratio : 1.0;
  return s;
}

namespace {

// Single-precision sums, each addition done in double.
void accumulate(NonLinMeter& m, double square) {
  m.interval = static_cast<float>(static_cast<double>(m.interval) + 1.0);
  m.squares = toSingle(static_cast<double>(m.squares) + square);
}

// Measures and sets this side's own gain.
void measure(NonLinMeter& m, double thresh, double ratio) {
  const float r1 = m.rms;
  const float r2 = m.oldrms;
  m.oldrms = r1;
  const float r0 = std::sqrt(m.squares / m.interval);
  m.rms = r0;
  m.squares = 0.0f;
  m.interval = 0.0f;
  // Smoothed over the last three measurements, weighted 3:2:1.
  const float S = static_cast<float>(
      (3.0 * static_cast<double>(r0) + 2.0 * static_cast<double>(r1) + static_cast<double>(r2)) *
      0.16666666666666666);
  // The output level S * gamma is T + (S - T) / ratio; above 1 when S < T.
  const double g = thresh / static_cast<double>(S);
  m.gamma = (1.0 - g) / ratio + g;
}

// The two sides' gains are averaged before the cap, so a quiet side (gamma
// above 1) eases the reduction of a loud one.
double linkedGain(double gammaA, double gammaB) {
  const double g = 0.5 * gammaA + 0.5 * gammaB;
  return g < 1.0 ? g : 1.0;
}

}  // namespace

void NonLinCOMP(const NonLinCompSettings& settings, NonLinChannelState& st, long n, double* left,
                double* right) {
  const double thresh = static_cast<double>(settings.thresh);
  const double ratio = settings.ratio;
  const float window = static_cast<float>(settings.windowSamples);
  NonLinChannelState s = st;

  for (long i = 0; i < n; ++i) {
    const int pL = left[i] >= 0.0 ? 1 : -1;
    const int pR = right[i] >= 0.0 ? 1 : -1;
    const FlooredMagnitude mL = flooredMagnitude(left[i]);
    const FlooredMagnitude mR = flooredMagnitude(right[i]);

    accumulate(s.meterR, mR.square);
    accumulate(s.meterL, mL.square);

    // Left first: the right link below already sees a left gain updated at
    // this very frame.
    if (pL != s.oldpolarL && s.meterL.interval > window) {
      measure(s.meterL, thresh, ratio);
      s.GrandGammaL = linkedGain(s.meterR.gamma, s.meterL.gamma);
    }
    if (pR != s.oldpolarR && s.meterR.interval > window) {
      measure(s.meterR, thresh, ratio);
      s.GrandGammaR = linkedGain(s.meterL.gamma, s.meterR.gamma);
    }
    s.oldpolarL = pL;
    s.oldpolarR = pR;

    left[i] = static_cast<double>(pL) * mL.x * s.GrandGammaL;
    right[i] = static_cast<double>(pR) * mR.x * s.GrandGammaR;
  }
  st = s;
}

}  // namespace sorvan
