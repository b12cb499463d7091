// The one sink all console text goes through. The run prints to stdout; tests
// install a MessageCapture to read the exact texts.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

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

// While alive, what the thread that made it says is kept back (from the
// console, captures and records alike) until release() hands it over, so that
// a helper thread's words can be said later, in their place, by the thread
// that collects its work.
class MessageHold {
 public:
  MessageHold();
  ~MessageHold();
  MessageHold(const MessageHold&) = delete;
  MessageHold& operator=(const MessageHold&) = delete;
  std::string release();

 private:
  std::string text_;
  std::string* previous_;
};

// While alive, every message is also kept here, one entry per call of say or
// sayLine, while it goes to the console (or a capture) as before.
class MessageRecord {
 public:
  MessageRecord();
  ~MessageRecord();
  MessageRecord(const MessageRecord&) = delete;
  MessageRecord& operator=(const MessageRecord&) = delete;
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  std::vector<std::string> messages_;
  MessageRecord* previous_;
};

}  // namespace sorvan
