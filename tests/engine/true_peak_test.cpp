// The true peak is computed with the loudness library's own arithmetic, only
// faster: it must give the library's value to the bit, at every rate the
// library treats differently and however the frames arrive.
#include "engine/true_peak.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

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

}  // namespace
}  // namespace sorvan
