// PEAKCOMPRESSOR, the strip processor of "comp": a stereo-linked switch
// between unity gain and 1/ratio, triggered by a single sample above the
// threshold and released on the peaks of completed half-waves.
#pragma once

#include <cstdint>

#include "dynamics/strip_table.h"
#include "dynamics/switched_compressor.h"

namespace sorvan {

// Read-only during the mix. A strip takes part only when its on flag is set.
struct PeakCompressorSettings {
  StripTable<bool> on{};
  StripTable<std::int64_t> thresh = filledStripTable(kDefaultThreshold);  // strip's scale
  StripTable<long> attack = filledStripTable(1L);                         // samples
  StripTable<long> release = filledStripTable(10L);                       // samples
  StripTable<double> ratio = filledStripTable(1.0);                       // divisor when compressed
};

// Stores the checked "comp" values of one strip and switches it on.
void setPeakCompressor(PeakCompressorSettings& settings, int channel, std::int64_t threshold,
                       long attack, long release, double ratio);

// Persistent per-strip state, carried from block to block and never reset.
// All zero at the start; the peaks and counters are set when compression starts.
struct PeakCompressorState {
  StripTable<int> state = filledStripTable(compressor_phase::kIdle);
  StripTable<double> newpeakL{}, newpeakR{};    // largest magnitude of the current half-wave
  StripTable<double> oldpeakL{}, oldpeakR{};    // of the last completed half-wave
  StripTable<double> oldpolarL{}, oldpolarR{};  // last frame of the previous block; 0.0 before
  StripTable<std::int64_t> attackCount{};
  StripTable<std::int64_t> releaseCount{};
  StripTable<int> passTL{}, passTR{};  // consecutive quiet half-waves while compressed
};

// Processes left[0..n-1] and right[0..n-1] in place for strip `channel`.
void PEAKCOMPRESSOR(const PeakCompressorSettings& settings, PeakCompressorState& state, int channel,
                    long n, double* left, double* right);

}  // namespace sorvan
