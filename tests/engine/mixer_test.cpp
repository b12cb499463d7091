// The block loop in memory: a render through memory sources and a memory
// sink equals the render from and to files, one prepared session renders the
// same after another render in the same process, and a source that holds
// fewer frames than its header promised (or is gone) plays silence with one
// warning.
#include "engine/mixer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/messages.h"
#include "script/effect_settings.h"
#include "script/script.h"
#include "wave/scratch_folder.h"

namespace sorvan {
namespace {

using test::ScratchFolder;

constexpr double kRate = 48000.0;

// A parsed session of `channels` stereo channels, read as the stages before
// the mix would read it.
struct Session {
  RenderPlan plan;
  std::unique_ptr<MixScript> script;
  std::unique_ptr<EffectSettings> effects;

  Session(const std::string& faderSection, std::int64_t sourceFrames, std::int64_t frames,
          int channels = 1) {
    MessageCapture quiet;
    ScriptInputs in;
    in.faderSection = faderSection;
    in.prefsSection = "\nend\n";
    in.sampleRate = kRate;
    in.songLength = frames;
    in.trackCount = channels;
    in.verbosity = 0;
    ChannelActive active{};
    for (int ch = 1; ch <= channels; ++ch) {
      in.sourceChannels[ch] = 2;
      active[ch] = 1;
    }
    script = std::make_unique<MixScript>(readMixScript(in, active));
    effects = std::make_unique<EffectSettings>();
    readEffectSettings(EffectInputs{faderSection, kRate, false, 0}, *effects);
    plan.trackCount = channels;
    for (int ch = 1; ch <= channels; ++ch)
      plan.channels[ch] = SourceChannel{true, 2, 0, sourceFrames};
    plan.renderLength = frames;
    plan.sampleRate = kRate;
    plan.ditherHalfWidth = 0;
    plan.ditherModulus = 0;
    plan.verbosity = 0;
  }

  WaveFormat format() const { return WaveFormat{48000, 24, 2, plan.renderLength}; }

  // Prepares and renders with sources[k] on channel k + 1 into `sink`.
  void render(const std::vector<SampleSource*>& channels, SampleSink& sink) const {
    const RenderInputs in{plan, *script, *effects};
    const auto state = prepareRender(in);
    SourceTable sources{};
    for (std::size_t k = 0; k < channels.size(); ++k) sources[k + 1] = channels[k];
    renderMix(in, *state, sources, RenderOutputs{sink});
  }
  void render(SampleSource& source, SampleSink& sink) const { render({&source}, sink); }

