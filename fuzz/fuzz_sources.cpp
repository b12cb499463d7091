// The source stage's readers on arbitrary file contents: our WAVE reader
// first, libsndfile for every file it refuses (FLAC, AIFF, W64, CAF, Ogg,
// MP3, other WAVE encodings), and the rate converter on what they deliver.
// Whatever the bytes, a source is refused with a message or read safely:
// frames within the counts asked for, on the channel scale, none after a
// short read, and the converter's reads within its length.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/messages.h"
#include "fuzz_support.h"
#include "wave/open_source.h"
#include "wave/resampled_source.h"
#include "wave/samples.h"

namespace {

sorvan::fuzz::ScratchFolder& folder() {
  static sorvan::fuzz::ScratchFolder f;
  return f;
}

// Reads up to `limit` frames in uneven stretches; returns the frames read.
std::int64_t readThrough(sorvan::SampleSource& source, std::int64_t length, std::int64_t limit) {
  constexpr long kStretch = 3001;
  constexpr std::int64_t kUntouched = 0x5A5A5A5A5A5A;
  static std::vector<std::int64_t> left(kStretch + 1), right(kStretch + 1);
  std::int64_t at = 0;
  while (at < length && at < limit) {
    // As the mix does, never past the length the header gave.
    const long want = static_cast<long>(std::min<std::int64_t>(kStretch, length - at));
    left[kStretch] = right[kStretch] = kUntouched;
    const long got = source.read(at, want, left.data(), right.data());
    FUZZ_CHECK(got >= 0 && got <= want);
    FUZZ_CHECK(left[kStretch] == kUntouched && right[kStretch] == kUntouched);
    for (long i = 0; i < got; ++i)
      FUZZ_CHECK(left[i] >= -sorvan::kFloatDecodeLimit && left[i] <= sorvan::kFloatDecodeLimit &&
                 right[i] >= -sorvan::kFloatDecodeLimit && right[i] <= sorvan::kFloatDecodeLimit);
    at += got;
    if (got < want) break;
  }
  return at;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorvan;
  const std::string path = folder().path("source");
  folder().write("source", data, size);

  SourceAttributes a;
  a.frames = -7;
  MessageCapture cap;
  if (!readSourceHeader(path, a)) {
    FUZZ_CHECK(!cap.text().empty());
    FUZZ_CHECK(a.frames == -7);
    return 0;
  }
  FUZZ_CHECK(cap.text().empty());
  FUZZ_CHECK(a.frames >= 0);
  if (a.channels < 1 || a.channels > 2) return 0;  // refused by the source stage

  // Enough frames to pass every decoder's chunk and the converter's preroll.
  constexpr std::int64_t kLimit = 20000;
  {
    const auto source = openSource(path, a, a.sampleRate);
    const std::int64_t got = readThrough(*source, a.frames, kLimit);
    FUZZ_CHECK(got <= a.frames);
    std::int64_t l[4], r[4];
    if (got < std::min(a.frames, kLimit)) FUZZ_CHECK(source->read(got, 4, l, r) == 0);
    source->reportShortRead();
    source->close();
  }
  const std::uint32_t session = a.sampleRate == 48000 ? 44100 : 48000;
  if (!canConvertRate(a.sampleRate, session)) return 0;
  const auto converted = openSource(path, a, session);
  const std::int64_t length = convertedLength(a.frames, a.sampleRate, session);
  FUZZ_CHECK(readThrough(*converted, length, kLimit) <= length);
  // A read that starts anywhere restarts the converter.
  std::int64_t l[64], r[64];
  FUZZ_CHECK(converted->read(length / 2, 64, l, r) <= 64);
  return 0;
}
