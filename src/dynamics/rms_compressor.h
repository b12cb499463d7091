// RMSCOMPRESSOR, the strip processor of "rms": a stereo-linked switch between
// unity gain and 1/ratio, triggered by the RMS of a completed half-wave.
#pragma once

#include <cstdint>

#include "dynamics/strip_table.h"
#include "dynamics/switched_compressor.h"

namespace sorvan {

// Read-only during the mix. A strip takes part only when its on flag is set.
struct RmsCompressorSettings {
  StripTable<bool> on{};
  StripTable<std::int64_t> thresh = filledStripTable(kDefaultThreshold);  // strip's scale
  StripTable<long> attack = filledStripTable(1L);                         // samples
  StripTable<long> release = filledStripTable(10L);                       // samples
  StripTable<double> ratio = filledStripTable(1.0);                       // divisor when compressed
};

// Stores the checked "rms" values of one strip and switches it on.
void setRmsCompressor(RmsCompressorSettings& settings, int channel, std::int64_t threshold,
                      long attack, long release, double ratio);

// Persistent per-strip state, carried from block to block and never reset.
struct RmsCompressorState {
  StripTable<int> state = filledStripTable(compressor_phase::kIdle);
  StripTable<int> first{};                      // 0 until the strip's first call
  StripTable<float> rmsL{}, rmsR{};             // RMS of the last completed half-wave
  StripTable<float> squaresL{}, squaresR{};     // sum of squares of the current half-wave
  StripTable<float> intervalL{}, intervalR{};   // samples in the current half-wave
  StripTable<double> oldpolarL{}, oldpolarR{};  // +1.0 or -1.0; 0.0 before the first sample
  StripTable<std::int64_t> attackCount{};
  StripTable<std::int64_t> releaseCount{};
  StripTable<int> passTL{}, passTR{};  // consecutive quiet half-waves while compressed
};

// Processes left[0..n-1] and right[0..n-1] in place for strip `channel`.
void RMSCOMPRESSOR(const RmsCompressorSettings& settings, RmsCompressorState& state, int channel,
                   long n, double* left, double* right);

}  // namespace sorvan
