#include "filters/hpf.h"

#include <cassert>

namespace sorvan {

namespace {
constexpr double kTwoPi = 6.283185307179586;
}  // namespace

void Denormal(double* left, double* right, long n) {
  for (long i = 0; i < n; ++i) {
    left[i] = denormalGuard(left[i]);
    right[i] = denormalGuard(right[i]);
  }
}

HpfCoefficients highPassCoefficients(double cutoffHz, double sampleRate) {
  const double rc = 1.0 / (kTwoPi * cutoffHz);
  HpfCoefficients k;
  // The feedback deliberately uses 1 - 4f/SR rather than the RC ratio of the
  // textbook form; the two coefficients are applied separately.
  k.a = (sampleRate - 4.0 * cutoffHz) / sampleRate;
  k.b = rc / (rc + 1.0 / sampleRate);
  return k;
}

void setHighPass(HpfSettings& settings, int channel, double cutoffHz, double sampleRate) {
  assert(channel >= 0 && channel < kStripCount);
  const HpfCoefficients k = highPassCoefficients(cutoffHz, sampleRate);
  settings.hpfA[channel] = k.a;
  settings.hpfB[channel] = k.b;
  settings.on[channel] = 1;
}

void HPF(const HpfSettings& settings, HpfState& state, int channel, long n, double* left,
         double* right) {
  assert(channel >= 0 && channel < kStripCount);
  if (n <= 0) return;

  long i = 0;
  if (state.first[channel] == 0) {
    // Seeding input and output memory with the first sample makes it pass
    // unchanged; a constant input then decays from its own value.
    left[0] = denormalGuard(left[0]);
    right[0] = denormalGuard(right[0]);
    state.OldXL[channel] = left[0];
    state.OldYL[channel] = left[0];
    state.OldXR[channel] = right[0];
    state.OldYR[channel] = right[0];
    state.first[channel] = 1;
    i = 1;
  }

  const double a = settings.hpfA[channel];
  const double b = settings.hpfB[channel];
  double oldXL = state.OldXL[channel], oldYL = state.OldYL[channel];
  double oldXR = state.OldXR[channel], oldYR = state.OldYR[channel];
  for (; i < n; ++i) {
    const double xl = denormalGuard(left[i]);
    const double yl = a * oldYL + b * (xl - oldXL);
    oldXL = xl;
    oldYL = yl;
    left[i] = yl;

    const double xr = denormalGuard(right[i]);
    const double yr = a * oldYR + b * (xr - oldXR);
    oldXR = xr;
    oldYR = yr;
    right[i] = yr;
  }
  state.OldXL[channel] = oldXL;
  state.OldYL[channel] = oldYL;
  state.OldXR[channel] = oldXR;
  state.OldYR[channel] = oldYR;
}

}  // namespace sorvan
