#include "textcfg/checks.h"

#include <gtest/gtest.h>

#include "base/messages.h"

namespace sorvan {
namespace {

TEST(ChecksTest, AttackAndReleaseLengths) {
  std::int64_t v = 0;
  checkValL(v, 10, 44100.0);
  EXPECT_EQ(v, 1);
  v = 100000;
  checkValL(v, 10, 44100.0);
  EXPECT_EQ(v, 88200);
  v = 88200;
  checkValL(v, 10, 44100.0);
  EXPECT_EQ(v, 88200);
  v = 5;
  checkValL(v, 11, 48000.0);
  EXPECT_EQ(v, 10);
  v = 300000;
  checkValL(v, 11, 48000.0);
  EXPECT_EQ(v, 240000);
  v = 7;
  checkValL(v, 99, 48000.0);
  EXPECT_EQ(v, 7);
}

TEST(ChecksTest, RealRanges) {
  double f = 30000;
  checkValD(f, 20, 44100.0);
  EXPECT_EQ(f, 22050.0);
  f = 0.5;
  checkValD(f, 20, 44100.0);
  EXPECT_EQ(f, 1.0);
  f = 300;
  checkValD(f, 20, 1.0);
  EXPECT_EQ(f, 1.0);
  double g = 15.0;
  checkValD(g, 21, 48000.0);
  EXPECT_EQ(g, 15.0);
  g = 15.5;
  checkValD(g, 21, 48000.0);
  EXPECT_EQ(g, 15.0);
  g = -20;
  checkValD(g, 21, 48000.0);
  EXPECT_EQ(g, -15.0);
  double r = 100;
  checkValD(r, 12, 48000.0);
  EXPECT_EQ(r, 50.0);
  r = 0.5;
  checkValD(r, 12, 48000.0);
  EXPECT_EQ(r, 1.0);
  double q = 0.001;
  checkValD(q, 22, 48000.0);
  EXPECT_EQ(q, 0.01);
  q = 1000;
  checkValD(q, 22, 48000.0);
  EXPECT_EQ(q, 100.0);
  float p = 120.0f;
  checkValF(p, 100);
  EXPECT_EQ(p, 100.0f);
  p = -1.0f;
  checkValF(p, 100);
  EXPECT_EQ(p, 0.0f);
}

TEST(ChecksTest, ChannelIndex) {
  MessageCapture cap;
  int c = 136;
  checkValI(c, 1);
  EXPECT_EQ(c, 135);
  c = -1;
  checkValI(c, 1);
  EXPECT_EQ(c, 135);
  c = 0;
  checkValI(c, 1);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(cap.text(),
            ">>Channel number out of range or not specified!\n"
            ">>Channel number out of range or not specified!\n");
}

TEST(ChecksTest, FaderWarningsNameFaderAndEntry) {
  MessageCapture cap;
  double v = 12.5;
  EXPECT_EQ(CheckFader(v, 0, 3, 0), 1);
  EXPECT_EQ(v, 12.02);
  v = -200;
  CheckFader(v, 0, 3, 0);
  EXPECT_EQ(v, -144.0);
  v = 450;
  CheckFader(v, 1, 7, 4);
  EXPECT_EQ(v, 400.0);
  v = -1;
  CheckFader(v, 1, 7, 5);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(cap.text(),
            ">> Warning: fader 3 (entry 1) set above 12.02 dB\n"
            ">> Warning: fader 7 (entry 5) set above 400 percent\n"
            ">> Warning: fader 7 (entry 6) set below 0 percent\n");
  v = 99;
  EXPECT_EQ(CheckFader(v, 2, 1, 0), 0);
  EXPECT_EQ(v, 99.0);
}

TEST(ChecksTest, ThresholdAndSendLevelsAreSilent) {
  MessageCapture cap;
  double t = 3.0;
  EXPECT_EQ(CheckThresh(t, 0), 1);
  EXPECT_EQ(t, 0.0);
  t = 150;
  CheckThresh(t, 1);
  EXPECT_EQ(t, 100.0);
  double s = 450;
  EXPECT_EQ(CheckSndRtn(s, 1), 1);
  EXPECT_EQ(s, 400.0);
  s = 13;
  CheckSndRtn(s, 0);
  EXPECT_EQ(s, 12.02);
  s = 5;
  EXPECT_EQ(CheckSndRtn(s, 7), 0);
  EXPECT_EQ(s, 5.0);
  EXPECT_EQ(cap.text(), "");
}

}  // namespace
}  // namespace sorvan
