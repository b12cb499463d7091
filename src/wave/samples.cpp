#include "wave/samples.h"

#include <algorithm>
#include <cstring>

#include "base/target.h"

namespace sorvan {
namespace {

// The decoded value equals (2^23 + mantissa) x 2^(exponent - 127), truncated
// toward zero: an integer times a power of two, so shifts give it exactly.
inline std::int64_t floatWordToChannel(std::uint32_t word) {
  const int exponent = static_cast<int>((word >> 23) & 0xFFu);
  const std::uint32_t mantissa = word & 0x7FFFFFu;
  const std::int64_t sign = (word >> 31) != 0 ? -1 : 1;
  if (exponent >= 135) {  // 256.0 and beyond, infinities, NaN
    if (exponent == 255 && mantissa != 0) return 0;
    return sign * kFloatDecodeLimit;
  }
  const std::int64_t significand = static_cast<std::int64_t>(mantissa | 0x800000u);
  const int shift = exponent - 127;
  std::int64_t magnitude = 0;
  if (shift >= 0) {
    magnitude = significand << shift;
  } else if (shift > -24) {  // beyond that only zeros, denormals and tiny values remain
    magnitude = significand >> -shift;
  }
  return sign * magnitude;
}

inline std::int64_t floatAt(const unsigned char* p) {
  return floatWordToChannel(
      static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
      static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

// The high byte of a PCM word carries the sign.
inline int signedByte(unsigned char b) { return static_cast<signed char>(b); }

inline std::int64_t pcm16At(const unsigned char* p) {
  return assemblePcm(0, p[0], signedByte(p[1]));
}

inline std::int64_t pcm24At(const unsigned char* p) {
  return assemblePcm(p[0], p[1], signedByte(p[2]));
}

// Integer PCM, every frame but the last read as one little-endian word of 8
// bytes (which never reaches past the data, since a later frame follows);
// each sample is then its bytes shifted to the top and back, which extends
// the sign exactly as assemblePcm does.
template <int Size>
std::int64_t pcmFromWord(std::uint64_t word, int sample) {
  constexpr int kBits = 8 * Size;
  const auto top = static_cast<std::int64_t>(word << (64 - kBits * (sample + 1)));
  const std::int64_t value = top >> (64 - kBits);
  return Size == 2 ? value * 256 : value;
}

template <int Size, std::int64_t (*At)(const unsigned char*)>
inline __attribute__((always_inline)) void decodePcm(const unsigned char* bytes, int channels,
                                                     std::int64_t* left, std::int64_t* right,
                                                     long frames) {
  const long frameBytes = static_cast<long>(Size) * channels;
  long i = 0;
  for (; i + 1 < frames && frameBytes * 2 >= 8; ++i) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i * frameBytes, sizeof word);
    left[i] = pcmFromWord<Size>(word, 0);
    if (channels == 2) right[i] = pcmFromWord<Size>(word, 1);
  }
  for (; i < frames; ++i) {
    left[i] = At(bytes + i * frameBytes);
    if (channels == 2) right[i] = At(bytes + i * frameBytes + Size);
  }
}

// Compiled for AVX2 as well, where the processor has it.
SORVAN_ALSO_AVX2 void decodePcm16(const unsigned char* bytes, int channels, std::int64_t* left,
                                  std::int64_t* right, long frames) {
  decodePcm<2, pcm16At>(bytes, channels, left, right, frames);
}

SORVAN_ALSO_AVX2 void decodePcm24(const unsigned char* bytes, int channels, std::int64_t* left,
                                  std::int64_t* right, long frames) {
  decodePcm<3, pcm24At>(bytes, channels, left, right, frames);
}

template <std::int64_t (*At)(const unsigned char*), int Size>
void decodeStereoAs(const unsigned char* bytes, std::int64_t* left, std::int64_t* right,
                    long frames) {
  for (long i = 0; i < frames; ++i) {
    left[i] = At(bytes);
    right[i] = At(bytes + Size);
    bytes += 2 * Size;
  }
}

template <std::int64_t (*At)(const unsigned char*), int Size>
void decodeMonoAs(const unsigned char* bytes, std::int64_t* out, long frames) {
  for (long i = 0; i < frames; ++i) {
    out[i] = At(bytes);
    bytes += Size;
  }
}

inline unsigned clamp16(std::int64_t v) {
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

inline std::uint32_t clamp24(std::int64_t v) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, -8388608, 8388607)) & 0xFFFFFFu;
}

inline unsigned char* put16(unsigned w, unsigned char* out) {
  out[0] = static_cast<unsigned char>(w & 0xFFu);
  out[1] = static_cast<unsigned char>(w >> 8);
  return out + 2;
}

inline unsigned char* put24(std::uint32_t w, unsigned char* out) {
  out[0] = static_cast<unsigned char>(w & 0xFFu);
  out[1] = static_cast<unsigned char>((w >> 8) & 0xFFu);
  out[2] = static_cast<unsigned char>(w >> 16);
  return out + 3;
}

}  // namespace

std::int64_t Float32Convert(int b0, int b1, int b2, int b3) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(b0), static_cast<unsigned char>(b1),
                                  static_cast<unsigned char>(b2), static_cast<unsigned char>(b3)};
  return floatAt(bytes);
}

std::int64_t decodeSample(const unsigned char* bytes, int bytesPerSample) {
  switch (bytesPerSample) {
    case 2:
      return pcm16At(bytes);
    case 3:
      return pcm24At(bytes);
    case 4:
      return floatAt(bytes);
    default:
      return 0;
  }
}

void decodeStereo(const unsigned char* bytes, int bytesPerSample, std::int64_t* left,
                  std::int64_t* right, long frames) {
  if (frames < 1) return;
  switch (bytesPerSample) {
    case 2:
      decodePcm16(bytes, 2, left, right, frames);
      break;
    case 3:
      decodePcm24(bytes, 2, left, right, frames);
      break;
    case 4:
      decodeStereoAs<floatAt, 4>(bytes, left, right, frames);
      break;
    default:
      std::fill(left, left + frames, 0);
      std::fill(right, right + frames, 0);
  }
}

void decodeMono(const unsigned char* bytes, int bytesPerSample, std::int64_t* out, long frames) {
  if (frames < 1) return;
  switch (bytesPerSample) {
    case 2:
      decodePcm16(bytes, 1, out, nullptr, frames);
      break;
    case 3:
      decodePcm24(bytes, 1, out, nullptr, frames);
      break;
    case 4:
      decodeMonoAs<floatAt, 4>(bytes, out, frames);
      break;
    default:
      std::fill(out, out + frames, 0);
  }
}

void NUM16STER_TO_CHAR(const std::int64_t* L, const std::int64_t* R, unsigned char* out,
                       long frames) {
  for (long i = 0; i < frames; ++i) {
    out = put16(clamp16(L[i]), out);
    out = put16(clamp16(R[i]), out);
  }
}

void NUM24STER_TO_CHAR(const std::int64_t* L, const std::int64_t* R, unsigned char* out,
                       long frames) {
  for (long i = 0; i < frames; ++i) {
    out = put24(clamp24(L[i]), out);
    out = put24(clamp24(R[i]), out);
  }
}

void NUM16MONO_TO_CHAR(const std::int64_t* samples, unsigned char* out, long frames) {
  for (long i = 0; i < frames; ++i) out = put16(clamp16(samples[i]), out);
}

void NUM24MONO_TO_CHAR(const std::int64_t* samples, unsigned char* out, long frames) {
  for (long i = 0; i < frames; ++i) out = put24(clamp24(samples[i]), out);
}

}  // namespace sorvan
