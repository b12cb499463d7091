#include "reverb/recursive_reverb.h"

#include <gtest/gtest.h>

#include <random>

#include "base/limits.h"
#include "reverb/reverb_test_support.h"

namespace sorvan {
namespace {

using testing::Accumulators;
using testing::fatalText;

constexpr double kRate = 48000.0;
constexpr float kRoom = 75.0f;

enum Node { kFront = 1, kLeft, kRight, kRear, kFloor, kCeiling };

// One call of the reverb on the given sends with the default room and position.
void run(RecurseReverbState& s, Accumulators& acc, long n, const double* sendL,
         const double* sendR, float width = 50.0f) {
  RecurseReverb(s, n, kRate, sendL, sendR, kRoom, acc.spillL.data(), acc.spillR.data(),
                acc.returnL.data(), acc.returnR.data(), 37, 39, 43, width);
}

TEST(RecursiveReverbTest, DistancesAndTravelTimesAt48k) {
  RecurseReverbState s;
  setupRecurseReverb(s, kRate, kRoom, 37, 39, 43, 50);
  EXPECT_EQ(s.first, 0);
  EXPECT_EQ(s.d[kFront], 2007);
  EXPECT_EQ(s.d[kLeft], 1138);
  EXPECT_EQ(s.d[kRight], 1509);
  EXPECT_EQ(s.d[kRear], 1178);
  EXPECT_EQ(s.d[kFloor], 806);
  EXPECT_EQ(s.d[kCeiling], 1261);
  const struct {
    int a, b;
    std::int64_t t;
  } travel[] = {{1, 2, 2307}, {1, 3, 2511}, {1, 4, 2327}, {1, 5, 2162}, {1, 6, 2370},
                {2, 3, 1890}, {2, 4, 1637}, {2, 5, 1394}, {2, 6, 1698}, {3, 4, 1914},
                {3, 5, 1710}, {3, 6, 1966}, {4, 5, 1427}, {4, 6, 1725}, {5, 6, 1496}};
  for (const auto& e : travel) {
    EXPECT_EQ(s.travel[e.a][e.b], e.t) << e.a << e.b;
    EXPECT_EQ(s.travel[e.b][e.a], e.t) << e.b << e.a;
  }
}

TEST(RecursiveReverbTest, WidthSetting) {
  const std::pair<float, float> cases[] = {{50, 0.5f}, {0, 1.0f},  {100, 0.0f},
                                           {25, 0.75f}, {150, 0.0f}, {-10, 1.0f}};
  for (auto [width, Width] : cases) {
    RecurseReverbState s;
    setupRecurseReverb(s, kRate, kRoom, 37, 39, 43, width);
    EXPECT_FLOAT_EQ(s.Width, Width) << width;
  }
}

TEST(RecursiveReverbTest, SetUpErrorsEndTheRunWithStatusOne) {
  auto setUp = [](float room, float p1, float p2, float p3) {
    return fatalText([&] {
      RecurseReverbState s;
      setupRecurseReverb(s, kRate, room, p1, p2, p3, 50);
    });
  };
  const std::string position = "Illegal value for reverb position parameter\n";
  EXPECT_EQ(setUp(kRoom, -1, 39, 43), position);
  EXPECT_EQ(setUp(kRoom, 37, -1, 43), position);
  EXPECT_EQ(setUp(kRoom, 37, 39, -1), position);
  EXPECT_EQ(setUp(kRoom, 37, 120, 43), position);
  EXPECT_EQ(setUp(-75, 37, 39, 43), "Illegal value for reverb room size\n");
  // The longest travel time grows to about 134000 samples, past a block line.
  EXPECT_EQ(setUp(4000, 37, 39, 43), "Please reduce room size in reverb!\n");
  // A room whose surfaces alone are far beyond reach.
  EXPECT_EQ(setUp(1.0e30f, 37, 39, 43), "Please reduce room size in reverb!\n");
}

TEST(RecursiveReverbTest, FirstOutputsOfALeftImpulse) {
  const long n = 8192;
  RecurseReverbState s;
  Accumulators acc(kBlockFrames);
  std::vector<double> L(n, 0.0), R(n, 0.0);
  L[0] = 600000.0;
  run(s, acc, n, L.data(), R.data());

  // Up to the front wall's 2007 samples only the direct quarters arrive.
  for (long i = 0; i <= 2007; ++i) {
    std::int64_t wantL = 0, wantR = 0;
    if (i == 1138) wantL = 150000;                 // left wall
    if (i == 806 || i == 2007) wantL = 75000, wantR = 150000;  // floor, front wall
    ASSERT_EQ(acc.returnL[i], wantL) << i;
    ASSERT_EQ(acc.returnR[i], wantR) << i;
  }
  // Each node the send reached passes a sixth to every other node.
  for (int m : {kFront, kLeft, kFloor}) {
    for (int j = 1; j <= kReverbNodes; ++j) {
      if (j == m) continue;
      EXPECT_EQ(s.surf[j][s.travel[j][m]], 100000) << j << " from " << m;
    }
  }
}

TEST(RecursiveReverbTest, WidthDecidesTheFarSide) {
  const long n = 4096;
  std::vector<double> L(n, 0.0), R(n, 0.0);
  L[0] = 600000.0;
  R[0] = 600000.0;
  {
    // Width 0: front wall and floor reach only the right, rear wall and
    // ceiling only the left.
    RecurseReverbState s;
    Accumulators acc(kBlockFrames);
    run(s, acc, n, L.data(), R.data(), 100);
    EXPECT_EQ(acc.returnL[806], 0);
    EXPECT_EQ(acc.returnR[806], 150000);
    EXPECT_EQ(acc.returnL[1178], 150000);
    EXPECT_EQ(acc.returnR[1178], 0);
    EXPECT_EQ(acc.returnL[1261], 150000);
    EXPECT_EQ(acc.returnR[1261], 0);
    EXPECT_EQ(acc.returnR[1509], 150000);  // right wall
    EXPECT_EQ(acc.returnL[1509], 0);
  }
  {
    // Width 1: those four nodes feed both sides alike.
    RecurseReverbState s;
    Accumulators acc(kBlockFrames);
    run(s, acc, n, L.data(), R.data(), 0);
    for (long at : {806, 1178, 1261, 2007}) {
      EXPECT_EQ(acc.returnL[at], 150000) << at;
      EXPECT_EQ(acc.returnR[at], 150000) << at;
    }
  }
}

TEST(RecursiveReverbTest, ShortFirstBlockIsAccepted) {
  // A preview shorter than the room's longest travel time used to be refused.
  const long n = 1000;
  RecurseReverbState s;
  Accumulators acc(kBlockFrames);
  std::vector<double> L(n, 0.0), R(n, 0.0);
  L[0] = 600000.0;
  MessageCapture cap;
  run(s, acc, n, L.data(), R.data());
  EXPECT_EQ(cap.text(), "");
  EXPECT_EQ(acc.returnL[806], 75000);
  EXPECT_EQ(acc.returnR[806], 150000);
  EXPECT_EQ(acc.spillL[1138 - n], 150000);
  EXPECT_EQ(acc.spillR[2007 - n], 150000);
  // Shares past the block wait in the spill lines.
  EXPECT_EQ(s.spill[kRight][2511 - n], 100000);
}

// Sum of squares of one side over a stretch of the output stream.
double energy(const std::vector<std::int64_t>& v, long from, long to) {
  double e = 0.0;
  for (long i = from; i < to; ++i) e += static_cast<double>(v[i]) * static_cast<double>(v[i]);
  return e;
}

TEST(RecursiveReverbTest, TailDecaysOverManyBlocksAndDiesOut) {
  const long n = 8192;
  RecurseReverbState s;
  Accumulators acc(kBlockFrames);
  std::vector<double> burstL(n, 0.0), burstR(n, 0.0), silence(n, 0.0);
  for (long i = 0; i < 64; ++i) {
    burstL[i] = (i % 2 ? 1.0e6 : -1.0e6);
    burstR[i] = (i % 3 ? 7.0e5 : -9.0e5);
  }
  std::vector<double> energies;
  for (int block = 0; block < 60; ++block) {
    acc.startBlock();
    const bool first = block == 0;
    run(s, acc, n, first ? burstL.data() : silence.data(), first ? burstR.data() : silence.data());
    energies.push_back(energy(acc.returnL, 0, n) + energy(acc.returnR, 0, n));
  }
  // The tail reaches well past the block the burst was in, fading all along.
  for (int block = 1; block <= 6; ++block) {
    EXPECT_GT(energies[block], 0.0) << block;
    EXPECT_LT(energies[block], energies[block - 1]) << block;
  }
  // Truncation ends it: nothing is left in the network.
  EXPECT_EQ(energies.back(), 0.0);
  for (int j = 1; j <= kReverbNodes; ++j) {
    EXPECT_TRUE(std::all_of(s.spill[j].begin(), s.spill[j].end(), [](auto v) { return v == 0; }));
  }
}

std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> render(
    const std::vector<double>& sendL, const std::vector<double>& sendR,
    const std::vector<long>& blocks) {
  RecurseReverbState s;
  Accumulators acc(kBlockFrames);
  std::vector<std::int64_t> outL, outR;
  long pos = 0;
  for (long n : blocks) {
    acc.startBlock();
    run(s, acc, n, sendL.data() + pos, sendR.data() + pos);
    outL.insert(outL.end(), acc.returnL.begin(), acc.returnL.begin() + n);
    outR.insert(outR.end(), acc.returnR.begin(), acc.returnR.begin() + n);
    pos += n;
  }
  return {outL, outR};
}

TEST(RecursiveReverbTest, BlockSplitInvariance) {
  // The carried tail is added to the next block's send before truncation, so
  // the split is exact for whole-number sends (the pieces are at least the
  // longest travel time, as every block but the mix's last one is).
  const long part = 16384;
  const long longest = 2511;
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> sample(-2000000, 2000000);
  std::vector<double> sendL(3 * part, 0.0), sendR(3 * part, 0.0);
  for (long i = 0; i < 2 * part; ++i) {
    sendL[i] = sample(rng);
    sendR[i] = sample(rng);
  }
  const auto whole = render(sendL, sendR, {2 * part, part});
  for (int trial = 0; trial < 3; ++trial) {
    std::vector<long> blocks;
    std::uniform_int_distribution<long> size(longest, part);
    long left = 2 * part;
    while (left > 0) {
      long n = size(rng);
      if (left - n < longest) n = left <= part ? left : left / 2;
      blocks.push_back(n);
      left -= n;
    }
    blocks.push_back(part);
    const auto split = render(sendL, sendR, blocks);
    EXPECT_EQ(split.first, whole.first) << "trial " << trial;
    EXPECT_EQ(split.second, whole.second) << "trial " << trial;
  }
}

}  // namespace
}  // namespace sorvan
