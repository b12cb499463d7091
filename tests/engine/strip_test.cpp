// Whole strips (every processor, in a reordered running order, on a channel,
// a submix and the master) give the same output in blocks of any sizes.
#include "engine/strip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/messages.h"
#include "script/effect_settings.h"

namespace sorvan {
namespace {

constexpr const char* kFullStrip =
    "\nhp\t5\t40\nband1\t5\t100\t3\t1\nband2\t5\t500\t-4\t2\nband3\t5\t2000\t6\t0.7\n"
    "band4\t5\t6000\t-2\t1\nhshelf\t5\t8000\t2\t0.7\nlshelf\t5\t80\t-3\t0.7\n"
    "rms\t5\t-18\t5\t50\t3\nnlc\t5\t-12\t200\t2\ncomp\t5\t-6\t1\t20\t4\nlim\t5\t-3\n"
    "order\tcomp\t5\t2\norder\thp\t5\t9\nhp\tG\t2\t30\nrms\tG\t2\t-10\t5\t50\t2\nlim\tG\t2\t-1\n"
    "band1\tM\t1000\t3\t1\ncomp\tM\t-6\t2\t30\t3\nlim\tM\t-1\n";

// A 220 Hz tone jumping between quiet and loud every 2500 frames, so that
// every compressor attacks and releases, with a little noise on top, run in
// blocks of the given sizes (the last block takes what is left).
std::vector<double> runInBlocks(const StripSettings& settings, int index, double scale,
                                const std::vector<long>& sizes) {
  const long frames = 24000;
  std::vector<double> left(frames), right(frames);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> noise(-0.01, 0.01);
  for (long i = 0; i < frames; ++i) {
    const double level = (i / 2500) % 2 ? 0.9 : 0.05, phase = 2 * M_PI * 220.0 * i / 48000.0;
    left[i] = std::trunc((level * std::sin(phase) + noise(rng)) * scale);
    right[i] = std::trunc((level * std::cos(phase) + noise(rng)) * scale);
  }
  const StripChannelSettings& strip = settings.strip[static_cast<std::size_t>(index)];
  auto memory = std::make_unique<StripMemory>();
  for (long at = 0, k = 0, n = 0; at < frames; at += n, ++k) {
    n = k < static_cast<long>(sizes.size()) ? std::min(sizes[k], frames - at) : frames - at;
    runStrip(strip, stripOrder(strip), *memory, n, &left[at], &right[at], index != 0);
    if (index == 0) runMasterLimiter(strip, n, &left[at], &right[at]);
  }
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

TEST(StripTest, WholeStripsAreBlockSplitInvariant) {
  auto fx = std::make_unique<EffectSettings>();
  MessageCapture quiet;
  readEffectSettings(EffectInputs{kFullStrip, 48000.0, false, 0}, *fx);
  std::mt19937 rng(5);
  std::uniform_int_distribution<long> size(1, 3000);
  std::vector<long> sizes;
  for (long total = 0; total < 24000; total += sizes.back()) sizes.push_back(size(rng));
  for (auto [index, scale] : {std::pair{5, 8388608.0}, {129, 2147483648.0}, {0, 2147483648.0}}) {
    const auto whole = runInBlocks(fx->strips, index, scale, {});
    EXPECT_TRUE(whole == runInBlocks(fx->strips, index, scale, sizes)) << index;
    EXPECT_TRUE(whole == runInBlocks(fx->strips, index, scale, std::vector<long>(24000, 1))) << index;
    EXPECT_FALSE(whole == runInBlocks(StripSettings{}, index, scale, {})) << index << " was processed";
  }
}

}  // namespace
}  // namespace sorvan
