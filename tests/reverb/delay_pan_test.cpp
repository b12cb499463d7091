#include "reverb/delay_pan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace sorvan {
namespace {

using Samples = std::vector<std::int64_t>;

// The far side plays the near side `lag` samples late (half an 8.5 inch head
// at 13560 inches per second per 100 percent, truncated, at most the 255 the
// history holds), carried from block to block through the history of the
// last 255 samples of blocks of 256 or more; so any split into such blocks
// renders the same.
TEST(DelayPanTest, FarSideLagsAcrossBlocksWhateverTheSplit) {
  Samples signal(1200);
  for (std::size_t i = 0; i < signal.size(); ++i)
    signal[i] = std::lround(3.0e6 * std::sin(0.05 * i));
  auto render = [&](int position, double rate, const std::vector<long>& blocks) {
    DelayPanChannel c = delayPanChannel(position, rate);
    Samples near, far;
    long pos = 0;
    for (long n : blocks) {
      Samples L(n, 0), R(n, 0);
      DELAY_PAN(0, n, c, signal.data() + pos, L.data(), R.data(), n < 256 ? n : n - 256);
      near.insert(near.end(), (position < 0 ? L : R).begin(), (position < 0 ? L : R).end());
      far.insert(far.end(), (position < 0 ? R : L).begin(), (position < 0 ? R : L).end());
      pos += n;
    }
    return std::pair{near, far};
  };
  const std::tuple<int, double, long> cases[] = {
      {-50, 48000.0, 15}, {50, 48000.0, 15},    {99, 500000.0, 255},
      {0, 48000.0, 0},    {1, 48000.0, 0},      {-100, 48000.0, 1200}};  // hard left: right silent
  for (const auto& [position, rate, lag] : cases) {
    SCOPED_TRACE(position);
    const auto whole = render(position, rate, {1200});
    EXPECT_EQ(whole.first, signal);
    Samples late(lag, 0);
    late.insert(late.end(), signal.begin(), signal.end() - lag);
    EXPECT_EQ(whole.second, late);
    EXPECT_EQ(render(position, rate, {256, 300, 644}), whole);
  }
  // A block of 255 or fewer leaves the history alone: the block after it
  // continues from the one before.
  const auto withShort = render(-50, 48000.0, {600, 200, 400});
  EXPECT_EQ(Samples(withShort.second.begin() + 800, withShort.second.begin() + 815),
            Samples(withShort.first.begin() + 585, withShort.first.begin() + 600));
}

}  // namespace
}  // namespace sorvan
