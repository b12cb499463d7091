#include "wave/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/messages.h"
#include "wave/samples.h"

namespace sorvan {
namespace {

// Bytes read and decoded at a time: small enough to stay in the cache while
// they are decoded, large enough that the reads cost little.
constexpr std::size_t kChunkBytes = 1 << 16;

}  // namespace

WaveFileSource::WaveFileSource(std::string path, const SourceAttributes& attributes)
    : path_(std::move(path)),
      channels_(attributes.channels),
      bytesPerSample_(attributes.bytesPerSample),
      dataOffset_(attributes.dataOffset) {
  chunk_.allocate(kChunkBytes, false);
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))) {
    ::close(fd_);
    fd_ = -1;
  }
}

WaveFileSource::~WaveFileSource() {
  if (fd_ >= 0) ::close(fd_);
}

void WaveFileSource::close() {
  if (fd_ >= 0 && ::close(fd_) != 0) sayLine("Error closing audio file");
  fd_ = -1;
}

std::size_t WaveFileSource::readAt(unsigned char* into, std::size_t bytes, std::int64_t offset) {
  if (fd_ < 0) return 0;
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t got = ::pread(fd_, into + done, bytes - done,
                                static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

long WaveFileSource::read(std::int64_t first, long count, std::int64_t* left, std::int64_t* right) {
  const long frameBytes = static_cast<long>(bytesPerSample_) * channels_;
  if (count <= 0 || frameBytes <= 0 || channels_ > 2) return 0;
  const long chunkFrames = static_cast<long>(kChunkBytes) / frameBytes;
  long done = 0;
  while (done < count) {
    const long want = std::min(count - done, chunkFrames);
    const std::size_t arrived = readAt(chunk_.data(), static_cast<std::size_t>(want * frameBytes),
                                       dataOffset_ + (first + done) * frameBytes);
    const long got = static_cast<long>(arrived / static_cast<std::size_t>(frameBytes));
    if (channels_ == 2) {
      decodeStereo(chunk_.data(), bytesPerSample_, left + done, right + done, got);
    } else {
      decodeMono(chunk_.data(), bytesPerSample_, left + done, got);
      if (right) std::copy_n(left + done, got, right + done);
    }
    done += got;
    if (got < want) break;
  }
  return done;
}

void WaveFileSource::reportShortRead() {
  if (warned_) return;
  warned_ = true;
  say(">> Warning: %s holds fewer frames than its header said; the missing frames are silent.\n",
      path_.c_str());
}

MemorySource::MemorySource(int channels, std::vector<std::int64_t> interleaved)
    : channels_(channels), samples_(std::move(interleaved)) {}

std::int64_t MemorySource::frames() const {
  return static_cast<std::int64_t>(samples_.size()) / channels_;
}

long MemorySource::read(std::int64_t first, long count, std::int64_t* left, std::int64_t* right) {
  const std::int64_t available =
      std::max<std::int64_t>(0, frames() - std::max<std::int64_t>(first, 0));
  const long n = static_cast<long>(std::min<std::int64_t>(count, available));
  const std::int64_t* from = samples_.data() + first * channels_;
  for (long i = 0; i < n; ++i) {
    left[i] = from[i * channels_];
    if (right) right[i] = from[i * channels_ + channels_ - 1];
  }
  return n;
}

}  // namespace sorvan
