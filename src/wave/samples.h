// Conversion of samples between file bytes and numbers. Decoded source samples
// are on the channel scale (full scale 2^23): 16-bit PCM x 256, 24-bit PCM as
// is, 32-bit float x 2^23. Output words are little-endian two's complement.
#pragma once

#include <cstdint>

namespace sorvan {

// The largest magnitude a float sample decodes to: 256.0 x 2^23.
inline constexpr std::int64_t kFloatDecodeLimit = 2147483648LL;

// One 32-bit float given as its four bytes in file order (only the low 8 bits
// of each argument count): the value x 2^23 truncated toward zero. Zeros and
// denormals give 0, NaN gives 0, and magnitudes of 256.0 or more (infinities
// included) give +-2^31.
std::int64_t Float32Convert(int b0, int b1, int b2, int b3);

// A floating-point sample on the +-1.0 scale (of any precision, or from a
// lossy decoder or the rate converter) by the rule of 32-bit float sources:
// the value x 2^23 truncated toward zero, NaN 0, held at +-2^31 from 256.0 on.
inline std::int64_t channelFromDouble(double value) {
  const double scaled = value * 8388608.0;  // a power of two: exact
  if (!(scaled == scaled)) return 0;
  if (scaled >= static_cast<double>(kFloatDecodeLimit)) return kFloatDecodeLimit;
  if (scaled <= -static_cast<double>(kFloatDecodeLimit)) return -kFloatDecodeLimit;
  return static_cast<std::int64_t>(scaled);
}

// A 32-bit integer word holding a sample of 8, 16, 24 or 32 bits at its top
// (as libsndfile delivers integer formats): the word / 256, truncated toward
// zero. Exact for 8 bits (x 65536), 16 bits (x 256) and 24 bits; a 32-bit
// sample loses its low 8 bits, rounded toward zero.
inline std::int64_t channelFromWord(std::int32_t word) { return word / 256; }

// One PCM sample from its byte triple: b0 and b1 unsigned (0..255), b2 signed
// (-128..127). A 24-bit sample passes its three bytes; a 16-bit sample passes
// b0 = 0, its low byte as b1 and its high byte as b2, which gives the x 256.
inline std::int64_t assemblePcm(unsigned b0, unsigned b1, int b2signed) {
  return static_cast<std::int64_t>(b0) + 256 * static_cast<std::int64_t>(b1) +
         65536 * static_cast<std::int64_t>(b2signed);
}

// One sample of 2, 3 or 4 (float) bytes at `bytes`, on the channel scale.
// Other sizes give 0.
std::int64_t decodeSample(const unsigned char* bytes, int bytesPerSample);

// A block of interleaved frames (left sample first) or of mono frames, with 2,
// 3 or 4 (float) bytes per sample. Other sizes give silence; frames below 1
// write nothing.
void decodeStereo(const unsigned char* bytes, int bytesPerSample, std::int64_t* left,
                  std::int64_t* right, long frames);
void decodeMono(const unsigned char* bytes, int bytesPerSample, std::int64_t* out, long frames);

// Output words, already on the word's own scale, to little-endian bytes
// (stereo: left word, then right word). Words beyond the word range are held
// at its limits (-32768..32767, -8388608..8388607) rather than wrapped, so an
// overload clips instead of flipping sign. Frames below 1 write nothing.
void NUM16STER_TO_CHAR(const std::int64_t* L, const std::int64_t* R, unsigned char* out,
                       long frames);
void NUM24STER_TO_CHAR(const std::int64_t* L, const std::int64_t* R, unsigned char* out,
                       long frames);
void NUM16MONO_TO_CHAR(const std::int64_t* samples, unsigned char* out, long frames);
void NUM24MONO_TO_CHAR(const std::int64_t* samples, unsigned char* out, long frames);

}  // namespace sorvan
