#include "reverb/delay_pan.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <numeric>

namespace sorvan {
namespace {

// A block of unpacked source bytes, as the mix loop hands them over.
struct Bytes {
  explicit Bytes(std::size_t n) : b0(n), b1(n), b2(n), b3(n) {}
  std::vector<int> b0, b1, b2, b3;

  // 24-bit samples: low and middle byte unsigned, high byte signed.
  static Bytes pcm24(const std::vector<std::int64_t>& values) {
    Bytes b(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      const auto v = static_cast<std::uint32_t>(values[i]);
      b.b0[i] = v & 0xFF;
      b.b1[i] = (v >> 8) & 0xFF;
      b.b2[i] = static_cast<std::int8_t>((v >> 16) & 0xFF);
    }
    return b;
  }
  static Bytes float32(const std::vector<float>& values) {
    Bytes b(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      const auto v = std::bit_cast<std::uint32_t>(values[i]);
      b.b0[i] = static_cast<std::int8_t>(v & 0xFF);
      b.b1[i] = static_cast<std::int8_t>((v >> 8) & 0xFF);
      b.b2[i] = static_cast<std::int8_t>((v >> 16) & 0xFF);
      b.b3[i] = static_cast<std::int8_t>(v >> 24);
    }
    return b;
  }
};

// One block of a channel the way the mix loop calls it: outputs zeroed, the
// history refreshed from the block's last 256 samples.
struct Block {
  Block(DelayPanState& s, int channel, const Bytes& in, long from = 0, int bytesPerSample = 3)
      : L(in.b0.size(), 0), R(in.b0.size(), 0) {
    const long n = static_cast<long>(in.b0.size());
    DELAY_PAN(from, n, channel, s, in.b0.data(), in.b1.data(), in.b2.data(), in.b3.data(),
              L.data(), R.data(), 256, 65536, n < 256 ? n : n - 256, bytesPerSample);
  }
  std::vector<std::int64_t> L, R;
};

std::vector<std::int64_t> ramp(long n, std::int64_t start) {
  std::vector<std::int64_t> v(n);
  std::iota(v.begin(), v.end(), start);
  return v;
}

DelayPanState panned(int channel, int position, double SR = 48000.0) {
  DelayPanState s;
  s.panPosition[channel] = position;
  setupDelayPan(s, SR);
  return s;
}

TEST(DelayPanTest, DelaysFollowPositionAndRate) {
  EXPECT_NEAR(delayPanSpread(48000.0), 30.088, 0.001);
  EXPECT_NEAR(delayPanSpread(44100.0), 27.644, 0.001);
  DelayPanState s;
  const int positions[] = {0, -50, 50, -100, 99, 1, -1};
  for (int i = 0; i < 7; ++i) s.panPosition[1 + i] = positions[i];
  setupDelayPan(s, 48000.0);
  EXPECT_EQ(s.dpDelay[1], 0);
  EXPECT_EQ(s.dpDelay[2], -15);
  EXPECT_EQ(s.dpDelay[3], 15);
  EXPECT_EQ(s.dpDelay[4], -30);
  EXPECT_EQ(s.dpDelay[5], 29);
  EXPECT_EQ(s.dpDelay[6], 0);
  EXPECT_EQ(s.dpDelay[7], 0);
  // At 500 kHz a head width is over 300 samples; the history holds 255.
  setupDelayPan(s, 500000.0);
  EXPECT_EQ(s.dpDelay[2], -156);
  EXPECT_EQ(s.dpDelay[5], 255);
  s.panPosition[5] = -99;
  setupDelayPan(s, 500000.0);
  EXPECT_EQ(s.dpDelay[5], -255);
}

TEST(DelayPanTest, DelayPanValuesReplacePositionsUnlessPanLawIsZero) {
  std::vector<int> dp(kLevelSlots, 0);
  dp[3] = -50;
  dp[130] = 40;  // not a track channel
  DelayPanState s;
  s.panPosition[3] = 10;
  s.panPosition[4] = 20;
  applyDelayPanValues(s, dp, true);
  EXPECT_EQ(s.panPosition[3], 10);
  applyDelayPanValues(s, dp, false);
  EXPECT_EQ(s.panPosition[3], -50);
  EXPECT_EQ(s.panPosition[4], 20);
  EXPECT_EQ(s.panPosition[130], 0);
}

TEST(DelayPanTest, CentreCarriesTheAssembledSampleOnBothSides) {
  DelayPanState s = panned(1, 0);
  const std::vector<std::int64_t> values = {0, -1, 8388607, -8388608, 12345, -70000};
  const Block b(s, 1, Bytes::pcm24(values));
  EXPECT_EQ(b.L, values);
  EXPECT_EQ(b.R, values);

  // 16-bit: no low byte, so the sample arrives times 256.
  Bytes pcm16(2);
  pcm16.b1 = {0x34, 0xFF};
  pcm16.b2 = {0x12, 0x7F};
  const Block b16(s, 1, pcm16, 0, 2);
  EXPECT_EQ(b16.L, (std::vector<std::int64_t>{1192960, 8388352}));
  EXPECT_EQ(b16.R, b16.L);
}

TEST(DelayPanTest, FloatSourcesAreHeldInRange) {
  DelayPanState s = panned(1, 0);
  const float inf = std::numeric_limits<float>::infinity();
  const Block b(s, 1,
                Bytes::float32({1.0f, -0.5f, -0.0f, 1.5e-7f, std::nanf(""), inf, -300.0f, 255.5f}),
                0, 4);
  EXPECT_EQ(b.L, (std::vector<std::int64_t>{8388608, -4194304, 0, 1, 0, 2147483648LL,
                                            -2147483648LL, 2143289344LL}));
  EXPECT_EQ(b.R, b.L);
}

TEST(DelayPanTest, HardPanSilencesTheOtherSide) {
  const Bytes in = Bytes::pcm24(ramp(300, 1));
  for (int position : {-100, 100}) {
    DelayPanState s = panned(2, position);
    std::vector<std::int64_t> L(300, 99), R(300, 99);
    DELAY_PAN(0, 300, 2, s, in.b0.data(), in.b1.data(), in.b2.data(), nullptr, L.data(),
              R.data(), 256, 65536, 44, 3);
    const auto& heard = position < 0 ? L : R;
    const auto& silent = position < 0 ? R : L;
    EXPECT_EQ(heard, ramp(300, 1));
    EXPECT_EQ(silent, std::vector<std::int64_t>(300, 0));
  }
}

TEST(DelayPanTest, FarSideLagsAcrossTheBlockBoundary) {
  for (int position : {-50, 50}) {
    DelayPanState s = panned(5, position);
    const Block first(s, 5, Bytes::pcm24(ramp(300, 1)));
    const Block second(s, 5, Bytes::pcm24(ramp(300, 1001)));
    const auto& lead1 = position < 0 ? first.L : first.R;
    const auto& lag1 = position < 0 ? first.R : first.L;
    const auto& lead2 = position < 0 ? second.L : second.R;
    const auto& lag2 = position < 0 ? second.R : second.L;
    EXPECT_EQ(lead1, ramp(300, 1));
    EXPECT_EQ(lead2, ramp(300, 1001));
    // Nothing came before the first block.
    for (long i = 0; i < 15; ++i) EXPECT_EQ(lag1[i], 0) << i;
    for (long i = 15; i < 300; ++i) EXPECT_EQ(lag1[i], lead1[i - 15]) << i;
    // The second block's first 15 lagging samples are the first block's last 15.
    for (long i = 0; i < 15; ++i) EXPECT_EQ(lag2[i], lead1[285 + i]) << i;
    for (long i = 15; i < 300; ++i) EXPECT_EQ(lag2[i], lead2[i - 15]) << i;
  }
}

TEST(DelayPanTest, LongestDelayAtHighRatesStaysInsideTheHistory) {
  DelayPanState s = panned(127, -99, 500000.0);
  const Block first(s, 127, Bytes::pcm24(ramp(600, 1)));
  const Block second(s, 127, Bytes::pcm24(ramp(600, 5001)));
  for (long i = 0; i < 255; ++i) EXPECT_EQ(second.R[i], first.L[345 + i]) << i;
  for (long i = 255; i < 600; ++i) EXPECT_EQ(second.R[i], second.L[i - 255]) << i;
}

TEST(DelayPanTest, SourceStartingInsideTheBlock) {
  DelayPanState s = panned(3, -50);
  const Block b(s, 3, Bytes::pcm24(ramp(400, 1)), 10);
  for (long i = 0; i < 10; ++i) EXPECT_EQ(b.L[i], 0) << i;
  for (long i = 10; i < 400; ++i) EXPECT_EQ(b.L[i], i + 1) << i;
  for (long i = 0; i < 25; ++i) EXPECT_EQ(b.R[i], 0) << i;
  for (long i = 25; i < 400; ++i) EXPECT_EQ(b.R[i], b.L[i - 15]) << i;
}

std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> render(
    const std::vector<std::int64_t>& signal, const std::vector<long>& blocks) {
  DelayPanState s = panned(9, -37);
  std::vector<std::int64_t> L, R;
  long pos = 0;
  for (long n : blocks) {
    const std::vector<std::int64_t> part(signal.begin() + pos, signal.begin() + pos + n);
    const Block b(s, 9, Bytes::pcm24(part));
    L.insert(L.end(), b.L.begin(), b.L.end());
    R.insert(R.end(), b.R.begin(), b.R.end());
    pos += n;
  }
  return {L, R};
}

TEST(DelayPanTest, BlockSplitInvariance) {
  std::vector<std::int64_t> signal(1200);
  for (std::size_t i = 0; i < signal.size(); ++i) {
    signal[i] = static_cast<std::int64_t>(std::lround(3.0e6 * std::sin(0.05 * i)));
  }
  // The history holds the last 255 samples of blocks of 256 or more.
  const auto whole = render(signal, {1200});
  EXPECT_EQ(render(signal, {256, 300, 644}), whole);
  EXPECT_EQ(render(signal, {600, 256, 344}), whole);

  // A block of 255 or fewer leaves the history alone: the next block's
  // lagging side then continues from the block before.
  const auto withShort = render(signal, {600, 200, 400});
  for (long i = 0; i < 11; ++i) {
    EXPECT_EQ(withShort.second[800 + i], withShort.first[600 - 11 + i]) << i;
  }
}

}  // namespace
}  // namespace sorvan
