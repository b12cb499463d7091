// A line-by-line reading of a section that finds what the keyword readers
// pass over without a word: words that are no keyword, entries with values
// missing or left over, and values that are no numbers. It only reports; the
// keyword readers read the text exactly as before.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sorvan {

// The lines of a section as the readers see them: split at newlines, the last
// line counted even without a newline, the text ending at a zero byte.
class SectionLines {
 public:
  explicit SectionLines(std::string_view text);
  std::size_t size() const { return starts_.size(); }
  std::string_view operator[](std::size_t i) const;
  std::size_t start(std::size_t i) const { return starts_[i]; }
  std::size_t end(std::size_t i) const { return start(i) + (*this)[i].size(); }
  // The line that holds the character at `offset`.
  std::size_t indexOf(std::size_t offset) const;
  std::string_view text() const { return text_; }

 private:
  std::string_view text_;
  std::vector<std::size_t> starts_;
};

// The non-empty pieces of `line` between any of `separators`.
std::vector<std::string_view> splitFields(std::string_view line, std::string_view separators);

// Edits (insert, delete, replace, swap two neighbours) that turn a into b;
// anything above `limit` is reported as limit + 1.
int editDistance(std::string_view a, std::string_view b, int limit = 2);

// The candidate within two edits of `word` that is closest to it, or an empty
// view. Fewer edits than the word has letters are allowed, so a one-letter
// word is never "corrected" into some other short keyword.
std::string_view nearestWord(std::string_view word,
                             const std::vector<std::string_view>& candidates);

// Whether the tolerant number readers find a number at the start of `text`.
bool startsWithNumber(std::string_view text);

// `text` for a message: in quotes, TABs shown as spaces, long texts cut.
std::string quoted(std::string_view text);

// How the reader of one keyword takes its values, one letter per value:
//   n  a number          c  a channel field: a number, M, or G and a submix
//   l  a channel list    w  a word            x  text up to the line end
// A lower-case value ends at a TAB, or at the line end when it is the last;
// an upper-case one is a single token, ending at a TAB or a line end.
struct KeywordForm {
  std::string_view keyword;
  std::string_view values;  // their names, ", " between them
  std::string_view kinds;
  bool volumePass = false;  // read in the one pass that takes entries in file order
};

// The fader file's keywords; "t" takes `timeFields` values (bars, beats and
// ticks in tempo mode). Order entries (any word beginning with o) are apart.
std::vector<KeywordForm> faderForms(int timeFields, bool tempo);
// The preferences keywords; "start" takes `startFields` values, "xin" and
// "xout" take `pointFields`.
std::vector<KeywordForm> prefsForms(int startFields, int pointFields);

const KeywordForm* findForm(const std::vector<KeywordForm>& forms, std::string_view word);
// The strip processors an order entry may name.
bool isProcessorName(std::string_view word);
std::vector<std::string_view> keywordsOf(const std::vector<KeywordForm>& forms);

// What is wrong with line `index`, an entry of `form`: values missing (and
// which line's text the reader takes for them), values left over, numbers
// that are no numbers. Empty when nothing. Line numbers in the text are
// `firstLine` + index, the file's own numbering.
std::string checkEntry(const SectionLines& lines, std::size_t index, const KeywordForm& form,
                       const std::vector<KeywordForm>& forms, int firstLine);

// The same for an order entry, whose fields `fields` (the line cut at TABs
// and colons) must all stand on its line; empty when it is a good one.
std::string checkOrderEntry(const std::vector<std::string_view>& fields,
                            const std::vector<KeywordForm>& forms);

}  // namespace sorvan
