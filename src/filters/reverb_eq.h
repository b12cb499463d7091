// Band limiting of the two reverb sends: one global high-pass ("rhp") and one
// global low-pass ("rlp"), second-order with Q = 1, each with its own memory
// per send.
#pragma once

#include <array>

#include "filters/eq.h"

namespace sorvan {

// Filter slots: the same coefficients serve both sends, the memory does not.
inline constexpr int kTapHighPassSlot = 0;
inline constexpr int kTapLowPassSlot = 1;
inline constexpr int kRecursiveHighPassSlot = 2;
inline constexpr int kRecursiveLowPassSlot = 3;
inline constexpr int kReverbEqSlots = 4;

inline constexpr double kReverbHighPassMinHz = 20.0;
inline constexpr double kReverbHighPassMaxHz = 12000.0;
inline constexpr double kReverbLowPassMinHz = 500.0;
inline constexpr double kReverbLowPassMaxHz = 16000.0;

// Filled once by the effect settings; highPassHz and lowPassHz are the
// frequencies in use after the limits.
struct ReverbEqSettings {
  int highPassOn = 0;
  double highPassHz = 0.0;
  BiquadCoefficients highPass;
  int lowPassOn = 0;
  double lowPassHz = 0.0;
  BiquadCoefficients lowPass;
};

struct ReverbEqState {
  std::array<BiquadMemory, kReverbEqSlots> slot{};
};

// Inside the band the cookbook forms are stable; from half the sample rate on
// sin(w0) turns negative (or reaches zero), the poles leave (or touch) the
// unit circle and the send would grow without bound.
inline bool belowNyquist(double hz, double sampleRate) { return hz < sampleRate * 0.5; }

// Normalised coefficients. A corner at or above half the sample rate cannot
// be formed as a stable filter; there the high-pass becomes a filter that
// removes everything and the low-pass one that passes everything.
BiquadCoefficients reverbHighPassCoefficients(double hz, double sampleRate);
BiquadCoefficients reverbLowPassCoefficients(double hz, double sampleRate);

// One send filter slot over one block of a send pair, in place. Slots 0 and 2
// use the high-pass, 1 and 3 the low-pass.
void Rev_EQ(const ReverbEqSettings& settings, ReverbEqState& state, int slot, long n, double* left,
            double* right);

}  // namespace sorvan
