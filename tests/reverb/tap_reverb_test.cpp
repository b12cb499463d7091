#include "reverb/tap_reverb.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "reverb/reverb_test_support.h"
#include "reverb/room_geometry.h"

namespace sorvan {
namespace {

using testing::Accumulators;
using testing::fatalText;

constexpr double kRate = 48000.0;
constexpr float kRoom = 75.0f;

TEST(RoomGeometryTest, DistancesOfTheDefaultRoomAt48k) {
  const SurfaceDistances d = surfaceDistances(kRate, kRoom, 37, 39, 43);
  EXPECT_EQ(d.left, 1138);
  EXPECT_EQ(d.right, 1509);
  EXPECT_EQ(d.front, 2007);
  EXPECT_EQ(d.rear, 1178);
  EXPECT_EQ(d.ceiling, 1261);
  EXPECT_EQ(d.floor, 806);
}

TEST(TapReverbTest, DelaysOfOrdersZeroAndOne) {
  TapReverbState s;
  int taps = 2;
  setupDiscreteReverb(s, 131072, kRate, kRoom, taps, 37, 39, 43);
  EXPECT_EQ(s.first, 0);
  EXPECT_EQ(s.Rleft[0], 2276);
  EXPECT_EQ(s.Rright[0], 3018);
  EXPECT_EQ(s.Rfrntwall[0], 4014);
  EXPECT_EQ(s.Rrearwall[0], 2356);
  EXPECT_EQ(s.Rceil[0], 2522);
  EXPECT_EQ(s.Rfloor[0], 1612);
  EXPECT_EQ(s.Rleft[1], 6046);
  EXPECT_EQ(s.Rright[1], 8034);
  EXPECT_EQ(s.Rfrntwall[1], 6690);
  EXPECT_EQ(s.Rrearwall[1], 5425);
  EXPECT_EQ(s.Rceil[1], 4369);
  EXPECT_EQ(s.Rfloor[1], 4476);
}

TEST(TapReverbTest, TapCountIsLimitedAndWrittenBack) {
  const std::pair<int, int> cases[] = {{0, 1}, {-4, 1}, {1, 1}, {5, 5}, {11, 11}, {12, 11}};
  for (auto [given, limited] : cases) {
    TapReverbState s;
    int taps = given;
    setupDiscreteReverb(s, 131072, kRate, kRoom, taps, 37, 39, 43);
    EXPECT_EQ(taps, limited) << given;
    EXPECT_EQ(s.taps, limited) << given;
  }
  TapReverbState s;
  int taps = 11;
  setupDiscreteReverb(s, 131072, kRate, kRoom, taps, 37, 39, 43);
  EXPECT_DOUBLE_EQ(s.atten[0], 0.5);
  EXPECT_DOUBLE_EQ(s.atten[1], 0.25);
  EXPECT_DOUBLE_EQ(s.atten[10], 1.0 / 2048.0);
}

TEST(TapReverbTest, SetUpErrorsEndTheRunWithStatusOne) {
  auto setUp = [](float room, float p1, float p2, float p3, int taps = 1, long buffer = 131072) {
    return fatalText([&] {
      TapReverbState s;
      setupDiscreteReverb(s, buffer, kRate, room, taps, p1, p2, p3);
    });
  };
  const std::string position = ">>> Error:  Illegal value for reverb position parameter\n";
  EXPECT_EQ(setUp(kRoom, -1, 39, 43), position);
  EXPECT_EQ(setUp(kRoom, 37, -0.5f, 43), position);
  EXPECT_EQ(setUp(kRoom, 37, 39, -10), position);
  // Beyond a wall the distance would be negative and the taps would be
  // written before the start of the accumulators.
  EXPECT_EQ(setUp(kRoom, 37, 39, 101), position);
  EXPECT_EQ(setUp(-1, 37, 39, 43), ">>> Error:  Illegal value for tap reverb room size\n");
  // 2000 feet put the front wall 53000 samples away at 48 kHz.
  EXPECT_EQ(setUp(2000, 37, 39, 43), ">>> Error: A tap reverb dimension has exceeded the limit\n");
  // One order: the largest delay is the front wall's 4014.
  EXPECT_EQ(setUp(kRoom, 37, 39, 43, 1, 4014),
            ">>> Error:  Please decrease reverb tap number to 0 or room length to 74 feet\n");
  // Two orders: the right wall's 8034 is the largest.
  EXPECT_EQ(setUp(kRoom, 37, 39, 43, 2, 8034),
            ">>> Error:  Please decrease reverb tap number to 1 or room length to 74 feet\n");
  EXPECT_EQ(setUp(kRoom, 37, 39, 43, 1, 3000),
            ">>> Error:  Please decrease reverb tap number to 0 or room length to 55 feet\n");

  MessageCapture cap;
  TapReverbState fits;
  int taps = 1;
  setupDiscreteReverb(fits, 4015, kRate, kRoom, taps, 37, 39, 43);
  EXPECT_EQ(cap.text(), "");
}

// The nonzero cells of an accumulator.
std::map<long, std::int64_t> nonZero(const std::vector<std::int64_t>& v) {
  std::map<long, std::int64_t> out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] != 0) out[static_cast<long>(i)] = v[i];
  }
  return out;
}

