#include "textcfg/keywords.h"

#include <gtest/gtest.h>

#include "base/messages.h"

namespace sorvan {
namespace {

TEST(TokenizerTest, RunsOfDelimitersAreOneSeparatorAndLinesStayReadable) {
  Tokenizer tok("v\t\t3\t-6.5 dB\nend\n");
  EXPECT_STREQ(tok.next(Tokenizer::kWords), "v");
  EXPECT_STREQ(tok.next(Tokenizer::kField), "3");
  EXPECT_STREQ(tok.next(Tokenizer::kLine), "-6.5 dB");
  EXPECT_TRUE(isEndToken(tok.next(Tokenizer::kWords)));
  EXPECT_EQ(tok.next(Tokenizer::kWords), nullptr);
  EXPECT_EQ(tok.next(Tokenizer::kWords), nullptr);
}

TEST(TokenizerTest, ZeroByteEndsTheText) {
  const std::string text("a\tb\0c\td", 7);
  Tokenizer tok(text);
  EXPECT_STREQ(tok.next(Tokenizer::kWords), "a");
  EXPECT_STREQ(tok.next(Tokenizer::kWords), "b");
  EXPECT_EQ(tok.next(Tokenizer::kWords), nullptr);
}

TEST(KeywordsTest, PointToLinesCountsOnlyEndedLines) {
  EXPECT_EQ(pointToLines("one\ntwo\n").size(), 2u);
  EXPECT_EQ(pointToLines("one\ntwo").size(), 1u);
  EXPECT_EQ(pointToLines("").size(), 0u);
  const auto lines = pointToLines("\nx\t\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "x\t");
}

TEST(KeywordsTest, RemoveExtraStringCollapsesRuns) {
  std::string text = "a   b  c d";
  EXPECT_EQ(RemoveExtraString(text, ' '), 3);
  EXPECT_EQ(text, "a b c d");
  std::string single = "a b";
  EXPECT_EQ(RemoveExtraString(single, ' '), 0);
  EXPECT_EQ(single, "a b");
  std::string tabs = "x\t\t\ty";
  EXPECT_EQ(RemoveExtraString(tabs, '\t'), 2);
  EXPECT_EQ(tabs, "x\ty");
}

TEST(KeywordsTest, RemoveSpacesJoinsPiecesAndKeepsTabs) {
  std::string text = "v 3\t-6 dB\n";
  RemoveSpaces(text);
  EXPECT_EQ(text, "v3\t-6dB\n");
  std::string blank = "   ";
  RemoveSpaces(blank);
  EXPECT_EQ(blank, "   ");
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

TEST(KeywordsTest, ParamsFromBufferRowsMasterSubmixAndRange) {
  FieldTable table;
  int master = 0, strip = 0;
  MessageCapture cap;
  ParamsFromBuffer("\nlim\t3\t-6.5\nlim\tG\t2\t-3\n", "lim", table, 2, master, strip);
  EXPECT_EQ(table[3 * kFieldStride], 1.0);
  EXPECT_EQ(table[3 * kFieldStride + 1], -6.5);
  EXPECT_EQ(table[129 * kFieldStride], 1.0);
  EXPECT_EQ(table[129 * kFieldStride + 1], -3.0);
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

TEST(KeywordsTest, ParamsFromBufferReadsAllFieldsAndStopsOnlyAtEnd) {
  FieldTable table;
  int master = 0, strip = 0;
  // A word starting with "e" (here a mix name) no longer ends the scan.
  ParamsFromBuffer("\necho\ncomp\t2\t-20\t10\t100\t4 trailing\nend\ncomp\t3\t1\t1\t1\t1\n", "comp",
                   table, 5, master, strip);
  EXPECT_EQ(table[2 * kFieldStride + 0], 1.0);
  EXPECT_EQ(table[2 * kFieldStride + 1], -20.0);
  EXPECT_EQ(table[2 * kFieldStride + 2], 10.0);
  EXPECT_EQ(table[2 * kFieldStride + 3], 100.0);
  EXPECT_EQ(table[2 * kFieldStride + 4], 4.0);
  EXPECT_EQ(table[3 * kFieldStride], 0.0) << "entries after end are not read";
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
  EXPECT_EQ(cap.text(),
            "Channel assigned to VCA 4 is out of range!\nChannel assigned to VCA 4 is out of range!\n");
  RouteVCA("3,x", 5, vca);
  EXPECT_EQ(vca[3], 5);
  EXPECT_EQ(vca[0], 5) << "a piece that is not a number assigns slot 0";
}

TEST(KeywordsTest, ChannelFieldForms) {
  MessageCapture cap;
  auto read = [](const char* text, bool* master = nullptr) {
    Tokenizer tok(text);
    return readChannelField(tok, master);
  };
  bool master = false;
  EXPECT_EQ(read("G\t3\t"), 130);
  EXPECT_EQ(read("M\t", &master), 0);
  EXPECT_TRUE(master);
  EXPECT_EQ(read("0\t", &master), 0);
  EXPECT_FALSE(master);
  EXPECT_EQ(read("45\t"), 45);
  EXPECT_EQ(cap.text(), "");
  EXPECT_EQ(read("200\t"), 135);
  EXPECT_EQ(read("99999999999\t"), 135);
  EXPECT_EQ(read("-5\t"), 135);
  EXPECT_EQ(read("G\t9\t"), 135) << "submix 9 does not exist";
}

TEST(KeywordsTest, TimeFieldsByCount) {
  Tokenizer three("1\t30\t500\n");
  EXPECT_EQ(clockToSamples(readTimeFields(three, 3), 48000.0), 4344000);
  Tokenizer two("1\t30\n");
  EXPECT_EQ(clockToSamples(readTimeFields(two, 2), 48000.0), 90 * 48000);
  Tokenizer one("2.5\n");
  EXPECT_EQ(clockToSamples(readTimeFields(one, 1), 44100.0), 110250);
  Tokenizer huge("1e308\t0\t0\n");
  EXPECT_EQ(clockToSamples(readTimeFields(huge, 3), 48000.0), INT64_MAX);
}

}  // namespace
}  // namespace sorvan
