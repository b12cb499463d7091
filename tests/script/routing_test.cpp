#include "script/routing.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/messages.h"

namespace sorvan {
namespace {

Routing route(std::string_view fader, ChannelActive& active, int tracks = 8) {
  active.fill(1);
  Routing routing;
  readRouting(fader, tracks, active, routing);
  return routing;
}

TEST(RoutingTest, UnlistedChannelsFeedTheMainBusAndListsReplaceIt) {
  ChannelActive active;
  Routing plain = route("\nend\n", active);
  for (int c = 0; c <= kMaxTracks; ++c)
    for (int b = 0; b < kBusCount; ++b) ASSERT_EQ(plain.matrix[c][b], b == 0) << c << " " << b;
  EXPECT_EQ(plain.busActive, (std::array<int, kBusCount>{1, 0, 0, 0, 0, 0, 0, 0, 0}));
  // 1 is listed under bus 0 as well; 2 reaches the master only through submix
  // 3; the later list for bus 3 replaces the earlier; entries after end are not read.
  Routing r = route("\nsub\t3\t1,2\nsub\t0\t1\nsub\t3\t1,2,4 trailing\nend\nsub\t5\t7\n", active);
  EXPECT_EQ(std::vector<int>({r.matrix[1][0], r.matrix[1][3], r.matrix[2][0], r.matrix[2][3],
                              r.matrix[4][3], r.matrix[7][0], r.busActive[3], r.busActive[5]}),
            (std::vector<int>{1, 1, 0, 1, 1, 1, 1, 0}));
}

TEST(RoutingTest, MutedAndUnsoloedSubmixesSwitchOffTheirOnlyFeeders) {
  ChannelActive active;
  Routing muted = route("\nsub\t3\t1,2\nsub\t0\t2\nsub\t2\t4,9\nsubmu\t3\nsubmu\t2\n", active, 3);
  EXPECT_EQ(std::tuple(muted.busActive[2], muted.busActive[3]), std::tuple(0, 0));
  // 1 fed only the muted submix; 2 is still on bus 0; 9 lies beyond the tracks.
  EXPECT_EQ(std::vector<int>(active.begin() + 1, active.begin() + 10),
            (std::vector<int>{0, 1, 1, 1, 1, 1, 1, 1, 1}));
  Routing soloed =
      route("\nsub\t1\t5\nsub\t2\t6\nsub\t3\t7\nsubso\t2\nsubmu\t3\nsubso\t3\n", active);
  // Bus 1 is not soloed; a soloed submix that was muted stays muted.
  EXPECT_EQ(std::vector<int>(soloed.busActive.begin(), soloed.busActive.begin() + 4),
            (std::vector<int>{1, 0, 1, 0}));
  EXPECT_EQ(std::vector<int>(active.begin() + 5, active.begin() + 9),
            (std::vector<int>{0, 1, 0, 1}))
      << "bus 0 channels keep playing";
  RoutingMatrix matrix{};
  std::array<int, kBusCount> buses{};
  active.fill(1);
  CheckFeederMutes(buses, matrix, active, kBusCount, 500);
  EXPECT_EQ(active[127], 0) << "the slot count is bounded by the table";
}

TEST(RoutingTest, OutOfRangeNumbersAreReportedAndSkipped) {
  ChannelActive active;
  MessageCapture cap;
  Routing r =
      route("\nsub\t9\t1,2\nsub\t1\t3,128\nVCA:\t0\t1\nVCA:\t9\t1\nVCA:\t2\t4,137\n", active);
  EXPECT_EQ(cap.text(),
            "Submix number out of range!\n"
            "Channel assigned to sub 1 is out of range!\n"
            "VCA fader out of range!\n"
            "VCA fader out of range!\n"
            "Channel assigned to VCA 2 is out of range!\n");
  EXPECT_EQ(std::tuple(r.matrix[1][0], r.matrix[3][1], r.vcaAssignment[1], r.vcaAssignment[4]),
            std::tuple(1, 1, 0, 2));
}

TEST(RoutingTest, VcaListsUseChannelIndexesAndTheHighestVcaWins) {
  ChannelActive active;
  EXPECT_FALSE(route("\nend\n", active).anyVcaActive);
  Routing r = route("\nVCA:\t5\t4\nVCA:\t2\t4,0,128\nVCA:\t1\t136\n", active);
  EXPECT_TRUE(r.anyVcaActive);
  EXPECT_EQ(r.vcaActive, (std::array<int, kVcaSlots>{0, 1, 1, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(std::tuple(r.vcaAssignment[4], r.vcaAssignment[0], r.vcaAssignment[128],
                       r.vcaAssignment[136]),
            std::tuple(5, 2, 2, 1));
}

}  // namespace
}  // namespace sorvan
