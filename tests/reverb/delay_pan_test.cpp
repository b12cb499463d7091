#include "reverb/delay_pan.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <tuple>

namespace sorvan {
namespace {

using Samples = std::vector<std::int64_t>;

// Unpacked source bytes as the mix loop hands them over.
struct Bytes {
  explicit Bytes(std::size_t n) : b0(n), b1(n), b2(n), b3(n) {}
  std::vector<int> b0, b1, b2, b3;
};

// 24-bit samples: low and middle byte unsigned, high byte signed.
Bytes pcm24(const Samples& values) {
  Bytes b(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto v = static_cast<std::uint32_t>(values[i]);
    b.b0[i] = v & 0xFF;
    b.b1[i] = (v >> 8) & 0xFF;
    b.b2[i] = static_cast<std::int8_t>(v >> 16);
  }
  return b;
}

Bytes float32(const std::vector<float>& values) {
  Bytes b(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto v = std::bit_cast<std::uint32_t>(values[i]);
    b.b0[i] = static_cast<std::int8_t>(v);
    b.b1[i] = static_cast<std::int8_t>(v >> 8);
    b.b2[i] = static_cast<std::int8_t>(v >> 16);
    b.b3[i] = static_cast<std::int8_t>(v >> 24);
  }
  return b;
}

// One block as the mix loop runs it: outputs zeroed, history from the last 256.
struct Block {
  Block(DelayPanState& s, int channel, const Bytes& in, int bytesPerSample = 3)
      : L(in.b0.size(), 0), R(in.b0.size(), 0) {
    const long n = static_cast<long>(in.b0.size());
    DELAY_PAN(0, n, channel, s, in.b0.data(), in.b1.data(), in.b2.data(), in.b3.data(), L.data(),
              R.data(), 256, 65536, n < 256 ? n : n - 256, bytesPerSample);
  }
  Samples L, R;
};

DelayPanState panned(int channel, int position, double SR = 48000.0) {
  DelayPanState s;
  s.panPosition[channel] = position;
  setupDelayPan(s, SR);
  return s;
}

TEST(DelayPanTest, DelaysFollowPositionAndRate) {
  EXPECT_NEAR(delayPanSpread(48000.0), 30.088, 0.001);
  DelayPanState s;
  const int positions[] = {0, -50, 50, -100, 99, 1};
  std::copy(std::begin(positions), std::end(positions), s.panPosition.begin() + 1);
  setupDelayPan(s, 48000.0);
  EXPECT_EQ(std::vector<int>(s.dpDelay.begin() + 1, s.dpDelay.begin() + 7),
            (std::vector<int>{0, -15, 15, -30, 29, 0}));
  // At 500 kHz a head width is over 300 samples; the history holds 255.
  setupDelayPan(s, 500000.0);
  EXPECT_EQ(s.dpDelay[2], -156);
  EXPECT_EQ(s.dpDelay[5], 255);

  std::vector<int> dp(kLevelSlots, 0);
  dp[3] = -50;
  applyDelayPanValues(s, dp, true);  // pan law 0 dB: "dp" values unused
  EXPECT_EQ(s.panPosition[3], 50);
  applyDelayPanValues(s, dp, false);
  EXPECT_EQ(s.panPosition[3], -50);
  EXPECT_EQ(s.panPosition[4], -100);
}

TEST(DelayPanTest, CentreCarriesTheAssembledSampleOnBothSides) {
  DelayPanState s = panned(1, 0);
  const Samples values = {0, -1, 8388607, -8388608, 12345, -70000};
  const Block b(s, 1, pcm24(values));
  EXPECT_EQ(b.L, values);
  EXPECT_EQ(b.R, values);

  Bytes pcm16(2);  // no low byte: the sample arrives times 256
  pcm16.b1 = {0x34, 0xFF};
  pcm16.b2 = {0x12, 0x7F};
  const Block b16(s, 1, pcm16, 2);
  EXPECT_EQ(b16.L, (Samples{1192960, 8388352}));
  EXPECT_EQ(b16.R, b16.L);

  // Floats beyond +-256.0 and infinities are held at +-2^31, NaN reads 0.
  const float inf = std::numeric_limits<float>::infinity();
  const Block bf(s, 1, float32({1.0f, -0.5f, -0.0f, 1.5e-7f, std::nanf(""), inf, -300.0f}), 4);
  EXPECT_EQ(bf.L, (Samples{8388608, -4194304, 0, 1, 0, 2147483648LL, -2147483648LL}));
  EXPECT_EQ(bf.R, bf.L);
}

// The far side plays the near side `lag` samples late, carried from block to
// block through the history of the last 255 samples of blocks of 256 or more;
// so any split into such blocks renders the same.
TEST(DelayPanTest, FarSideLagsAcrossBlocksWhateverTheSplit) {
  Samples signal(1200);
  for (std::size_t i = 0; i < signal.size(); ++i)
    signal[i] = std::lround(3.0e6 * std::sin(0.05 * i));
  auto render = [&](int position, double SR, const std::vector<long>& blocks) {
    DelayPanState s = panned(127, position, SR);
    Samples near, far;
    long pos = 0;
    for (long n : blocks) {
      const Block b(s, 127, pcm24(Samples(signal.begin() + pos, signal.begin() + pos + n)));
      near.insert(near.end(), (position < 0 ? b.L : b.R).begin(), (position < 0 ? b.L : b.R).end());
      far.insert(far.end(), (position < 0 ? b.R : b.L).begin(), (position < 0 ? b.R : b.L).end());
      pos += n;
    }
    return std::pair{near, far};
  };
  // -50 at 48 kHz is 15 samples; +-99 at 500 kHz is held at the history's 255.
  const std::tuple<int, double, long> cases[] = {
      {-50, 48000.0, 15}, {50, 48000.0, 15}, {-99, 500000.0, 255}, {99, 500000.0, 255}};
  for (const auto& [position, SR, lag] : cases) {
    SCOPED_TRACE(position);
    const auto whole = render(position, SR, {1200});
    EXPECT_EQ(whole.first, signal);
    Samples late(lag, 0);
    late.insert(late.end(), signal.begin(), signal.end() - lag);
    EXPECT_EQ(whole.second, late);
    EXPECT_EQ(render(position, SR, {600, 600}), whole);
    EXPECT_EQ(render(position, SR, {256, 300, 644}), whole);
  }
  // A block of 255 or fewer leaves the history alone: the block after it
  // continues from the one before.
  const auto withShort = render(-50, 48000.0, {600, 200, 400});
  EXPECT_EQ(Samples(withShort.second.begin() + 800, withShort.second.begin() + 815),
            Samples(withShort.first.begin() + 585, withShort.first.begin() + 600));
}

}  // namespace
}  // namespace sorvan
