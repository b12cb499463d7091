// Helpers shared by the reverb tests: capture of fatal set-up errors and an
// accumulator pair driven the way the mix loop drives it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/fatal.h"
#include "base/messages.h"

namespace sorvan::testing {

// Runs f, expects it to end the run with status 1, and returns what it printed.
template <typename F>
std::string fatalText(F&& f) {
  MessageCapture cap;
  try {
    f();
  } catch (const Fatal& e) {
    EXPECT_EQ(e.status, exit_status::kUser);
    return cap.text();
  }
  ADD_FAILURE() << "expected the run to end";
  return cap.text();
}

// Return and spill pair as the mix loop keeps them: before each block the
// spill becomes the return and the spill starts empty.
struct Accumulators {
  explicit Accumulators(std::size_t length)
      : returnL(length), returnR(length), spillL(length), spillR(length) {}
  void startBlock() {
    returnL = spillL;
    returnR = spillR;
    std::fill(spillL.begin(), spillL.end(), 0);
    std::fill(spillR.begin(), spillR.end(), 0);
  }
  std::vector<std::int64_t> returnL, returnR, spillL, spillR;
};

}  // namespace sorvan::testing
