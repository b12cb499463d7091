// A source at another rate than the session's, converted as it is read with
// libsoxr's very-high-quality recipe (linear phase). The conversion streams:
// a few buffers per source, allocated when it is opened, whatever the song's
// length.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "wave/source.h"

struct soxr;

namespace sorvan {

// Session rates and source rates the converter takes (Hz).
inline constexpr std::uint32_t kLowestConvertedRate = 1000;
inline constexpr std::uint32_t kHighestConvertedRate = 768000;

// Whether a source at `from` Hz can be converted to `to` Hz.
bool canConvertRate(std::uint32_t from, std::uint32_t to);

// The length at `to` Hz of `frames` frames at `from` Hz: frames x to / from,
// rounded to the nearest frame (halves down), as the converter delivers it.
std::int64_t convertedLength(std::int64_t frames, std::uint32_t from, std::uint32_t to);

// Reads `inner` (mono or stereo, `frames` frames at `from` Hz) as frames at
// `to` Hz, converted values held to the channel scale by the rule of float
// sources. Reads that continue one another stream on; any other read
// (the first one of a preview or of an in-point, say) starts the converter
// afresh at a fixed anchor well before the frame asked for, chosen from the
// frame alone, so the same read always gives the same frames; they match the
// frames read from the start to within the converter's rounding. Allocates
// everything when constructed.
class ResampledSource final : public SampleSource {
 public:
  ResampledSource(std::unique_ptr<SampleSource> inner, int channels, std::int64_t frames,
                  std::uint32_t from, std::uint32_t to);
  ~ResampledSource() override;
  ResampledSource(const ResampledSource&) = delete;
  ResampledSource& operator=(const ResampledSource&) = delete;

  long read(std::int64_t first, long count, std::int64_t* left, std::int64_t* right) override;
  void reportShortRead() override;
  void close() override;

  std::int64_t frames() const { return length_; }

 private:
  struct Deleter {
    void operator()(soxr* converter) const;
  };
  bool restartAt(std::int64_t first);
  bool produce();
  void refill();

  std::unique_ptr<SampleSource> inner_;
  std::unique_ptr<soxr, Deleter> converter_;
  int channels_;
  std::int64_t innerFrames_;
  std::int64_t length_;                // frames at the session rate
  std::int64_t periodIn_, periodOut_;  // rates over their common divisor
  std::int64_t next_ = -1;             // the output frame the next read continues at
  std::int64_t innerNext_ = 0;         // the inner frame the next refill reads
  bool innerEnded_ = false;            // every inner frame has gone in (or the inner read short)
  bool innerShort_ = false;            // the inner source delivered less than it promised
  bool flushed_ = false;               // the converter was told the input ended and has run dry
  std::int64_t dry_ = INT64_MAX;  // where a short inner source left the output: nothing follows
  bool used_ = false;             // the converter has been fed since it was made or cleared
  std::vector<std::int64_t> innerLeft_, innerRight_;
  std::vector<double> input_;  // interleaved, on the +-1.0 scale
  std::size_t inputAt_ = 0, inputFrames_ = 0;
  std::vector<double> output_;  // interleaved
  std::size_t outputAt_ = 0, outputFrames_ = 0;
};

}  // namespace sorvan
