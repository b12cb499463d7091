// The block loop on plans the real driver cannot produce: a source that holds
// fewer frames than its header promised (or is gone) by the time it is read,
// and one session rendered twice around another render in the same process.
#include "engine/mixer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/output_file.h"
#include "script/effect_settings.h"
#include "script/script.h"
#include "wave/scratch_folder.h"

namespace sorvan {
namespace {

using test::ScratchFolder;

// 24-bit stereo frames behind a 44-byte header whose contents do not matter:
// the plan carries the attributes.
void writeFrames(const ScratchFolder& dir, const std::string& name,
                 const std::vector<std::int32_t>& interleaved) {
  std::vector<unsigned char> bytes(44, 0);
  for (const std::int32_t v : interleaved)
    for (int shift : {0, 8, 16}) bytes.push_back(static_cast<unsigned char>(v >> shift));
  dir.write(name, bytes);
}

struct Rendered {
  std::vector<std::int32_t> words;  // interleaved, no header
  std::string messages;
};

// Renders `frames` frames of one stereo 24-bit channel read from `source`,
// whose header is taken to promise `promised` frames.
Rendered renderOne(const ScratchFolder& dir, const std::string& source, std::int64_t promised,
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
  c.path = dir.path(source);
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
  {
    OutputFile out;
    out.open(dir.path("out.raw"));
    renderMix(plan, *script, *effects, out, nullptr);
    out.commit();
  }
  Rendered r{{}, capture.text()};
  const std::vector<unsigned char> bytes = dir.read("out.raw");
  for (std::size_t at = 0; at + 3 <= bytes.size(); at += 3) {
    const std::int32_t v = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16;
    r.words.push_back(v >= 0x800000 ? v - 0x1000000 : v);
  }
  return r;
}

constexpr const char* kUnity = "\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n";

TEST(MixerTest, SourceShorterThanPromisedOrGoneIsSilentWithOneWarning) {
  ScratchFolder dir;
  std::vector<std::int32_t> frames;
  for (int i = 0; i < 600; ++i) {
    frames.push_back(1000 * i + 7);
    frames.push_back(-3000 * i - 1);
  }
  writeFrames(dir, "short.wav", frames);
  // The promise reaches into the second block, so each source is read twice.
  for (const std::string name : {"short.wav", "gone.wav"}) {
    SCOPED_TRACE(name);
    const Rendered r = renderOne(dir, name, 140000, 150000, kUnity);
    ASSERT_EQ(r.words.size(), 300000u);
    for (std::size_t i = 0; i < r.words.size(); ++i)
      ASSERT_EQ(r.words[i], name == "short.wav" && i < frames.size() ? frames[i] : 0) << i;
    const std::size_t warning = r.messages.find("Warning");
    EXPECT_NE(warning, std::string::npos) << r.messages;
    EXPECT_EQ(r.messages.find("Warning", warning + 1), std::string::npos) << r.messages;
    EXPECT_NE(r.messages.find(dir.path(name)), std::string::npos) << r.messages;
  }
}

TEST(MixerTest, ASessionRendersTheSameAfterAnotherRender) {
  ScratchFolder dir;
  std::vector<std::int32_t> frames;
  std::uint32_t x = 12345;
  for (int i = 0; i < 2 * 20000; ++i) {
    x = x * 1664525u + 1013904223u;
    frames.push_back(static_cast<std::int32_t>(x >> 9) - (1 << 22));
  }
  writeFrames(dir, "a.wav", frames);
  // Every kind of state that lives from block to block: filters, dynamics,
  // fader playback and the recursive reverb.
  const std::string session =
      "\nsong\nt\t0\t0\t0\nv\t1\t-3\nt\t0\t0\t100\nv\t1\t-9\nhp\t1\t120\nband2\t1\t900\t4\t2\n"
      "comp\t1\t-20\t5\t80\t4\nrms\t1\t-18\t10\t100\t3\nlim\tM\t-6\nrtn\t-6\t40\nrev\t1\t-3\nend\n";
  const std::string other =
      "\nsong\nt\t0\t0\t0\nv\t1\t2\nlshelf\t1\t200\t6\t1\nnlc\t1\t-30\t64\t8\nrtn\t0\t90\n"
      "rev\t1\t0\nend\n";
  const Rendered first = renderOne(dir, "a.wav", 20000, 20000, session);
  const Rendered between = renderOne(dir, "a.wav", 20000, 20000, other);
  const Rendered again = renderOne(dir, "a.wav", 20000, 20000, session);
  ASSERT_EQ(first.words.size(), 40000u);
  EXPECT_FALSE(between.words == first.words);
  EXPECT_TRUE(again.words == first.words);
}

}  // namespace
}  // namespace sorvan
