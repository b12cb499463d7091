// The shared text readers: the tokenizer, keyword lookups, the per-channel
// field table, routing lists, channel and time fields, and every range check
// at its bounds with the warnings it gives.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "base/messages.h"
#include "textcfg/checks.h"
#include "textcfg/keywords.h"

namespace sorvan {
namespace {

TEST(KeywordsTest, TokensLinesAndTheLastValueOfAKeyword) {
  Tokenizer tok(std::string("v\t\t3\t-6.5 dB\nend\nx\0y", 20));
  EXPECT_STREQ(tok.next(Tokenizer::kWords), "v") << "runs of delimiters are one separator";
  EXPECT_STREQ(tok.next(Tokenizer::kField), "3");
  EXPECT_STREQ(tok.next(Tokenizer::kLine), "-6.5 dB");
  EXPECT_TRUE(isEndToken(tok.next(Tokenizer::kWords)));
  EXPECT_STREQ(tok.next(Tokenizer::kWords), "x");
  EXPECT_EQ(tok.next(Tokenizer::kWords), nullptr) << "a zero byte ends the text";
  EXPECT_EQ(pointToLines("\nx\t\ny"), (std::vector<std::string_view>{"", "x\t"}));
  std::string text = "x\t\t\ty  z";
  EXPECT_EQ(RemoveExtraString(text, '\t'), 2);
  RemoveSpaces(text);
  EXPECT_EQ(text, "x\tyz");
  int bits = 24;
  CodetoInt("\noutbits\t16\noutbits\t20\n", "outbits", bits);
  EXPECT_EQ(bits, 20) << "the last occurrence wins";
  CodetoInt("\nend\noutbits\t4294967297", "outbits", bits);
  EXPECT_EQ(bits, 2147483647) << "read past end, saturated";
}

TEST(KeywordsTest, FieldTableRoutingListsAndChannelAndTimeFields) {
  FieldTable table;
  int master = 0, strip = 0;
  MessageCapture cap;
  // A word starting with "e" (a mix name) does not end the scan; "end" does.
  ParamsFromBuffer("\necho\ncomp\t3\t-20\t10\t100\t4 x\ncomp\tG\t2\t-3\nend\ncomp\t4\t1\n", "comp",
                   table, 5, master, strip);
  EXPECT_EQ(
      std::vector<double>(table.begin() + 3 * kFieldStride, table.begin() + 3 * kFieldStride + 5),
      (std::vector<double>{1.0, -20.0, 10.0, 100.0, 4.0}));
  EXPECT_EQ(std::tuple(table[129 * kFieldStride + 1], table[4 * kFieldStride], master),
            std::tuple(-3.0, 0.0, 0));
  ParamsFromBuffer("\nlim\tM\t-1\nlim\t200\t-2\n", "lim", table, 2, master, strip);
  EXPECT_EQ(std::tuple(table[3 * kFieldStride], table[0], table[1], master, strip),
            std::tuple(0.0, 1.0, -1.0, 1, 1))
      << "each call clears the table";
  EXPECT_EQ(table[135 * kFieldStride + 1], -2.0) << "out of range lands in the spare row";
  RoutingMatrix matrix{};
  VcaAssignment vca{};
  RouteChannel("1,5,130", 2, matrix);
  RouteVCA("3,136,137,x", 4, vca);
  EXPECT_EQ(std::tuple(matrix[1][2], matrix[5][2], matrix[1][0], vca[3], vca[136], vca[0]),
            std::tuple(1, 1, 0, 4, 4, 4))
      << "a piece that is no number assigns slot 0";
  const auto channel = [](const char* text, bool* master = nullptr) {
    Tokenizer t(text);
    return readChannelField(t, master);
  };
  bool isMaster = false;
  EXPECT_EQ(std::tuple(channel("M\t", &isMaster), isMaster), std::tuple(0, true));
  EXPECT_EQ(std::tuple(channel("0\t", &isMaster), isMaster), std::tuple(0, false));
  EXPECT_EQ(
      std::vector<int>({channel("G\t3\t"), channel("45\t"), channel("200\t"), channel("G\t9\t")}),
      (std::vector<int>{130, 45, 135, 135}));
  EXPECT_EQ(cap.text(),
            ">>Channel number out of range or not specified!\n"
            "Channel assigned to sub 2 is out of range!\n"
            "Channel assigned to VCA 4 is out of range!\n"
            ">>Channel number out of range or not specified!\n"
            ">>Channel number out of range or not specified!\n");
  for (auto [text, count, samples] : {std::tuple{"1\t30\t500\n", 3, 4344000LL},
                                      {"1\t30\n", 2, 90LL * 48000},
                                      {"2.5\n", 1, 120000LL},
                                      {"1e308\t0\t0\n", 3, INT64_MAX}}) {
    Tokenizer t(text);
    EXPECT_EQ(clockToSamples(readTimeFields(t, count), 48000.0), samples) << text;
  }
}

// Each clamp at its bounds: value in, mode, value out (at 48 kHz).
TEST(ChecksTest, EveryRangeAtItsBoundsWithItsWarnings) {
  for (const auto& [in, mode, out] : {std::tuple{0.0, 10, 1.0},
                                      {200000, 10, 96000},
                                      {9, 11, 10},
                                      {300000, 11, 240000},
                                      {7, 99, 7},
                                      {0.5, 12, 1},
                                      {100, 12, 50},
                                      {30000, 20, 24000},
                                      {0.5, 20, 1},
                                      {15.5, 21, 15},
                                      {-20, 21, -15},
                                      {0.001, 22, 0.01},
                                      {1000, 22, 100}}) {
    double d = in;
    auto l = static_cast<std::int64_t>(in);
    mode < 12 || mode == 99 ? checkValL(l, mode, 48000) : checkValD(d, mode, 48000);
    EXPECT_EQ(mode < 12 || mode == 99 ? static_cast<double>(l) : d, out) << in << " mode " << mode;
  }
  for (auto [in, out] : {std::pair{120.0f, 100.0f}, {-1.0f, 0.0f}, {42.5f, 42.5f}}) {
    checkValF(in, 100);
    EXPECT_EQ(in, out);
  }
  MessageCapture cap;
  for (auto [in, out] : {std::pair{136, 135}, {-1, 135}, {0, 0}, {135, 135}}) {
    checkValI(in, 1);
    EXPECT_EQ(in, out);
  }
  // Result 1 means the mode was known; fader warnings count entries from 1.
  const auto fader = [](int f, int entry) {
    return [=](double& v, int m) { return CheckFader(v, m, f, entry); };
  };
  const std::tuple<std::function<int(double&, int)>, double, int, int, double> cases[] = {
      {fader(3, 0), 12.5, 0, 1, 12.02}, {fader(3, 0), -200, 0, 1, -144},
      {fader(7, 4), 450, 1, 1, 400},    {fader(7, 5), -1, 1, 1, 0},
      {fader(1, 0), 99, 2, 0, 99},      {CheckThresh, 3, 0, 1, 0},
      {CheckThresh, 150, 1, 1, 100},    {CheckSndRtn, 450, 1, 1, 400},
      {CheckSndRtn, 13, 0, 1, 12.02},   {CheckSndRtn, 5, 7, 0, 5}};
  for (const auto& [check, in, mode, known, out] : cases) {
    double v = in;
    EXPECT_EQ(std::pair(check(v, mode), v), std::pair(known, out)) << in;
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
