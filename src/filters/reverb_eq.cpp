#include "filters/reverb_eq.h"

#include <cassert>
#include <cmath>

namespace sorvan {

namespace {
constexpr double kTwoPi = 6.283185307179586;

struct SinCos {
  double s, c, a0;
};

SinCos corner(double hz, double sampleRate) {
  const double w0 = hz * kTwoPi / sampleRate;
  const double s = std::sin(w0);
  return SinCos{s, std::cos(w0), 1.0 + s / 2.0};
}
}  // namespace

BiquadCoefficients reverbHighPassCoefficients(double hz, double sampleRate) {
  if (!belowNyquist(hz, sampleRate)) return BiquadCoefficients{0.0, 0.0, 0.0, 0.0, 0.0};
  const SinCos k = corner(hz, sampleRate);
  return BiquadCoefficients{((1.0 + k.c) / 2.0) / k.a0, (-(1.0 + k.c)) / k.a0,
                            ((1.0 + k.c) / 2.0) / k.a0, (-2.0 * k.c) / k.a0,
                            (1.0 - k.s / 2.0) / k.a0};
}

BiquadCoefficients reverbLowPassCoefficients(double hz, double sampleRate) {
  if (!belowNyquist(hz, sampleRate)) return BiquadCoefficients{1.0, 0.0, 0.0, 0.0, 0.0};
  const SinCos k = corner(hz, sampleRate);
  return BiquadCoefficients{((1.0 - k.c) / 2.0) / k.a0, (1.0 - k.c) / k.a0,
                            ((1.0 - k.c) / 2.0) / k.a0, (-2.0 * k.c) / k.a0,
                            (1.0 - k.s / 2.0) / k.a0};
}

void Rev_EQ(const ReverbEqSettings& settings, ReverbEqState& state, int slot, long n, double* left,
            double* right) {
  assert(slot >= 0 && slot < kReverbEqSlots);
  const bool highPass = slot == kTapHighPassSlot || slot == kRecursiveHighPassSlot;
  runBiquad(highPass ? settings.highPass : settings.lowPass, state.slot[slot], n, left, right);
}

}  // namespace sorvan
