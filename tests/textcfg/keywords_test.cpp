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
  Tokenizer zero(std::string("a\tb\0c\td", 7));
  EXPECT_STREQ(zero.next(Tokenizer::kWords), "a");
  EXPECT_STREQ(zero.next(Tokenizer::kWords), "b");
  EXPECT_EQ(zero.next(Tokenizer::kWords), nullptr);
}

TEST(KeywordsTest, LinesSpacesAndLastValueOfAKeyword) {
  EXPECT_EQ(pointToLines("\nx\t\ny"), (std::vector<std::string_view>{"", "x\t"}));
  std::string text = "x\t\t\ty  z";
  EXPECT_EQ(RemoveExtraString(text, '\t'), 2);
  EXPECT_EQ(text, "x\ty  z");
  RemoveSpaces(text);
  EXPECT_EQ(text, "x\tyz");
  int bits = 24;
  CodetoInt("\noutbits\t16\noutbits\t20\n", "outbits", bits);
  EXPECT_EQ(bits, 20) << "the last occurrence wins";
  CodetoInt("\nend\noutbits\t4294967297", "outbits", bits);
  EXPECT_EQ(bits, 2147483647) << "read past end, saturated";
}

TEST(KeywordsTest, ParamsFromBufferRowsMasterAndEnd) {
  FieldTable table;
  int master = 0, strip = 0;
  MessageCapture cap;
  // A word starting with "e" (a mix name) does not end the scan; "end" does.
  ParamsFromBuffer("\necho\ncomp\t3\t-20\t10\t100\t4 trailing\ncomp\tG\t2\t-3\nend\ncomp\t4\t1\n",
                   "comp", table, 5, master, strip);
  for (int f = 0; f < 5; ++f)
    EXPECT_EQ(table[3 * kFieldStride + f], (std::array{1.0, -20.0, 10.0, 100.0, 4.0})[f]) << f;
  EXPECT_EQ(table[129 * kFieldStride + 1], -3.0);
  EXPECT_EQ(table[4 * kFieldStride], 0.0);
  EXPECT_EQ(master, 0);
  ParamsFromBuffer("\nlim\tM\t-1\nlim\t200\t-2\n", "lim", table, 2, master, strip);
  EXPECT_EQ(table[3 * kFieldStride], 0.0) << "each call clears the table";
  EXPECT_EQ(std::tuple(table[0], table[1], master, strip), std::tuple(1.0, -1.0, 1, 1));
  EXPECT_EQ(table[135 * kFieldStride + 1], -2.0) << "out of range lands in the spare row";
  EXPECT_EQ(cap.text(), ">>Channel number out of range or not specified!\n");
}

TEST(KeywordsTest, RoutingListsReportTheBusOrVcaNumber) {
  RoutingMatrix matrix{};
  VcaAssignment vca{};
  MessageCapture cap;
  RouteChannel("1,5,130", 2, matrix);
  EXPECT_EQ(std::tuple(matrix[1][2], matrix[5][2], matrix[1][0]), std::tuple(1, 1, 0));
  RouteVCA("3,136,137,x", 4, vca);
  EXPECT_EQ(std::tuple(vca[3], vca[136], vca[0]), std::tuple(4, 4, 4)) << "no number: slot 0";
  EXPECT_EQ(cap.text(),
            "Channel assigned to sub 2 is out of range!\n"
            "Channel assigned to VCA 4 is out of range!\n");
}

TEST(KeywordsTest, ChannelFieldsAndTimeFields) {
  auto read = [](const char* text, bool* master = nullptr) {
    Tokenizer tok(text);
    return readChannelField(tok, master);
  };
  MessageCapture quiet;
  bool master = false;
  EXPECT_EQ(read("M\t", &master), 0);
  EXPECT_TRUE(master);
  EXPECT_EQ(read("0\t", &master), 0);
  EXPECT_FALSE(master);
  EXPECT_EQ(read("G\t3\t"), 130);
  EXPECT_EQ(read("45\t"), 45);
  for (const char* bad : {"200\t", "-5\t", "G\t9\t"}) EXPECT_EQ(read(bad), 135) << bad;
  for (auto [text, count, samples] : {std::tuple{"1\t30\t500\n", 3, 4344000LL},
                                      {"1\t30\n", 2, 90LL * 48000},
                                      {"2.5\n", 1, 120000LL},
                                      {"1e308\t0\t0\n", 3, INT64_MAX}}) {
    Tokenizer tok(text);
    EXPECT_EQ(clockToSamples(readTimeFields(tok, count), 48000.0), samples) << text;
  }
}

}  // namespace
}  // namespace sorvan
