#include "driver/terminal_progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace sorvan {
namespace {

// m:ss.s
std::string clock(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  char text[32];
  const long whole = static_cast<long>(seconds);
  std::snprintf(text, sizeof text, "%ld:%04.1f", whole / 60, seconds - 60.0 * (whole / 60));
  return text;
}

}  // namespace

TerminalProgress::TerminalProgress(double sampleRate)
    : active_(::isatty(STDERR_FILENO) == 1 && sampleRate > 0),
      rate_(sampleRate),
      start_(Clock::now()) {}

TerminalProgress::~TerminalProgress() { erase(); }

void TerminalProgress::erase() {
  if (!active_ || width_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", width_, "");
  std::fflush(stderr);
  width_ = 0;
}

void TerminalProgress::rendered(std::int64_t frames, std::int64_t total) {
  if (!active_) return;
  const Clock::time_point now = Clock::now();
  // A few updates a second are enough to read.
  if (frames < total && now - shown_ < std::chrono::milliseconds(200)) return;
  shown_ = now;
  const double wall = std::chrono::duration<double>(now - start_).count();
  const double done = static_cast<double>(frames) / rate_;
  const double length = static_cast<double>(total) / rate_;
  const double speed = wall > 0 ? done / wall : 0.0;
  const std::string left = speed > 0 ? clock((length - done) / speed) : "?";
  char line[160];
  const int width = std::snprintf(line, sizeof line, "Mixing %s of %s, %.1fx real time, %s left",
                                  clock(done).c_str(), clock(length).c_str(), speed, left.c_str());
  std::fprintf(stderr, "\r%s%*s", line, width_ > width ? width_ - width : 0, "");
  std::fflush(stderr);
  width_ = std::max(width_, width);
}

}  // namespace sorvan
