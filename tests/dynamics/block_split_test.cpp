// Every dynamics processor must give the same output whether a signal comes
// as one block or as blocks of any sizes, and strips must not share state.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dynamics/limiter.h"
#include "dynamics/nonlinear_compressor.h"
#include "dynamics/peak_compressor.h"
#include "dynamics/rms_compressor.h"

namespace sorvan {
namespace {

// A sine stepping through quiet, loud and silent stretches (multiples of
// `level`): the compressors trigger, release, walk back, idle and trigger again.
std::vector<double> steppedTone(double level, double period) {
  const double gains[] = {0.1, 2.0, 0.05, 1.2, 0.05, 0.0, 3.0, 0.01};
  const int lengths[] = {3000, 3000, 3000, 1000, 6000, 2000, 3000, 4000};
  std::vector<double> out;
  for (int s = 0; s < 8; ++s)
    for (int k = 0; k < lengths[s]; ++k)
      out.push_back(std::round(gains[s] * level * std::sin(6.283185307179586 * out.size() / period)));
  return out;
}

// One block, against random blocks on two strips interleaved.
template <typename State, typename Process>
void expectBlockSplitInvariant(Process process) {
  const std::vector<double> left = steppedTone(100000, 97.3), right = steppedTone(80000, 61.0);
  const long total = static_cast<long>(left.size());
  std::vector<double> wholeL = left, wholeR = right, aL = left, aR = right, bL = left, bR = right;
  State whole, a, b;
  process(whole, total, wholeL.data(), wholeR.data());
  EXPECT_NE(wholeL, left) << "the signal should exercise the processor";
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<long> size(1, 2500);
  for (long pos = 0, n = 0; pos < total; pos += n) {
    n = std::min(size(rng), total - pos);
    process(a, n, aL.data() + pos, aR.data() + pos);
    process(b, n, bL.data() + pos, bR.data() + pos);
  }
  EXPECT_TRUE(aL == wholeL && aR == wholeR && bL == wholeL && bR == wholeR);
}

TEST(DynamicsBlockSplitTest, EveryProcessor) {
  const auto rms = switchedCompressor(80000, 300, 3000, 5.0);
  const auto peak = switchedCompressor(100000, 300, 3000, 5.0);
  const auto nlc = nonLinComp(60000, 200, 3.0);
  struct NoState {};
  expectBlockSplitInvariant<RmsChannelState>(
      [&](auto& st, long n, double* l, double* r) { RMSCOMPRESSOR(rms, st, n, l, r); });
  expectBlockSplitInvariant<PeakChannelState>(
      [&](auto& st, long n, double* l, double* r) { PEAKCOMPRESSOR(peak, st, n, l, r); });
  expectBlockSplitInvariant<NonLinChannelState>(
      [&](auto& st, long n, double* l, double* r) { NonLinCOMP(nlc, st, n, l, r); });
  expectBlockSplitInvariant<NoState>(
      [&](NoState&, long n, double* l, double* r) { LIMITER(LimiterSettings{100000}, n, l, r); });
}

}  // namespace
}  // namespace sorvan
