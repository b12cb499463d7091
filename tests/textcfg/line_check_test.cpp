// The line-by-line reading: field counts per keyword, which line a short
// entry takes its missing values from, and near misses of keywords.
#include "textcfg/line_check.h"

#include <gtest/gtest.h>

#include <string>

namespace sorvan {
namespace {

// What the reading says about the first line of `text` (fader keywords,
// `timeFields` time fields); line numbers count from 1 at that line.
std::string entryReport(const std::string& text, int timeFields = 3) {
  const SectionLines lines(text);
  const auto forms = faderForms(timeFields, false);
  const auto fields = splitFields(lines[0], "\t");
  if (fields[0][0] == 'o' && !findForm(forms, fields[0]))
    return checkOrderEntry(splitFields(lines[0], "\t:"), forms);
  return checkEntry(lines, 0, *findForm(forms, fields[0]), forms, 1);
}

TEST(LineCheckTest, EveryFormNamesEachOfItsValues) {
  for (const auto& forms : {faderForms(3, false), faderForms(1, true), prefsForms(2, 1)}) {
    for (const KeywordForm& f : forms) {
      const std::size_t names =
          f.values.empty() ? 0 : std::count(f.values.begin(), f.values.end(), ',') + 1;
      EXPECT_EQ(names, f.kinds.size()) << f.keyword;
    }
  }
  EXPECT_EQ(findForm(faderForms(2, false), "t")->kinds.size(), 2u);
  EXPECT_EQ(findForm(prefsForms(1, 3), "start")->kinds.size(), 1u);
  EXPECT_EQ(findForm(prefsForms(1, 3), "xin")->kinds.size(), 3u);
}

TEST(LineCheckTest, FieldCountsAndWhatAShortEntryTakes) {
  const struct {
    const char* text;
    const char* report;  // "" when the entry is good
    int timeFields = 3;
  } cases[] = {
      {"v\t1\t-6\n", ""},
      {"v\tG\t2\t-6\n", ""},
      {"v\tM\t0\n", ""},
      {"comp\tG\t1\t-20\t2\t60\t3\n", ""},
      {"t\t5\n", "", 1},
      {"order\tcomp\tG\t2\t1\n", ""},
      // A value short: the reader runs on into the next line, and in the
      // volume pass the entry there is lost with it.
      {"t\t0\t10\nv\t1\t-10\n",
       "t lacks its milliseconds (it takes minutes, seconds, milliseconds); the reader takes it "
       "from line 2 (\"v 1 -10\"), so that entry is lost; add the missing value"},
      {"comp\t1\t-20\t4\t100\n\nfxg\t1\t3\n",
       "comp lacks its ratio (it takes channel, threshold, attack, release, ratio); the reader "
       "takes it from line 3 (\"fxg 1 3\"); add the missing value"},
      {"v\tG\n",
       "v lacks its submix number and level (it takes channel, level); the file ends first, so "
       "they read as 0; add the missing values"},
      {"submu\t2\t3\n", "submu takes submix; \"3\" after them is not read; remove it"},
      {"v\t1\t0\tloud\n", "v takes channel, level; \"loud\" after them is not read; remove it"},
      {"v\t1\tloud\n", "\"loud\" is not a number, so the level reads as 0"},
      {"sub\t1\t1-4,6\n",
       "\"1-4\" in the channel list reads as 1; list single channel numbers separated by commas"},
      {"order\tlim\tG\t1\n",
       "order entry lacks its position (it takes processor, channel, position, all on one line), "
       "so the line does nothing; add it"},
  };
  for (const auto& c : cases) EXPECT_EQ(entryReport(c.text, c.timeFields), c.report) << c.text;
  EXPECT_NE(entryReport("order\tcmop\t1\t1\n").find("(did you mean comp?)"), std::string::npos);
}

TEST(LineCheckTest, NearMissesWithinTwoEdits) {
  EXPECT_EQ(editDistance("cmop", "comp"), 1);  // a swap of neighbours is one edit
  EXPECT_EQ(editDistance("hshelve", "hshelf"), 2);
  EXPECT_EQ(editDistance(std::string(1 << 20, 'x'), "lim"), 3);
  const std::string longWord(100, 'x');  // rows too long for the stack
  EXPECT_EQ(editDistance(longWord + "ab", longWord + "ba"), 1);
  EXPECT_EQ(editDistance(longWord + "abc", longWord + "xyz"), 3);
  const auto words = keywordsOf(faderForms(3, false));
  EXPECT_EQ(nearestWord("hshelve", words), "hshelf");
  EXPECT_EQ(nearestWord("Comp", words), "comp");
  EXPECT_EQ(nearestWord("VCA", words), "VCA:");
  EXPECT_EQ(nearestWord("x", words), "") << "one letter is never corrected into another keyword";
  EXPECT_EQ(nearestWord("xyzzy", words), "");
}

}  // namespace
}  // namespace sorvan
