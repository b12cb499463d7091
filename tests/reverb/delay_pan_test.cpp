#include "reverb/delay_pan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

namespace sorvan {
namespace {

using Samples = std::vector<std::int64_t>;

// One stretch of frames through the channel.
struct Block {
  Block(DelayPanChannel& c, const Samples& in) : L(in.size(), 0), R(in.size(), 0) {
    DELAY_PAN(static_cast<long>(in.size()), c, in.data(), L.data(), R.data());
  }
  Samples L, R;
};

TEST(DelayPanTest, DelaysFollowPositionAndRate) {
  EXPECT_NEAR(delayPanSpread(48000.0), 30.088, 0.001);
  const int positions[] = {0, -50, 50, -100, 99, 1};
  const int delays[] = {0, -15, 15, -30, 29, 0};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(delayPanChannel(positions[k], 48000.0).delay, delays[k]);
  // At 500 kHz a head width is over 300 samples; the history holds 255.
  EXPECT_EQ(delayPanChannel(-50, 500000.0).delay, -156);
  EXPECT_EQ(delayPanChannel(99, 500000.0).delay, 255);
}

TEST(DelayPanTest, CentreCarriesTheSampleOnBothSidesAndHardPanOnlyOne) {
  const Samples values = {0, -1, 8388607, -8388608, 12345, -70000};
  DelayPanChannel centre = delayPanChannel(0, 48000.0);
  const Block b(centre, values);
  EXPECT_EQ(b.L, values);
  EXPECT_EQ(b.R, values);
  DelayPanChannel left = delayPanChannel(-100, 48000.0);
  const Block hard(left, values);
  EXPECT_EQ(hard.L, values);
  EXPECT_EQ(hard.R, Samples(values.size(), 0));
}

// The far side plays the near side `lag` samples late, carried from one
// stretch to the next through the last 255 samples; so any split renders the
// same.
TEST(DelayPanTest, FarSideLagsAcrossBlocksWhateverTheSplit) {
  Samples signal(1200);
  for (std::size_t i = 0; i < signal.size(); ++i)
    signal[i] = std::lround(3.0e6 * std::sin(0.05 * i));
  auto render = [&](int position, double SR, const std::vector<long>& blocks) {
    DelayPanChannel c = delayPanChannel(position, SR);
    Samples near, far;
    long pos = 0;
    for (long n : blocks) {
      const Block b(c, Samples(signal.begin() + pos, signal.begin() + pos + n));
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
    EXPECT_EQ(render(position, SR, {3, 100, 7, 1, 1089}), whole);
  }
}

}  // namespace
}  // namespace sorvan
