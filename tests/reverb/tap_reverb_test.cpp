// Where the first-order taps land is checked on a real render (e2e); here:
// refusals, the tap-count limit, the halving per order, truncation toward
// zero, the spill and block-split invariance.
#include "reverb/tap_reverb.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "reverb/reverb_test_support.h"

namespace sorvan {
namespace {

using testing::Accumulators;
using testing::Cells;
using testing::nonZero;

// The 75-foot room with the listener at p1 percent of its length.
TapReverbState room(long buffer, int taps, float p1 = 37) {
  TapReverbState s;
  EXPECT_EQ(setupDiscreteReverb(s, buffer, 48000.0, 75.0f, taps, p1, 39, 43), std::nullopt);
  return s;
}

void run(const TapReverbState& s, Accumulators& a, long n, const double* L, const double* R) {
  DiscreteReverb(s, n, L, R, a.spillL.data(), a.spillR.data(), a.returnL.data(), a.returnR.data());
}

TEST(TapReverbTest, ImpossibleRoomsAreRefusedWithTheirMessage) {
  const std::string position = ">>> Error:  Illegal value for reverb position parameter\n";
  const std::string decrease = ">>> Error:  Please decrease reverb tap number to ";
  // Beyond a wall (101) a distance turns negative and taps would land before
  // the accumulators' start. The largest last-order delay is 4014 with one
  // order, 8034 with two.
  const std::tuple<std::array<float, 4>, int, long, std::string> cases[] = {
      {{75, -1, 39, 43}, 1, 131072, position},
      {{75, 37, 39, 101}, 1, 131072, position},
      {{-1, 37, 39, 43}, 1, 131072, ">>> Error:  Illegal value for tap reverb room size\n"},
      {{2000, 37, 39, 43}, 1, 131072, ">>> Error: A tap reverb dimension has exceeded the limit\n"},
      {{75, 37, 39, 43}, 1, 4014, decrease + "0 or room length to 74 feet\n"},
      {{75, 37, 39, 43}, 2, 8034, decrease + "1 or room length to 74 feet\n"},
      {{75, 37, 39, 43}, 1, 4015, "accepted"}};
  for (const auto& [v, taps, buffer, message] : cases) {
    TapReverbState s;
    EXPECT_EQ(setupDiscreteReverb(s, buffer, 48000.0, v[0], taps, v[1], v[2], v[3])
                  .value_or("accepted"),
              message)
        << v[0] << " " << buffer;
  }
  for (auto [given, limited] : {std::pair{0, 1}, {-4, 1}, {5, 5}, {12, 11}})
    EXPECT_EQ(room(131072, given).taps, limited) << given;
}

// One tap per surface and order, halved per order: 500 then 250 of 1000.
TEST(TapReverbTest, ImpulseGivesOneTapPerSurfaceAndOrder) {
  std::vector<double> send(9000, 0.0);
  send[0] = 1000.0;
  Accumulators a(9000);
  run(room(9000, 2), a, 9000, send.data(), send.data());
  const Cells both = {{1612, 500}, {2522, 500}, {4014, 500}, {2356, 500},
                      {4476, 250}, {4369, 250}, {6690, 250}, {5425, 250}};
  Cells L = both, R = both;
  L[2276] = R[3018] = 500;
  L[6046] = R[8034] = 250;
  EXPECT_EQ(nonZero(a.returnL), L);
  EXPECT_EQ(nonZero(a.returnR), R);
}

TEST(TapReverbTest, SpillAndTruncationTowardZero) {
  const long n = 3000, buffer = 8192;
  std::vector<double> send(n, 0.0);
  send[n - 100] = -3.0;
  send[0] = 1.0;  // its taps of 0.5 are lost to the truncation
  Accumulators a(buffer);
  run(room(buffer, 1), a, n, send.data(), send.data());
  EXPECT_EQ(nonZero(a.returnL), Cells{});
  EXPECT_EQ(nonZero(a.spillL), (Cells{{2176, -1}, {1512, -1}, {2422, -1}, {3914, -1}, {2256, -1}}));
  // Standing against the rear wall puts its tap on the send sample itself.
  Accumulators wall(buffer);
  run(room(buffer, 1, 0), wall, n, send.data(), send.data());
  EXPECT_EQ(wall.returnL[n - 100], -1);
}

TEST(TapReverbTest, BlockSplitInvariance) {
  // Blocks may be split anywhere as long as each is at least the longest
  // delay (10550 samples with three orders), as every block but the mix's
  // last one is.
  const long buffer = 32768;
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> sample(-3.0e8, 3.0e8);
  std::vector<double> L(3 * buffer, 0.0), R(3 * buffer, 0.0);
  for (long i = 0; i < 2 * buffer; ++i) L[i] = sample(rng), R[i] = sample(rng);
  auto render = [&](const std::vector<long>& blocks) {
    Accumulators a(buffer);
    const TapReverbState s = room(buffer, 3);
    a.render(blocks, [&](long n, long pos) { run(s, a, n, &L[pos], &R[pos]); });
    return std::pair{a.streamL, a.streamR};
  };
  const auto whole = render({buffer, buffer, buffer});
  EXPECT_EQ(render({11000, 30001, 24535, buffer}), whole);
  EXPECT_EQ(render({buffer - 1, 12000, 20769, buffer}), whole);
}

}  // namespace
}  // namespace sorvan
