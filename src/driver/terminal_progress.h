// One line on the terminal that follows a render: where it is, how much
// faster than real time it runs, and how long it has left. Written to
// standard error, and only when that is a terminal, so that logs and pipes
// see nothing of it.
#pragma once

#include <chrono>
#include <cstdint>

#include "engine/mixer.h"

namespace sorvan {

class TerminalProgress final : public RenderProgress {
 public:
  // Does nothing unless standard error is a terminal.
  explicit TerminalProgress(double sampleRate);
  ~TerminalProgress() override;

  bool active() const { return active_; }
  void rendered(std::int64_t frames, std::int64_t total) override;
  void beforeMessage() override { erase(); }

 private:
  using Clock = std::chrono::steady_clock;
  void erase();

  bool active_;
  double rate_;
  Clock::time_point start_;
  Clock::time_point shown_{};
  int width_ = 0;  // characters of the line last written
};

}  // namespace sorvan
