// Integrated loudness and range are computed with the loudness library's own
// arithmetic, only faster: they must give the library's values to the bit,
// at every rate, for mono and stereo, whatever the signal (silence, values
// too small for a normal double, full scale, level steps that the gates and
// the range's percentiles cut) and however the frames arrive; and so must
// the loudness of the last 400 ms and 3 s after every part.
#include "engine/gated_loudness.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace sorvan {
namespace {

TEST(GatedLoudnessTest, EqualsTheLibrarysMeasureToTheBit) {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 1.0);
  for (unsigned long rate : {8000ul, 11025ul, 48000ul, 192000ul}) {
    for (int channels : {1, 2}) {
      for (int kind = 0; kind < 6; ++kind) {
        const long frames = kind == 0 ? static_cast<long>(rate / 3)  // shorter than a block
                                      : static_cast<long>(rate) * 5;
        std::vector<double> f(static_cast<std::size_t>(frames * channels));
        for (long i = 0; i < frames; ++i) {
          // Steps of a third of a second between 0 and -80 dB.
          const double step = std::pow(10.0, -static_cast<double>((i * 3 / rate) * 37 % 80) / 20.0);
          for (int c = 0; c < channels; ++c) {
            const double x = noise(rng);
            const double values[] = {0.3 * x,    0.3 * x * step,          0.0,
                                     1e-310 * x, i % 2 != 0 ? 1.0 : -1.0, 0.5 * x * (c + 1) * step};
            f[static_cast<std::size_t>(i * channels + c)] = values[kind];
          }
        }
        ebur128_state* library =
            ebur128_init(static_cast<unsigned>(channels), rate,
                         EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM);
        GatedLoudness ours(channels, rate);
        const long most = kind == 5 ? 3 : 40000;  // the last kind in crumbs
        for (long done = 0; done < frames;) {
          const long part = std::min<long>(frames - done, 1 + static_cast<long>(rng() % most));
          const double* at = f.data() + done * channels;
          ebur128_add_frames_double(library, at, static_cast<std::size_t>(part));
          ours.add(at, static_cast<std::size_t>(part));
          done += part;
          // The block energies themselves, wherever the ring stands (now
          // and then: each sums seconds of frames).
          if (rng() % (kind == 5 ? 20000 : 8) != 0) continue;
          double momentary = 0.0, shortTerm = 0.0;
          ebur128_loudness_momentary(library, &momentary);
          ebur128_loudness_shortterm(library, &shortTerm);
          ASSERT_EQ(ours.momentary(), momentary)
              << rate << " Hz, " << channels << " ch, kind " << kind;
          ASSERT_EQ(ours.shortTerm(), shortTerm)
              << rate << " Hz, " << channels << " ch, kind " << kind;
        }
        double integrated = 0.0, range = 0.0;
        ebur128_loudness_global(library, &integrated);
        ebur128_loudness_range(library, &range);
        ebur128_destroy(&library);
        EXPECT_EQ(ours.integrated(), integrated)
            << rate << " Hz, " << channels << " ch, kind " << kind;
        EXPECT_EQ(ours.range(), range) << rate << " Hz, " << channels << " ch, kind " << kind;
      }
    }
  }
}

}  // namespace
}  // namespace sorvan
