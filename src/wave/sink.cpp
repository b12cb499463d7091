#include "wave/sink.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/limits.h"
#include "wave/header.h"
#include "wave/samples.h"

namespace sorvan {
namespace {

bool isFloat(const WaveFormat& f) { return f.encoding == SampleEncoding::kFloat; }

std::size_t frameBytes(const WaveFormat& f) {
  const std::size_t sample = isFloat(f) ? 4 : static_cast<std::size_t>(f.bits / 8);
  return sample * static_cast<std::size_t>(f.channels);
}

// Values of the float header's 32-bit fields are kept modulo 2^32, as the
// PCM header's are; the length checks keep real renders within them.
std::vector<unsigned char> floatHeader(const WaveFormat& f) {
  const auto channels = static_cast<std::uint64_t>(std::max(f.channels, 0));
  const std::uint64_t dataSize = static_cast<std::uint64_t>(f.frames) * 4 * channels;
  std::vector<unsigned char> h(kFloatWaveHeaderBytes);
  unsigned char* p = h.data();
  const auto put4 = [](std::uint64_t v, unsigned char* at) {
    Decon4(static_cast<std::int64_t>(v & 0xFFFFFFFFu), at);
  };
  std::memcpy(p, "RIFF", 4);
  put4(dataSize + kFloatWaveHeaderBytes - 8, p + 4);
  std::memcpy(p + 8, "WAVEfmt ", 8);
  put4(18, p + 16);
  Decon2(3, p + 20);  // IEEE float
  Decon2(static_cast<std::uint16_t>(channels), p + 22);
  put4(f.sampleRate, p + 24);
  put4(static_cast<std::uint64_t>(f.sampleRate) * 4 * channels, p + 28);
  Decon2(static_cast<std::uint16_t>(4 * channels), p + 32);
  Decon2(32, p + 34);
  Decon2(0, p + 36);  // no extension
  std::memcpy(p + 38, "fact", 4);
  put4(4, p + 42);
  put4(static_cast<std::uint64_t>(f.frames), p + 46);
  std::memcpy(p + 50, "data", 4);
  put4(dataSize, p + 54);
  return h;
}

std::vector<unsigned char> header(const WaveFormat& f) {
  if (isFloat(f)) return floatHeader(f);
  const auto h = MAKE_HEADER(f.sampleRate, static_cast<unsigned>(f.bits), f.channels, f.frames);
  return {h.begin(), h.end()};
}

// A bus value as a float sample, full scale 2^31.
void putFloat(std::int64_t value, unsigned char* at) {
  const auto sample = static_cast<float>(static_cast<double>(value) / kBusFullScale);
  std::uint32_t bits;
  std::memcpy(&bits, &sample, sizeof bits);
  Decon4(bits, at);
}

// Encodes n frames at `out`, which has room for them.
void encode(const WaveFormat& f, const std::int64_t* left, const std::int64_t* right, long n,
            unsigned char* out) {
  const bool mono = f.channels == 1;
  if (isFloat(f)) {
    for (long i = 0; i < n; ++i) {
      putFloat(left[i], out);
      out += 4;
      if (mono) continue;
      putFloat(right[i], out);
      out += 4;
    }
  } else if (f.bits == 16) {
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
  const auto head = header(format);
  file_.write(head.data(), head.size());
}

void WaveFileSink::write(const std::int64_t* left, const std::int64_t* right, long n) {
  for (long done = 0; done < n;) {
    const long part = std::min<long>(n - done, kBlockFrames);
    encode(format_, left + done, right ? right + done : nullptr, part, bytes_.data());
    file_.write(bytes_.data(), static_cast<std::size_t>(part) * frameBytes(format_));
    done += part;
  }
}

// libsndfile reaches the temporary file through these; they report failure
// by their results (never by throwing through C code), keeping errno.
struct FlacFileSink::Library {
  SNDFILE* handle = nullptr;
  int error = 0;  // the first errno of a failed call
  SF_VIRTUAL_IO io{};

  void note() {
    if (error == 0) error = errno ? errno : EIO;
  }
};

FlacFileSink::FlacFileSink(const std::string& path, const WaveFormat& format,
                           std::size_t bufferBytes)
    : format_(format),
      library_(std::make_unique<Library>()),
      frames_(static_cast<std::size_t>(kBlockFrames) * static_cast<std::size_t>(format.channels)) {
  file_.open(path, bufferBytes);
  SF_VIRTUAL_IO& io = library_->io;
  io.get_filelen = [](void* user) -> sf_count_t {
    auto* self = static_cast<FlacFileSink*>(user);
    return self->file_.length();
  };
  io.seek = [](sf_count_t offset, int whence, void* user) -> sf_count_t {
    auto* self = static_cast<FlacFileSink*>(user);
    if (!self->file_.seek(offset, whence)) {
      self->library_->note();
      return -1;
    }
    return self->file_.tell();
  };
  io.read = [](void*, sf_count_t, void*) -> sf_count_t { return 0; };
  io.write = [](const void* data, sf_count_t count, void* user) -> sf_count_t {
    auto* self = static_cast<FlacFileSink*>(user);
    const std::size_t written = self->file_.writeSome(data, static_cast<std::size_t>(count));
    if (written != static_cast<std::size_t>(count)) self->library_->note();
    return static_cast<sf_count_t>(written);
  };
  io.tell = [](void* user) -> sf_count_t { return static_cast<FlacFileSink*>(user)->file_.tell(); };
  SF_INFO info{};
  info.samplerate = static_cast<int>(format.sampleRate);
  info.channels = format.channels;
  info.format = SF_FORMAT_FLAC | (format.bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
  library_->handle = sf_open_virtual(&io, SFM_WRITE, &info, this);
  if (!library_->handle) fail();
}

FlacFileSink::~FlacFileSink() {
  // An unfinished file is abandoned: the library lets go of it, and the
  // temporary file is removed with file_.
  if (library_->handle) sf_close(library_->handle);
}

void FlacFileSink::fail() {
  Library& lib = *library_;
  const std::string reason =
      lib.error ? std::strerror(lib.error) : std::string(sf_strerror(lib.handle));
  if (lib.handle) sf_close(lib.handle);
  lib.handle = nullptr;
  file_.fail(reason);
}

void FlacFileSink::write(const std::int64_t* left, const std::int64_t* right, long n) {
  // The library takes integers with full scale 2^31 and keeps the top bits.
  const int shift = 32 - format_.bits;
  const bool mono = format_.channels == 1;
  for (long done = 0; done < n;) {
    const long part = std::min<long>(n - done, kBlockFrames);
    int* f = frames_.data();
    for (long i = 0; i < part; ++i) {
      *f++ = static_cast<int>(static_cast<std::uint32_t>(left[done + i]) << shift);
      if (!mono) *f++ = static_cast<int>(static_cast<std::uint32_t>(right[done + i]) << shift);
    }
    if (sf_writef_int(library_->handle, frames_.data(), part) != part || library_->error) fail();
    done += part;
  }
}

void FlacFileSink::finish() {
  if (library_->handle) {
    SNDFILE* handle = library_->handle;
    library_->handle = nullptr;
    const int status = sf_close(handle);
    if (status != 0 || library_->error) {
      const std::string reason =
          library_->error ? std::strerror(library_->error) : std::string(sf_error_number(status));
      file_.fail(reason);
    }
  }
  file_.finish();
}

void FlacFileSink::commit() {
  finish();
  file_.commit();
}

std::unique_ptr<FileSink> openFileSink(const std::string& path, const WaveFormat& format,
                                       std::size_t bufferBytes) {
  if (format.encoding == SampleEncoding::kFlac)
    return std::make_unique<FlacFileSink>(path, format, bufferBytes);
  return std::make_unique<WaveFileSink>(path, format, bufferBytes);
}

MemorySink::MemorySink(const WaveFormat& format) : format_(format) {
  if (format_.encoding == SampleEncoding::kFlac) format_.encoding = SampleEncoding::kPcm;
  bytes_ = header(format_);
}

void MemorySink::write(const std::int64_t* left, const std::int64_t* right, long n) {
  if (n <= 0) return;
  const std::size_t at = bytes_.size();
  bytes_.resize(at + static_cast<std::size_t>(n) * frameBytes(format_));
  encode(format_, left, right, n, bytes_.data() + at);
}

}  // namespace sorvan
