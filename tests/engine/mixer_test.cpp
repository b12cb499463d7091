// The block loop on plans the real driver cannot produce: a source that holds
// fewer frames than its header promised (or is gone) by the time it is read,
// and one session rendered twice around another render in the same process.
#include "engine/mixer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/output_file.h"
#include "script/effect_settings.h"
#include "script/script.h"

namespace sorvan {
namespace {

class Folder {
 public:
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sorvan_mixer_XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
    EXPECT_FALSE(dir_.empty());
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// 24-bit stereo frames behind a 44-byte header whose contents do not matter:
// the plan carries the attributes.
void writeFrames(const std::string& path, const std::vector<std::int32_t>& interleaved) {
  std::string bytes(44, '\0');
  for (const std::int32_t v : interleaved) {
    const auto u = static_cast<std::uint32_t>(v);
    bytes += static_cast<char>(u);
    bytes += static_cast<char>(u >> 8);
    bytes += static_cast<char>(u >> 16);
  }
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::int32_t> readWords24(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::int32_t> out;
  for (std::size_t at = 0; at + 3 <= bytes.size(); at += 3) {
    const std::int32_t v = static_cast<unsigned char>(bytes[at]) |
                           static_cast<unsigned char>(bytes[at + 1]) << 8 |
                           static_cast<unsigned char>(bytes[at + 2]) << 16;
    out.push_back(v >= 0x800000 ? v - 0x1000000 : v);
  }
  return out;
}

struct Rendered {
  std::vector<std::int32_t> words;  // interleaved, no header
  std::string messages;
};

// Renders `frames` frames of one stereo 24-bit channel read from `source`,
// whose header is taken to promise `promised` frames.
Rendered renderOne(const Folder& folder, const std::string& source, std::int64_t promised,
                   std::int64_t frames, const std::string& faderSection) {
  MessageCapture capture;
  ScriptInputs in;
  in.faderSection = faderSection;
  in.prefsSection = "\nend\n";
  in.sampleRate = 48000.0;
  in.songLength = frames;
  in.trackCount = 1;
  in.verbosity = 0;
  in.sourceChannels[1] = 2;
  ChannelActive active{};
  active[1] = 1;
  auto script = std::make_unique<MixScript>(readMixScript(in, active));
  auto effects = std::make_unique<EffectSettings>();
  readEffectSettings(EffectInputs{faderSection, 48000.0, false, 0}, *effects);

  RenderPlan plan;
  plan.trackCount = 1;
  SourceChannel& c = plan.channels[1];
  c.path = source;
  c.wanted = true;
  c.channels = 2;
  c.bytesPerSample = 3;
  c.dataOffset = 44;
  c.length = promised;
  plan.renderLength = frames;
  plan.sampleRate = 48000.0;
  plan.ditherHalfWidth = 0;
  plan.ditherModulus = 0;
  plan.verbosity = 0;

  const std::string outPath = folder.path("out.raw");
  {
    OutputFile out;
    out.open(outPath);
    renderMix(plan, *script, *effects, out, nullptr);
    out.commit();
  }
  return {readWords24(outPath), capture.text()};
}

std::size_t count(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
    ++n;
  return n;
}

constexpr const char* kUnity = "\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n";

TEST(MixerTest, SourceShorterThanPromisedIsSilentPastItsDataWithOneWarning) {
  Folder folder;
  std::vector<std::int32_t> frames;
  for (int i = 0; i < 600; ++i) {
    frames.push_back(1000 * i + 7);
    frames.push_back(-3000 * i - 1);
  }
  writeFrames(folder.path("short.wav"), frames);
  // The promise reaches into the second block, so the source is read twice.
  const Rendered r = renderOne(folder, folder.path("short.wav"), 140000, 150000, kUnity);
  ASSERT_EQ(r.words.size(), 300000u);
  for (std::size_t i = 0; i < r.words.size(); ++i)
    ASSERT_EQ(r.words[i], i < frames.size() ? frames[i] : 0) << "word " << i;
  EXPECT_EQ(count(r.messages, "Warning"), 1u) << r.messages;
  EXPECT_NE(r.messages.find(folder.path("short.wav")), std::string::npos) << r.messages;
}

TEST(MixerTest, VanishedSourceIsSilentWithOneWarning) {
  Folder folder;
  const Rendered r = renderOne(folder, folder.path("gone.wav"), 140000, 140000, kUnity);
  ASSERT_EQ(r.words.size(), 280000u);
  std::size_t nonZero = 0;
  for (const std::int32_t w : r.words) nonZero += w != 0;
  EXPECT_EQ(nonZero, 0u);
  EXPECT_EQ(count(r.messages, "Warning"), 1u) << r.messages;
  EXPECT_NE(r.messages.find("gone.wav"), std::string::npos) << r.messages;
}

TEST(MixerTest, ASessionRendersTheSameAfterAnotherRender) {
  Folder folder;
  std::vector<std::int32_t> frames;
  std::uint32_t x = 12345;
  for (int i = 0; i < 2 * 20000; ++i) {
    x = x * 1664525u + 1013904223u;
    frames.push_back(static_cast<std::int32_t>(x >> 9) - (1 << 22));
  }
  writeFrames(folder.path("a.wav"), frames);
  // Every kind of state that lives from block to block: filters, dynamics,
  // fader playback and the recursive reverb.
  const std::string session =
      "\nsong\nt\t0\t0\t0\nv\t1\t-3\nt\t0\t0\t100\nv\t1\t-9\nhp\t1\t120\nband2\t1\t900\t4\t2\n"
      "comp\t1\t-20\t5\t80\t4\nrms\t1\t-18\t10\t100\t3\nlim\tM\t-6\nrtn\t-6\t40\nrev\t1\t-3\nend\n";
  const std::string other =
      "\nsong\nt\t0\t0\t0\nv\t1\t2\nlshelf\t1\t200\t6\t1\nnlc\t1\t-30\t64\t8\nrtn\t0\t90\n"
      "rev\t1\t0\nend\n";
  const Rendered first = renderOne(folder, folder.path("a.wav"), 20000, 20000, session);
  const Rendered between = renderOne(folder, folder.path("a.wav"), 20000, 20000, other);
  const Rendered again = renderOne(folder, folder.path("a.wav"), 20000, 20000, session);
  ASSERT_EQ(first.words.size(), 40000u);
  EXPECT_FALSE(between.words == first.words);
  EXPECT_TRUE(again.words == first.words);
}

}  // namespace
}  // namespace sorvan
