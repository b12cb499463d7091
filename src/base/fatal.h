// A condition that ends the run. The message has already been printed through
// the message sink when this is thrown; main catches it and returns the status.
#pragma once

#include <exception>

namespace sorvan {

namespace exit_status {
inline constexpr int kOk = 0;
inline constexpr int kUser = 1;    // different rates, impossible reverb, dialogue ended
inline constexpr int kConfig = 2;  // configuration and time errors
inline constexpr int kIo = 3;      // an output could not be created, written or closed
}  // namespace exit_status

struct Fatal : std::exception {
  explicit Fatal(int s) : status(s) {}
  const char* what() const noexcept override { return "sorvan: fatal condition"; }
  int status;
};

}  // namespace sorvan
