#include "filters/hpf.h"

namespace sorvan {

namespace {
constexpr double kTwoPi = 6.283185307179586;
}  // namespace

HpfCoefficients highPassCoefficients(double cutoffHz, double sampleRate) {
  const double rc = 1.0 / (kTwoPi * cutoffHz);
  HpfCoefficients k;
  // The feedback deliberately uses 1 - 4f/SR rather than the RC ratio of the
  // textbook form; the two coefficients are applied separately.
  k.a = (sampleRate - 4.0 * cutoffHz) / sampleRate;
  k.b = rc / (rc + 1.0 / sampleRate);
  return k;
}

void HPF(const HpfCoefficients& k, HpfMemory& m, long n, double* left, double* right) {
  if (n <= 0) return;
  long i = 0;
  if (!m.seeded) {
    // Seeding input and output memory with the first sample makes it pass
    // unchanged; a constant input then decays from its own value.
    left[0] = denormalGuard(left[0]);
    right[0] = denormalGuard(right[0]);
    m.OldXL = m.OldYL = left[0];
    m.OldXR = m.OldYR = right[0];
    m.seeded = true;
    i = 1;
  }
  const double a = k.a;
  const double b = k.b;
  double oldXL = m.OldXL, oldYL = m.OldYL;
  double oldXR = m.OldXR, oldYR = m.OldYR;
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
  m.OldXL = oldXL;
  m.OldYL = oldYL;
  m.OldXR = oldXR;
  m.OldYR = oldYR;
}

}  // namespace sorvan
