// The true peak is computed with the loudness library's own arithmetic, only
// faster: it must give the library's value to the bit, at every rate the
// library treats differently and however the frames arrive.
#include "engine/true_peak.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "base/target.h"

namespace sorvan {
namespace {

TEST(TruePeakTest, EqualsTheLibrarysMeterToTheBit) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  for (unsigned long rate : {44100ul, 48000ul, 96000ul, 192000ul}) {
    for (int channels : {1, 2}) {
      ebur128_state* library =
          ebur128_init(static_cast<unsigned>(channels), rate, EBUR128_MODE_TRUE_PEAK);
      TruePeakMeter ours(channels, rate);
      std::vector<double> frames;
      for (long size : {1L, 3L, 1023L, 1030L, 5L, 40000L}) {
        const double level = value(rng);
        frames.resize(static_cast<std::size_t>(size * channels));
        for (double& f : frames) f = value(rng) * level;
        ebur128_add_frames_double(library, frames.data(), static_cast<std::size_t>(size));
        ours.add(frames.data(), size);
      }
      for (int c = 0; c < channels; ++c) {
        double expected = 0.0;
        ebur128_true_peak(library, static_cast<unsigned>(c), &expected);
        EXPECT_EQ(ours.peak(c), expected) << rate << " Hz, channel " << c;
      }
      ebur128_destroy(&library);
    }
  }
}

// Outputs that cannot raise the peak so far are skipped. A quieter passage
// whose signs line up with the interpolator's taps still overshoots its
// samples by the most the taps allow, and must raise the peak: an impulse at
// full scale first, then random signs at a level whose worst pattern lands
// just above it.
TEST(TruePeakTest, AQuietPassageThatOvershootsStillRaisesThePeak) {
  const auto libraryPeak = [](unsigned long rate, const std::vector<double>& frames) {
    ebur128_state* library = ebur128_init(1, rate, EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_double(library, frames.data(), frames.size());
    double peak = 0.0;
    ebur128_true_peak(library, 0, &peak);
    ebur128_destroy(&library);
    return peak;
  };
  for (unsigned long rate : {48000ul, 96000ul}) {
    std::mt19937 rng(5);
    std::vector<double> signs(40000);
    for (double& v : signs) v = (rng() & 1) != 0 ? 1.0 : -1.0;
    const double overshoot = libraryPeak(rate, signs);
    ASSERT_GT(overshoot, 1.5) << rate;  // the taps' worst pattern occurs
    std::vector<double> frames(2000, 0.0);
    frames[100] = 1.0;
    for (const double v : signs) frames.push_back(v * 1.01 / overshoot);
    const double expected = libraryPeak(rate, frames);
    ASSERT_GT(expected, 1.0) << rate;
    TruePeakMeter ours(1, rate);
    ours.add(frames.data(), static_cast<long>(frames.size()));
    EXPECT_EQ(ours.peak(0), expected) << rate;
  }
}

// Every walk the processor has finds the one loud output wherever it lies,
// in a stretch of any length, with the value a single output gives.
TEST(TruePeakTest, EveryWalkFindsThePeakAtEveryPlace) {
  constexpr int kHistory = 3;
  const std::vector<double> coeff{0.25, -0.5, 1.0, 0.125};
  const std::vector<int> back{3, 2, 1, 0};
  for (long n : {4L, 8L, 12L, 36L}) {
    for (long loud = 0; loud < n; ++loud) {
      std::vector<double> input(static_cast<std::size_t>(kHistory + n), 0.001);
      double* x = input.data() + kHistory;
      x[loud] = -3.0;
      double want = 0.0;
      for (long i = 0; i < n; ++i) {
        double sum = 0.0;
        for (std::size_t t = 0; t < coeff.size(); ++t) sum += x[i - back[t]] * coeff[t];
        want = std::max(want, std::fabs(static_cast<double>(static_cast<float>(sum))));
      }
      EXPECT_EQ(phasePeakFour(x, n, coeff.data(), back.data(), 4, 0.0), want) << n << " " << loud;
      if (processorFamily() == ProcessorFamily::kAvx512) {
        EXPECT_EQ(phasePeakAvx512(x, n, coeff.data(), back.data(), 4, 0.0), want)
            << n << " " << loud;
      }
    }
  }
}

}  // namespace
}  // namespace sorvan
