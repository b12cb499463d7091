// One tokenising cursor over a private copy of a file's section. Every scan
// makes its own Tokenizer, so scans never disturb each other.
//
// next() behaves like the classic destructive tokeniser: leading delimiters are
// skipped, a run of delimiters counts as one separator, and the delimiter that
// ends a token is consumed. Mixing delimiter sets on one cursor is how values
// that run to the end of a line ("\n") are read after tab-separated fields.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sorvan {

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text);

  // The next token, or nullptr when the text is used up. The pointer stays
  // valid for the Tokenizer's lifetime.
  const char* next(const char* delimiters);

  // Common delimiter sets.
  static constexpr const char* kWords = "\t\n";  // keywords and most values
  static constexpr const char* kLine = "\n";     // the rest of a line
  static constexpr const char* kField = "\t";    // fields inside a line

  // Where a token returned by next() starts in the text given to the
  // constructor, so that a reading can say on which line it found a value.
  std::size_t offsetOf(const char* token) const {
    return static_cast<std::size_t>(token - buffer_.c_str());
  }

 private:
  std::string buffer_;
  std::size_t pos_ = 0;
};

// True for the token that ends every keyword scan.
bool isEndToken(const char* token);
bool tokenIs(const char* token, const char* word);

// Value readers over the next token (a missing token reads as 0).
std::int64_t nextInteger(Tokenizer& tok, const char* delimiters);
int nextInt(Tokenizer& tok, const char* delimiters);
double nextReal(Tokenizer& tok, const char* delimiters);
float nextSingle(Tokenizer& tok, const char* delimiters);

}  // namespace sorvan
