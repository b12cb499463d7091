// What the block loop needs from the stages before it, as plain data: the
// channels to mix, the render range and the output format.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "base/limits.h"

namespace sorvan {

struct SourceChannel {
  bool wanted = false;      // read and mixed
  int channels = 0;         // 1 or 2 are mixed
  std::int64_t start = 0;   // song position of the first frame
  std::int64_t length = 0;  // frames
};

// How the output is written: integer PCM WAVE (the mix as it always was),
// IEEE 32-bit float WAVE, or FLAC at the word size.
enum class OutputFormat { kWave, kFloat, kFlac };

struct RenderPlan {
  int trackCount = 0;
  std::array<SourceChannel, kMaxTracks + 1> channels{};  // index = channel number
  std::int64_t renderStart = 0;
  std::int64_t renderLength = 0;
  double sampleRate = 44100.0;
  int outputBits = 24;
  bool mono = false;
  double monoFactor = 1.0;
  int ditherHalfWidth = 1;
  int ditherModulus = 3;
  std::uint32_t ditherSeed = 0;
  int verbosity = 2;
  int tapMode = 0;  // 0 none, 1 reverb send, 2 reverb return
  int threads = 1;  // threads the render may use
  // The count is the machine's, not one the user asked for: the channels are
  // then shared out only when they are worth the sharing.
  bool threadsFromCores = false;
  OutputFormat format = OutputFormat::kWave;
  bool stems = false;       // write each bus as it enters the master sum
  double outputGain = 1.0;  // static gain before dither (a loudness target)
  bool measuring = false;   // a pass that only measures the master, writing nothing

  // Frames a block buffer holds: a whole block, or the render's own length
  // when it is shorter. The blocks are the same either way; a short render
  // (a preview, and the many of tests and fuzzing) then neither maps nor
  // clears megabytes it never uses.
  long blockFrames() const {
    return renderLength < kBlockFrames ? static_cast<long>(std::max<std::int64_t>(renderLength, 1))
                                       : kBlockFrames;
  }
};

}  // namespace sorvan
