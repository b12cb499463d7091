// Helpers shared by the reverb tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sorvan::testing {

using Cells = std::map<long, std::int64_t>;  // the nonzero cells of an accumulator

inline Cells nonZero(const std::vector<std::int64_t>& v) {
  Cells out;
  for (std::size_t i = 0; i < v.size(); ++i)
    if (v[i] != 0) out[static_cast<long>(i)] = v[i];
  return out;
}

// Return and spill pair driven as the mix loop drives them (the spill becomes
// the next block's return); run(n, pos) calls the reverb, and the returns of
// all blocks are collected as one stream.
struct Accumulators {
  explicit Accumulators(std::size_t length)
      : returnL(length), returnR(length), spillL(length), spillR(length) {}
  template <typename Run>
  void render(const std::vector<long>& blocks, Run run) {
    long pos = 0;
    for (long n : blocks) {
      returnL.swap(spillL);
      returnR.swap(spillR);
      std::fill(spillL.begin(), spillL.end(), 0);
      std::fill(spillR.begin(), spillR.end(), 0);
      run(n, pos);
      streamL.insert(streamL.end(), returnL.begin(), returnL.begin() + n);
      streamR.insert(streamR.end(), returnR.begin(), returnR.begin() + n);
      pos += n;
    }
  }
  std::vector<std::int64_t> returnL, returnR, spillL, spillR, streamL, streamR;
};

}  // namespace sorvan::testing
