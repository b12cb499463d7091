// NonLinCOMP, the strip processor of "nlc": a ratio-above-threshold
// compressor whose gain follows the smoothed RMS measured at zero crossings.
#pragma once

#include <cstdint>

#include "dynamics/strip_table.h"

namespace sorvan {

// Read-only during the mix. A strip takes part only when its on flag is set.
struct NonLinCompSettings {
  StripTable<bool> on{};
  StripTable<std::int64_t> thresh = filledStripTable(kDefaultThreshold);  // strip's scale
  StripTable<long> window{};                         // minimum measuring stretch, samples
  StripTable<double> ratio = filledStripTable(1.0);  // ratio above the threshold
};

// Stores the checked "nlc" values of one strip and switches it on.
void setNonLinComp(NonLinCompSettings& settings, int channel, std::int64_t threshold, long window,
                   double ratio);

// Persistent per-strip state, set up on the strip's first call and never reset.
struct NonLinCompState {
  StripTable<int> first{};                     // 0 until the strip's first call
  StripTable<float> squaresL{}, squaresR{};    // sum of squares since the last measurement
  StripTable<float> intervalL{}, intervalR{};  // samples since the last measurement
  StripTable<float> rmsL{}, rmsR{};            // latest measurement
  StripTable<float> oldrmsL{}, oldrmsR{};      // the one before
  StripTable<int> oldpolarL{}, oldpolarR{};    // +1 or -1; 0 before the first sample
  StripTable<double> gammaL{}, gammaR{};       // each side's own gain at its latest measurement
  StripTable<double> GrandGammaL{}, GrandGammaR{};  // applied gains: linked, at most 1
};

// Processes left[0..n-1] and right[0..n-1] in place for strip `channel`.
void NonLinCOMP(const NonLinCompSettings& settings, NonLinCompState& state, int channel, long n,
                double* left, double* right);

}  // namespace sorvan