  std::vector<unsigned char> renderInMemory(const std::vector<SampleSource*>& channels) const {
    MemorySink sink(format());
    render(channels, sink);
    return sink.bytes();
  }
  std::vector<unsigned char> renderInMemory(SampleSource& source) const {
    return renderInMemory(std::vector<SampleSource*>{&source});
  }
};

// Interleaved stereo 24-bit noise, and the same frames as a WAVE file's data
// behind a 44-byte header whose contents the source does not read.
std::vector<std::int64_t> noise(int frames, std::uint32_t seed) {
  std::vector<std::int64_t> out;
  for (int i = 0; i < 2 * frames; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out.push_back(static_cast<std::int32_t>(seed >> 9) - (1 << 22));
  }
  return out;
}

void writeFrames(const ScratchFolder& dir, const std::string& name,
                 const std::vector<std::int64_t>& interleaved) {
  std::vector<unsigned char> bytes(44, 0);
  for (const std::int64_t v : interleaved)
    for (int shift : {0, 8, 16}) bytes.push_back(static_cast<unsigned char>(v >> shift));
  dir.write(name, bytes);
}

SourceAttributes stereo24(std::int64_t frames) {
  SourceAttributes a;
  a.channels = 2;
  a.bytesPerSample = 3;
  a.bits = 24;
  a.dataOffset = 44;
  a.sampleRate = 48000;
  a.frames = frames;
  return a;
}

// Every kind of state that lives from block to block: filters, dynamics,
// fader playback, dither and the recursive reverb.
const std::string kBusy =
    "\nsong\nt\t0\t0\t0\nv\t1\t-3\nt\t0\t0\t100\nv\t1\t-9\nhp\t1\t120\nband2\t1\t900\t4\t2\n"
    "comp\t1\t-20\t5\t80\t4\nrms\t1\t-18\t10\t100\t3\nlim\tM\t-6\nrtn\t-6\t40\nrev\t1\t-3\nend\n";

TEST(RenderTest, InMemoryEqualsFromAndToFiles) {
  ScratchFolder dir;
  const auto frames = noise(150000, 12345);
  writeFrames(dir, "a.wav", frames);
  Session session(kBusy, 150000, 150000);  // two blocks
  session.plan.ditherHalfWidth = 1;
  session.plan.ditherModulus = 3;
  WaveFileSource file(dir.path("a.wav"), stereo24(150000));
  {
    WaveFileSink sink(dir.path("out.wav"), session.format(), 1 << 16);
    session.render(file, sink);
    sink.commit();
  }
  MemorySource memory(2, frames);
  EXPECT_TRUE(session.renderInMemory(memory) == dir.read("out.wav"));
}

TEST(RenderTest, APreparedSessionRendersTheSameAfterAnotherRender) {
  const auto frames = noise(20000, 99);
  Session session(kBusy, 20000, 20000);
  session.plan.ditherHalfWidth = 1;
  session.plan.ditherModulus = 3;
  session.plan.ditherSeed = 5;
  const Session other(
      "\nsong\nt\t0\t0\t0\nv\t1\t2\nlshelf\t1\t200\t6\t1\nnlc\t1\t-30\t64\t8\nrtn\t0\t90\n"
      "rev\t1\t0\nend\n",
      20000, 20000);
  MemorySource a(2, frames), b(2, frames), c(2, frames);
  const auto first = session.renderInMemory(a);
  const auto between = other.renderInMemory(b);
  const auto again = session.renderInMemory(c);
  EXPECT_FALSE(between == first);
  EXPECT_TRUE(again == first);
}

// Threads share the channels out, with reverb sends (added in channel order)
// and without; every byte stays the same.
TEST(RenderTest, ThreadsDoNotChangeABit) {
  std::string fader = "\nsong\nt\t0\t0\t0\n";
  for (int ch = 1; ch <= 6; ++ch) {
    const std::string c = std::to_string(ch);
    fader += "v\t" + c + "\t-" + c + "\n" + (ch % 2 ? "band2\t" + c + "\t900\t4\t2\n" : "");
  }
  for (const std::string sends : {"", "rev\t2\t-3\nrev\t5\t-8\ntrev\t3\t-1\nrtn\t-6\t40\ntrtn\t0\t30\t2\n"}) {
    std::vector<std::vector<unsigned char>> renders;
    for (int threads : {1, 2, 5}) {
      Session session(fader + sends + "end\n", 150000, 150000, 6);
      session.plan.threads = threads;
      std::vector<std::unique_ptr<MemorySource>> sources;
      std::vector<SampleSource*> channels;
      for (int ch = 1; ch <= 6; ++ch) {
        sources.push_back(std::make_unique<MemorySource>(2, noise(150000, 40u + ch)));
        channels.push_back(sources.back().get());
      }
      renders.push_back(session.renderInMemory(channels));
    }
    EXPECT_TRUE(renders[1] == renders[0]) << "two threads" << (sends.empty() ? "" : ", sends");
    EXPECT_TRUE(renders[2] == renders[0]) << "five threads" << (sends.empty() ? "" : ", sends");
  }
}

TEST(RenderTest, SourceShorterThanPromisedOrGoneIsSilentWithOneWarning) {
  ScratchFolder dir;
  const auto frames = noise(600, 7);
  writeFrames(dir, "short.wav", frames);
  const Session session("\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n", 140000, 150000);
  // The promise reaches into the second block, so each source is read twice.
  for (const std::string name : {"short.wav", "gone.wav"}) {
    SCOPED_TRACE(name);
    MessageCapture capture;
    WaveFileSource source(dir.path(name), stereo24(140000));
    const auto bytes = session.renderInMemory(source);
    ASSERT_EQ(bytes.size(), 44u + 150000u * 6u);
    for (std::size_t i = 0; i < 2 * 150000; ++i) {
      const std::size_t at = 44 + 3 * i;
      const std::int32_t v = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16;
      ASSERT_EQ(v >= 0x800000 ? v - 0x1000000 : v,
                name == "short.wav" && i < frames.size() ? frames[i] : 0)
          << i;
    }
    const std::string& said = capture.text();
    const std::size_t warning = said.find("Warning");
    EXPECT_NE(warning, std::string::npos) << said;
    EXPECT_EQ(said.find("Warning", warning + 1), std::string::npos) << said;
    EXPECT_NE(said.find(dir.path(name)), std::string::npos) << said;
  }
}

}  // namespace
}  // namespace sorvan
