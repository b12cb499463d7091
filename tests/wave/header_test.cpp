#include "wave/header.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "base/messages.h"
#include "wave/scratch_folder.h"

namespace sorvan {
namespace {

using test::ScratchFolder;

// Little-endian pieces of hand-made files.
std::string le(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}
std::string chunk(const std::string& id, const std::string& payload) {
  return id + le(payload.size(), 4) + payload;
}
std::string fmt(int tag, int channels, int bits, std::uint32_t rate = 44100) {
  const std::uint64_t align = static_cast<std::uint64_t>(channels * bits / 8);
  return chunk("fmt ", le(tag, 2) + le(channels, 2) + le(rate, 4) + le(rate * align, 4) +
                           le(align, 2) + le(bits, 2));
}
std::string riff(const std::string& body) { return "RIFF" + le(body.size() + 4, 4) + "WAVE" + body; }
// A JUNK chunk from file position `from` that puts the next identifier at `at`.
std::string junkUpTo(std::size_t from, std::size_t at) {
  return chunk("JUNK", std::string(at - from - 8, '\0'));
}

// channels, bits, rate, data offset, frames; or the message of a refusal.
using Expected = std::tuple<int, int, std::uint32_t, std::int64_t, std::int64_t>;

std::pair<Expected, std::string> read(const ScratchFolder& dir, const std::string& bytes) {
  dir.write("x.wav", std::vector<unsigned char>(bytes.begin(), bytes.end()));
  MessageCapture cap;
  SourceAttributes a;
  a.frames = -7;
  const bool used = GET_ATTRIBUTES(dir.path("x.wav"), a);
  EXPECT_EQ(used, cap.text().empty()) << cap.text();
  EXPECT_TRUE(!used || a.bytesPerSample == a.bits / 8);
  std::string said = cap.text();
  if (const auto at = said.find(dir.path("x.wav")); at != std::string::npos)
    said.replace(at, dir.path("x.wav").size(), "x.wav");
  return {{a.channels, a.bits, a.sampleRate, a.dataOffset, a.frames}, said};
}

TEST(GetAttributesTest, ReadsEveryLayoutSoxWrites) {
  ScratchFolder dir;
  // sox writes the canonical 44 bytes, an 18-byte float format chunk plus
  // "fact", or the 40-byte extensible format chunk plus "fact".
  const std::pair<const char*, Expected> cases[] = {
      {"-b 16", {1, 16, 44100, 44, 1000}},
      {"-t wavpcm -b 24", {2, 24, 48000, 44, 1000}},
      {"-b 24", {2, 24, 48000, 80, 1000}},
      {"-e floating-point -b 32", {2, 32, 44100, 58, 1000}},
      {"-b 16", {4, 16, 22050, 80, 1000}},
  };
  for (const auto& [format, expected] : cases) {
    const std::string layout = " -r " + std::to_string(std::get<2>(expected)) + " -c " +
                               std::to_string(std::get<0>(expected));
    ASSERT_TRUE(dir.sox(layout + " -n " + format + " y.wav synth 1000s sine 440"));
    SourceAttributes a;
    MessageCapture cap;
    EXPECT_TRUE(GET_ATTRIBUTES(dir.path("y.wav"), a)) << format << layout;
    EXPECT_EQ(Expected(a.channels, a.bits, a.sampleRate, a.dataOffset, a.frames), expected);
  }
}

// Damage sox would never write: each refusal says which check failed and
// leaves the attributes untouched; what is accepted holds only whole frames.
TEST(GetAttributesTest, DamagedHeadersInMemory) {
  ScratchFolder dir;
  const std::string data = std::string(600, '\x11');
  const std::string pcm = fmt(1, 2, 24), dataFirst = chunk("data", data);
  const std::string notPcm =
      "x.wav is not a 32 float, 24 bit pcm, or 16 bit pcm file and cannot be used\n";
  const std::string noFormat = "Can't find format chunk in wave file!\n";
  const std::string noData = "Cannot find data block in file x.wav!\n";
  const std::string header = "RIFF" + le(36 + 600, 4) + "WAVE" + pcm;
  const Expected refused{0, 0, 0, 0, -7};
  const std::tuple<const char*, std::string, std::string, std::int64_t> cases[] = {
      {"empty", "", noFormat, -7},
      {"cut inside fmt", (header + "data").substr(0, 26), notPcm, -7},
      {"fmt at an odd offset", riff(chunk("JUNK", "abc") + pcm + dataFirst), noFormat, -7},
      {"fmt beyond 128 KiB", riff(junkUpTo(12, 131074) + pcm + dataFirst), noFormat, -7},
      {"data beyond 128 KiB", riff(pcm + junkUpTo(36, 131074) + dataFirst), noData, -7},
      {"no channels", riff(fmt(1, 0, 24) + dataFirst),
       "x.wav has no channels or no sample bytes and cannot be used\n", -7},
      {"20-bit", riff(fmt(1, 2, 20) + dataFirst), notPcm, -7},
      {"0-bit", riff(fmt(1, 2, 0) + dataFirst), notPcm, -7},
      {"32-bit integer", riff(fmt(1, 2, 32) + dataFirst),
       "\nx.wav is not a 32 bit floating point format\n", -7},
      {"64-bit float", riff(fmt(3, 2, 64) + dataFirst), notPcm, -7},
      {"32-bit float", riff(fmt(3, 2, 32) + dataFirst), "", 75},
      {"header without samples", header + "data" + le(0, 4), "", 0},
      {"promising samples it lacks", header + "data" + le(6000, 4), "", 0},
      {"size 0xFFFFFFFF", header + "data" + le(0xFFFFFFFFu, 4) + data, "", 100},
      {"cut inside a frame", header + "data" + le(600, 4) + data.substr(0, 100), "", 16},
      {"fmt at the last searched position",
       riff(dataFirst + junkUpTo(12 + dataFirst.size(), 131072) + pcm), "", 100},
  };
  for (const auto& [name, bytes, message, frames] : cases) {
    const auto [got, said] = read(dir, bytes);
    EXPECT_EQ(said, message) << name;
    EXPECT_EQ(std::get<4>(got), frames) << name;
  }
  // "data" first: its offset is where it stands, not after the format chunk.
  EXPECT_EQ(read(dir, riff(dataFirst + pcm)).first, Expected(2, 24, 44100, 20, 100));
}

TEST(MakeHeaderTest, CanonicalHeaderWithFieldsModulo2To32ReadsBack) {
  const std::array<unsigned char, 44> stereo24 = {
      'R',  'I', 'F', 'F', 0x7C, 0x02, 0,   0,   'W', 'A',  'V',  'E',  'f', 'm',  't',
      ' ',  16,  0,   0,   0,    1,    0,   2,   0,   0x44, 0xAC, 0,    0,   0x98, 0x09,
      0x04, 0,   6,   0,   24,   0,    'd', 'a', 't', 'a',  0x58, 0x02, 0,   0};
  EXPECT_EQ(MAKE_HEADER(44100, 24, 2, 100), stereo24);
  const auto wrapped = MAKE_HEADER(4294967295u, 24, 2, 715827883);
  EXPECT_EQ(Assem4(&wrapped[4]), 38);  // 715827883 frames of 6 bytes are 2^32 + 2 bytes
  EXPECT_EQ(Assem4(&wrapped[28]), 4294967290);
  EXPECT_EQ(Assem2(&MAKE_HEADER(44100, 65536 + 16, 1, 0)[34]), 16);

  ScratchFolder dir;
  const auto h = MAKE_HEADER(22050, 16, 1, 7);
  EXPECT_EQ(read(dir, std::string(h.begin(), h.end()) + std::string(14, '\0')).first,
            Expected(1, 16, 22050, 44, 7));
  EXPECT_TRUE(dir.sox("x.wav -n stat"));
}

}  // namespace
}  // namespace sorvan