struct Impulse {
  Impulse(long n, long at, double value) : L(n, 0.0), R(n, 0.0) { L[at] = R[at] = value; }
  std::vector<double> L, R;
};

TEST(TapReverbTest, ImpulseGivesOneTapPerSurfaceAndOrder) {
  const long n = 9000;
  Accumulators acc(n);
  Impulse send(n, 0, 1000.0);
  TapReverbState s;
  int taps = 1;
  DiscreteReverb(n, s, n, kRate, send.L.data(), send.R.data(), kRoom, acc.spillL.data(),
                 acc.spillR.data(), acc.returnL.data(), acc.returnR.data(), taps, 37, 39, 43);
  using M = std::map<long, std::int64_t>;
  EXPECT_EQ(nonZero(acc.returnL), (M{{2276, 500}, {1612, 500}, {2522, 500}, {4014, 500}, {2356, 500}}));
  EXPECT_EQ(nonZero(acc.returnR), (M{{3018, 500}, {1612, 500}, {2522, 500}, {4014, 500}, {2356, 500}}));
  EXPECT_TRUE(nonZero(acc.spillL).empty());

  // A second order adds a quarter at each order-1 delay.
  Accumulators acc2(n);
  TapReverbState s2;
  taps = 2;
  DiscreteReverb(n, s2, n, kRate, send.L.data(), send.R.data(), kRoom, acc2.spillL.data(),
                 acc2.spillR.data(), acc2.returnL.data(), acc2.returnR.data(), taps, 37, 39, 43);
  EXPECT_EQ(nonZero(acc2.returnL), (M{{2276, 500}, {1612, 500}, {2522, 500}, {4014, 500}, {2356, 500},
                                      {6046, 250}, {4476, 250}, {4369, 250}, {6690, 250}, {5425, 250}}));
  EXPECT_EQ(nonZero(acc2.returnR), (M{{3018, 500}, {1612, 500}, {2522, 500}, {4014, 500}, {2356, 500},
                                      {8034, 250}, {4476, 250}, {4369, 250}, {6690, 250}, {5425, 250}}));
}

TEST(TapReverbTest, TapsPastTheBlockGoToTheSpillAndTruncateTowardZero) {
  const long n = 3000;
  Accumulators acc(8192);
  Impulse send(n, n - 100, -3.0);
  TapReverbState s;
  int taps = 1;
  DiscreteReverb(8192, s, n, kRate, send.L.data(), send.R.data(), kRoom, acc.spillL.data(),
                 acc.spillR.data(), acc.returnL.data(), acc.returnR.data(), taps, 37, 39, 43);
  // -1.5 truncates to -1; every tap lands past the block end.
  using M = std::map<long, std::int64_t>;
  EXPECT_TRUE(nonZero(acc.returnL).empty());
  EXPECT_EQ(nonZero(acc.spillL), (M{{2176, -1}, {1512, -1}, {2422, -1}, {3914, -1}, {2256, -1}}));

  // A tap below 1 in magnitude is lost to the truncation.
  Accumulators quiet(8192);
  Impulse tiny(n, 0, 1.0);
  TapReverbState s2;
  DiscreteReverb(8192, s2, n, kRate, tiny.L.data(), tiny.R.data(), kRoom, quiet.spillL.data(),
                 quiet.spillR.data(), quiet.returnL.data(), quiet.returnR.data(), taps, 37, 39, 43);
  EXPECT_TRUE(nonZero(quiet.returnL).empty());
  EXPECT_TRUE(nonZero(quiet.returnR).empty());
}

