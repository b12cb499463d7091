#include "base/messages.h"

#include <cstdarg>
#include <utility>
#include <vector>

namespace sorvan {
namespace {

MessageCapture* g_capture = nullptr;
std::string* g_captureText = nullptr;
MessageRecord* g_record = nullptr;
std::vector<std::string>* g_recordMessages = nullptr;
thread_local std::string* t_held = nullptr;

void emit(const char* data, std::size_t size) {
  if (t_held) {
    t_held->append(data, size);
    return;
  }
  if (g_recordMessages) g_recordMessages->emplace_back(data, size);
  if (g_captureText) {
    g_captureText->append(data, size);
  } else {
    std::fwrite(data, 1, size, stdout);
  }
}

}  // namespace

void say(const char* fmt, ...) {
  char small[512];
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(needed) < sizeof small) {
    emit(small, static_cast<std::size_t>(needed));
  } else {
    std::vector<char> big(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, again);
    emit(big.data(), static_cast<std::size_t>(needed));
  }
  va_end(again);
}

void sayLine(const char* text) { say("%s\n", text); }

void sayFlush() {
  if (!g_captureText) std::fflush(stdout);
}

MessageCapture::MessageCapture() : previous_(g_capture) {
  g_capture = this;
  g_captureText = &text_;
}

MessageCapture::~MessageCapture() {
  g_capture = previous_;
  g_captureText = previous_ ? &previous_->text_ : nullptr;
}

MessageHold::MessageHold() : previous_(t_held) { t_held = &text_; }

MessageHold::~MessageHold() { t_held = previous_; }

std::string MessageHold::release() { return std::exchange(text_, {}); }

MessageRecord::MessageRecord() : previous_(g_record) {
  g_record = this;
  g_recordMessages = &messages_;
}

MessageRecord::~MessageRecord() {
  g_record = previous_;
  g_recordMessages = previous_ ? &previous_->messages_ : nullptr;
}

}  // namespace sorvan
