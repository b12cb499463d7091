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

void DELAY_PAN(long from, long to, DelayPanChannel& channel, const std::int64_t* mono,
               std::int64_t* outL, std::int64_t* outR, long saveFrom) {
  from = std::max(from, 0L);
  if (from >= to) return;

  const int p = channel.position;
  if (p == 0) {
    std::copy(mono + from, mono + to, outL + from);
    std::copy(mono + from, mono + to, outR + from);
  } else if (p <= -kHardPan || p >= kHardPan) {
    std::int64_t* heard = p < 0 ? outL : outR;
    std::int64_t* silent = p < 0 ? outR : outL;
    std::copy(mono + from, mono + to, heard + from);
    std::fill(silent + from, silent + to, 0);
  } else {
    // The side nearer the source leads; the far side replays the lead side's
    // output `lag` samples later, reaching into the previous block's history
    // for the first samples.
    std::int64_t* lead = p < 0 ? outL : outR;
    std::int64_t* lagging = p < 0 ? outR : outL;
    const std::int64_t* leadHist = p < 0 ? channel.histL.data() : channel.histR.data();
    const long lag = std::min<long>(std::labs(channel.delay), kMaxPanDelay);
    std::copy(mono + from, mono + to, lead + from);
    for (long i = from; i < to; ++i) {
      lagging[i] = i >= lag ? lead[i - lag] : leadHist[kMaxPanDelay - lag + i];
    }
  }

  // Keep the block's last 255 samples (those from saveFrom on) for the next
  // block. Saved only after the whole block is built, so no read above can see
  // this block's samples in place of the previous block's.
  const long firstSaved = std::max({from, saveFrom, to - kMaxPanDelay});
  for (long i = firstSaved; i < to; ++i) {
    const long position = kMaxPanDelay - (to - i);
    channel.histL[position] = outL[i];
    channel.histR[position] = outR[i];
  }
}

}  // namespace sorvan
