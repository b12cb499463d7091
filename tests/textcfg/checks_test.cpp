#include "textcfg/checks.h"

#include <gtest/gtest.h>

#include "base/messages.h"

namespace sorvan {
namespace {

// Each clamp at both of its bounds: value in, mode, value out (at 48 kHz).
TEST(ChecksTest, EveryRangeAtBothBounds) {
  const struct {
    double in;
    int mode;
    double out;
  } cases[] = {{0, 10, 1},     {200000, 10, 96000}, {9, 11, 10},     {300000, 11, 240000},
               {7, 99, 7},     {0.5, 12, 1},        {100, 12, 50},   {30000, 20, 24000},
               {0.5, 20, 1},   {15.5, 21, 15},      {-20, 21, -15},  {0.001, 22, 0.01},
               {1000, 22, 100}};
  for (const auto& c : cases) {
    if (c.mode == 10 || c.mode == 11 || c.mode == 99) {
      auto v = static_cast<std::int64_t>(c.in);
      checkValL(v, c.mode, 48000);
      EXPECT_EQ(v, static_cast<std::int64_t>(c.out)) << c.in << " mode " << c.mode;
    } else {
      double v = c.in;
      checkValD(v, c.mode, 48000);
      EXPECT_EQ(v, c.out) << c.in << " mode " << c.mode;
    }
  }
  for (auto [in, out] : {std::pair{120.0f, 100.0f}, {-1.0f, 0.0f}, {42.5f, 42.5f}}) {
    checkValF(in, 100);
    EXPECT_EQ(in, out);
  }
}

TEST(ChecksTest, ChannelAndLevelChecksWarnWhereTheyClamp) {
  MessageCapture cap;
  for (auto [in, out] : {std::pair{136, 135}, {-1, 135}, {0, 0}, {135, 135}}) {
    checkValI(in, 1);
    EXPECT_EQ(in, out);
  }
  // Result 1 means the mode was known; fader warnings count entries from 1.
  const struct {
    int (*check)(double&, int);
    double in;
    int mode, known;
    double out;
  } cases[] = {
      {[](double& v, int m) { return CheckFader(v, m, 3, 0); }, 12.5, 0, 1, 12.02},
      {[](double& v, int m) { return CheckFader(v, m, 3, 0); }, -200, 0, 1, -144},
      {[](double& v, int m) { return CheckFader(v, m, 7, 4); }, 450, 1, 1, 400},
      {[](double& v, int m) { return CheckFader(v, m, 7, 5); }, -1, 1, 1, 0},
      {[](double& v, int m) { return CheckFader(v, m, 1, 0); }, 99, 2, 0, 99},
      {CheckThresh, 3, 0, 1, 0},
      {CheckThresh, 150, 1, 1, 100},
      {CheckSndRtn, 450, 1, 1, 400},
      {CheckSndRtn, 13, 0, 1, 12.02},
      {CheckSndRtn, 5, 7, 0, 5},
  };
  for (const auto& c : cases) {
    double v = c.in;
    EXPECT_EQ(c.check(v, c.mode), c.known) << c.in;
    EXPECT_EQ(v, c.out) << c.in;
  }
  EXPECT_EQ(cap.text(),
            ">>Channel number out of range or not specified!\n"
            ">>Channel number out of range or not specified!\n"
            ">> Warning: fader 3 (entry 1) set above 12.02 dB\n"
            ">> Warning: fader 7 (entry 5) set above 400 percent\n"
            ">> Warning: fader 7 (entry 6) set below 0 percent\n");
}

}  // namespace
}  // namespace sorvan
