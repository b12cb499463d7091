#include "engine/master.h"

#include <cmath>
#include <cstdlib>

#include "base/limits.h"
#include "base/numeric.h"

namespace sorvan {

DitherRandom::DitherRandom(std::uint32_t seed) {
  // The standard PCG32 seeding sequence.
  state_ = 0;
  next();
  state_ += seed;
  next();
}

std::uint32_t DitherRandom::next() {
  const std::uint64_t old = state_;
  state_ = old * 6364136223846793005ULL + kIncrement;
  const auto xorshifted = static_cast<std::uint32_t>(((old >> 18u) ^ old) >> 27u);
  const auto rot = static_cast<std::uint32_t>(old >> 59u);
  return (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
}

void MasterRMS(MasterRmsState& s, const std::int64_t* left, const std::int64_t* right,
               OutputMeters& m, float window, int divisor, long n) {
  if (s.first == 0) {
    m.rmsSumL = m.rmsSumR = 0;
    m.rmsCountL = m.rmsCountR = 0;
    s = MasterRmsState{};
    s.first = 1;
  }
  for (long i = 0; i < n; ++i) {
    s.intervalL += 1.0f;
    s.intervalR += 1.0f;
    const int polarL = left[i] < 0 ? -1 : 1;
    const int polarR = right[i] < 0 ? -1 : 1;
    const float vL = static_cast<float>(left[i] / divisor);
    const float vR = static_cast<float>(right[i] / divisor);
    s.squaresL += vL * vL;
    s.squaresR += vR * vR;
    if (polarL != s.oldpolarL && s.intervalL > window) {
      m.rmsSumL += std::sqrt(s.squaresL / s.intervalL);
      m.rmsCountL += 1.0f;
      s.squaresL = 0;
      s.intervalL = 0;
    }
    if (polarR != s.oldpolarR && s.intervalR > window) {
      m.rmsSumR += std::sqrt(s.squaresR / s.intervalR);
      m.rmsCountR += 1.0f;
      s.squaresR = 0;
      s.intervalR = 0;
    }
    s.oldpolarL = polarL;
    s.oldpolarR = polarR;
  }
}

MasterOutput::MasterOutput(const RenderPlan& plan)
    : bits_(plan.outputBits == 16 ? 16 : 24),
      mono_(plan.mono),
      monoFactor_(plan.monoFactor),
      halfWidth_(plan.ditherHalfWidth),
      modulus_(plan.ditherModulus),
      rmsWindow_(static_cast<float>(plan.sampleRate / 10.0)),
      random_(plan.ditherSeed),
      loudness_(plan.mono ? 1 : 2, static_cast<unsigned long>(plan.sampleRate),
                plan.outputBits == 16 ? 16 : 24, plan.threads > 1) {
  const std::size_t frames = kBlockFrames;
  wordsL_.allocate(frames, false);
  if (mono_) {
    monoSum_.allocate(frames, false);
  } else {
    wordsR_.allocate(frames, false);
  }
}

namespace {

// Bus scale to output words, truncated toward zero.
inline std::int64_t reduce(std::int64_t x, int bits) { return bits == 16 ? x / 65536 : x / 256; }

// One output step of dither in bus-scale units.
inline std::int64_t ditherUnit(int bits) { return bits == 16 ? 65536 : 256; }

inline void meter(std::int64_t word, std::int64_t pos, double& peak, std::int64_t& where) {
  const double magnitude = std::fabs(static_cast<double>(word));
  if (magnitude > peak) {
    peak = magnitude;
    where = pos;
  }
}

// Output words saturate at the word range; the meters saw the value before.
inline std::int64_t clampWord(std::int64_t word, int bits) {
  const std::int64_t hi = bits == 16 ? 32767 : 8388607;
  return word > hi ? hi : (word < -hi - 1 ? -hi - 1 : word);
}

}  // namespace

void MasterOutput::ditherStereo(std::int64_t* left, std::int64_t* right, long n) {
  const std::int64_t unit = ditherUnit(bits_);
  const auto modulus = static_cast<std::uint32_t>(modulus_);
  for (long i = 0; i < n; ++i) {
    const std::int64_t dL = halfWidth_ - static_cast<std::int64_t>(random_.next() % modulus);
    const std::int64_t dR = halfWidth_ - static_cast<std::int64_t>(random_.next() % modulus);
    left[i] += dL * unit;
    right[i] += dR * unit;
  }
}

void MasterOutput::reduceStereo(const std::int64_t* left, const std::int64_t* right,
                                std::int64_t pos, long n) {
  for (long i = 0; i < n; ++i) {
    const std::int64_t wL = reduce(left[i], bits_);
    const std::int64_t wR = reduce(right[i], bits_);
    meter(wL, pos + i, meters_.peakL, meters_.peakPosL);
    meter(wR, pos + i, meters_.peakR, meters_.peakPosR);
    wordsL_[i] = clampWord(wL, bits_);
    wordsR_[i] = clampWord(wR, bits_);
  }
}

void MasterOutput::reduceMono(const std::int64_t* left, const std::int64_t* right,
                              std::int64_t pos, long n) {
  const std::int64_t unit = ditherUnit(bits_);
  const auto modulus = static_cast<std::uint32_t>(modulus_);
  for (long i = 0; i < n; ++i) {
    std::int64_t m = truncateTo<std::int64_t>(static_cast<double>(left[i]) * monoFactor_ +
                                              static_cast<double>(right[i]) * monoFactor_);
    if (modulus_ != 0) m += (halfWidth_ - static_cast<std::int64_t>(random_.next() % modulus)) * unit;
    monoSum_[i] = m;
    const std::int64_t w = reduce(m, bits_);
    meter(w, pos + i, meters_.peakL, meters_.peakPosL);
    meters_.peakR = meters_.peakL;
    meters_.peakPosR = meters_.peakPosL;
    wordsL_[i] = clampWord(w, bits_);
  }
}

void MasterOutput::reduceBlock(std::int64_t* left, std::int64_t* right, std::int64_t pos, long n) {
  encodedL_ = mono_ ? monoSum_.data() : left;
  encodedR_ = mono_ ? monoSum_.data() : right;
  if (mono_) {
    reduceMono(left, right, pos, n);
    MasterRMS(rms_, monoSum_.data(), monoSum_.data(), meters_, rmsWindow_, 256, n);
    loudness_.addMono(wordsL_.data(), n);
    return;
  }
  if (modulus_ != 0) ditherStereo(left, right, n);
  reduceStereo(left, right, pos, n);
  MasterRMS(rms_, left, right, meters_, rmsWindow_, 256, n);
  loudness_.addStereo(wordsL_.data(), wordsR_.data(), n);
}

}  // namespace sorvan
