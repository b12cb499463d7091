#include "wave/samples.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

namespace sorvan {
namespace {

using Words = std::vector<std::int64_t>;
using ByteList = std::vector<unsigned char>;

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
  // Stereo frames hold the left sample first; frames below 1 write nothing.
  const unsigned char pcm24[] = {1, 0, 0, 0xFE, 0xFF, 0xFF, 3, 0, 0, 0, 0, 0x80};
  Words left(3, 9), right(3, 9);
  decodeStereo(pcm24, 3, left.data(), right.data(), 2);
  decodeStereo(pcm24, 3, left.data(), right.data(), 0);
  EXPECT_EQ(left, Words({1, 3, 9}));
  EXPECT_EQ(right, Words({-2, -8388608, 9}));
}

TEST(Float32ConvertTest, ValueTimes2To23TowardZeroNanIsZeroHugeClampsAt2To31) {
  const auto convert = [](float x) {
    const auto w = std::bit_cast<std::uint32_t>(x);
    return Float32Convert(w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, w >> 24);
  };
  EXPECT_EQ(Float32Convert(0, 0, -128, 63), 8388608) << "1.0 from bytes passed signed";
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (auto [x, want] : {std::pair{-1.5e-7f, -1LL}, {-1e-40f, 0LL}, {nan, 0LL}, {-nan, 0LL},
                         {INFINITY, 2147483648LL}, {-300.0f, -2147483648LL}})
    EXPECT_EQ(convert(x), want) << x;
  // Every normal exponent below 256.0, against the arithmetic in double.
  for (std::uint32_t exponent = 1; exponent < 135; ++exponent)
    for (std::uint32_t bits : {0u, 0x7FFFFFu, 0x80123456u}) {
      const float x = std::bit_cast<float>((bits & 0x807FFFFFu) | exponent << 23);
      ASSERT_EQ(convert(x), static_cast<std::int64_t>(std::trunc(x * 8388608.0))) << x;
    }
}

TEST(EncoderTest, TwosComplementWordsHeldAtTheWordRange) {
  ByteList out(24, 7);
  const std::int64_t mono24[] = {-1, 0x123456, 8388608, INT64_MIN};
  NUM24MONO_TO_CHAR(mono24, out.data(), 4);
  EXPECT_EQ(ByteList(out.begin(), out.begin() + 12),
            ByteList({0xFF, 0xFF, 0xFF, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80}));
  const std::int64_t left24[] = {-0x123456}, right24[] = {1LL << 40};
  NUM24STER_TO_CHAR(left24, right24, out.data(), 1);
  EXPECT_EQ(ByteList(out.begin(), out.begin() + 6), ByteList({0xAA, 0xCB, 0xED, 0xFF, 0xFF, 0x7F}));
  const std::int64_t left16[] = {1, 32768}, right16[] = {-2, INT_MIN};
  NUM16STER_TO_CHAR(left16, right16, out.data(), 2);
  EXPECT_EQ(ByteList(out.begin(), out.begin() + 8),
            ByteList({0x01, 0x00, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x80}));
  const std::int64_t mono16[] = {-32769, 32767};
  NUM16MONO_TO_CHAR(mono16, out.data(), 2);
  EXPECT_EQ(ByteList(out.begin(), out.begin() + 4), ByteList({0x00, 0x80, 0xFF, 0x7F}));
  ByteList untouched(6, 7);
  NUM16STER_TO_CHAR(left16, right16, untouched.data(), 0);
  NUM24MONO_TO_CHAR(mono24, untouched.data(), LONG_MIN);
  EXPECT_EQ(untouched, ByteList(6, 7));
}

}  // namespace
}  // namespace sorvan
