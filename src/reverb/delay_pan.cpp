#include "reverb/delay_pan.h"

#include <algorithm>
#include <cstdlib>

#include "base/numeric.h"

namespace sorvan {

namespace {
constexpr int kHardPan = 100;
}  // namespace

float delayPanSpread(double SR) { return toSingle(SR * 8.5 / 13560.0); }

DelayPanChannel delayPanChannel(int position, double SR) {
  DelayPanChannel channel;
  channel.position = position;
  const int d = truncateTo<int>(position / 100.0 * delayPanSpread(SR));
  channel.delay = std::clamp(d, -kMaxPanDelay, kMaxPanDelay);
  return channel;
}

void DELAY_PAN(long n, DelayPanChannel& channel, const std::int64_t* mono, std::int64_t* outL,
               std::int64_t* outR) {
  if (n <= 0) return;
  const int p = channel.position;
  if (p == 0) {
    std::copy(mono, mono + n, outL);
    std::copy(mono, mono + n, outR);
  } else if (p <= -kHardPan || p >= kHardPan) {
    std::int64_t* heard = p < 0 ? outL : outR;
    std::int64_t* silent = p < 0 ? outR : outL;
    std::copy(mono, mono + n, heard);
    std::fill(silent, silent + n, 0);
  } else {
    // The side nearer the source leads; the far side replays it `lag`
    // samples later, reaching back into the recent samples for the first.
    std::int64_t* lead = p < 0 ? outL : outR;
    std::int64_t* lagging = p < 0 ? outR : outL;
    const long lag = std::min<long>(std::labs(channel.delay), kMaxPanDelay);
    std::copy(mono, mono + n, lead);
    for (long i = 0; i < n; ++i)
      lagging[i] = i >= lag ? mono[i - lag] : channel.recent[kMaxPanDelay - lag + i];
  }
  // The most recent samples move to the end of the history.
  auto& recent = channel.recent;
  if (n >= kMaxPanDelay) {
    std::copy(mono + n - kMaxPanDelay, mono + n, recent.begin());
  } else {
    std::copy(recent.begin() + n, recent.end(), recent.begin());
    std::copy(mono, mono + n, recent.end() - n);
  }
}

}  // namespace sorvan
