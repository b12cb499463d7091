// The end of the signal chain: dither, reduction of the bus-scale master to
// output words, and the output meters.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "engine/loudness.h"
#include "engine/session.h"

namespace sorvan {

// A small portable generator with a documented algorithm (PCG32, XSH RR
// output), so one seed gives the same dither on every platform.
class DitherRandom {
 public:
  explicit DitherRandom(std::uint32_t seed);
  std::uint32_t next();

 private:
  std::uint64_t state_ = 0;
  static constexpr std::uint64_t kIncrement = 1442695040888963407ULL;
};

// Running half-wave RMS of the output, in 24-bit units.
struct MasterRmsState {
  int first = 0;
  float squaresL = 0, squaresR = 0;
  float intervalL = 0, intervalR = 0;
  int oldpolarL = 0, oldpolarR = 0;
};

struct OutputMeters {
  double peakL = 0, peakR = 0;               // largest |output word|
  std::int64_t peakPosL = 0, peakPosR = 0;   // song frame of the first such word
  float rmsSumL = 0, rmsSumR = 0;
  float rmsCountL = 0, rmsCountR = 0;
};

void MasterRMS(MasterRmsState& state, const std::int64_t* left, const std::int64_t* right,
               OutputMeters& meters, float window, int divisor, long n);

// Turns master blocks into output words. Buffers are sized once.
class MasterOutput {
 public:
  explicit MasterOutput(const RenderPlan& plan);

  // Dithers the master pair in place, reduces it to words within the word
  // range and meters them. The words stay valid until the next block.
  void reduceBlock(std::int64_t* left, std::int64_t* right, std::int64_t pos, long n);
  const std::int64_t* wordsLeft() const { return wordsL_.data(); }
  const std::int64_t* wordsRight() const { return mono_ ? wordsL_.data() : wordsR_.data(); }

  const OutputMeters& meters() const { return meters_; }

  // The block last reduced, in bus scale after dither and before the words
  // were cut from it and limited to their range (for mono output the mono
  // sum, on both sides). Valid until the next block.
  const std::int64_t* encodedLeft() const { return encodedL_; }
  const std::int64_t* encodedRight() const { return encodedR_; }
  // The loudness and true-peak lines of the statistics.
  std::string loudnessReport() { return loudness_.report(); }

 private:
  void ditherStereo(std::int64_t* left, std::int64_t* right, long n);
  void reduceStereo(const std::int64_t* left, const std::int64_t* right, std::int64_t pos, long n);
  void reduceMono(const std::int64_t* left, const std::int64_t* right, std::int64_t pos, long n);

  int bits_;
  bool mono_;
  double monoFactor_;
  int halfWidth_;
  int modulus_;
  float rmsWindow_;
  DitherRandom random_;
  MasterRmsState rms_;
  OutputMeters meters_;
  LoudnessMeter loudness_;
  Buffer<std::int64_t> wordsL_, wordsR_;  // written before they are read
  Buffer<std::int64_t> monoSum_;
  const std::int64_t* encodedL_ = nullptr;
  const std::int64_t* encodedR_ = nullptr;
};

}  // namespace sorvan
