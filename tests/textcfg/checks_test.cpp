#include "textcfg/checks.h"

#include <gtest/gtest.h>

#include "base/messages.h"

namespace sorvan {
namespace {

// Every range check at, inside and beyond its bounds: value in, mode, rate, value out.
TEST(ChecksTest, LengthsAndRealRanges) {
  const struct {
    double in;
    int mode;
    double rate, out;
  } cases[] = {
      {0, 10, 44100, 1},         {100000, 10, 44100, 88200},  {88200, 10, 44100, 88200},
      {5, 11, 48000, 10},        {300000, 11, 48000, 240000}, {7, 99, 48000, 7},
      {30000, 20, 44100, 22050}, {0.5, 20, 44100, 1},         {300, 20, 1, 1},
      {15, 21, 48000, 15},       {15.5, 21, 48000, 15},       {-20, 21, 48000, -15},
      {100, 12, 48000, 50},      {0.5, 12, 48000, 1},         {0.001, 22, 48000, 0.01},
      {1000, 22, 48000, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in << " mode " << c.mode);
    if (c.mode == 10 || c.mode == 11 || c.mode == 99) {
      auto v = static_cast<std::int64_t>(c.in);
      checkValL(v, c.mode, c.rate);
      EXPECT_EQ(v, static_cast<std::int64_t>(c.out));
    } else {
      double v = c.in;
      checkValD(v, c.mode, c.rate);
      EXPECT_EQ(v, c.out);
    }
  }
  for (auto [in, out] : {std::pair{120.0f, 100.0f}, {-1.0f, 0.0f}, {42.5f, 42.5f}}) {
    checkValF(in, 100);
    EXPECT_EQ(in, out);
  }
}

TEST(ChecksTest, ChannelIndex) {
  MessageCapture cap;
  for (auto [in, out] : {std::pair{136, 135}, {-1, 135}, {0, 0}, {135, 135}}) {
    checkValI(in, 1);
    EXPECT_EQ(in, out);
  }
  EXPECT_EQ(cap.text(),
            ">>Channel number out of range or not specified!\n"
            ">>Channel number out of range or not specified!\n");
}

TEST(ChecksTest, LevelChecksAndTheirWarnings) {
  MessageCapture cap;
  // CheckFader warns, naming fader and entry (counted from 1); the threshold
  // and send checks are silent. Result 1 means the value was changed.
  const struct {
    int (*check)(double&, int);
    double in;
    int mode, changed;
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
    EXPECT_EQ(c.check(v, c.mode), c.changed) << c.in;
    EXPECT_EQ(v, c.out) << c.in;
  }
  EXPECT_EQ(cap.text(),
            ">> Warning: fader 3 (entry 1) set above 12.02 dB\n"
            ">> Warning: fader 7 (entry 5) set above 400 percent\n"
            ">> Warning: fader 7 (entry 6) set below 0 percent\n");
}

}  // namespace
}  // namespace sorvan
