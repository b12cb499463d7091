// The one sink all console text goes through. The run prints to stdout; tests
// install a MessageCapture to read the exact texts.
#pragma once

#include <cstdio>
#include <string>

namespace sorvan {

// printf-style text, exactly as given (no newline added).
void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The text followed by a newline, as puts would print it.
void sayLine(const char* text);
// Flushes the console stream (after progress lines).
void sayFlush();

// While alive, every message is appended to text() instead of the console.
class MessageCapture {
 public:
  MessageCapture();
  ~MessageCapture();
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;
  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

 private:
  std::string text_;
  MessageCapture* previous_;
};

}  // namespace sorvan
