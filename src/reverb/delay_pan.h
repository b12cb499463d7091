// Delay panning of mono sources: the pan position becomes a time difference
// between the ears instead of a level difference. Both sides carry the full
// signal; the side away from the source hears it up to one head-width of
// travel time later, and at the extremes only one side carries it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "base/limits.h"

namespace sorvan {

// History kept per channel and side: positions 0..254 hold the last 255
// output samples of the previous block, 254 the most recent.
inline constexpr int kDelayPanHistory = 256;
// The longest delay the history can serve. Higher sample rates would ask for
// more; the delay is held at this length instead.
inline constexpr int kMaxPanDelay = 255;

struct DelayPanState {
  // Allocates the histories once, zeroed.
  DelayPanState();

  // Pan position per channel index, -100 (hard left) .. +100 (hard right).
  std::array<int, kStripCount> panPosition{};
  // Signed delay in samples derived from panPosition: negative left of centre.
  std::array<int, kStripCount> dpDelay{};
  // Per track channel 0..127, kDelayPanHistory samples each, addressed as
  // channel * kDelayPanHistory + position.
  std::vector<std::int64_t> dpHistL;
  std::vector<std::int64_t> dpHistR;
};

// The largest inter-ear delay in samples at a sample rate: 8.5 inches of ear
// spacing over 13560 inches per second, in single precision.
float delayPanSpread(double SR);

// Unless the pan law is 0 dB, a track channel (1..127) whose "dp" value is not
// 0 takes that value as its pan position. dpValues is indexed by channel
// index. Setting the pan gains of those channels to 1 is the level settings'
// part.
void applyDelayPanValues(DelayPanState& state, std::span<const int> dpValues, bool panLawZeroDb);

// Derives dpDelay for every channel index from panPosition, limited to
// kMaxPanDelay samples either way.
void setupDelayPan(DelayPanState& state, double SR);

// Builds samples from..to-1 of a delay-panned mono channel (1..127) into
// outL/outR (channel scale). b0..b3 hold each sample's bytes as unpacked by
// the mix loop: for PCM s = b0 + w1*b1 + w2*b2 (b3 unused, may be null); for
// bytesPerSample 4 the four bytes of a 32-bit float in file order. Samples
// from saveFrom on that are among the last 255 of the block are kept as the
// channel's history for the next block.
void DELAY_PAN(long from, long to, int channel, DelayPanState& state, const int* b0, const int* b1,
               const int* b2, const int* b3, std::int64_t* outL, std::int64_t* outR, long w1,
               long w2, long saveFrom, int bytesPerSample);

}  // namespace sorvan
