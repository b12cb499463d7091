// Delay panning of mono sources: the pan position becomes a time difference
// between the ears instead of a level difference. Both sides carry the full
// signal; the side away from the source hears it up to one head-width of
// travel time later, and at the extremes only one side carries it.
#pragma once

#include <array>
#include <cstdint>

namespace sorvan {

// History kept per channel and side: positions 0..254 hold the last 255
// output samples of the previous block, 254 the most recent.
inline constexpr int kDelayPanHistory = 256;
// The longest delay the history can serve. Higher sample rates would ask for
// more; the delay is held at this length instead.
inline constexpr int kMaxPanDelay = 255;

// One delay-panned channel: where it stands and what the lagging side still
// has to replay from the previous block.
struct DelayPanChannel {
  int position = 0;  // -100 (hard left) .. +100 (hard right)
  int delay = 0;     // signed samples derived from the position: negative left of centre
  std::array<std::int64_t, kDelayPanHistory> histL{};
  std::array<std::int64_t, kDelayPanHistory> histR{};
};

// The largest inter-ear delay in samples at a sample rate: 8.5 inches of ear
// spacing over 13560 inches per second, in single precision.
float delayPanSpread(double SR);

// A channel at pan position `position`, its delay limited to kMaxPanDelay
// samples either way, with silent history.
DelayPanChannel delayPanChannel(int position, double SR);

// Builds samples from..to-1 of a delay-panned mono channel into outL/outR
// from the decoded samples mono[from..to-1] (channel scale). Samples from
// saveFrom on that are among the last 255 of the block are kept as the
// channel's history for the next block.
void DELAY_PAN(long from, long to, DelayPanChannel& channel, const std::int64_t* mono,
               std::int64_t* outL, std::int64_t* outR, long saveFrom);

}  // namespace sorvan
