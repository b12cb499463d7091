#include "wave/header.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/messages.h"

namespace sorvan {
namespace {

// The identifiers are looked for at even positions 2 .. 131072; the fields read
// relative to them reach at most 24 bytes further. Reading that much once gives
// the same answers as seeking per position.
constexpr std::int64_t kLastSearchPosition = 131072;
constexpr std::size_t kHeadBytes = kLastSearchPosition + 24;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The start of the file (at most kHeadBytes of it) followed by zero bytes, so
// that the fields after an identifier, and a header cut short, can never be
// read out of bounds. Neither identifier contains a zero byte, so the padding
// can never produce a match. Sized by the file: a short recording does not pay
// for the longest header.
constexpr std::size_t kPadding = 40;  // the furthest field read after an identifier

struct Head {
  std::vector<unsigned char> bytes;
  std::int64_t searchEnd = 0;  // last position an identifier may start at
  std::int64_t fileLength = 0;
};

bool readHead(const std::string& path, Head& head) {
  // Only a regular file can be a recording; opening a FIFO or a device would
  // wait for a writer or read without end.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  File f{std::fopen(path.c_str(), "rb")};
  if (!f) return false;
  const auto readable =
      static_cast<std::size_t>(std::clamp<std::int64_t>(info.st_size, 0, kHeadBytes));
  head.bytes.assign(readable + kPadding, 0);
  const std::size_t got = std::fread(head.bytes.data(), 1, readable, f.get());
  if (std::ferror(f.get())) return false;  // e.g. a directory
  head.searchEnd = std::min<std::int64_t>(kLastSearchPosition, static_cast<std::int64_t>(got));
  if (fseeko(f.get(), 0, SEEK_END) != 0) return false;
  head.fileLength = ftello(f.get());
  return head.fileLength >= 0;
}

// First even position from 2 up to and including 131072 where the identifier
// stands, or -1.
std::int64_t findIdentifier(const Head& head, const char* id) {
  const std::size_t len = std::strlen(id);
  for (std::int64_t p = 2; p <= head.searchEnd; p += 2) {
    if (std::memcmp(head.bytes.data() + p, id, len) == 0) return p;
  }
  return -1;
}

}  // namespace

bool readWaveHeader(const std::string& path, SourceAttributes& out, std::string& refusal) {
  Head head;
  if (!readHead(path, head)) {
    refusal = "Cannot find file in track list called " + path + "!!\n";
    return false;
  }
  const unsigned char* b = head.bytes.data();

  const std::int64_t F = findIdentifier(head, "fmt");
  if (F < 0) {
    // Without the format chunk every field would be read from an arbitrary
    // place, so the source is not used.
    refusal = "Can't find format chunk in wave file!\n";
    return false;
  }

  SourceAttributes a;
  const std::int64_t formatTag = Assem2(b + F + 8);
  a.channels = static_cast<int>(Assem2(b + F + 10));
  a.bits = static_cast<int>(Assem2(b + F + 22));

  if (a.bits == 32) {
    if (formatTag != 3) {
      refusal = "\n" + path + " is not a 32 bit floating point format\n";
      return false;
    }
  } else if (a.bits != 16 && a.bits != 24) {
    refusal = path + " is not a 32 float, 24 bit pcm, or 16 bit pcm file and cannot be used\n";
    return false;
  }

  a.bytesPerSample = a.bits / 8;
  a.sampleRate = static_cast<std::uint32_t>(Assem4(b + F + 12));
  const std::int64_t frameBytes = static_cast<std::int64_t>(a.bytesPerSample) * a.channels;
  if (frameBytes <= 0) {
    // A frame without bytes has no length; the frame count cannot be derived.
    refusal = path + " has no channels or no sample bytes and cannot be used\n";
    return false;
  }

  // Searched from the start again: "data" may come before "fmt ".
  const std::int64_t D = findIdentifier(head, "data");
  if (D < 0) {
    refusal = "Cannot find data block in file " + path + "!\n";
    return false;
  }

  a.dataOffset = D + 8;
  const std::int64_t dataBytes = Assem4(b + D + 4);  // at most 2^32 - 1: no overflow
  a.frames = dataBytes / frameBytes;

  // A data chunk claiming more than the file holds is shortened to the whole
  // frames present; an offset past the end leaves none.
  std::int64_t available = 0;
  if (head.fileLength > a.dataOffset) available = (head.fileLength - a.dataOffset) / frameBytes;
  if (a.frames > available) a.frames = available;

  out = a;
  return true;
}

bool GET_ATTRIBUTES(const std::string& path, SourceAttributes& out) {
  std::string refusal;
  if (readWaveHeader(path, out, refusal)) return true;
  say("%s", refusal.c_str());
  return false;
}

WaveFacts inspectWave(const std::string& path) {
  WaveFacts facts;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return facts;
  facts.access = WaveFacts::Access::kNotAFile;
  if (!S_ISREG(info.st_mode)) return facts;
  facts.access = WaveFacts::Access::kUnreadable;
  Head head;
  if (!readHead(path, head)) return facts;
  facts.access = WaveFacts::Access::kRead;
  facts.fileLength = head.fileLength;
  const unsigned char* b = head.bytes.data();
  const auto shown = static_cast<std::size_t>(std::min<std::int64_t>(head.fileLength, 12));
  facts.leading.assign(reinterpret_cast<const char*>(b), shown);
  facts.riffWave = std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WAVE", 4) == 0;
  const std::int64_t F = findIdentifier(head, "fmt");
  facts.hasFormat = F >= 0;
  if (facts.hasFormat) {
    facts.formatTag = static_cast<int>(Assem2(b + F + 8));
    facts.channels = static_cast<int>(Assem2(b + F + 10));
    facts.sampleRate = static_cast<std::uint32_t>(Assem4(b + F + 12));
    facts.bits = static_cast<int>(Assem2(b + F + 22));
    // An extensible format chunk names its own format in its first GUID bytes.
    if (facts.formatTag == 0xFFFE && F + 34 <= static_cast<std::int64_t>(kHeadBytes))
      facts.subFormat = static_cast<int>(Assem2(b + F + 32));
  }
  facts.hasData = findIdentifier(head, "data") >= 0;
  return facts;
}

std::array<unsigned char, 44> MAKE_HEADER(std::uint32_t sampleRate, unsigned bits, int channels,
                                          std::int64_t frames) {
  // Unsigned 64-bit arithmetic wraps instead of overflowing; only the low 32
  // bits are stored anyway.
  const std::uint64_t sampleBytes = bits / 8;
  const std::uint64_t frameBytes = sampleBytes * static_cast<std::uint64_t>(std::int64_t{channels});
  const std::uint64_t dataSize = static_cast<std::uint64_t>(frames) * frameBytes;
  const std::uint64_t byteRate =
      sampleBytes * sampleRate * static_cast<std::uint64_t>(std::int64_t{channels});
  const std::int64_t blockAlign = static_cast<std::int64_t>(bits) * channels / 8;

  std::array<unsigned char, 44> h{};
  unsigned char* p = h.data();
  std::memcpy(p + 0, "RIFF", 4);
  Decon4(static_cast<std::int64_t>((dataSize + 36) & 0xFFFFFFFFu), p + 4);
  std::memcpy(p + 8, "WAVE", 4);
  std::memcpy(p + 12, "fmt ", 4);
  Decon4(16, p + 16);
  Decon2(1, p + 20);
  Decon2(static_cast<std::uint16_t>(channels), p + 22);
  Decon4(sampleRate, p + 24);
  Decon4(static_cast<std::int64_t>(byteRate & 0xFFFFFFFFu), p + 28);
  Decon2(static_cast<std::uint16_t>(blockAlign), p + 32);
  Decon2(static_cast<std::uint16_t>(bits), p + 34);
  std::memcpy(p + 36, "data", 4);
  Decon4(static_cast<std::int64_t>(dataSize & 0xFFFFFFFFu), p + 40);
  return h;
}

}  // namespace sorvan
