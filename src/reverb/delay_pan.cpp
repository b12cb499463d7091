#include "reverb/delay_pan.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>

#include "base/numeric.h"

namespace sorvan {

namespace {

constexpr int kHistoryRows = kMaxTracks + 1;
constexpr int kHardPan = 100;

// A 32-bit float sample on the channel scale (value x 2^23, truncated toward
// zero). NaN gives 0; infinities and magnitudes of 256.0 or more are held at
// +-2^31 so that no sample can overflow the stages after it.
std::int64_t floatSample(int b0, int b1, int b2, int b3) {
  const std::uint32_t bits =
      static_cast<std::uint32_t>(b0 & 0xFF) | static_cast<std::uint32_t>(b1 & 0xFF) << 8 |
      static_cast<std::uint32_t>(b2 & 0xFF) << 16 | static_cast<std::uint32_t>(b3 & 0xFF) << 24;
  const float value = std::bit_cast<float>(bits);
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 2147483648.0;
  const double scaled = static_cast<double>(value) * 8388608.0;
  if (scaled >= kLimit) return 2147483648LL;
  if (scaled <= -kLimit) return -2147483648LL;
  return static_cast<std::int64_t>(scaled);
}

// Writes the source samples from..to-1 into out.
void assemble(long from, long to, const int* b0, const int* b1, const int* b2, const int* b3,
              long w1, long w2, int bytesPerSample, std::int64_t* out) {
  if (bytesPerSample == 4) {
    for (long i = from; i < to; ++i) out[i] = floatSample(b0[i], b1[i], b2[i], b3[i]);
  } else {
    for (long i = from; i < to; ++i) {
      out[i] = static_cast<std::int64_t>(b0[i]) + w1 * b1[i] + w2 * b2[i];
    }
  }
}

}  // namespace

DelayPanState::DelayPanState()
    : dpHistL(static_cast<std::size_t>(kHistoryRows) * kDelayPanHistory, 0),
      dpHistR(static_cast<std::size_t>(kHistoryRows) * kDelayPanHistory, 0) {}

float delayPanSpread(double SR) { return toSingle(SR * 8.5 / 13560.0); }

void applyDelayPanValues(DelayPanState& state, std::span<const int> dpValues, bool panLawZeroDb) {
  if (panLawZeroDb) return;
  const std::size_t last =
      std::min<std::size_t>(kMaxTracks, dpValues.size() ? dpValues.size() - 1 : 0);
  for (std::size_t ch = 1; ch <= last; ++ch) {
    if (dpValues[ch] != 0) state.panPosition[ch] = dpValues[ch];
  }
}

void setupDelayPan(DelayPanState& state, double SR) {
  const float D = delayPanSpread(SR);
  for (int ch = 0; ch < kStripCount; ++ch) {
    const int d = truncateTo<int>(state.panPosition[ch] / 100.0 * D);
    state.dpDelay[ch] = std::clamp(d, -kMaxPanDelay, kMaxPanDelay);
  }
}

void DELAY_PAN(long from, long to, int channel, DelayPanState& state, const int* b0, const int* b1,
               const int* b2, const int* b3, std::int64_t* outL, std::int64_t* outR, long w1,
               long w2, long saveFrom, int bytesPerSample) {
  // Only track channels have a history; the mix loop calls for nothing else.
  if (channel < 0 || channel >= kHistoryRows) return;
  from = std::max(from, 0L);
  if (from >= to) return;

  const int p = state.panPosition[channel];
  std::int64_t* histL = state.dpHistL.data() + static_cast<std::size_t>(channel) * kDelayPanHistory;
  std::int64_t* histR = state.dpHistR.data() + static_cast<std::size_t>(channel) * kDelayPanHistory;

  if (p == 0) {
    assemble(from, to, b0, b1, b2, b3, w1, w2, bytesPerSample, outL);
    std::copy(outL + from, outL + to, outR + from);
  } else if (p <= -kHardPan || p >= kHardPan) {
    std::int64_t* heard = p < 0 ? outL : outR;
    std::int64_t* silent = p < 0 ? outR : outL;
    assemble(from, to, b0, b1, b2, b3, w1, w2, bytesPerSample, heard);
    std::fill(silent + from, silent + to, 0);
  } else {
    // The side nearer the source leads; the far side replays the lead side's
    // output `lag` samples later, reaching into the previous block's history
    // for the first samples.
    std::int64_t* lead = p < 0 ? outL : outR;
    std::int64_t* lagging = p < 0 ? outR : outL;
    const std::int64_t* leadHist = p < 0 ? histL : histR;
    const long lag =
        static_cast<long>(std::min<std::int64_t>(std::llabs(state.dpDelay[channel]), kMaxPanDelay));
    assemble(from, to, b0, b1, b2, b3, w1, w2, bytesPerSample, lead);
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
    histL[position] = outL[i];
    histR[position] = outR[i];
  }
}

}  // namespace sorvan
