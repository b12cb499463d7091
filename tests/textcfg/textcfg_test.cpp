// The shared text readers at their edges. Keyword rows, channel fields and
// routing lists are seen at work in the script tests, where their values are read.
#include <gtest/gtest.h>

#include "textcfg/keywords.h"

namespace sorvan {
namespace {

TEST(KeywordsTest, TokensLinesKeywordsAndTimeFields) {
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
  // One to three fields (minutes, seconds, milliseconds), saturating.
  for (auto [fields, count, samples] : {std::tuple{"1\t30\t500\n", 3, 4344000LL},
                                        {"1\t30\n", 2, 90LL * 48000},
                                        {"2.5\n", 1, 120000LL},
                                        {"1e308\t0\t0\n", 3, INT64_MAX}}) {
    Tokenizer t(fields);
    EXPECT_EQ(clockToSamples(readTimeFields(t, count), 48000.0), samples) << fields;
  }
}

}  // namespace
}  // namespace sorvan
