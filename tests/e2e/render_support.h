// Sources with exact sample values for end-to-end renders, and output words
// read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "e2e/session.h"

namespace sorvan::e2e {

// Whole song, no dither (so every render repeats its bytes), no messages.
inline constexpr const char* kPlainPrefs = "begin\npre\toff\ndither\t0\nverbo\t0\nend\n";

// A fader file "song" with channel 1 at 0 dB from the start, then `body`.
inline std::string unityFaders(const std::string& body = "") {
  return "begin\nsong\nt\t0\t0\t0\nv\t1\t0\n" + body + "end\n";
}

// Writes interleaved integer samples (left first) as a PCM WAVE file of
// `bits` (16 or 24) by handing raw bytes to sox.
void writeSource(const Session& s, const std::string& name, int rate, int bits, int channels,
                 const std::vector<std::int32_t>& samples);

// The sample data of any WAVE file as sox decodes it, interleaved, as signed
// integers of `bits` (16 or 24); a 16-bit file read as 24 bits comes out x 256.
std::vector<std::int32_t> soxSamples(const Session& s, const std::string& name, int bits);

// A rendered output, its 44-byte header checked for consistency.
struct Rendered {
  int channels = 0, bits = 0;
  std::uint32_t rate = 0;
  std::vector<std::int32_t> words;  // interleaved
  std::size_t frames() const { return channels ? words.size() / channels : 0; }
  std::int32_t left(std::size_t i) const { return words[i * channels]; }
  std::int32_t right(std::size_t i) const { return words[i * channels + channels - 1]; }
  std::vector<std::int32_t> side(bool leftSide) const;  // one side's words
};
Rendered readRendered(const Session& s, const std::string& name);
// Runs sorvan, expecting success, and reads the output `name`.
Rendered render(const Session& s, const std::string& name = "song.wav");

// Interleaves two sides.
std::vector<std::int32_t> stereo(const std::vector<std::int32_t>& left,
                                 const std::vector<std::int32_t>& right);

// Values spread over +-amplitude in an order set by `salt`, so that every
// word tells where it came from.
std::vector<std::int32_t> spread(std::size_t frames, std::int32_t amplitude, std::uint32_t salt);
// A sine of `amplitude` x 2^23 at 48 kHz.
std::vector<std::int32_t> sine(std::size_t frames, double hz, double amplitude);

}  // namespace sorvan::e2e
