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

std::unique_ptr<EffectSettings> settingsFrom(const std::string& section) {
  auto fx = std::make_unique<EffectSettings>();
  MessageCapture quiet;
  readEffectSettings(EffectInputs{section, 48000.0, false, 0}, *fx);
  return fx;
}

struct Signal {
  std::vector<double> left, right;
};

// A 220 Hz tone that jumps between quiet and loud every 2500 frames, so that
// every compressor attacks and releases, with a little noise on top; `scale`
// is the strip's full scale.
Signal burstyTone(long frames, double scale) {
  Signal s{std::vector<double>(frames), std::vector<double>(frames)};
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> noise(-0.01, 0.01);
  for (long i = 0; i < frames; ++i) {
    const double level = (i / 2500) % 2 ? 0.9 : 0.05;
    const double phase = 2.0 * 3.141592653589793 * 220.0 * static_cast<double>(i) / 48000.0;
    s.left[i] = std::trunc((level * std::sin(phase) + noise(rng)) * scale);
    s.right[i] = std::trunc((level * std::cos(phase) + noise(rng)) * scale);
  }
  return s;
}

constexpr const char* kFullStrip =
    "\nhp\t5\t40\nband1\t5\t100\t3\t1\nband2\t5\t500\t-4\t2\nband3\t5\t2000\t6\t0.7\n"
    "band4\t5\t6000\t-2\t1\nhshelf\t5\t8000\t2\t0.7\nlshelf\t5\t80\t-3\t0.7\n"
    "rms\t5\t-18\t5\t50\t3\nnlc\t5\t-12\t200\t2\ncomp\t5\t-6\t1\t20\t4\nlim\t5\t-3\n"
    "order\tcomp\t5\t2\norder\thp\t5\t9\n"
    "hp\tG\t2\t30\nrms\tG\t2\t-10\t5\t50\t2\nlim\tG\t2\t-1\n"
    "band1\tM\t1000\t3\t1\ncomp\tM\t-6\t2\t30\t3\nlim\tM\t-1\n";

// Runs every strip of the full strip over the signal in blocks of the given
// sizes (the last block takes what is left).
Signal runInBlocks(const StripSettings& settings, int index, double scale, long frames,
                   const std::vector<long>& sizes) {
  const StripChannelSettings& strip = settings.strip[static_cast<std::size_t>(index)];
  const StripOrder order = stripOrder(strip);
  auto memory = std::make_unique<StripMemory>();
  Signal s = burstyTone(frames, scale);
  long at = 0;
  for (std::size_t k = 0; at < frames; ++k) {
    const long n = k < sizes.size() ? std::min(sizes[k], frames - at) : frames - at;
    runStrip(strip, order, *memory, n, s.left.data() + at, s.right.data() + at, index != 0);
    if (index == 0) runMasterLimiter(strip, n, s.left.data() + at, s.right.data() + at);
    at += n;
  }
  return s;
}

TEST(StripTest, WholeStripsAreBlockSplitInvariant) {
  const auto fx = settingsFrom(kFullStrip);
  constexpr long kFrames = 24000;
  std::mt19937 rng(5);
  std::uniform_int_distribution<long> size(1, 3000);
  std::vector<long> sizes;
  for (long total = 0; total < kFrames; total += sizes.back()) sizes.push_back(size(rng));
  for (auto [index, scale] : {std::pair{5, 8388608.0}, {129, 2147483648.0}, {0, 2147483648.0}}) {
    const Signal whole = runInBlocks(fx->strips, index, scale, kFrames, {});
    const Signal split = runInBlocks(fx->strips, index, scale, kFrames, sizes);
    const Signal single =
        runInBlocks(fx->strips, index, scale, kFrames, std::vector<long>(kFrames, 1));
    EXPECT_TRUE(whole.left == split.left && whole.right == split.right) << index;
    EXPECT_TRUE(whole.left == single.left && whole.right == single.right) << index;
    EXPECT_FALSE(whole.left == burstyTone(kFrames, scale).left) << index << " was processed";
  }
}

}  // namespace
}  // namespace sorvan
