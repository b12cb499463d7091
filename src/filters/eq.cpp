#include "filters/eq.h"

#include <cassert>
#include <cmath>

#include "filters/hpf.h"

namespace sorvan {

namespace {
constexpr double kTwoPi = 6.283185307179586;

BiquadCoefficients normalise(double b0, double b1, double b2, double a0, double a1, double a2) {
  return BiquadCoefficients{b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}
}  // namespace

void EQSetA(double gainDb, double freqHz, double sampleRate, double q, double& A, double& w0,
            double& alpha) {
  A = std::pow(10.0, gainDb / 40.0);
  w0 = freqHz * kTwoPi / sampleRate;
  alpha = std::sin(w0) / (2.0 * q);
}

BiquadCoefficients eqSectionCoefficients(int section, double A, double w0, double alpha) {
  const double c = std::cos(w0);
  if (section == kEqHighShelf) {
    // Shelves take their slope from Q through alpha.
    const double s = 2.0 * std::sqrt(A) * alpha;
    const double b0 = A * ((A + 1.0) + (A - 1.0) * c + s);
    const double b1 = -2.0 * A * ((A - 1.0) + (A + 1.0) * c);
    const double b2 = A * ((A + 1.0) + (A - 1.0) * c - s);
    const double a0 = (A + 1.0) - (A - 1.0) * c + s;
    const double a1 = 2.0 * ((A - 1.0) - (A + 1.0) * c);
    const double a2 = (A + 1.0) - (A - 1.0) * c - s;
    return normalise(b0, b1, b2, a0, a1, a2);
  }
  if (section == kEqLowShelf) {
    const double s = 2.0 * std::sqrt(A) * alpha;
    const double b0 = A * ((A + 1.0) - (A - 1.0) * c + s);
    const double b1 = 2.0 * A * ((A - 1.0) - (A + 1.0) * c);
    const double b2 = A * ((A + 1.0) - (A - 1.0) * c - s);
    const double a0 = (A + 1.0) + (A - 1.0) * c + s;
    const double a1 = -2.0 * ((A - 1.0) + (A + 1.0) * c);
    const double a2 = (A + 1.0) + (A - 1.0) * c - s;
    return normalise(b0, b1, b2, a0, a1, a2);
  }
  // Peaking band: b1 and a1 are the same term, so they stay bit-identical.
  const double b0 = 1.0 + alpha * A;
  const double b1 = -2.0 * c;
  const double b2 = 1.0 - alpha * A;
  const double a0 = 1.0 + alpha / A;
  const double a1 = -2.0 * c;
  const double a2 = 1.0 - alpha / A;
  return normalise(b0, b1, b2, a0, a1, a2);
}

BiquadCoefficients eqSection(int section, double freqHz, double gainDb, double q,
                             double sampleRate) {
  assert(section >= kEqBand1 && section <= kEqLowShelf);
  double A = 0.0, w0 = 0.0, alpha = 0.0;
  EQSetA(gainDb, freqHz, sampleRate, q, A, w0, alpha);
  return eqSectionCoefficients(section, A, w0, alpha);
}

void runBiquad(const BiquadCoefficients& k, BiquadMemory& m, long n, double* left, double* right) {
  if (n <= 0) return;

  long i = 0;
  for (; i < n && m.first < 2; ++i) {
    // The seeded samples enter as both input and output and pass unchanged.
    if (m.first == 0) {
      m.in2L = 0.0;
      m.out2L = 0.0;
      m.in2R = 0.0;
      m.out2R = 0.0;
    } else {
      m.in2L = m.in1L;
      m.out2L = m.out1L;
      m.in2R = m.in1R;
      m.out2R = m.out1R;
    }
    left[i] = denormalGuard(left[i]);
    right[i] = denormalGuard(right[i]);
    m.in1L = left[i];
    m.out1L = left[i];
    m.in1R = right[i];
    m.out1R = right[i];
    ++m.first;
  }

  const double b0 = k.b0, b1 = k.b1, b2 = k.b2, a1 = k.a1, a2 = k.a2;
  double in1L = m.in1L, in2L = m.in2L, out1L = m.out1L, out2L = m.out2L;
  double in1R = m.in1R, in2R = m.in2R, out1R = m.out1R, out2R = m.out2R;
  for (; i < n; ++i) {
    const double xl = denormalGuard(left[i]);
    const double yl = b0 * xl + b1 * in1L + b2 * in2L - a1 * out1L - a2 * out2L;
    in2L = in1L;
    in1L = xl;
    out2L = out1L;
    out1L = yl;
    left[i] = yl;

    const double xr = denormalGuard(right[i]);
    const double yr = b0 * xr + b1 * in1R + b2 * in2R - a1 * out1R - a2 * out2R;
    in2R = in1R;
    in1R = xr;
    out2R = out1R;
    out1R = yr;
    right[i] = yr;
  }
  m.in1L = in1L;
  m.in2L = in2L;
  m.out1L = out1L;
  m.out2L = out2L;
  m.in1R = in1R;
  m.in2R = in2R;
  m.out1R = out1R;
  m.out2R = out2R;
}

}  // namespace sorvan
