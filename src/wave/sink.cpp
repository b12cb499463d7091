#include "wave/sink.h"

#include <algorithm>

#include "base/limits.h"
#include "wave/header.h"
#include "wave/samples.h"

namespace sorvan {
namespace {

std::size_t frameBytes(const WaveFormat& f) {
  return static_cast<std::size_t>(f.bits / 8) * static_cast<std::size_t>(f.channels);
}

// Encodes n frames at `out`, which has room for them.
void encode(const WaveFormat& f, const std::int64_t* left, const std::int64_t* right, long n,
            unsigned char* out) {
  const bool mono = f.channels == 1;
  if (f.bits == 16) {
    if (mono)
      NUM16MONO_TO_CHAR(left, out, n);
    else
      NUM16STER_TO_CHAR(left, right, out, n);
  } else {
    if (mono)
      NUM24MONO_TO_CHAR(left, out, n);
    else
      NUM24STER_TO_CHAR(left, right, out, n);
  }
}

}  // namespace

WaveFileSink::WaveFileSink(const std::string& path, const WaveFormat& format,
                           std::size_t bufferBytes)
    : format_(format) {
  bytes_.allocate(static_cast<std::size_t>(kBlockFrames) * frameBytes(format), false);
  file_.open(path, bufferBytes);
  const auto header = MAKE_HEADER(format.sampleRate, static_cast<unsigned>(format.bits),
                                  format.channels, format.frames);
  file_.write(header.data(), header.size());
}

void WaveFileSink::write(const std::int64_t* left, const std::int64_t* right, long n) {
  for (long done = 0; done < n;) {
    const long part = std::min<long>(n - done, kBlockFrames);
    encode(format_, left + done, right ? right + done : nullptr, part, bytes_.data());
    file_.write(bytes_.data(), static_cast<std::size_t>(part) * frameBytes(format_));
    done += part;
  }
}

void WaveFileSink::commit() { file_.commit(); }

MemorySink::MemorySink(const WaveFormat& format) : format_(format) {
  const auto header = MAKE_HEADER(format.sampleRate, static_cast<unsigned>(format.bits),
                                  format.channels, format.frames);
  bytes_.assign(header.begin(), header.end());
}

void MemorySink::write(const std::int64_t* left, const std::int64_t* right, long n) {
  if (n <= 0) return;
  const std::size_t at = bytes_.size();
  bytes_.resize(at + static_cast<std::size_t>(n) * frameBytes(format_));
  encode(format_, left, right, n, bytes_.data() + at);
}

}  // namespace sorvan
