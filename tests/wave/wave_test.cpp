// WAVE files: the header reader on damage made in memory (the layouts sox
// writes are read by every end-to-end render), the canonical output header,
// and sample conversion both ways.
#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <limits>

#include "base/messages.h"
#include "wave/header.h"
#include "wave/samples.h"
#include "wave/scratch_folder.h"

namespace sorvan {
namespace {

using Words = std::vector<std::int64_t>;
using Bytes = std::vector<unsigned char>;

// Little-endian pieces of hand-made files.
std::string le(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}
std::string chunk(const std::string& id, const std::string& payload) {
  return id + le(payload.size(), 4) + payload;
}
std::string fmt(int tag, int channels, int bits) {
  const std::uint64_t align = static_cast<std::uint64_t>(channels * bits / 8);
  return chunk("fmt ", le(tag, 2) + le(channels, 2) + le(44100, 4) + le(44100 * align, 4) +
                           le(align, 2) + le(bits, 2));
}
std::string riff(const std::string& body) {
  return "RIFF" + le(body.size() + 4, 4) + "WAVE" + body;
}
// A JUNK chunk from file position `from` that puts the next identifier at `at`.
std::string junkUpTo(std::size_t from, std::size_t at) {
  return chunk("JUNK", std::string(at - from - 8, '\0'));
}

// channels, bits, rate, data offset, frames (untouched, -7, when refused),
// and what was said with the folder left out of the path.
using Read = std::tuple<int, int, std::uint32_t, std::int64_t, std::int64_t, std::string>;

Read read(const test::ScratchFolder& dir, const std::string& bytes) {
  dir.write("x.wav", Bytes(bytes.begin(), bytes.end()));
  MessageCapture cap;
  SourceAttributes a;
  a.frames = -7;
  const bool used = GET_ATTRIBUTES(dir.path("x.wav"), a);
  EXPECT_EQ(used, cap.text().empty()) << cap.text();
  EXPECT_TRUE(!used || a.bytesPerSample == a.bits / 8);
  std::string said = cap.text();
  if (const auto at = said.find(dir.path("")); at != std::string::npos)
    said.erase(at, dir.path("").size());
  return {a.channels, a.bits, a.sampleRate, a.dataOffset, a.frames, said};
}

// Damage sox would never write: each refusal says which check failed and
// leaves the attributes untouched; what is accepted holds only whole frames.
TEST(GetAttributesTest, DamagedHeadersMadeInMemory) {
  test::ScratchFolder dir;
  const std::string data(600, '\x11'), pcm = fmt(1, 2, 24), dataFirst = chunk("data", data);
  const std::string header = "RIFF" + le(36 + 600, 4) + "WAVE" + pcm;
  const std::string notPcm =
      "x.wav is not a 32 float, 24 bit pcm, or 16 bit pcm file and cannot be used\n";
  const std::string noFormat = "Can't find format chunk in wave file!\n";
  const std::tuple<const char*, std::string, std::string, std::int64_t> cases[] = {
      {"cut inside fmt", (header + "data").substr(0, 26), notPcm, -7},
      {"fmt at an odd offset", riff(chunk("JUNK", "abc") + pcm + dataFirst), noFormat, -7},
      {"fmt beyond 128 KiB", riff(junkUpTo(12, 131074) + pcm + dataFirst), noFormat, -7},
      {"data beyond 128 KiB", riff(pcm + junkUpTo(36, 131074) + dataFirst),
       "Cannot find data block in file x.wav!\n", -7},
      {"no channels", riff(fmt(1, 0, 24) + dataFirst),
       "x.wav has no channels or no sample bytes and cannot be used\n", -7},
      {"20-bit", riff(fmt(1, 2, 20) + dataFirst), notPcm, -7},
      {"32-bit integer", riff(fmt(1, 2, 32) + dataFirst),
       "\nx.wav is not a 32 bit floating point format\n", -7},
      {"32-bit float", riff(fmt(3, 2, 32) + dataFirst), "", 75},
      {"promising samples it lacks", header + "data" + le(6000, 4), "", 0},
      {"size 0xFFFFFFFF", header + "data" + le(0xFFFFFFFFu, 4) + data, "", 100},
      {"cut inside a frame", header + "data" + le(600, 4) + data.substr(0, 100), "", 16},
      {"fmt at the last searched position",
       riff(dataFirst + junkUpTo(12 + dataFirst.size(), 131072) + pcm), "", 100}};
  for (const auto& [name, bytes, message, frames] : cases) {
    const Read got = read(dir, bytes);
    EXPECT_EQ(std::tuple(std::get<5>(got), std::get<4>(got)), std::tuple(message, frames)) << name;
  }
  EXPECT_EQ(read(dir, ""), Read(0, 0, 0, 0, -7, noFormat)) << "an empty file";
  EXPECT_EQ(read(dir, riff(dataFirst + pcm)), Read(2, 24, 44100, 20, 100, ""))
      << "data first: its offset is where it stands";
}

TEST(MakeHeaderTest, CanonicalHeaderWithFieldsModulo2To32) {
  const std::array<unsigned char, 44> stereo24 = {
      'R',  'I', 'F', 'F', 0x7C, 0x02, 0,   0,   'W', 'A',  'V',  'E',  'f', 'm',  't',
      ' ',  16,  0,   0,   0,    1,    0,   2,   0,   0x44, 0xAC, 0,    0,   0x98, 0x09,
      0x04, 0,   6,   0,   24,   0,    'd', 'a', 't', 'a',  0x58, 0x02, 0,   0};
  EXPECT_EQ(MAKE_HEADER(44100, 24, 2, 100), stereo24);
  const auto wrapped = MAKE_HEADER(4294967295u, 24, 2, 715827883);  // 2^32 + 2 data bytes
  EXPECT_EQ(std::tuple(Assem4(&wrapped[4]), Assem4(&wrapped[28])), std::tuple(38, 4294967290));
  test::ScratchFolder dir;
  const auto h = MAKE_HEADER(22050, 16, 1, 7);
  Bytes file(h.begin(), h.end());
  file.resize(44 + 14);
  dir.write("x.wav", file);
  EXPECT_TRUE(dir.sox("x.wav -n stat")) << "sox reads it";
}

// Float samples decode to the channel scale (full scale 2^23) toward zero,
// NaN as 0, magnitudes from 256.0 on (infinities included) as 2^31; PCM is
// checked bit for bit against sox end to end. Output words are held at their
// range, not wrapped.
TEST(SamplesTest, FloatDecodingAndEncodersAtTheirBoundaries) {
  const auto convert = [](float x) {
    const auto w = std::bit_cast<std::uint32_t>(x);
    return Float32Convert(w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, w >> 24);
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(std::vector<std::int64_t>({convert(-1.5e-7f), convert(-1e-40f), convert(nan),
                                       convert(-nan), convert(INFINITY), convert(-300.0f)}),
            (Words{-1, 0, 0, 0, 2147483648LL, -2147483648LL}));
  for (std::uint32_t exponent = 1; exponent < 135; ++exponent)  // every normal exponent below 256
    for (std::uint32_t bits : {0u, 0x7FFFFFu, 0x80123456u}) {
      const float x = std::bit_cast<float>((bits & 0x807FFFFFu) | exponent << 23);
      ASSERT_EQ(convert(x), static_cast<std::int64_t>(std::trunc(x * 8388608.0))) << x;
    }
  Bytes out(12, 7);
  const std::int64_t words24[] = {-0x123456, 8388608, 1LL << 40, INT64_MIN};
  NUM24STER_TO_CHAR(words24, words24 + 2, out.data(), 2);
  EXPECT_EQ(out, Bytes({0xAA, 0xCB, 0xED, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F, 0, 0, 0x80}));
  const std::int64_t words16[] = {-32769, 32767, 32768, INT_MIN};
  NUM16MONO_TO_CHAR(words16, out.data(), 4);
  NUM16STER_TO_CHAR(words16, words16 + 2, out.data() + 8, 0);  // no frames: nothing written
  EXPECT_EQ(out, Bytes({0, 0x80, 0xFF, 0x7F, 0xFF, 0x7F, 0, 0x80, 0x7F, 0, 0, 0x80}));
}

}  // namespace
}  // namespace sorvan
