#include "textcfg/keywords.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "base/messages.h"

namespace sorvan {
namespace {

TEST(TokenizerTest, RunsOfDelimitersAreOneSeparatorAndAZeroByteEndsTheText) {
  Tokenizer tok("v\t\t3\t-6.5 dB\nend\n");
  EXPECT_STREQ(tok.next(Tokenizer::kWords), "v");
  EXPECT_STREQ(tok.next(Tokenizer::kField), "3");
  EXPECT_STREQ(tok.next(Tokenizer::kLine), "-6.5 dB");
  EXPECT_TRUE(isEndToken(tok.next(Tokenizer::kWords)));
  EXPECT_EQ(tok.next(Tokenizer::kWords), nullptr);
  EXPECT_EQ(tok.next(Tokenizer::kWords), nullptr);

  Tokenizer zero(std::string("a\tb\0c\td", 7));
  EXPECT_STREQ(zero.next(Tokenizer::kWords), "a");
  EXPECT_STREQ(zero.next(Tokenizer::kWords), "b");
  EXPECT_EQ(zero.next(Tokenizer::kWords), nullptr);
}

TEST(KeywordsTest, LineAndSpaceHelpers) {
  EXPECT_EQ(pointToLines("one\ntwo").size(), 1u) << "only ended lines count";
  EXPECT_EQ(pointToLines("").size(), 0u);
  EXPECT_EQ(pointToLines("\nx\t\n"), (std::vector<std::string_view>{"", "x\t"}));

  for (auto [in, c, removed, out] : {std::tuple{"a   b  c d", ' ', 3, "a b c d"},
                                     {"a b", ' ', 0, "a b"},
                                     {"x\t\t\ty", '\t', 2, "x\ty"}}) {
    std::string text = in;
    EXPECT_EQ(RemoveExtraString(text, c), removed) << in;
    EXPECT_EQ(text, out);
  }
  for (auto [in, out] : {std::pair{"v 3\t-6 dB\n", "v3\t-6dB\n"}, {"   ", "   "}}) {
    std::string text = in;
    RemoveSpaces(text);
    EXPECT_EQ(text, out) << "spaces between pieces go, tabs and blank lines stay";
  }
}

TEST(KeywordsTest, CodetoIntLastWinsAndReadsPastEnd) {
  int bits = 24;
  CodetoInt("\noutbits\t16\n", "outbits", bits);
  EXPECT_EQ(bits, 16);
  CodetoInt("\noutbits\t16\noutbits\t24\n", "outbits", bits);
  EXPECT_EQ(bits, 24);
  CodetoInt("\nend\noutbits\t16\n", "outbits", bits);
  EXPECT_EQ(bits, 16);
  CodetoInt("\nx\t1\noutbits", "outbits", bits);
  EXPECT_EQ(bits, 16);
  CodetoInt("outbits\t4294967297", "outbits", bits);
  EXPECT_EQ(bits, 2147483647);
}

TEST(KeywordsTest, ParamsFromBufferRowsMasterSubmixRangeAndEnd) {
  FieldTable table;
  int master = 0, strip = 0;
  MessageCapture cap;
  // A word starting with "e" (here a mix name) no longer ends the scan; "end" does.
  ParamsFromBuffer("\necho\ncomp\t3\t-20\t10\t100\t4 trailing\ncomp\tG\t2\t-3\nend\ncomp\t4\t1\n",
                   "comp", table, 5, master, strip);
  for (int f = 0; f < 5; ++f)
    EXPECT_EQ(table[3 * kFieldStride + f], (std::array{1.0, -20.0, 10.0, 100.0, 4.0})[f]) << f;
  EXPECT_EQ(table[129 * kFieldStride], 1.0);
  EXPECT_EQ(table[129 * kFieldStride + 1], -3.0);
  EXPECT_EQ(table[4 * kFieldStride], 0.0) << "entries after end are not read";
  EXPECT_EQ(master, 0);
  EXPECT_EQ(cap.text(), "");

  ParamsFromBuffer("\nlim\tM\t-1\nlim\t200\t-2\n", "lim", table, 2, master, strip);
  EXPECT_EQ(table[3 * kFieldStride], 0.0) << "each call clears the table";
  EXPECT_EQ(table[0], 1.0);
  EXPECT_EQ(table[1], -1.0);
  EXPECT_EQ(master, 1);
  EXPECT_EQ(strip, 1);
  EXPECT_EQ(table[135 * kFieldStride + 1], -2.0);
  EXPECT_EQ(cap.text(), ">>Channel number out of range or not specified!\n");
}

TEST(KeywordsTest, RoutingListsReportTheBusOrVcaNumber) {
  RoutingMatrix matrix{};
  MessageCapture cap;
  RouteChannel("1,5,130", 2, matrix);
  EXPECT_EQ(matrix[1][2], 1);
  EXPECT_EQ(matrix[5][2], 1);
  EXPECT_EQ(matrix[1][0], 0);
  EXPECT_EQ(cap.text(), "Channel assigned to sub 2 is out of range!\n");

  cap.clear();
  VcaAssignment vca{};
  RouteVCA("3,136,137,-1", 4, vca);
  EXPECT_EQ(vca[3], 4);
  EXPECT_EQ(vca[136], 4);
  EXPECT_EQ(
      cap.text(),
      "Channel assigned to VCA 4 is out of range!\nChannel assigned to VCA 4 is out of range!\n");
  RouteVCA("3,x", 5, vca);
  EXPECT_EQ(vca[3], 5);
  EXPECT_EQ(vca[0], 5) << "a piece that is not a number assigns slot 0";
}

TEST(KeywordsTest, ChannelFieldsAndTimeFields) {
  MessageCapture cap;
  auto read = [](const char* text, bool* master = nullptr) {
    Tokenizer tok(text);
    return readChannelField(tok, master);
  };
  bool master = false;
  EXPECT_EQ(read("M\t", &master), 0);
  EXPECT_TRUE(master);
  EXPECT_EQ(read("0\t", &master), 0);
  EXPECT_FALSE(master);
  EXPECT_EQ(read("G\t3\t"), 130);
  EXPECT_EQ(read("45\t"), 45);
  EXPECT_EQ(cap.text(), "");
  // Out of range, submix 9 included, lands in the spare row 135.
  for (const char* bad : {"200\t", "99999999999\t", "-5\t", "G\t9\t"})
    EXPECT_EQ(read(bad), 135) << bad;

  for (auto [text, count, rate, samples] : {std::tuple{"1\t30\t500\n", 3, 48000.0, 4344000LL},
                                            {"1\t30\n", 2, 48000.0, 90LL * 48000},
                                            {"2.5\n", 1, 44100.0, 110250LL},
                                            {"1e308\t0\t0\n", 3, 48000.0, INT64_MAX}}) {
    Tokenizer tok(text);
    EXPECT_EQ(clockToSamples(readTimeFields(tok, count), rate), samples) << text;
  }
}

}  // namespace
}  // namespace sorvan
