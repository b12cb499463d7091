#include "wave/resampled_source.h"

#include <soxr.h>

#include <algorithm>
#include <numeric>

#include "wave/samples.h"

namespace sorvan {
namespace {

// Frames per converter call on each side.
constexpr long kChunkFrames = 4096;
// Input frames fed before the frame a restarted read asks for: the filter's
// start-up reaches about 150 input frames (times the decimation factor when
// converting down), so after this many it has settled to the rounding of the
// arithmetic.
constexpr std::int64_t kPrerollFrames = 2048;
constexpr double kFullScale = 8388608.0;  // 2^23, a power of two: scaling is exact

// floor(x * num / den) for x >= 0 and num, den below 2^32, without overflow
// for any song length.
std::int64_t scaleDown(std::int64_t x, std::int64_t num, std::int64_t den) {
  return (x / den) * num + (x % den) * num / den;
}

}  // namespace

bool canConvertRate(std::uint32_t from, std::uint32_t to) {
  auto inRange = [](std::uint32_t r) {
    return r >= kLowestConvertedRate && r <= kHighestConvertedRate;
  };
  return inRange(from) && inRange(to);
}

std::int64_t convertedLength(std::int64_t frames, std::uint32_t from, std::uint32_t to) {
  if (frames <= 0 || from == 0) return 0;
  if (from == to) return frames;
  const std::int64_t g = std::gcd<std::int64_t>(from, to);
  const std::int64_t in = from / g, out = to / g;
  const std::int64_t whole = scaleDown(frames, out, in);
  const std::int64_t remainder = (frames % in) * out % in;
  return whole + (2 * remainder > in ? 1 : 0);
}

void ResampledSource::Deleter::operator()(soxr* converter) const { soxr_delete(converter); }

ResampledSource::ResampledSource(std::unique_ptr<SampleSource> inner, int channels,
                                 std::int64_t frames, std::uint32_t from, std::uint32_t to)
    : inner_(std::move(inner)),
      channels_(std::clamp(channels, 1, 2)),
      innerFrames_(std::max<std::int64_t>(frames, 0)),
      length_(convertedLength(frames, from, to)),
      periodIn_(1),
      periodOut_(1),
      innerLeft_(kChunkFrames),
      innerRight_(kChunkFrames),
      input_(static_cast<std::size_t>(kChunkFrames * channels_)),
      output_(static_cast<std::size_t>(kChunkFrames * channels_)) {
  if (!canConvertRate(from, to)) {
    length_ = 0;
    return;
  }
  const std::int64_t g = std::gcd<std::int64_t>(from, to);
  periodIn_ = from / g;
  periodOut_ = to / g;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, SOXR_LINEAR_PHASE);
  // One thread: the mix spreads its channels over the threads already, and
  // a single thread keeps every result the same from run to run.
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t error = nullptr;
  converter_.reset(
      soxr_create(from, to, static_cast<unsigned>(channels_), &error, &io, &quality, &runtime));
  if (error) converter_.reset();
  if (!converter_) length_ = 0;
}

ResampledSource::~ResampledSource() = default;

void ResampledSource::close() { inner_->close(); }

void ResampledSource::reportShortRead() { inner_->reportShortRead(); }

// The converter starts at an input frame that is a whole number of rate
// periods (so its outputs fall on the session's frame grid), a fixed preroll
// before the frame asked for; the outputs before `first` are dropped.
bool ResampledSource::restartAt(std::int64_t first) {
  if (used_ && soxr_clear(converter_.get()) != nullptr) return false;
  used_ = false;
  const std::int64_t at = scaleDown(first, periodIn_, periodOut_);
  const std::int64_t decimation = (periodIn_ + periodOut_ - 1) / periodOut_;
  const std::int64_t start = at - kPrerollFrames * decimation;
  const std::int64_t anchor = start <= 0 ? 0 : start / periodIn_ * periodIn_;
  innerNext_ = anchor;
  innerEnded_ = anchor >= innerFrames_;
  innerShort_ = false;
  flushed_ = false;
  inputAt_ = inputFrames_ = 0;
  outputAt_ = outputFrames_ = 0;
  std::int64_t drop = first - anchor / periodIn_ * periodOut_;
  while (drop > 0) {
    if (outputAt_ == outputFrames_ && !produce()) return false;
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(drop, static_cast<std::int64_t>(outputFrames_ - outputAt_)));
    outputAt_ += n;
    drop -= static_cast<std::int64_t>(n);
  }
  return true;
}

