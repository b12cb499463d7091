#include "wave/samples.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <random>

#include "wave/header.h"
#include "wave/scratch_folder.h"

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

TEST(Float32ConvertTest, GivesTheValueTimes2To23TruncatedTowardZero) {
  EXPECT_EQ(Float32Convert(0x00, 0x00, 0x80, 0x3F), 8388608);  // 1.0
  EXPECT_EQ(Float32Convert(0, 0, -128, 63), 8388608);          // the same bytes, signed
  EXPECT_EQ(convert(-0.5f), -4194304);
  EXPECT_EQ(convert(0.0f), 0);
  EXPECT_EQ(convert(-0.0f), 0);
  EXPECT_EQ(convert(1.5e-7f), 1);
  EXPECT_EQ(convert(-1.5e-7f), -1);
  EXPECT_EQ(convert(-1e-40f), 0);  // denormal
  // Every normal exponent below 256.0, against the arithmetic in double.
  std::mt19937 rng(12345);
  for (std::uint32_t exponent = 1; exponent < 135; ++exponent) {
    for (std::uint32_t mantissa :
         {0u, 0x7FFFFFu, std::uint32_t(rng() & 0x7FFFFF), std::uint32_t(rng() & 0x7FFFFF)}) {
      for (std::uint32_t sign : {0u, 1u}) {
        const float x = std::bit_cast<float>(sign << 31 | exponent << 23 | mantissa);
        ASSERT_EQ(convert(x), static_cast<std::int64_t>(std::trunc(x * 8388608.0))) << x;
      }
    }
  }
}

TEST(Float32ConvertTest, NanGivesZeroAndHugeValuesClampAt2To31) {
  EXPECT_EQ(convert(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(convert(-std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(convert(std::bit_cast<float>(0x7F800001u)), 0);
  EXPECT_EQ(convert(INFINITY), 2147483648LL);
  EXPECT_EQ(convert(-INFINITY), -2147483648LL);
  EXPECT_EQ(convert(300.0f), 2147483648LL);
  EXPECT_EQ(convert(-300.0f), -2147483648LL);
  EXPECT_EQ(convert(256.0f), 2147483648LL);
  EXPECT_EQ(convert(-FLT_MAX), -2147483648LL);
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

  const int left16[] = {1, 32768}, right16[] = {-2, INT_MIN};
  NUM16STER_TO_CHAR(left16, right16, out.data(), 2);
  EXPECT_EQ(ByteList(out.begin(), out.begin() + 8),
            ByteList({0x01, 0x00, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x80}));

  const int mono16[] = {-32768, 32767, 32768, -32769};
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

// Known words written as raw bytes, made into WAVE files of every source
// format by sox, found through the header reader and decoded.
TEST(SoxDecodeTest, SourcesDecodeToTheWordsOnTheChannelScale) {
  test::ScratchFolder dir;
  const Words words16 = {0, 0, 1, -1, 32767, -32768, -2, 12345, 256, -256, -32768, 32767};
  const Words words24 = {8388607, -8388608, -1, 1, 0x123456, -0x123456, 255, -65536};
  const struct {
    const Words& words;
    int rawBits, channels;
    const char* format;
    std::int64_t scale;
  } cases[] = {
      {words16, 16, 2, "-b 16", 256},
      {words16, 16, 1, "-b 16", 256},
      {words16, 16, 2, "-b 24", 256},
      {words16, 16, 1, "-e floating-point -b 32", 256},
      {words16, 16, 2, "-e floating-point -b 32", 256},
      {words24, 24, 2, "-b 24", 1},
      {words24, 24, 1, "-e floating-point -b 32", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rawBits) + " " + std::to_string(c.channels) + " " + c.format);
    ByteList raw(c.words.size() * 3);
    if (c.rawBits == 24) {
      NUM24MONO_TO_CHAR(c.words.data(), raw.data(), static_cast<long>(c.words.size()));
    } else {
      const std::vector<int> ints(c.words.begin(), c.words.end());
      NUM16MONO_TO_CHAR(ints.data(), raw.data(), static_cast<long>(ints.size()));
    }
    raw.resize(c.words.size() * c.rawBits / 8);
    dir.write("in.raw", raw);
    ASSERT_TRUE(dir.sox("-D -t raw -e signed-integer -L -r 44100 -b " + std::to_string(c.rawBits) +
                        " -c " + std::to_string(c.channels) + " in.raw " + c.format + " x.wav"));

    SourceAttributes a;
    ASSERT_TRUE(GET_ATTRIBUTES(dir.path("x.wav"), a));
    const ByteList file = dir.read("x.wav");
    const long frames = static_cast<long>(c.words.size()) / c.channels;
    ASSERT_EQ(a.frames, frames);
    ASSERT_EQ(static_cast<std::int64_t>(file.size()),
              a.dataOffset + frames * c.channels * a.bytesPerSample);
    Words decoded(c.words.size());
    if (c.channels == 2) {
      Words left(frames), right(frames);
      decodeStereo(file.data() + a.dataOffset, a.bytesPerSample, left.data(), right.data(), frames);
      for (long i = 0; i < frames; ++i) {
        decoded[2 * i] = left[i];
        decoded[2 * i + 1] = right[i];
      }
    } else {
      decodeMono(file.data() + a.dataOffset, a.bytesPerSample, decoded.data(), frames);
    }
    for (std::size_t i = 0; i < decoded.size(); ++i)
      EXPECT_EQ(decoded[i], c.words[i] * c.scale) << i;
  }
}

}  // namespace
}  // namespace sorvan
