// A run of filters that follow one another in a strip (the high-pass and the
// EQ sections), walked sample by sample with both sides in one vector: the
// same numbers as running each filter over the whole block in turn, with the
// block read and written once instead of once per filter.
#pragma once

#include "filters/eq.h"
#include "filters/hpf.h"

namespace sorvan {

// One filter of a chain: the high-pass (hpf set) or a biquad section.
struct ChainFilter {
  const HpfCoefficients* hpf = nullptr;
  HpfMemory* hpfMemory = nullptr;
  const BiquadCoefficients* biquad = nullptr;
  BiquadMemory* biquadMemory = nullptr;
};

inline constexpr int kMaxChainFilters = 7;

// Runs filters[0..count-1] (count at most kMaxChainFilters) in that order over
// left[0..n-1] and right[0..n-1], in place.
void runFilterChain(const ChainFilter* filters, int count, long n, double* left, double* right);

// One channel's chain and samples, for running several channels together.
struct ChainChannel {
  const ChainFilter* filters = nullptr;
  double* left = nullptr;
  double* right = nullptr;
};

inline constexpr int kMaxChainChannels = 4;

// Runs the chains of channels[0..channelCount-1] (at most kMaxChainChannels,
// all of one shape, `count` filters each) over n frames, each in place: the
// same numbers as runFilterChain on each channel, with the channels side by
// side in one vector, so that one instruction works for all of them.
void runFilterChains(const ChainChannel* channels, int channelCount, int count, long n);

}  // namespace sorvan
