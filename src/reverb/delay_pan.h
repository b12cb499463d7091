// Delay panning of mono sources: the pan position becomes a time difference
// between the ears instead of a level difference. Both sides carry the full
// signal; the side away from the source hears it up to one head-width of
// travel time later, and at the extremes only one side carries it.
#pragma once

#include <array>
#include <cstdint>

namespace sorvan {

// The longest delay the history can serve. Higher sample rates would ask for
// more; the delay is held at this length instead.
inline constexpr int kMaxPanDelay = 255;

// One delay-panned channel: where it stands and what the lagging side still
// has to replay from the frames before.
struct DelayPanChannel {
  int position = 0;  // -100 (hard left) .. +100 (hard right)
  int delay = 0;     // signed samples derived from the position: negative left of centre
  // The last kMaxPanDelay samples of the channel, the most recent last;
  // silence before the channel's first frame.
  std::array<std::int64_t, kMaxPanDelay> recent{};
};

// The largest inter-ear delay in samples at a sample rate: 8.5 inches of ear
// spacing over 13560 inches per second, in single precision.
float delayPanSpread(double SR);

// A channel at pan position `position`, its delay limited to kMaxPanDelay
// samples either way, with silent history.
DelayPanChannel delayPanChannel(int position, double SR);

// Builds the next n frames of a delay-panned mono channel into outL/outR
// from its decoded samples mono[0..n-1] (channel scale): the lagging side
// replays the channel `delay` samples late, continuing from the frames before
// however they were divided.
void DELAY_PAN(long n, DelayPanChannel& channel, const std::int64_t* mono, std::int64_t* outL,
               std::int64_t* outR);

}  // namespace sorvan
