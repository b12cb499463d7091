#include "reverb/recursive_reverb.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "base/limits.h"
#include "reverb/reverb_test_support.h"

namespace sorvan {
namespace {

using testing::Accumulators;

constexpr double kRate = 48000.0;
constexpr float kRoom = 75.0f;
enum Node { kFront = 1, kLeft, kRight, kRear, kFloor, kCeiling };

// The 75-foot room; its lines are large, so they live on the heap.
std::unique_ptr<RecurseReverbState> room(float width = 50.0f) {
  auto s = std::make_unique<RecurseReverbState>();
  EXPECT_EQ(setupRecurseReverb(*s, kRate, kRoom, 37, 39, 43, width), std::nullopt);
  return s;
}

void run(RecurseReverbState& s, Accumulators& a, long n, const double* L, const double* R) {
  RecurseReverb(s, n, L, R, a.spillL.data(), a.spillR.data(), a.returnL.data(), a.returnR.data());
}

// A left impulse of 600000 at sample 0 (and a right one when asked).
struct Impulse {
  Impulse(long n, bool right) : L(n, 0.0), R(n, 0.0) { L[0] = 600000.0, R[0] = right ? 600000 : 0; }
  std::vector<double> L, R;
};

TEST(RecursiveReverbTest, DistancesAndTravelTimesAt48k) {
  const auto room75 = room();
  const RecurseReverbState& s = *room75;
  EXPECT_EQ(s.d, (std::array<std::int64_t, 7>{0, 2007, 1138, 1509, 1178, 806, 1261}));
  const std::int64_t travel[] = {2307, 2511, 2327, 2162, 2370, 1890, 1637, 1394,
                                 1698, 1914, 1710, 1966, 1427, 1725, 1496};
  int k = 0;
  for (int a = 1; a <= 6; ++a) {
    for (int b = a + 1; b <= 6; ++b, ++k) {
      EXPECT_EQ(s.travel[a][b], travel[k]) << a << b;
      EXPECT_EQ(s.travel[b][a], travel[k]) << b << a;
    }
  }
}

TEST(RecursiveReverbTest, ImpossibleRoomsAreRefusedWithTheirMessage) {
  auto setUp = [](float length, float p1, float p2, float p3) {
    auto s = std::make_unique<RecurseReverbState>();
    return setupRecurseReverb(*s, kRate, length, p1, p2, p3, 50).value_or("accepted");
  };
  const std::string position = "Illegal value for reverb position parameter\n";
  const std::string tooBig = "Please reduce room size in reverb!\n";
  // 4000 feet stretch the longest travel time past a 131072-sample line.
  const std::pair<std::array<float, 4>, std::string> cases[] = {
      {{kRoom, -1, 39, 43}, position},
      {{kRoom, 37, -1, 43}, position},
      {{kRoom, 37, 39, -1}, position},
      {{kRoom, 37, 120, 43}, position},
      {{-75, 37, 39, 43}, "Illegal value for reverb room size\n"},
      {{4000, 37, 39, 43}, tooBig},
      {{1.0e30f, 37, 39, 43}, tooBig}};
  for (const auto& [v, message] : cases) EXPECT_EQ(setUp(v[0], v[1], v[2], v[3]), message) << v[0];
}

TEST(RecursiveReverbTest, FirstOutputsOfALeftImpulse) {
  const long n = 8192;
  const auto room75 = room();
  RecurseReverbState& s = *room75;
  Accumulators a(kBlockFrames);
  Impulse send(n, false);
  run(s, a, n, send.L.data(), send.R.data());
  // Up to the front wall's 2007 samples only the direct quarters arrive.
  auto upToFrontWall = [](const std::vector<std::int64_t>& v) {
    return testing::nonZero({v.begin(), v.begin() + 2008});
  };
  EXPECT_EQ(upToFrontWall(a.returnL),
            (testing::Cells{{806, 75000}, {1138, 150000}, {2007, 75000}}));
  EXPECT_EQ(upToFrontWall(a.returnR), (testing::Cells{{806, 150000}, {2007, 150000}}));
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
  Impulse send(n, true);
  // width -> Width, and the left output of the floor (806) and ceiling (1261).
  const struct {
    float width, Width;
    std::int64_t floorL, ceilingR;
  } cases[] = {{50, 0.5f, 75000, 75000},
               {100, 0.0f, 0, 0},
               {0, 1.0f, 150000, 150000},
               {150, 0.0f, 0, 0},
               {-10, 1.0f, 150000, 150000}};
  for (const auto& c : cases) {
    const auto s = room(c.width);
    Accumulators a(kBlockFrames);
    run(*s, a, n, send.L.data(), send.R.data());
    EXPECT_EQ(s->Width, c.Width) << c.width;
    EXPECT_EQ(a.returnL[806], c.floorL) << c.width;
    EXPECT_EQ(a.returnR[806], 150000) << c.width;
    EXPECT_EQ(a.returnL[1261], 150000) << c.width;
    EXPECT_EQ(a.returnR[1261], c.ceilingR) << c.width;
  }
}

TEST(RecursiveReverbTest, ShortFirstBlockIsAccepted) {
  // A preview shorter than the room's longest travel time used to be refused.
  const long n = 1000;
  const auto room75 = room();
  RecurseReverbState& s = *room75;
  Accumulators a(kBlockFrames);
  Impulse send(n, false);
  run(s, a, n, send.L.data(), send.R.data());
  EXPECT_EQ(a.returnR[806], 150000);
  EXPECT_EQ(a.spillL[1138 - n], 150000);
  EXPECT_EQ(s.spill[kRight][2511 - n], 100000);  // a share waiting for the next block
}

TEST(RecursiveReverbTest, BlockSplitInvariance) {
  // The carried tail joins the next block's send before truncation, so the
  // split is exact for whole-number sends, and pieces must be at least the
  // longest travel time (2511), as every block but the mix's last one is.
  const long part = 16384;
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> sample(-2000000, 2000000);
  std::vector<double> L(3 * part, 0.0), R(3 * part, 0.0);
  for (long i = 0; i < 2 * part; ++i) L[i] = sample(rng), R[i] = sample(rng);
  auto render = [&](const std::vector<long>& blocks) {
    const auto s = room();
    Accumulators a(kBlockFrames);
    a.render(blocks, [&](long n, long pos) { run(*s, a, n, &L[pos], &R[pos]); });
    return std::pair{a.streamL, a.streamR};
  };
  const auto whole = render({2 * part, part});
  EXPECT_EQ(render({2511, 9000, 17003, 4254, part}), whole);
  EXPECT_EQ(render({part - 1, part + 1, part}), whole);
}

}  // namespace
}  // namespace sorvan