TEST(TapReverbTest, PositionOnAWallPutsItsTapOnTheSendSample) {
  const long n = 8192;
  Accumulators acc(n);
  Impulse send(n, 10, 1000.0);
  TapReverbState s;
  int taps = 1;
  // 0 percent of the length: standing against the rear wall.
  DiscreteReverb(n, s, n, kRate, send.L.data(), send.R.data(), kRoom, acc.spillL.data(),
                 acc.spillR.data(), acc.returnL.data(), acc.returnR.data(), taps, 0, 39, 43);
  EXPECT_EQ(s.Rrearwall[0], 0);
  EXPECT_EQ(acc.returnL[10], 500);
  EXPECT_EQ(acc.returnR[10], 500);
}

// Runs the reverb over `send` in blocks of the given sizes, the way the mix
// loop does, and returns the stream of returns.
std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> render(
    const std::vector<double>& sendL, const std::vector<double>& sendR,
    const std::vector<long>& blocks, long buffer, int taps) {
  Accumulators acc(buffer);
  TapReverbState s;
  std::vector<std::int64_t> outL, outR;
  long pos = 0;
  for (long n : blocks) {
    acc.startBlock();
    DiscreteReverb(buffer, s, n, kRate, sendL.data() + pos, sendR.data() + pos, kRoom,
                   acc.spillL.data(), acc.spillR.data(), acc.returnL.data(), acc.returnR.data(),
                   taps, 37, 39, 43);
    outL.insert(outL.end(), acc.returnL.begin(), acc.returnL.begin() + n);
    outR.insert(outR.end(), acc.returnR.begin(), acc.returnR.begin() + n);
    pos += n;
  }
  return {outL, outR};
}

TEST(TapReverbTest, BlockSplitInvariance) {
  const long buffer = 32768;
  const int taps = 3;
  TapReverbState probe;
  int t = taps;
  setupDiscreteReverb(probe, buffer, kRate, kRoom, t, 37, 39, 43);
  long longest = 0;
  for (const auto* d : {&probe.Rleft, &probe.Rright, &probe.Rfrntwall, &probe.Rrearwall,
                        &probe.Rceil, &probe.Rfloor}) {
    longest = std::max<long>(longest, (*d)[taps - 1]);
  }

  // Signal in the first two buffers, silence in the third to collect the tail.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> sample(-3.0e8, 3.0e8);
  std::vector<double> sendL(3 * buffer, 0.0), sendR(3 * buffer, 0.0);
  for (long i = 0; i < 2 * buffer; ++i) {
    sendL[i] = sample(rng);
    sendR[i] = sample(rng);
  }
  const auto whole = render(sendL, sendR, {buffer, buffer, buffer}, buffer, taps);

  // Only the mix loop's last block may be shorter than the longest delay, so
  // every piece here is at least that long.
  for (int trial = 0; trial < 3; ++trial) {
    std::vector<long> blocks;
    long left = 2 * buffer;
    std::uniform_int_distribution<long> size(longest, buffer);
    while (left > 0) {
      long n = size(rng);
      // Never leave a stub shorter than the longest delay.
      if (left - n < longest) n = left <= buffer ? left : left / 2;
      blocks.push_back(n);
      left -= n;
    }
    blocks.push_back(buffer);
    const auto split = render(sendL, sendR, blocks, buffer, taps);
    EXPECT_EQ(split.first, whole.first) << "trial " << trial;
    EXPECT_EQ(split.second, whole.second) << "trial " << trial;
  }
}

}  // namespace
}  // namespace sorvan
