// The floor the plain mix is measured against: a hand-written,
// single-threaded integer mix of stereo 24-bit WAVE files. Per stretch of
// frames it reads each track, decodes and sums in 64-bit integers, and writes
// the 24-bit sum: decode, sum, encode and nothing else.
//
//   sorvan_floor OUT.wav IN.wav...
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr long kFrames = 4096;  // frames per stretch: the sums stay in the cache

std::int64_t pcm24(const unsigned char* p) {
  return static_cast<std::int64_t>(static_cast<std::int32_t>(
             static_cast<std::uint32_t>(p[0]) << 8 | static_cast<std::uint32_t>(p[1]) << 16 |
             static_cast<std::uint32_t>(p[2]) << 24)) >>
         8;
}

void put24(std::int64_t v, unsigned char* p) {
  if (v > 8388607) v = 8388607;
  if (v < -8388608) v = -8388608;
  const auto u = static_cast<std::uint32_t>(v);
  p[0] = static_cast<unsigned char>(u);
  p[1] = static_cast<unsigned char>(u >> 8);
  p[2] = static_cast<unsigned char>(u >> 16);
}

// Where the sample data of a WAVE file starts: after the "data" chunk header.
off_t dataStart(int fd) {
  unsigned char head[4096] = {};
  const ssize_t got = ::pread(fd, head, sizeof head, 0);
  for (ssize_t at = 12; at + 8 <= got; at += 2)
    if (std::memcmp(head + at, "data", 4) == 0) return at + 8;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUT.wav IN.wav...\n", argv[0]);
    return 2;
  }
  struct Input {
    int fd;
    off_t data;
  };
  std::vector<Input> inputs;
  off_t frames = -1;
  for (int i = 2; i < argc; ++i) {
    const int fd = ::open(argv[i], O_RDONLY);
    const off_t data = fd < 0 ? -1 : dataStart(fd);
    if (data < 0) {
      std::fprintf(stderr, "%s: not a readable WAVE file\n", argv[i]);
      return 1;
    }
    const off_t length = (::lseek(fd, 0, SEEK_END) - data) / 6;
    frames = frames < 0 || length < frames ? length : frames;
    inputs.push_back({fd, data});
  }
  const int out = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    std::perror(argv[1]);
    return 1;
  }
  unsigned char header[44] = {};
  if (::write(out, header, 44) != 44) return 1;
  std::vector<unsigned char> bytes(kFrames * 6), encoded(kFrames * 6);
  std::vector<std::int64_t> left(kFrames), right(kFrames);
  for (off_t at = 0; at < frames; at += kFrames) {
    const long n = static_cast<long>(frames - at < kFrames ? frames - at : kFrames);
    std::memset(left.data(), 0, n * sizeof(std::int64_t));
    std::memset(right.data(), 0, n * sizeof(std::int64_t));
    for (const Input& in : inputs) {
      if (::pread(in.fd, bytes.data(), n * 6, in.data + at * 6) != n * 6) return 1;
      const unsigned char* p = bytes.data();
      for (long i = 0; i < n; ++i, p += 6) {
        left[i] += pcm24(p);
        right[i] += pcm24(p + 3);
      }
    }
    for (long i = 0; i < n; ++i) {
      put24(left[i], &encoded[6 * i]);
      put24(right[i], &encoded[6 * i + 3]);
    }
    if (::write(out, encoded.data(), n * 6) != n * 6) return 1;
  }
  return ::close(out) == 0 ? 0 : 1;
}
