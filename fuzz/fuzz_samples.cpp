// Sample decoding and encoding on arbitrary bytes. Each decoded sample is
// compared with a value computed independently of the decoder (the C++ types
// themselves: a two's complement word, a float times 2^23), and integer
// samples must survive a round trip through the matching encoder.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "wave/samples.h"

namespace {

using sorvan::kFloatDecodeLimit;

std::int64_t expectedPcm16(const std::uint8_t* p) {
  const auto word = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
  return static_cast<std::int64_t>(word) * 256;
}

std::int64_t expectedPcm24(const std::uint8_t* p) {
  std::int32_t word = p[0] | p[1] << 8 | p[2] << 16;
  if (word & 0x800000) word -= 0x1000000;
  return word;
}

std::int64_t expectedFloat(const std::uint8_t* p) {
  float f;
  std::memcpy(&f, p, 4);  // little-endian host, like the files
  if (std::isnan(f)) return 0;
  if (std::fabs(f) >= 256.0f) return f < 0 ? -kFloatDecodeLimit : kFloatDecodeLimit;
  return static_cast<std::int64_t>(std::trunc(static_cast<double>(f) * 8388608.0));
}

std::int64_t expected(const std::uint8_t* p, int bytesPerSample) {
  switch (bytesPerSample) {
    case 2:
      return expectedPcm16(p);
    case 3:
      return expectedPcm24(p);
    default:
      return expectedFloat(p);
  }
}

void checkDecoders(const std::uint8_t* data, std::size_t size, int bps) {
  const long stereoFrames = static_cast<long>(size / (2 * static_cast<std::size_t>(bps)));
  const long monoFrames = static_cast<long>(size / static_cast<std::size_t>(bps));
  // One spare slot each: a decoder writing past `frames` changes it.
  constexpr std::int64_t kUntouched = 0x5A5A5A5A5A5A;
  std::vector<std::int64_t> left(stereoFrames + 1, kUntouched), right(stereoFrames + 1, kUntouched);
  std::vector<std::int64_t> mono(monoFrames + 1, kUntouched);
  sorvan::decodeStereo(data, bps, left.data(), right.data(), stereoFrames);
  sorvan::decodeMono(data, bps, mono.data(), monoFrames);
  FUZZ_CHECK(left[stereoFrames] == kUntouched && right[stereoFrames] == kUntouched);
  FUZZ_CHECK(mono[monoFrames] == kUntouched);
  for (long i = 0; i < stereoFrames; ++i) {
    const std::uint8_t* frame = data + 2 * i * bps;
    FUZZ_CHECK(left[i] == expected(frame, bps));
    FUZZ_CHECK(right[i] == expected(frame + bps, bps));
  }
  for (long i = 0; i < monoFrames; ++i) {
    FUZZ_CHECK(mono[i] == expected(data + i * bps, bps));
    FUZZ_CHECK(mono[i] == sorvan::decodeSample(data + i * bps, bps));
  }

  // PCM words back to bytes: the encoders of the same size reproduce the input.
  if (bps == 4) return;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(monoFrames) * bps + 1, 0xA5);
  if (bps == 3) {
    sorvan::NUM24MONO_TO_CHAR(mono.data(), bytes.data(), monoFrames);
  } else {
    std::vector<std::int64_t> words(monoFrames + 1);
    for (long i = 0; i < monoFrames; ++i) words[i] = mono[i] / 256;
    sorvan::NUM16MONO_TO_CHAR(words.data(), bytes.data(), monoFrames);
  }
  FUZZ_CHECK(std::memcmp(bytes.data(), data, static_cast<std::size_t>(monoFrames) * bps) == 0);
  FUZZ_CHECK(bytes[static_cast<std::size_t>(monoFrames) * bps] == 0xA5);
}

// Arbitrary 64-bit words through the stereo encoders: beyond the word range
// they are held at its limits.
void checkEncoders(const std::uint8_t* data, std::size_t size) {
  const long frames = static_cast<long>(size / 16);
  std::vector<std::int64_t> l(frames), r(frames);
  for (long i = 0; i < frames; ++i) {
    std::memcpy(&l[i], data + 16 * i, 8);
    std::memcpy(&r[i], data + 16 * i + 8, 8);
  }
  std::vector<unsigned char> out24(6 * static_cast<std::size_t>(frames) + 1, 0xA5);
  sorvan::NUM24STER_TO_CHAR(l.data(), r.data(), out24.data(), frames);
  FUZZ_CHECK(out24.back() == 0xA5);
  std::vector<std::int64_t> l16(frames), r16(frames);
  for (long i = 0; i < frames; ++i) {
    l16[i] = l[i] >> 32;
    r16[i] = r[i] >> 32;
  }
  std::vector<unsigned char> out16(4 * static_cast<std::size_t>(frames) + 1, 0xA5);
  sorvan::NUM16STER_TO_CHAR(l16.data(), r16.data(), out16.data(), frames);
  FUZZ_CHECK(out16.back() == 0xA5);
  auto clamp = [](std::int64_t v, std::int64_t lo, std::int64_t hi) {
    return v < lo ? lo : (v > hi ? hi : v);
  };
  for (long i = 0; i < frames; ++i) {
    FUZZ_CHECK(expectedPcm24(&out24[6 * i]) == clamp(l[i], -8388608, 8388607));
    FUZZ_CHECK(expectedPcm24(&out24[6 * i + 3]) == clamp(r[i], -8388608, 8388607));
    FUZZ_CHECK(expectedPcm16(&out16[4 * i]) / 256 == clamp(l16[i], -32768, 32767));
    FUZZ_CHECK(expectedPcm16(&out16[4 * i + 2]) / 256 == clamp(r16[i], -32768, 32767));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (int bps : {2, 3, 4}) checkDecoders(data, size, bps);
  // Unsupported sizes decode to silence.
  std::vector<std::int64_t> l(4, 1), r(4, 1), m(4, 1);
  if (size >= 8) {
    sorvan::decodeStereo(data, 1, l.data(), r.data(), 4);
    sorvan::decodeMono(data, 5, m.data(), 4);
    for (int i = 0; i < 4; ++i) FUZZ_CHECK(l[i] == 0 && r[i] == 0 && m[i] == 0);
  }
  // Float32Convert takes ints of which only the low 8 bits count.
  for (std::size_t i = 0; i + 4 <= size; i += 4) {
    const std::int64_t want = expectedFloat(data + i);
    FUZZ_CHECK(sorvan::Float32Convert(data[i], data[i + 1], data[i + 2], data[i + 3]) == want);
    FUZZ_CHECK(sorvan::Float32Convert(static_cast<signed char>(data[i]) - 256 * (i % 3),
                                      static_cast<signed char>(data[i + 1]), data[i + 2] + 256,
                                      static_cast<signed char>(data[i + 3])) == want);
  }
  checkEncoders(data, size);
  return 0;
}
