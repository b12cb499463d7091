// Signals, measurements and the block-split check shared by the filter tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace sorvan::test {

struct Pair {
  std::vector<double> left, right;
};

// Music-like signal in channel scale with stretches of silence and near-zero
// values, so the denormal guard takes part.
inline Pair testSignal(long n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> noise(-20000.0, 20000.0);
  Pair p{std::vector<double>(n), std::vector<double>(n)};
  for (long i = 0; i < n; ++i) {
    const double t = static_cast<double>(i);
    p.left[i] = 900000.0 * std::sin(t * 0.031) + 150000.0 * std::sin(t * 0.9) + noise(rng);
    p.right[i] = 700000.0 * std::sin(t * 0.047 + 1.0) + noise(rng);
    if (i % 997 > 960) p.left[i] = p.right[i] = (i % 3 == 0) ? -0.0 : 0.00003 * (i % 5 - 2.0);
  }
  return p;
}

// Gain in dB of process(pair) on a steady sine, measured by RMS over the
// second of two seconds (a whole number of periods for the rates used).
template <typename Process>
double sineGainDb(double freqHz, double rate, Process process) {
  const long n = static_cast<long>(2 * rate);
  Pair p{std::vector<double>(n), std::vector<double>(n)};
  for (long i = 0; i < n; ++i)
    p.left[i] = p.right[i] = 1e6 * std::sin(6.283185307179586 * freqHz * i / rate);
  const std::vector<double> in = p.left;
  process(p);
  double so = 0.0, si = 0.0;
  for (long i = n / 2; i < n; ++i) so += p.left[i] * p.left[i], si += in[i] * in[i];
  return 10.0 * std::log10(so / si);
}

// A filter fed one long block must give the same bits as a fresh copy fed the
// same signal in random block lengths (0 to 700 frames; the first block is one
// frame, so that seeding spans blocks). make() returns a callable
// run(pair, offset, n) that owns its own state.
template <typename Make>
void expectBlockSplitInvariant(Make make, unsigned seed) {
  const long total = 20000;
  const Pair in = testSignal(total, seed);
  Pair whole = in, split = in;
  make()(whole, 0, total);
  auto many = make();
  std::mt19937 rng(seed);
  std::uniform_int_distribution<long> length(0, 700);
  for (long off = 0, n = 0; off < total; off += n) {
    n = std::min(off == 0 ? 1 : length(rng), total - off);
    many(split, off, n);
  }
  EXPECT_EQ(split.left, whole.left) << "seed " << seed;
  EXPECT_EQ(split.right, whole.right) << "seed " << seed;
  EXPECT_NE(whole.left, in.left);
}

}  // namespace sorvan::test
