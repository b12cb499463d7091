#include "wave/samples.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace sorvan {
namespace {

using Words = std::vector<std::int64_t>;
using ByteList = std::vector<unsigned char>;

std::int64_t convert(float x) {
  const auto w = std::bit_cast<std::uint32_t>(x);
  return Float32Convert(w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, w >> 24);
}

Words mono(const ByteList& bytes, int bytesPerSample) {
  Words out(bytes.size() / bytesPerSample);
  decodeMono(bytes.data(), bytesPerSample, out.data(), static_cast<long>(out.size()));
  return out;
}

TEST(PcmDecodeTest, BoundaryWordsOnTheChannelScale) {
  EXPECT_EQ(mono({0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00}, 3),
            Words({-8388608, 8388607, -1, 1}));
  EXPECT_EQ(mono({0xFF, 0x7F, 0x00, 0x80, 0xFF, 0xFF, 0x01, 0x00}, 2),
            Words({8388352, -8388608, -256, 256}));
  EXPECT_EQ(mono({0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xBF}, 4), Words({8388608, -4194304}));
  EXPECT_EQ(assemblePcm(0, 0x00, -128), -8388608);
  const unsigned char word16[] = {0x00, 0x80};
  EXPECT_EQ(decodeSample(word16, 2), -8388608);

  // Stereo frames hold the left sample first; frames below 1 write nothing.
  const unsigned char pcm24[] = {0x01, 0x00, 0x00, 0xFE, 0xFF, 0xFF,
                                 0x03, 0x00, 0x00, 0x00, 0x00, 0x80};
  std::int64_t left[3] = {9, 9, 9}, right[3] = {9, 9, 9};
  decodeStereo(pcm24, 3, left, right, 2);
  EXPECT_EQ(Words(left, left + 3), Words({1, 3, 9}));
  EXPECT_EQ(Words(right, right + 3), Words({-2, -8388608, 9}));
  decodeStereo(pcm24, 3, left, right, 0);
  decodeMono(pcm24, 3, left, -1);
  EXPECT_EQ(left[0], 1);
}

TEST(Float32ConvertTest, ValueTimes2To23TowardZeroNanIsZeroHugeClampsAt2To31) {
  EXPECT_EQ(Float32Convert(0, 0, -128, 63), 8388608) << "1.0 from bytes passed signed";
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::pair<float, std::int64_t> cases[] = {{-0.5f, -4194304},
                                                  {-0.0f, 0},
                                                  {1.5e-7f, 1},
                                                  {-1.5e-7f, -1},
                                                  {-1e-40f, 0},
                                                  {nan, 0},
                                                  {-nan, 0},
                                                  {std::bit_cast<float>(0x7F800001u), 0},
                                                  {INFINITY, 2147483648LL},
                                                  {-INFINITY, -2147483648LL},
                                                  {256.0f, 2147483648LL},
                                                  {-300.0f, -2147483648LL},
                                                  {-FLT_MAX, -2147483648LL}};
  for (auto [x, want] : cases) EXPECT_EQ(convert(x), want) << x;
  // Every normal exponent below 256.0, against the arithmetic in double.
  std::mt19937 rng(12345);
  for (std::uint32_t exponent = 1; exponent < 135; ++exponent) {
    for (std::uint32_t mantissa : {0u, 0x7FFFFFu, std::uint32_t(rng() & 0x7FFFFF)}) {
      for (std::uint32_t sign : {0u, 1u}) {
        const float x = std::bit_cast<float>(sign << 31 | exponent << 23 | mantissa);
        ASSERT_EQ(convert(x), static_cast<std::int64_t>(std::trunc(x * 8388608.0))) << x;
      }
    }
  }
}

TEST(EncoderTest, WritesTwosComplementWordsAndSaturatesOutOfRange) {
  ByteList out(24, 7);
  const std::int64_t mono24[] = {-1, 8388607, -8388608, 0x123456, 8388608, -8388609, INT64_MIN};
  NUM24MONO_TO_CHAR(mono24, out.data(), 7);
  EXPECT_EQ(ByteList(out.begin(), out.begin() + 21),
            ByteList({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x56, 0x34,
                      0x12, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x00, 0x00, 0x80}));

  const std::int64_t left24[] = {0x123456, 1LL << 40}, right24[] = {-0x123456, -256};
  NUM24STER_TO_CHAR(left24, right24, out.data(), 2);
  EXPECT_EQ(ByteList(out.begin(), out.begin() + 12),
            ByteList({0x56, 0x34, 0x12, 0xAA, 0xCB, 0xED, 0xFF, 0xFF, 0x7F, 0x00, 0xFF, 0xFF}));

  const std::int64_t left16[] = {1, 32768}, right16[] = {-2, INT_MIN};
  NUM16STER_TO_CHAR(left16, right16, out.data(), 2);
  EXPECT_EQ(ByteList(out.begin(), out.begin() + 8),
            ByteList({0x01, 0x00, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x80}));

  const std::int64_t mono16[] = {-32768, 32767, 32768, -32769};
  NUM16MONO_TO_CHAR(mono16, out.data(), 4);
  EXPECT_EQ(ByteList(out.begin(), out.begin() + 8),
            ByteList({0x00, 0x80, 0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x80}));

  ByteList untouched(6, 7);
  NUM16STER_TO_CHAR(left16, right16, untouched.data(), 0);
  NUM24STER_TO_CHAR(left24, right24, untouched.data(), -1);
  NUM16MONO_TO_CHAR(mono16, untouched.data(), 0);
  NUM24MONO_TO_CHAR(mono24, untouched.data(), LONG_MIN);
  EXPECT_EQ(untouched, ByteList(6, 7));
}

}  // namespace
}  // namespace sorvan
