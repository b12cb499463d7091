#include "wave/header.h"

#include <gtest/gtest.h>


#include "base/messages.h"
#include "wave/scratch_folder.h"

namespace sorvan {
namespace {

using test::ScratchFolder;

// Little-endian byte builder for hand-made files.
struct Bytes {
  std::vector<unsigned char> v;
  Bytes& text(const char* s) {
    while (*s) v.push_back(static_cast<unsigned char>(*s++));
    return *this;
  }
  Bytes& u16(unsigned x) {
    v.insert(v.end(), {static_cast<unsigned char>(x), static_cast<unsigned char>(x >> 8)});
    return *this;
  }
  Bytes& u32(std::uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
  Bytes& zeros(std::size_t n) {
    v.insert(v.end(), n, 0);
    return *this;
  }
  Bytes& fmt(unsigned tag, unsigned channels, std::uint32_t rate, unsigned bits) {
    const unsigned align = channels * bits / 8;
    text("fmt ").u32(16).u16(tag).u16(channels).u32(rate).u32(rate * align);
    return u16(align).u16(bits);
  }
};

// A canonical file whose data chunk declares `declared` bytes of which
// `present` follow.
std::vector<unsigned char> canonical(unsigned tag, unsigned channels, unsigned bits,
                                     std::uint32_t declared, std::size_t present) {
  Bytes b;
  b.text("RIFF").u32(36 + declared).text("WAVE").fmt(tag, channels, 44100, bits);
  return b.text("data").u32(declared).zeros(present).v;
}

// channels, bits, rate, data offset, frames
using Expected = std::tuple<int, int, std::uint32_t, std::int64_t, std::int64_t>;

Expected attributesOf(const std::string& path) {
  SourceAttributes a;
  EXPECT_TRUE(GET_ATTRIBUTES(path, a)) << path;
  EXPECT_EQ(a.bytesPerSample, a.bits / 8);
  return {a.channels, a.bits, a.sampleRate, a.dataOffset, a.frames};
}

TEST(GetAttributesTest, ReadsEveryAcceptedLayoutThatSoxWrites) {
  ScratchFolder dir;
  // Offsets follow sox's layouts: canonical 44 bytes, an 18-byte float format
  // chunk plus "fact", the 40-byte extensible format chunk plus "fact".
  const std::pair<const char*, Expected> cases[] = {
      {"-b 16", {1, 16, 44100, 44, 1000}},
      {"-t wavpcm -b 24", {2, 24, 48000, 44, 1000}},
      {"-b 24", {2, 24, 48000, 80, 1000}},  // extensible
      {"-e floating-point -b 32", {2, 32, 44100, 58, 1000}},
      {"-e floating-point -b 32", {1, 32, 96000, 58, 1000}},
      {"-b 16", {4, 16, 22050, 80, 1000}},  // extensible, more than 2 channels
  };
  for (const auto& [format, expected] : cases) {
    const std::string layout = " -r " + std::to_string(std::get<2>(expected)) + " -c " +
                               std::to_string(std::get<0>(expected));
    SCOPED_TRACE(format + layout);
    ASSERT_TRUE(dir.sox(layout + " -n " + format + " x.wav synth 1000s sine 440"));
    MessageCapture cap;
    EXPECT_EQ(attributesOf(dir.path("x.wav")), expected);
    EXPECT_EQ(cap.text(), "");
  }
}

TEST(GetAttributesTest, FrameCountIsClippedToTheWholeFramesTheFileHolds) {
  ScratchFolder dir;
  dir.write("full.wav", canonical(1, 2, 24, 6000, 6000));
  EXPECT_EQ(attributesOf(dir.path("full.wav")), Expected(2, 24, 44100, 44, 1000));
  dir.write("cut.wav", canonical(1, 2, 24, 6000, 3000 + 5));  // partial last frame
  EXPECT_EQ(std::get<4>(attributesOf(dir.path("cut.wav"))), 500);
  dir.write("huge.wav", canonical(1, 1, 16, 0xFFFFFFFFu, 20));
  EXPECT_EQ(std::get<4>(attributesOf(dir.path("huge.wav"))), 10);
  dir.write("hugefloat.wav", canonical(3, 2, 32, 0xFFFFFFFFu, 80));
  EXPECT_EQ(std::get<4>(attributesOf(dir.path("hugefloat.wav"))), 10);
  // Ends inside the data size field: the first sample byte lies past the end.
  auto bytes = canonical(1, 2, 16, 400, 0);
  bytes.resize(42);
  dir.write("cut_in_size.wav", bytes);
  EXPECT_EQ(attributesOf(dir.path("cut_in_size.wav")), Expected(2, 16, 44100, 44, 0));
}

TEST(GetAttributesTest, IdentifiersCountOnlyAtEvenPositions) {
  ScratchFolder dir;
  // A LIST chunk before the format chunk, holding "data" at an odd position.
  Bytes list;
  list.text("RIFF").u32(0).text("WAVE").text("LIST").u32(12).text("xdata").zeros(7);
  dir.write("list.wav", list.fmt(1, 2, 44100, 16).text("data").u32(8).zeros(8).v);
  EXPECT_EQ(attributesOf(dir.path("list.wav")), Expected(2, 16, 44100, 64, 2));

  // Where the 128 KiB search ends is checked on real runs (e2e).
}

// Hand-made damaged files (empty, cut short, no channels, chunks out of reach,
// directories) are refused with their messages on real runs (e2e).
TEST(GetAttributesTest, RejectsSoxFormatsItCannotUseSayingWhy) {
  ScratchFolder dir;
  ASSERT_TRUE(dir.sox("-n -b 8 eight.wav synth 100s sine 440"));
  ASSERT_TRUE(dir.sox("-n -e signed-integer -b 32 int32.wav synth 100s sine 440"));
  const std::pair<const char*, std::string> cases[] = {
      {"eight.wav", " is not a 32 float, 24 bit pcm, or 16 bit pcm file and cannot be used\n"},
      {"int32.wav", " is not a 32 bit floating point format\n"}};
  for (const auto& [name, message] : cases) {
    MessageCapture cap;
    SourceAttributes a;
    a.frames = -7;
    EXPECT_FALSE(GET_ATTRIBUTES(dir.path(name), a));
    EXPECT_NE(cap.text().find(dir.path(name) + message), std::string::npos) << cap.text();
    EXPECT_EQ(a.frames, -7) << "untouched";
  }
  // A 32-bit file with the float format tag is fine.
  dir.write("tag3float.wav", canonical(3, 2, 32, 80, 80));
  EXPECT_EQ(attributesOf(dir.path("tag3float.wav")), Expected(2, 32, 44100, 44, 10));
}

TEST(MakeHeaderTest, WritesTheCanonicalHeaderWithFieldsModulo2To32) {
  const std::array<unsigned char, 44> stereo24 = {
      'R',  'I', 'F', 'F', 0x7C, 0x02, 0,   0,   'W', 'A',  'V',  'E',  'f', 'm',  't',
      ' ',  16,  0,   0,   0,    1,    0,   2,   0,   0x44, 0xAC, 0,    0,   0x98, 0x09,
      0x04, 0,   6,   0,   24,   0,    'd', 'a', 't', 'a',  0x58, 0x02, 0,   0};
  EXPECT_EQ(MAKE_HEADER(44100, 24, 2, 100), stereo24);  // 636, 264600, 6, 600

  const auto mono16 = MAKE_HEADER(44100, 16, 1, 5);
  EXPECT_EQ(Assem4(&mono16[28]), 88200);
  EXPECT_EQ(Assem2(&mono16[32]), 2);
  EXPECT_EQ(Assem4(&mono16[40]), 10);

  const auto wrapped = MAKE_HEADER(4294967295u, 24, 2, 715827883);
  EXPECT_EQ(Assem4(&wrapped[4]), 38);  // 715827883 frames of 6 bytes are 2^32 + 2 bytes
  EXPECT_EQ(Assem4(&wrapped[40]), 2);
  EXPECT_EQ(Assem4(&wrapped[28]), 4294967290);  // 6 x (2^32 - 1)
  const auto wide = MAKE_HEADER(44100, 65536 + 24, 65536 + 2, 0);
  EXPECT_EQ(Assem2(&wide[22]), 2);
  EXPECT_EQ(Assem2(&wide[34]), 24);
}

TEST(MakeHeaderTest, ReadsBackThroughTheHeaderReaderAndSox) {
  ScratchFolder dir;
  const auto h = MAKE_HEADER(22050, 16, 1, 7);
  std::vector<unsigned char> file(h.begin(), h.end());
  file.resize(44 + 14);
  dir.write("out.wav", file);
  EXPECT_EQ(attributesOf(dir.path("out.wav")), Expected(1, 16, 22050, 44, 7));
  EXPECT_TRUE(dir.sox("out.wav -n stat"));
}

}  // namespace
}  // namespace sorvan
