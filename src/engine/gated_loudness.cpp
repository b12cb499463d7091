#include "engine/gated_loudness.h"

#include <xmmintrin.h>

#include <cfloat>
#include <cmath>
#include <cstring>

namespace sorvan {
namespace {

// Two channels of one frame side by side: each lane does what the library
// does for its channel, in the same order.
typedef double Lanes __attribute__((vector_size(2 * sizeof(double))));

constexpr double kPi = 3.14159265358979323846;

// Block energies are counted in bins of 0.1 LU from -70 LUFS: a bin's lower
// boundary, and the energy that stands for the blocks in it.
struct Bins {
  double boundary[1001];
  double energy[1000];
  Bins() {
    for (int i = 0; i <= 1000; ++i)
      boundary[i] = std::pow(10.0, (static_cast<double>(i) / 10.0 - 70.0 + 0.691) / 10.0);
    for (int i = 0; i < 1000; ++i)
      energy[i] = std::pow(10.0, (static_cast<double>(i) / 10.0 - 69.95 + 0.691) / 10.0);
  }
};

const Bins& bins() {
  static const Bins kBins;
  return kBins;
}

std::size_t binOf(double energy) {
  const Bins& b = bins();
  std::size_t low = 0, high = 1000;
  do {
    const std::size_t middle = (low + high) / 2;
    if (energy >= b.boundary[middle])
      low = middle;
    else
      high = middle;
  } while (high - low != 1);
  return low;
}

double loudnessOf(double energy) { return 10 * (std::log(energy) / std::log(10.0)) - 0.691; }

// The first bin whose blocks are above `gate`.
std::size_t firstBinAbove(double gate) {
  if (gate < bins().boundary[0]) return 0;
  std::size_t bin = binOf(gate);
  if (gate > bins().energy[bin]) ++bin;
  return bin;
}

Lanes load(const double* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

GatedLoudness::GatedLoudness(int channels, unsigned long sampleRate) : channels_(channels) {
  // The K-weighting: a high shelf and a high-pass, multiplied out into one
  // filter of fourth order.
  const double rate = static_cast<double>(sampleRate);
  double f0 = 1681.974450955533, gain = 3.999843853973347, q = 0.7071752369554196;
  double k = std::tan(kPi * f0 / rate);
  const double vh = std::pow(10.0, gain / 20.0);
  const double vb = std::pow(vh, 0.4996667741545416);
  double pb[3] = {0, 0, 0}, pa[3] = {1, 0, 0};
  const double rb[3] = {1, -2, 1};
  double ra[3] = {1, 0, 0};
  const double a0 = 1.0 + k / q + k * k;
  pb[0] = (vh + vb * k / q + k * k) / a0;
  pb[1] = 2.0 * (k * k - vh) / a0;
  pb[2] = (vh - vb * k / q + k * k) / a0;
  pa[1] = 2.0 * (k * k - 1.0) / a0;
  pa[2] = (1.0 - k / q + k * k) / a0;
  f0 = 38.13547087602444;
  q = 0.5003270373238773;
  k = std::tan(kPi * f0 / rate);
  ra[1] = 2.0 * (k * k - 1.0) / (1.0 + k / q + k * k);
  ra[2] = (1.0 - k / q + k * k) / (1.0 + k / q + k * k);
  b_[0] = pb[0] * rb[0];
  b_[1] = pb[0] * rb[1] + pb[1] * rb[0];
  b_[2] = pb[0] * rb[2] + pb[1] * rb[1] + pb[2] * rb[0];
  b_[3] = pb[1] * rb[2] + pb[2] * rb[1];
  b_[4] = pb[2] * rb[2];
  a_[0] = pa[0] * ra[0];
  a_[1] = pa[0] * ra[1] + pa[1] * ra[0];
  a_[2] = pa[0] * ra[2] + pa[1] * ra[1] + pa[2] * ra[0];
  a_[3] = pa[1] * ra[2] + pa[2] * ra[1];
  a_[4] = pa[2] * ra[2];

  hop_ = (sampleRate + 5) / 10;
  windowFrames_ = sampleRate * 3000 / 1000;
  if (windowFrames_ % hop_ != 0) windowFrames_ = windowFrames_ + hop_ - windowFrames_ % hop_;
  window_.allocate(windowFrames_ * static_cast<std::size_t>(channels_), true);
  needed_ = hop_ * 4;
}

void GatedLoudness::filter(const double* frames, std::size_t n) {
  // Results too small for a normal double are zero, as in the library.
  const unsigned int control = _mm_getcsr();
  _mm_setcsr(control | _MM_FLUSH_ZERO_ON);
  double* out = window_.data() + at_;
  if (channels_ == 2) {
    const Lanes a1 = Lanes{} + a_[1], a2 = Lanes{} + a_[2], a3 = Lanes{} + a_[3],
                a4 = Lanes{} + a_[4];
    const Lanes b0 = Lanes{} + b_[0], b1 = Lanes{} + b_[1], b2 = Lanes{} + b_[2],
                b3 = Lanes{} + b_[3], b4 = Lanes{} + b_[4];
    Lanes v0 = {v_[0][0], v_[1][0]}, v1 = {v_[0][1], v_[1][1]}, v2 = {v_[0][2], v_[1][2]},
          v3 = {v_[0][3], v_[1][3]}, v4 = {v_[0][4], v_[1][4]};
    for (std::size_t i = 0; i < n; ++i) {
      v0 = load(frames + 2 * i) - a1 * v1 - a2 * v2 - a3 * v3 - a4 * v4;
      const Lanes y = b0 * v0 + b1 * v1 + b2 * v2 + b3 * v3 + b4 * v4;
      std::memcpy(out + 2 * i, &y, sizeof y);
      v4 = v3;
      v3 = v2;
      v2 = v1;
      v1 = v0;
    }
    const Lanes state[5] = {v0, v1, v2, v3, v4};
    for (int c = 0; c < 2; ++c)
      for (int t = 0; t < 5; ++t) v_[c][t] = state[t][c];
  } else {
    double* v = v_[0];
    for (std::size_t i = 0; i < n; ++i) {
      v[0] = frames[i] - a_[1] * v[1] - a_[2] * v[2] - a_[3] * v[3] - a_[4] * v[4];
      out[i] = b_[0] * v[0] + b_[1] * v[1] + b_[2] * v[2] + b_[3] * v[3] + b_[4] * v[4];
      v[4] = v[3];
      v[3] = v[2];
      v[2] = v[1];
      v[1] = v[0];
    }
  }
  for (int c = 0; c < channels_; ++c)
    for (int t = 4; t >= 1; --t) v_[c][t] = std::fabs(v_[c][t]) < DBL_MIN ? 0.0 : v_[c][t];
  _mm_setcsr(control);
}

// The mean square of the last `blockFrames` frames, channels added, each
// summed from the ring's start when the block wraps around it.
double GatedLoudness::blockEnergy(std::size_t blockFrames) const {
  const std::size_t ch = static_cast<std::size_t>(channels_);
  const std::size_t end = at_ / ch;
  const double* w = window_.data();
  // The frames [from, to) of each part, in the order they are added.
  std::size_t parts[2][2] = {{end - (end >= blockFrames ? blockFrames : end), end}, {0, 0}};
  if (end < blockFrames)
    parts[1][0] = windowFrames_ - (blockFrames - end), parts[1][1] = windowFrames_;
  double sum = 0.0;
  if (ch == 2) {
    Lanes squares = {};
    for (const auto& part : parts)
      for (std::size_t i = part[0]; i < part[1]; ++i) {
        const Lanes s = load(w + 2 * i);
        squares += s * s;
      }
    sum += squares[0];
    sum += squares[1];
  } else {
    double squares = 0.0;
    for (const auto& part : parts)
      for (std::size_t i = part[0]; i < part[1]; ++i) squares += w[i] * w[i];
    sum += squares;
  }
  return sum / static_cast<double>(blockFrames);
}

double GatedLoudness::loudnessOfBlock(std::size_t blockFrames) const {
  const double energy = blockEnergy(blockFrames);
  return energy <= 0.0 ? -HUGE_VAL : loudnessOf(energy);
}

void GatedLoudness::add(const double* frames, std::size_t n) {
  const std::size_t ch = static_cast<std::size_t>(channels_);
  while (n > 0) {
    if (n < needed_) {
      filter(frames, n);
      at_ += n * ch;
      shortTermFrames_ += n;
      needed_ -= n;
      return;
    }
    filter(frames, needed_);
    frames += needed_ * ch;
    n -= needed_;
    at_ += needed_ * ch;
    const double block = blockEnergy(hop_ * 4);
    if (block >= bins().boundary[0]) ++blocks_[binOf(block)];
    shortTermFrames_ += needed_;
    if (shortTermFrames_ == hop_ * 30) {
      const double shortTerm = blockEnergy(hop_ * 30);
      if (shortTerm >= bins().boundary[0]) ++shortTerm_[binOf(shortTerm)];
      shortTermFrames_ = hop_ * 20;
    }
    needed_ = hop_;
    if (at_ == windowFrames_ * ch) at_ = 0;
  }
}

double GatedLoudness::integrated() const {
  const Bins& b = bins();
  double sum = 0.0;
  unsigned long count = 0;
  for (int i = 0; i < kBins; ++i) {
    sum += static_cast<double>(blocks_[i]) * b.energy[i];
    count += blocks_[i];
  }
  if (count == 0) return -HUGE_VAL;
  // The relative gate: 10 LU below the loudness of the blocks above -70 LUFS.
  const double gate = sum / static_cast<double>(count) * std::pow(10.0, -10.0 / 10.0);
  sum = 0.0;
  count = 0;
  for (std::size_t i = firstBinAbove(gate); i < kBins; ++i) {
    sum += static_cast<double>(blocks_[i]) * b.energy[i];
    count += blocks_[i];
  }
  if (count == 0) return -HUGE_VAL;
  return loudnessOf(sum / static_cast<double>(count));
}

double GatedLoudness::range() const {
  const Bins& b = bins();
  unsigned long count = 0;
  double power = 0.0;
  for (int i = 0; i < kBins; ++i) {
    count += shortTerm_[i];
    power += static_cast<double>(shortTerm_[i]) * b.energy[i];
  }
  if (count == 0) return 0.0;
  power /= static_cast<double>(count);
  // The blocks 20 LU below their mean, then the 10th and 95th percentiles.
  const std::size_t first = firstBinAbove(std::pow(10.0, -20.0 / 10.0) * power);
  count = 0;
  for (std::size_t i = first; i < kBins; ++i) count += shortTerm_[i];
  if (count == 0) return 0.0;
  const auto low = static_cast<unsigned long>(static_cast<double>(count - 1) * 0.1 + 0.5);
  const auto high = static_cast<unsigned long>(static_cast<double>(count - 1) * 0.95 + 0.5);
  count = 0;
  std::size_t i = first;
  while (count <= low) count += shortTerm_[i++];
  const double lowEnergy = b.energy[i - 1];
  while (count <= high) count += shortTerm_[i++];
  const double highEnergy = b.energy[i - 1];
  return loudnessOf(highEnergy) - loudnessOf(lowEnergy);
}

}  // namespace sorvan
