#include "engine/master.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>

#include "base/limits.h"
#include "base/numeric.h"

namespace sorvan {

// PCG32's default sequence, which the mix has always used; stream k is the
// k-th one after it.
constexpr std::uint64_t kMixSequence = 721347520444481703ULL;

DitherRandom::DitherRandom(std::uint32_t seed, std::uint64_t stream)
    : increment_(((kMixSequence + stream) << 1u) | 1u) {
  // The standard PCG32 seeding sequence.
  state_ = 0;
  next();
  state_ += seed;
  next();
}

std::uint32_t DitherRandom::next() {
  const std::uint64_t old = state_;
  state_ = old * 6364136223846793005ULL + increment_;
  const auto xorshifted = static_cast<std::uint32_t>(((old >> 18u) ^ old) >> 27u);
  const auto rot = static_cast<std::uint32_t>(old >> 59u);
  return (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
}

void MasterRMS(MasterRmsState& state, const std::int64_t* left, const std::int64_t* right,
               OutputMeters& m, float window, long n) {
  // A constant divisor, so the division is shifts rather than two hardware
  // divisions per frame.
  constexpr std::int64_t kDivisor = 256;
  if (state.first == 0) {
    m.rmsSumL = m.rmsSumR = 0;
    m.rmsCountL = m.rmsCountR = 0;
    state = MasterRmsState{};
    state.first = 1;
  }
  // The running sums in locals, where the compiler keeps them in registers:
  // through the references it would store and reload them every frame.
  MasterRmsState s = state;
  float sumL = m.rmsSumL, sumR = m.rmsSumR, countL = m.rmsCountL, countR = m.rmsCountR;
  // The sign changes at unforeseeable frames, but a half-wave ends only once
  // it has outlasted the window: both tests make one condition, rarely true,
  // rather than a branch on every change of sign. Each ending's sum and
  // length are noted, and their roots added in order after every stretch of
  // frames, away from the walk's running sums.
  constexpr long kStretch = 1024;
  float squaresAtL[kStretch], intervalAtL[kStretch], squaresAtR[kStretch], intervalAtR[kStretch];
  for (long from = 0; from < n; from += kStretch) {
    const long to = std::min(n, from + kStretch);
    long endsL = 0, endsR = 0;
    for (long i = from; i < to; ++i) {
      s.intervalL += 1.0f;
      s.intervalR += 1.0f;
      const int polarL = left[i] < 0 ? -1 : 1;
      const int polarR = right[i] < 0 ? -1 : 1;
      const float vL = static_cast<float>(left[i] / kDivisor);
      const float vR = static_cast<float>(right[i] / kDivisor);
      s.squaresL += vL * vL;
      s.squaresR += vR * vR;
      const bool endL = (polarL != s.oldpolarL) & (s.intervalL > window);
      const bool endR = (polarR != s.oldpolarR) & (s.intervalR > window);
      squaresAtL[endsL] = s.squaresL;
      intervalAtL[endsL] = s.intervalL;
      squaresAtR[endsR] = s.squaresR;
      intervalAtR[endsR] = s.intervalR;
      endsL += endL;
      endsR += endR;
      s.squaresL = endL ? 0.0f : s.squaresL;
      s.intervalL = endL ? 0.0f : s.intervalL;
      s.squaresR = endR ? 0.0f : s.squaresR;
      s.intervalR = endR ? 0.0f : s.intervalR;
      s.oldpolarL = polarL;
      s.oldpolarR = polarR;
    }
    for (long k = 0; k < endsL; ++k) {
      sumL += std::sqrt(squaresAtL[k] / intervalAtL[k]);
      countL += 1.0f;
    }
    for (long k = 0; k < endsR; ++k) {
      sumR += std::sqrt(squaresAtR[k] / intervalAtR[k]);
      countR += 1.0f;
    }
  }
  state = s;
  m.rmsSumL = sumL, m.rmsSumR = sumR, m.rmsCountL = countL, m.rmsCountR = countR;
}

namespace {

int wordBits(const RenderPlan& plan) { return plan.outputBits == 16 ? 16 : 24; }
bool isFloat(const RenderPlan& plan) { return plan.format == OutputFormat::kFloat; }

// The full scale of what the loudness meter is handed: words, or bus values
// (float output, and a measuring pass).
double loudnessFullScale(const RenderPlan& plan) {
  if (isFloat(plan) || plan.measuring) return kBusFullScale;
  return wordBits(plan) == 16 ? 32768.0 : 8388608.0;
}

}  // namespace

MasterOutput::MasterOutput(const RenderPlan& plan)
    : bits_(wordBits(plan)),
      floating_(isFloat(plan)),
      mono_(plan.mono),
      monoFactor_(plan.monoFactor),
      halfWidth_(floating_ ? 0 : plan.ditherHalfWidth),
      modulus_(floating_ ? 0 : plan.ditherModulus),
      rmsWindow_(static_cast<float>(plan.sampleRate / 10.0)),
      random_(plan.ditherSeed),
      loudness_(plan.mono ? 1 : 2, static_cast<unsigned long>(plan.sampleRate),
                loudnessFullScale(plan), plan.blockFrames(), plan.threads > 1) {
  const auto frames = static_cast<std::size_t>(plan.blockFrames());
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

// Float output keeps the bus values; the meters read them in 24-bit units,
// unrounded, so a peak above full scale shows as it is.
void MasterOutput::meterFloat(const std::int64_t* left, const std::int64_t* right, std::int64_t pos,
                              long n) {
  for (long i = 0; i < n; ++i) {
    const double l = std::fabs(static_cast<double>(left[i])) / 256.0;
    const double r = std::fabs(static_cast<double>(right[i])) / 256.0;
    if (l > meters_.peakL) {
      meters_.peakL = l;
      meters_.peakPosL = pos + i;
    }
    if (r > meters_.peakR) {
      meters_.peakR = r;
      meters_.peakPosR = pos + i;
    }
  }
}

void MasterOutput::reduceMono(const std::int64_t* left, const std::int64_t* right, std::int64_t pos,
                              long n) {
  const std::int64_t unit = ditherUnit(bits_);
  const auto modulus = static_cast<std::uint32_t>(modulus_);
  for (long i = 0; i < n; ++i) {
    std::int64_t m = truncateTo<std::int64_t>(static_cast<double>(left[i]) * monoFactor_ +
                                              static_cast<double>(right[i]) * monoFactor_);
    if (modulus_ != 0)
      m += (halfWidth_ - static_cast<std::int64_t>(random_.next() % modulus)) * unit;
    monoSum_[i] = m;
    const std::int64_t w = reduce(m, bits_);
    meter(w, pos + i, meters_.peakL, meters_.peakPosL);
    meters_.peakR = meters_.peakL;
    meters_.peakPosR = meters_.peakPosL;
    wordsL_[i] = clampWord(w, bits_);
  }
}

void MasterOutput::reduceBlock(std::int64_t* left, std::int64_t* right, std::int64_t pos, long n) {
  assert(n <= static_cast<long>(wordsL_.size()));
  encodedL_ = mono_ ? monoSum_.data() : left;
  encodedR_ = mono_ ? monoSum_.data() : right;
  if (floating_) {
    if (mono_) {
      for (long i = 0; i < n; ++i)
        monoSum_[i] = truncateTo<std::int64_t>(static_cast<double>(left[i]) * monoFactor_ +
                                               static_cast<double>(right[i]) * monoFactor_);
      left = right = monoSum_.data();
    }
    meterFloat(left, right, pos, n);
    MasterRMS(rms_, left, right, meters_, rmsWindow_, n);
    std::copy_n(left, n, wordsL_.data());
    if (mono_) {
      loudness_.addMono(wordsL_.data(), n);
    } else {
      std::copy_n(right, n, wordsR_.data());
      loudness_.addStereo(wordsL_.data(), wordsR_.data(), n);
    }
    return;
  }
  if (mono_) {
    reduceMono(left, right, pos, n);
    MasterRMS(rms_, monoSum_.data(), monoSum_.data(), meters_, rmsWindow_, n);
    loudness_.addMono(wordsL_.data(), n);
    return;
  }
  if (modulus_ != 0) ditherStereo(left, right, n);
  reduceStereo(left, right, pos, n);
  MasterRMS(rms_, left, right, meters_, rmsWindow_, n);
  loudness_.addStereo(wordsL_.data(), wordsR_.data(), n);
}

void MasterOutput::measureBlock(const std::int64_t* left, const std::int64_t* right, long n) {
  if (!mono_) {
    loudness_.addStereo(left, right, n);
    return;
  }
  for (long i = 0; i < n; ++i)
    monoSum_[i] = truncateTo<std::int64_t>(static_cast<double>(left[i]) * monoFactor_ +
                                           static_cast<double>(right[i]) * monoFactor_);
  loudness_.addMono(monoSum_.data(), n);
}

StemOutput::StemOutput(const RenderPlan& plan, std::uint64_t stream)
    : bits_(wordBits(plan)),
      floating_(isFloat(plan)),
      mono_(plan.mono),
      monoFactor_(plan.monoFactor),
      halfWidth_(floating_ ? 0 : plan.ditherHalfWidth),
      modulus_(floating_ ? 0 : plan.ditherModulus),
      random_(plan.ditherSeed, stream) {
  const auto frames = static_cast<std::size_t>(plan.blockFrames());
  wordsL_.allocate(frames, false);
  if (!mono_) wordsR_.allocate(frames, false);
}

void StemOutput::reduceBlock(const std::int64_t* left, const std::int64_t* right, long n,
                             double gain) {
  assert(n <= static_cast<long>(wordsL_.size()));
  const std::int64_t unit = ditherUnit(bits_);
  const auto modulus = static_cast<std::uint32_t>(modulus_);
  const auto dither = [&] {
    return (halfWidth_ - static_cast<std::int64_t>(random_.next() % modulus)) * unit;
  };
  // The words of one value, in the order the master makes them.
  const auto word = [&](std::int64_t x) {
    return floating_ ? x : clampWord(reduce(x, bits_), bits_);
  };
  for (long i = 0; i < n; ++i) {
    std::int64_t l = left[i], r = right[i];
    if (gain != 1.0) {
      l = truncateTo<std::int64_t>(static_cast<double>(l) * gain);
      r = truncateTo<std::int64_t>(static_cast<double>(r) * gain);
    }
    if (mono_) {
      std::int64_t m = truncateTo<std::int64_t>(static_cast<double>(l) * monoFactor_ +
                                                static_cast<double>(r) * monoFactor_);
      if (modulus_ != 0) m += dither();
      wordsL_[i] = word(m);
      continue;
    }
    if (modulus_ != 0) {
      l += dither();
      r += dither();
    }
    wordsL_[i] = word(l);
    wordsR_[i] = word(r);
  }
}

}  // namespace sorvan
