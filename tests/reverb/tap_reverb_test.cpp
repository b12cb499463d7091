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

constexpr double kRate = 48000.0;
constexpr float kRoom = 75.0f;

// The 75-foot room with the listener at p1 percent of its length.
TapReverbState room(long buffer, int taps, float p1 = 37) {
  TapReverbState s;
  EXPECT_EQ(setupDiscreteReverb(s, buffer, kRate, kRoom, taps, p1, 39, 43), std::nullopt);
  return s;
}

void run(const TapReverbState& s, Accumulators& a, long n, const double* L, const double* R) {
  DiscreteReverb(s, n, L, R, a.spillL.data(), a.spillR.data(), a.returnL.data(), a.returnR.data());
}

TEST(TapReverbTest, DelaysOfOrdersZeroAndOne) {
  const TapReverbState s = room(131072, 2);
  using D = std::array<std::int64_t, 2>;
  EXPECT_EQ((D{s.Rleft[0], s.Rleft[1]}), (D{2276, 6046}));
  EXPECT_EQ((D{s.Rright[0], s.Rright[1]}), (D{3018, 8034}));
  EXPECT_EQ((D{s.Rfrntwall[0], s.Rfrntwall[1]}), (D{4014, 6690}));
  EXPECT_EQ((D{s.Rrearwall[0], s.Rrearwall[1]}), (D{2356, 5425}));
  EXPECT_EQ((D{s.Rceil[0], s.Rceil[1]}), (D{2522, 4369}));
  EXPECT_EQ((D{s.Rfloor[0], s.Rfloor[1]}), (D{1612, 4476}));
}

TEST(TapReverbTest, TapCountIsLimited) {
  for (auto [given, limited] : {std::pair{0, 1}, {-4, 1}, {5, 5}, {12, 11}}) {
    const TapReverbState s = room(131072, given);
    EXPECT_EQ(s.taps, limited) << given;
    EXPECT_DOUBLE_EQ(s.atten[limited - 1], 1.0 / (2 << (limited - 1)));
  }
}

TEST(TapReverbTest, ImpossibleRoomsAreRefusedWithTheirMessage) {
  auto setUp = [](float room, float p1, float p2, float p3, int taps = 1, long buffer = 131072) {
    TapReverbState s;
    return setupDiscreteReverb(s, buffer, kRate, room, taps, p1, p2, p3).value_or("accepted");
  };
  const std::string position = ">>> Error:  Illegal value for reverb position parameter\n";
  const std::string decrease = ">>> Error:  Please decrease reverb tap number to ";
  // Beyond a wall (101) a distance turns negative and taps would land before
  // the accumulators' start. The largest last-order delay is 4014 with one
  // order, 8034 with two.
  const std::tuple<std::array<float, 4>, int, long, std::string> cases[] = {
      {{kRoom, -1, 39, 43}, 1, 131072, position},
      {{kRoom, 37, -0.5f, 43}, 1, 131072, position},
      {{kRoom, 37, 39, -10}, 1, 131072, position},
      {{kRoom, 37, 39, 101}, 1, 131072, position},
      {{-1, 37, 39, 43}, 1, 131072, ">>> Error:  Illegal value for tap reverb room size\n"},
      {{2000, 37, 39, 43}, 1, 131072, ">>> Error: A tap reverb dimension has exceeded the limit\n"},
      {{kRoom, 37, 39, 43}, 1, 4014, decrease + "0 or room length to 74 feet\n"},
      {{kRoom, 37, 39, 43}, 2, 8034, decrease + "1 or room length to 74 feet\n"},
      {{kRoom, 37, 39, 43}, 1, 3000, decrease + "0 or room length to 55 feet\n"}};
  for (const auto& [v, taps, buffer, message] : cases)
    EXPECT_EQ(setUp(v[0], v[1], v[2], v[3], taps, buffer), message) << v[0] << " " << buffer;
  EXPECT_EQ(setUp(kRoom, 37, 39, 43, 1, 4015), "accepted");
}

TEST(TapReverbTest, ImpulseGivesOneTapPerSurfaceAndOrder) {
  const long n = 9000;
  std::vector<double> send(n, 0.0);
  send[0] = 1000.0;
  const Cells both = {{1612, 500}, {2522, 500}, {4014, 500}, {2356, 500}};
  const Cells second = {{4476, 250}, {4369, 250}, {6690, 250}, {5425, 250}};
  for (int taps : {1, 2}) {
    Accumulators a(n);
    run(room(n, taps), a, n, send.data(), send.data());
    Cells L = both, R = both;
    L[2276] = R[3018] = 500;
    if (taps == 2) {
      L.insert(second.begin(), second.end());
      R.insert(second.begin(), second.end());
      L[6046] = R[8034] = 250;
    }
    EXPECT_EQ(nonZero(a.returnL), L) << taps;
    EXPECT_EQ(nonZero(a.returnR), R) << taps;
  }
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
  // delay (10550 samples with three orders), as every block but the
  // mix's last one is.
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
