// Where the first reflections of the recursive reverb land is checked on a
// real render (e2e); here: refusals, the far-side width, short blocks and
// block-split invariance of the node network.
#include "reverb/recursive_reverb.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "base/limits.h"
#include "reverb/reverb_test_support.h"

namespace sorvan {
namespace {

using testing::Accumulators;

// The 75-foot room; its lines are large, so they live on the heap.
std::unique_ptr<RecurseReverbState> room(float width = 50.0f) {
  auto s = std::make_unique<RecurseReverbState>();
  EXPECT_EQ(setupRecurseReverb(*s, 48000.0, 75.0f, 37, 39, 43, width), std::nullopt);
  return s;
}

void run(RecurseReverbState& s, Accumulators& a, long n, const double* L, const double* R) {
  RecurseReverb(s, n, L, R, a.spillL.data(), a.spillR.data(), a.returnL.data(), a.returnR.data());
}

TEST(RecursiveReverbTest, ImpossibleRoomsAreRefusedWithTheirMessage) {
  const std::string position = "Illegal value for reverb position parameter\n";
  const std::string tooBig = "Please reduce room size in reverb!\n";
  // 4000 feet stretch the longest travel time past a 131072-sample line.
  const std::pair<std::array<float, 4>, std::string> cases[] = {
      {{75, -1, 39, 43}, position},  {{75, 37, 120, 43}, position},
      {{75, 37, 39, -1}, position},  {{-75, 37, 39, 43}, "Illegal value for reverb room size\n"},
      {{4000, 37, 39, 43}, tooBig},  {{1.0e30f, 37, 39, 43}, tooBig}};
  for (const auto& [v, message] : cases) {
    auto s = std::make_unique<RecurseReverbState>();
    EXPECT_EQ(setupRecurseReverb(*s, 48000.0, v[0], v[1], v[2], v[3], 50), message) << v[0];
  }
}

// A stereo impulse of 600000: the floor (806 samples) and the ceiling (1261)
// reach the near side with a quarter, the far side with Width of it; a width
// of 50 is half, 100 or more none, 0 or less all of it. A block shorter than
// the room's travel times carries the rest into the spill.
TEST(RecursiveReverbTest, WidthDecidesTheFarSideAndShortBlocksSpill) {
  const struct {
    float width;
    std::int64_t far;
  } cases[] = {{50, 75000}, {100, 0}, {0, 150000}, {150, 0}, {-10, 150000}};
  std::vector<double> L(1000, 0.0), R(1000, 0.0);
  L[0] = R[0] = 600000.0;
  for (const auto& c : cases) {
    const auto s = room(c.width);
    Accumulators a(kBlockFrames);
    run(*s, a, 1000, L.data(), R.data());
    EXPECT_EQ(std::tuple(a.returnL[806], a.returnR[806]), std::tuple(c.far, 150000)) << c.width;
    EXPECT_EQ(a.spillR[1261 - 1000], c.far) << c.width;
    EXPECT_EQ(a.spillL[1138 - 1000], 150000) << "left wall";
  }
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
  EXPECT_NE(whole.first[3 * part - 1], 0) << "the tail reaches the last block";
}

}  // namespace
}  // namespace sorvan
