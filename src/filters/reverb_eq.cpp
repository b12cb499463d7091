#include "filters/reverb_eq.h"

#include <cassert>
#include <cmath>

#include "base/messages.h"

namespace sorvan {

namespace {
constexpr double kTwoPi = 6.283185307179586;

// Inside the band the cookbook forms are stable; from half the sample rate on
// sin(w0) turns negative (or reaches zero), the poles leave (or touch) the
// unit circle and the send would grow without bound.
bool belowNyquist(double hz, double sampleRate) { return hz < sampleRate * 0.5; }

struct SinCos {
  double s, c, a0;
};

SinCos corner(double hz, double sampleRate) {
  const double w0 = hz * kTwoPi / sampleRate;
  const double s = std::sin(w0);
  return SinCos{s, std::cos(w0), 1.0 + s / 2.0};
}
}  // namespace

double limitReverbHighPass(double hz) {
  if (hz > kReverbHighPassMaxHz) {
    sayLine("Resetting reverb high pass to 12000 Hz");
    return kReverbHighPassMaxHz;
  }
  if (hz < kReverbHighPassMinHz) {
    sayLine("Resetting reverb high pass to 20 Hz");
    return kReverbHighPassMinHz;
  }
  return hz;
}

double limitReverbLowPass(double hz) {
  if (hz > kReverbLowPassMaxHz) {
    sayLine("Resetting reverb low pass to 16000 Hz");
    return kReverbLowPassMaxHz;
  }
  if (hz < kReverbLowPassMinHz) {
    sayLine("Resetting reverb low pass to 500 Hz");
    return kReverbLowPassMinHz;
  }
  return hz;
}

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

void setReverbHighPass(ReverbEqSettings& settings, double hz, double sampleRate) {
  const double f = limitReverbHighPass(hz);
  if (!belowNyquist(f, sampleRate)) {
    say(">> Warning: reverb high pass at %g Hz is not below half the sample rate; "
        "the reverb sends are silenced\n",
        f);
  }
  settings.highPassHz = f;
  settings.highPass = reverbHighPassCoefficients(f, sampleRate);
  settings.highPassOn = 1;
}

void setReverbLowPass(ReverbEqSettings& settings, double hz, double sampleRate) {
  const double f = limitReverbLowPass(hz);
  if (!belowNyquist(f, sampleRate)) {
    say(">> Warning: reverb low pass at %g Hz is not below half the sample rate; "
        "the reverb sends pass unfiltered\n",
        f);
  }
  settings.lowPassHz = f;
  settings.lowPass = reverbLowPassCoefficients(f, sampleRate);
  settings.lowPassOn = 1;
}

void Rev_EQ(const ReverbEqSettings& settings, ReverbEqState& state, int slot, long n, double* left,
            double* right) {
  assert(slot >= 0 && slot < kReverbEqSlots);
  const bool highPass = slot == kTapHighPassSlot || slot == kRecursiveHighPassSlot;
  runBiquad(highPass ? settings.highPass : settings.lowPass, state.slot[slot], n, left, right);
}

}  // namespace sorvan
