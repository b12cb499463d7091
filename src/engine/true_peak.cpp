#include "engine/true_peak.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "base/target.h"
#include "engine/true_peak_lanes.h"

namespace sorvan {
namespace {

constexpr int kTaps = 49;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

TruePeakMeter::TruePeakMeter(int channels, unsigned long sampleRate)
    : channels_(channels), channel_(static_cast<std::size_t>(channels)) {
  factor_ = sampleRate < 96000 ? 4 : (sampleRate < 192000 ? 2 : 1);
  if (factor_ > 1) history_ = (kTaps + factor_ - 1) / factor_ - 1;
  input_.assign(static_cast<std::size_t>(history_ + kStretch), 0.0);
  for (Channel& ch : channel_) ch.history.assign(static_cast<std::size_t>(history_), 0.0f);
  if (factor_ == 1) return;
  phases_.resize(static_cast<std::size_t>(factor_));
  for (int j = 0; j < kTaps; ++j) {
    const double m = static_cast<double>(j) - static_cast<double>(kTaps - 1) / 2.0;
    double c = 1.0;
    if (std::fabs(m) > 1e-6) c = std::sin(m * kPi / factor_) / (m * kPi / factor_);
    c *= 0.5 * (1.0 - std::cos(2.0 * kPi * j / (kTaps - 1)));  // Hann window
    if (std::fabs(c) <= 1e-6) continue;  // the sinc's zeros and the window's ends
    Phase& p = phases_[static_cast<std::size_t>(j % factor_)];
    p.coeff.push_back(c);
    p.back.push_back(j / factor_);
  }
  for (const Phase& p : phases_) {
    double gain = 0.0;
    for (const double c : p.coeff) gain += std::fabs(c);
    gain_ = std::max(gain_, gain);
  }
  // Covers the rounding of the sums, of the single-precision output and of
  // this product itself, with room to spare.
  gain_ *= 1.000001;
}

void TruePeakMeter::add(const double* frames, long n) {
  for (long done = 0; done < n;) {
    const long part = std::min(n - done, kStretch);
    addStretch(frames + done * channels_, part);
    done += part;
  }
}

SORVAN_ALSO_AVX2 double phasePeakFour(const double* x, long n, const double* coeff, const int* back,
                                      int taps, double peak) {
  return phasePeakLanes<4>(x, n, coeff, back, taps, peak);
}

namespace {

using PhasePeak = double (*)(const double*, long, const double*, const int*, int, double);

// The largest |(float) sum| of one phase over n outputs (n a multiple of 4),
// reading no input past the last output.
double phasePeak(const double* x, long n, const double* coeff, const int* back, int taps,
                 double peak) {
  static const PhasePeak chosen =
      processorFamily() == ProcessorFamily::kAvx512 ? phasePeakAvx512 : phasePeakFour;
  return chosen(x, n, coeff, back, taps, peak);
}

}  // namespace

// The largest |(float) sum| of one phase over outputs [from, to).
double TruePeakMeter::walk(const double* x, long from, long to, const Phase& p, double peak) {
  const int taps = static_cast<int>(p.coeff.size());
  const long whole = (to - from) / 4 * 4;
  if (whole > 0) peak = phasePeak(x + from, whole, p.coeff.data(), p.back.data(), taps, peak);
  for (long i = from + whole; i < to; ++i) {
    double sum = 0.0;
    for (int t = 0; t < taps; ++t) sum += x[i - p.back[t]] * p.coeff[t];
    peak = std::max(peak, std::fabs(static_cast<double>(static_cast<float>(sum))));
  }
  return peak;
}

void TruePeakMeter::addStretch(const double* frames, long n) {
  // Inputs as the library sees them: rounded to single precision.
  double* x = input_.data() + history_;  // x[i - back] reaches into the history
  for (int c = 0; c < channels_; ++c) {
    Channel& ch = channel_[static_cast<std::size_t>(c)];
    std::copy(ch.history.begin(), ch.history.end(), input_.begin());
    double samplePeak = ch.samplePeak;
    for (long i = 0; i < n; ++i) {
      const double v = frames[i * channels_ + c];
      samplePeak = std::max(samplePeak, std::fabs(v));
      x[i] = static_cast<double>(static_cast<float>(v));
    }
    ch.samplePeak = samplePeak;
    double peak = ch.interpolatedPeak;
    // No output exceeds the largest input it reads times the largest sum of
    // a phase's tap magnitudes. Where that bound stays below the peak so far,
    // the outputs cannot raise it and are not worked out: most of a song,
    // once its loud moments have set the peak.
    std::array<bool, kStretch / kSegment> raises{};
    double before = 0.0;  // the largest input of the segment before
    for (int k = 0; k < history_; ++k) before = std::max(before, std::fabs(input_[k]));
    for (long a = 0; a < n; a += kSegment) {
      double largest = 0.0;
      for (long i = a; i < std::min(a + kSegment, n); ++i)
        largest = std::max(largest, std::fabs(x[i]));
      raises[static_cast<std::size_t>(a / kSegment)] = !(std::max(before, largest) * gain_ < peak);
      before = largest;
    }
    for (const Phase& p : phases_) {
      for (long a = 0; a < n;) {
        if (!raises[static_cast<std::size_t>(a / kSegment)]) {
          a += kSegment;
          continue;
        }
        long b = a;
        while (b < n && raises[static_cast<std::size_t>(b / kSegment)])
          b = std::min(b + kSegment, n);
        peak = walk(x, a, b, p, peak);
        a = b;
      }
    }
    ch.interpolatedPeak = peak;
    for (int k = 0; k < history_; ++k)
      ch.history[static_cast<std::size_t>(k)] = static_cast<float>(x[n - history_ + k]);
  }
}

double TruePeakMeter::peak(int channel) const {
  const Channel& ch = channel_[static_cast<std::size_t>(channel)];
  return std::max(ch.samplePeak, ch.interpolatedPeak);
}

}  // namespace sorvan
