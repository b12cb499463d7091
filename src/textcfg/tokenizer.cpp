#include "textcfg/tokenizer.h"

#include <cstring>

#include "base/numeric.h"

namespace sorvan {

Tokenizer::Tokenizer(std::string_view text) : buffer_(text) {
  // A zero byte inside the text ends it, as it would for any C-string reader;
  // cutting here keeps every later scan inside the buffer.
  buffer_.resize(std::strlen(buffer_.c_str()));
}

const char* Tokenizer::next(const char* delimiters) {
  const std::size_t size = buffer_.size();
  std::size_t p = pos_;
  while (p < size && std::strchr(delimiters, buffer_[p]) != nullptr) ++p;
  if (p >= size) {
    pos_ = size;
    return nullptr;
  }
  const std::size_t start = p;
  while (p < size && std::strchr(delimiters, buffer_[p]) == nullptr) ++p;
  if (p < size) {
    buffer_[p] = '\0';
    pos_ = p + 1;
  } else {
    pos_ = size;
  }
  return buffer_.c_str() + start;
}

bool isEndToken(const char* token) { return token != nullptr && std::strcmp(token, "end") == 0; }

bool tokenIs(const char* token, const char* word) {
  return token != nullptr && std::strcmp(token, word) == 0;
}

std::int64_t nextInteger(Tokenizer& tok, const char* delimiters) {
  return readInteger(tok.next(delimiters));
}

int nextInt(Tokenizer& tok, const char* delimiters) {
  return saturateTo<int>(nextInteger(tok, delimiters));
}

double nextReal(Tokenizer& tok, const char* delimiters) { return readReal(tok.next(delimiters)); }

float nextSingle(Tokenizer& tok, const char* delimiters) {
  return toSingle(nextReal(tok, delimiters));
}

}  // namespace sorvan
