// NonLinCOMP, the strip processor of "nlc": a ratio-above-threshold
// compressor whose gain follows the smoothed RMS measured at zero crossings.
#pragma once

#include <cstdint>

#include "dynamics/strip_table.h"

namespace sorvan {

// Read-only during the mix.
struct NonLinCompSettings {
  std::int64_t thresh = kDefaultThreshold;  // strip's scale
  long windowSamples = 0;                   // minimum measuring stretch
  double ratio = 1.0;                       // ratio above the threshold
};

// Settings from checked values; a ratio below 1 counts as 1, so that a
// direct caller cannot divide by zero.
NonLinCompSettings nonLinComp(std::int64_t threshold, long windowSamples, double ratio);

// One side's meter.
struct NonLinMeter {
  float squares = 0;   // sum of squares since the last measurement
  float interval = 0;  // samples since the last measurement
  float rms = 0;       // latest measurement
  float oldrms = 0;    // the one before
  double gamma = 1.0;  // this side's own gain at its latest measurement
};

// One strip's state, carried from block to block and never reset.
struct NonLinChannelState {
  NonLinMeter meterL, meterR;
  int oldpolarL = 0, oldpolarR = 0;             // +1 or -1; 0 before the first sample
  double GrandGammaL = 1.0, GrandGammaR = 1.0;  // applied gains: linked, at most 1
};

// Processes left[0..n-1] and right[0..n-1] of one strip in place.
void NonLinCOMP(const NonLinCompSettings& settings, NonLinChannelState& state, long n, double* left,
                double* right);

}  // namespace sorvan
