// RIFF/WAVE headers: the attributes of a source recording, the canonical
// 44-byte header of every output, and the little-endian byte helpers.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sorvan {

// Which reader decodes a recording: our own WAVE reader for every file it
// accepts, libsndfile for the files it refuses that libsndfile can read.
enum class SourceReader { kWave, kSndfile };

// What the mix needs to know about one source recording.
struct SourceAttributes {
  int channels = 0;
  std::int64_t dataOffset = 0;  // file position of the first sample byte
  std::uint32_t sampleRate = 0;
  std::int64_t frames = 0;  // whole frames the file really holds
  int bytesPerSample = 0;   // 2, 3 or 4 (4 is 32-bit float); 0 for libsndfile's files
  int bits = 0;
  SourceReader reader = SourceReader::kWave;
  // libsndfile's files: what the file is, for messages ("a FLAC file of
  // 24-bit integer PCM").
  std::string description;
};

// Reads the source's header. Prints why and returns false when the source
// cannot be used; `out` is written only on success.
bool GET_ATTRIBUTES(const std::string& path, SourceAttributes& out);

// GET_ATTRIBUTES without printing: on refusal `refusal` holds the text it
// would print, so that a caller can first offer the file to another reader.
bool readWaveHeader(const std::string& path, SourceAttributes& out, std::string& refusal);

// What a file is, for the message about a source that cannot be used: whether
// it could be read at all, what it starts with, and the format fields the
// header search finds (searched as GET_ATTRIBUTES searches).
struct WaveFacts {
  enum class Access { kMissing, kNotAFile, kUnreadable, kRead } access = Access::kMissing;
  std::int64_t fileLength = 0;
  std::string leading;    // the first 12 bytes
  bool riffWave = false;  // "RIFF", a size, "WAVE"
  bool hasFormat = false;
  int formatTag = 0;  // 1 integer PCM, 3 float, 0xFFFE extensible ...
  int subFormat = 0;  // an extensible file's own tag
  int channels = 0;
  int bits = 0;
  std::uint32_t sampleRate = 0;
  bool hasData = false;
};
WaveFacts inspectWave(const std::string& path);

// The canonical 44-byte integer PCM header. 32-bit fields hold their values
// modulo 2^32 and 16-bit fields the low 16 bits, so absurd arguments still
// give a well-defined header.
std::array<unsigned char, 44> MAKE_HEADER(std::uint32_t sampleRate, unsigned bits, int channels,
                                          std::int64_t frames);

// Little-endian, unsigned: b[0] is the lowest byte.
inline std::int64_t Assem4(const unsigned char* b) {
  return static_cast<std::int64_t>(b[0]) + 256 * static_cast<std::int64_t>(b[1]) +
         65536 * static_cast<std::int64_t>(b[2]) + 16777216 * static_cast<std::int64_t>(b[3]);
}

inline std::int64_t Assem2(const unsigned char* b) {
  return static_cast<std::int64_t>(b[0]) + 256 * static_cast<std::int64_t>(b[1]);
}

// Writes the value modulo 2^32, lowest byte first.
inline void Decon4(std::int64_t value, unsigned char* dest) {
  const auto v = static_cast<std::uint64_t>(value);
  dest[0] = static_cast<unsigned char>(v & 0xFF);
  dest[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
  dest[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
  dest[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
}

inline void Decon3(std::uint64_t value, unsigned char* dest) {
  dest[0] = static_cast<unsigned char>(value & 0xFF);
  dest[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
  dest[2] = static_cast<unsigned char>((value >> 16) & 0xFF);
}

inline void Decon2(std::uint16_t value, unsigned char* dest) {
  dest[0] = static_cast<unsigned char>(value & 0xFF);
  dest[1] = static_cast<unsigned char>(value >> 8);
}

}  // namespace sorvan
