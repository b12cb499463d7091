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
// output), so one seed gives the same dither on every platform. `stream`
// picks one of the generator's independent sequences: 0 is the mix's, each
// stem takes one of its own, so one seed serves every file.
class DitherRandom {
 public:
  explicit DitherRandom(std::uint32_t seed, std::uint64_t stream = 0);
  std::uint32_t next();

 private:
  std::uint64_t state_ = 0;
  std::uint64_t increment_;
};

// Running half-wave RMS of the output, in 24-bit units.
struct MasterRmsState {
  int first = 0;
  float squaresL = 0, squaresR = 0;
  float intervalL = 0, intervalR = 0;
  int oldpolarL = 0, oldpolarR = 0;
};

struct OutputMeters {
  double peakL = 0, peakR = 0;              // largest |output word|
  std::int64_t peakPosL = 0, peakPosR = 0;  // song frame of the first such word
  float rmsSumL = 0, rmsSumR = 0;
  float rmsCountL = 0, rmsCountR = 0;
};

// The RMS meter of the master over n words, each divided by 256 (toward zero)
// before it is squared.
void MasterRMS(MasterRmsState& state, const std::int64_t* left, const std::int64_t* right,
               OutputMeters& meters, float window, long n);

// Turns master blocks into output words. Buffers are sized once. For float
// output the "words" are the bus values themselves (full scale 2^31), neither
// dithered nor limited, and the meters see them in 24-bit units.
class MasterOutput {
 public:
  explicit MasterOutput(const RenderPlan& plan);

  // Dithers the master pair in place, reduces it to words within the word
  // range and meters them. The words stay valid until the next block.
  void reduceBlock(std::int64_t* left, std::int64_t* right, std::int64_t pos, long n);
  // For a measuring pass: only the loudness and true peak of the master as
  // it stands, before dither (for mono output its fold-down).
  void measureBlock(const std::int64_t* left, const std::int64_t* right, long n);
  const std::int64_t* wordsLeft() const { return wordsL_.data(); }
  const std::int64_t* wordsRight() const { return mono_ ? wordsL_.data() : wordsR_.data(); }

  const OutputMeters& meters() const { return meters_; }

  // The block last reduced, in bus scale after dither and before the words
  // were cut from it and limited to their range (for mono output the mono
  // sum, on both sides). Valid until the next block.
  const std::int64_t* encodedLeft() const { return encodedL_; }
  const std::int64_t* encodedRight() const { return encodedR_; }
  // The loudness and true peak of everything handed over so far.
  LoudnessResult loudness() { return loudness_.result(); }

 private:
  void ditherStereo(std::int64_t* left, std::int64_t* right, long n);
  void reduceStereo(const std::int64_t* left, const std::int64_t* right, std::int64_t pos, long n);
  void reduceMono(const std::int64_t* left, const std::int64_t* right, std::int64_t pos, long n);
  void meterFloat(const std::int64_t* left, const std::int64_t* right, std::int64_t pos, long n);

  int bits_;
  bool floating_;
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

// One stem: a bus as it enters the master sum, made into words the way the
// master is (static gain, mono fold-down, dither from its own stream of the
// same seed, reduction), without changing the bus.
class StemOutput {
 public:
  StemOutput(const RenderPlan& plan, std::uint64_t stream);

  // `gain` is the static gain the master gets before dither.
  void reduceBlock(const std::int64_t* left, const std::int64_t* right, long n, double gain);
  const std::int64_t* wordsLeft() const { return wordsL_.data(); }
  const std::int64_t* wordsRight() const { return mono_ ? wordsL_.data() : wordsR_.data(); }

 private:
  int bits_;
  bool floating_;
  bool mono_;
  double monoFactor_;
  int halfWidth_;
  int modulus_;
  DitherRandom random_;
  Buffer<std::int64_t> wordsL_, wordsR_;  // written before they are read
};

}  // namespace sorvan