void ResampledSource::refill() {
  inputAt_ = inputFrames_ = 0;
  const long want =
      static_cast<long>(std::min<std::int64_t>(kChunkFrames, innerFrames_ - innerNext_));
  if (want <= 0) {
    innerEnded_ = true;
    return;
  }
  const long got = inner_->read(innerNext_, want, innerLeft_.data(),
                                channels_ == 2 ? innerRight_.data() : nullptr);
  const long n = std::clamp<long>(got, 0, want);
  for (long i = 0; i < n; ++i) {
    const auto at = static_cast<std::size_t>(i * channels_);
    input_[at] = static_cast<double>(innerLeft_[static_cast<std::size_t>(i)]) / kFullScale;
    if (channels_ == 2)
      input_[at + 1] = static_cast<double>(innerRight_[static_cast<std::size_t>(i)]) / kFullScale;
  }
  inputFrames_ = static_cast<std::size_t>(n);
  innerNext_ += n;
  if (n < want) innerShort_ = true;
  if (n < want || innerNext_ >= innerFrames_) innerEnded_ = true;
}

// Fills the output buffer with the converter's next frames; false once it
// has nothing more to give.
bool ResampledSource::produce() {
  outputAt_ = outputFrames_ = 0;
  while (outputFrames_ == 0) {
    if (flushed_) return false;
    if (inputAt_ == inputFrames_ && !innerEnded_) refill();
    const std::size_t pending = inputFrames_ - inputAt_;
    // No input pointer tells the converter that the input has ended, and it
    // gives out what its filter still holds.
    const bool ending = pending == 0 && innerEnded_;
    const double* in =
        ending ? nullptr : input_.data() + inputAt_ * static_cast<std::size_t>(channels_);
    std::size_t used = 0, made = 0;
    const soxr_error_t error = soxr_process(converter_.get(), in, pending, &used, output_.data(),
                                            static_cast<std::size_t>(kChunkFrames), &made);
    used_ = true;
    inputAt_ += used;
    outputFrames_ = made;
    if (error != nullptr || (made == 0 && (ending || used == 0))) {
      flushed_ = true;
      return made > 0;
    }
  }
  return true;
}

long ResampledSource::read(std::int64_t first, long count, std::int64_t* left,
                           std::int64_t* right) {
  if (!converter_ || count <= 0 || first < 0 || first >= length_ || first >= dry_) return 0;
  if (first != next_ && !restartAt(first)) {
    next_ = -1;
    return 0;
  }
  const long want = static_cast<long>(std::min<std::int64_t>(count, length_ - first));
  long done = 0;
  while (done < want) {
    if (outputAt_ == outputFrames_ && !produce()) break;
    const long n = static_cast<long>(
        std::min<std::size_t>(outputFrames_ - outputAt_, static_cast<std::size_t>(want - done)));
    const double* from = output_.data() + outputAt_ * static_cast<std::size_t>(channels_);
    for (long i = 0; i < n; ++i) {
      const std::int64_t l = channelFromDouble(from[i * channels_]);
      left[done + i] = l;
      if (right) right[done + i] = channels_ == 2 ? channelFromDouble(from[i * channels_ + 1]) : l;
    }
    outputAt_ += static_cast<std::size_t>(n);
    done += n;
  }
  // The converter may round its last frame away; a complete input still
  // fills the length it was given, the rest being the filter's silence.
  if (done < want && !innerShort_) {
    std::fill(left + done, left + want, 0);
    if (right) std::fill(right + done, right + want, 0);
    done = want;
  }
  if (done < want) dry_ = first + done;
  next_ = first + done;
  return done;
}

}  // namespace sorvan
