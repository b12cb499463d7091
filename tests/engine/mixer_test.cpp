// The block loop in memory: sessions read as the stages before the mix read
// them, rendered through memory sources into a memory sink. A render from and
// to files gives the same bytes; one prepared session renders the same after
// another render in the same process; and the fader arithmetic a listener
// hears (ramps, DC, VCAs, bus-scale faders) holds sample by sample.
#include "engine/mixer.h"

#include <gtest/gtest.h>

#include <cmath>
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
using Words = std::vector<std::int64_t>;

constexpr double kUnity = 134217728.0;

// One or more stereo channels of `frames` frames, from the start of the song.
struct Session {
  RenderPlan plan;
  std::unique_ptr<MixScript> script;
  std::unique_ptr<EffectSettings> effects;

  Session(const std::string& faders, std::int64_t frames, int tracks = 1) {
    MessageCapture quiet;
    ScriptInputs in;
    in.faderSection = faders;
    in.prefsSection = "\nend\n";
    in.sampleRate = 48000.0;
    in.songLength = frames;
    in.trackCount = tracks;
    in.verbosity = 0;
    ChannelActive active{};
    for (int ch = 1; ch <= tracks; ++ch) {
      in.sourceChannels[ch] = 2;
      active[ch] = 1;
      plan.channels[ch] = SourceChannel{true, 2, 0, frames};
    }
    script = std::make_unique<MixScript>(readMixScript(in, active));
    effects = std::make_unique<EffectSettings>();
    readEffectSettings(EffectInputs{faders, 48000.0, false, 0}, *effects);
    plan.trackCount = tracks;
    plan.renderLength = frames;
    plan.sampleRate = 48000.0;
    plan.ditherHalfWidth = plan.ditherModulus = 0;
    plan.verbosity = 0;
  }

  std::vector<unsigned char> render(const std::vector<SampleSource*>& sources) const {
    const RenderInputs in{plan, *script, *effects};
    const auto state = prepareRender(in);
    SourceTable table{};
    for (std::size_t k = 0; k < sources.size(); ++k) table[k + 1] = sources[k];
    MemorySink sink(WaveFormat{48000, 24, 2, plan.renderLength});
    renderMix(in, *state, table, RenderOutputs{sink});
    return sink.bytes();
  }

  // The 24-bit output words, interleaved, of `interleaved` on channel 1.
  Words words(const Words& interleaved) const {
    MemorySource source(2, interleaved);
    const auto bytes = render({&source});
    Words out;
    for (std::size_t at = 44; at + 3 <= bytes.size(); at += 3) {
      const std::int32_t v = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16;
      out.push_back(v >= 0x800000 ? v - 0x1000000 : v);
    }
    return out;
  }
};

// Interleaved stereo 24-bit noise.
Words noise(int frames, std::uint32_t seed) {
  Words out;
  for (int i = 0; i < 2 * frames; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out.push_back(static_cast<std::int32_t>(seed >> 9) - (1 << 22));
  }
  return out;
}

// Every sample alternates in sign, so every sample is a zero crossing.
Words alternating(std::size_t frames, std::int64_t left, std::int64_t right) {
  Words out;
  for (std::size_t i = 0; i < frames; ++i) {
    out.push_back(i % 2 ? -left : left);
    out.push_back(i % 2 ? -right : right);
  }
  return out;
}

double levelOf(double dB) { return std::trunc(std::pow(10.0, dB / 20.0) * kUnity); }

// A centred stereo track channel at `level` (a ramp's untruncated level
// included): the level meets the pan gain in single precision, 2^19 takes
// unity up by 256 into bus scale, and the bus value and the word are
// truncated toward zero.
std::int64_t faderWord(std::int64_t x, double level) {
  const double gain = static_cast<double>(static_cast<float>(level)) / 524288.0;
  return static_cast<std::int64_t>(gain * static_cast<double>(x)) / 256;
}

// Every kind of state that lives from block to block: filters, dynamics,
// fader playback, dither and the recursive reverb.
const std::string kBusy =
    "\nsong\nt\t0\t0\t0\nv\t1\t-3\nt\t0\t0\t100\nv\t1\t-9\nhp\t1\t120\nband2\t1\t900\t4\t2\n"
    "comp\t1\t-20\t5\t80\t4\nrms\t1\t-18\t10\t100\t3\nlim\tM\t-6\nrtn\t-6\t40\nrev\t1\t-3\nend\n";

TEST(RenderTest, InMemoryEqualsFromAndToFiles) {
  ScratchFolder dir;
  const Words frames = noise(150000, 12345);  // two blocks
  std::vector<unsigned char> file(44, 0);
  for (const std::int64_t v : frames)
    for (int shift : {0, 8, 16}) file.push_back(static_cast<unsigned char>(v >> shift));
  dir.write("a.wav", file);
  Session session(kBusy, 150000);
  session.plan.ditherHalfWidth = 1;
  session.plan.ditherModulus = 3;
  SourceAttributes a;
  a.channels = 2;
  a.bytesPerSample = 3;
  a.bits = 24;
  a.dataOffset = 44;
  a.frames = 150000;
  WaveFileSource source(dir.path("a.wav"), a);
  {
    const RenderInputs in{session.plan, *session.script, *session.effects};
    const auto state = prepareRender(in);
    SourceTable table{};
    table[1] = &source;
    WaveFileSink sink(dir.path("out.wav"), WaveFormat{48000, 24, 2, 150000}, 1 << 16);
    renderMix(in, *state, table, RenderOutputs{sink});
    sink.commit();
  }
  MemorySource memory(2, frames);
  EXPECT_TRUE(session.render({&memory}) == dir.read("out.wav"));

  // A source that holds fewer frames than promised (or is gone) plays
  // silence from there on, with one warning naming it, in every block.
  const Session plain("\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n", 150000);
  for (const std::string name : {"a.wav", "gone.wav"}) {
    MessageCapture capture;
    a.frames = 149000;
    dir.write("a.wav", std::vector<unsigned char>(file.begin(), file.begin() + 44 + 600 * 6));
    WaveFileSource shortSource(dir.path(name), a);
    const auto bytes = plain.render({&shortSource});
    ASSERT_EQ(bytes.size(), 44u + 150000u * 6u);
    for (std::size_t i = 0; i < 2 * 150000; ++i) {
      const std::size_t at = 44 + 3 * i;
      const std::int32_t v = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16;
      ASSERT_EQ(v >= 0x800000 ? v - 0x1000000 : v, name == "a.wav" && i < 1200 ? frames[i] : 0)
          << name << " " << i;
    }
    const std::string& said = capture.text();
    const std::size_t warning = said.find("Warning");
    EXPECT_NE(said.find(dir.path(name)), std::string::npos) << said;
    EXPECT_EQ(said.find("Warning", warning + 1), std::string::npos) << said;
  }
}

TEST(RenderTest, APreparedSessionRendersTheSameAfterAnotherRender) {
  const Words frames = noise(20000, 99);
  Session session(kBusy, 20000);
  session.plan.ditherHalfWidth = 1;
  session.plan.ditherModulus = 3;
  session.plan.ditherSeed = 5;
  const Session other(
      "\nsong\nt\t0\t0\t0\nv\t1\t2\nlshelf\t1\t200\t6\t1\nnlc\t1\t-30\t64\t8\nrtn\t0\t90\n"
      "rev\t1\t0\nend\n",
      20000);
  MemorySource a(2, frames), b(2, frames), c(2, frames);
  const auto first = session.render({&a});
  const auto between = other.render({&b});
  EXPECT_FALSE(between == first);
  EXPECT_TRUE(session.render({&c}) == first);
}

// A ramp moves in decibels, linearly (shape 1) or along its power (shape 2),
// from the sample after its entry; halfway up a ramp from -40 dB the linear
// one stands at -20 dB, the squared one at -30 dB.
TEST(PlaybackRenderTest, RampsFollowTheirShapeInDecibels) {
  const Words x = alternating(24000, 4000000, 4000000);
  const double startDb = -20.0 * std::log10(kUnity / levelOf(-40));
  for (const int shape : {1, 2}) {
    const Session s("\nsong\nt\t0\t0\t0\nv\t1\t-40\nt\t0\t0\t125\nv\t1\t0\nrmp\t0.25\nshape\t" +
                        std::to_string(shape) + "\nend\n",
                    24000);
    const Words out = s.words(x);
    ASSERT_EQ(out.size(), x.size());
    for (std::size_t i = 0; i < 24000; ++i) {
      double level = levelOf(-40);
      if (i >= 6000) {
        const double step = static_cast<double>(i - 6000 + 1);
        level = step >= 12000 ? kUnity
                              : std::pow(10.0, startDb * (1.0 - std::pow(step / 12000, shape)) / 20.0) * kUnity;
      }
      // One word of slack for the power function; outside the ramp exact.
      const std::int64_t slack = (i >= 6000 && i < 17999) ? 1 : 0;
      ASSERT_LE(std::llabs(out[2 * i] - faderWord(x[2 * i], level)), slack) << shape << " " << i;
      ASSERT_EQ(out[2 * i + 1], out[2 * i]) << shape << " " << i;
    }
    EXPECT_NEAR(20.0 * std::log10(out[24000] / 4000000.0), shape == 1 ? -20.0 : -30.0, 0.01);
  }
}

// A channel fader waits for a zero crossing, which DC never has; a VCA acts
// on the sample its entry names.
TEST(PlaybackRenderTest, DcKeepsItsFirstGainWhileAVcaActsAtOnce) {
  const Session s(
      "\nsong\nVCA:\t1\t1\nt\t0\t0\t0\nv\t1\t-6\nvca\t1\t0\nt\t0\t0\t125\nv\t1\t0\n"
      "t\t0\t0\t250\nvca\t1\t-6\nend\n",
      24000);
  Words dc;
  for (int i = 0; i < 24000; ++i) dc.insert(dc.end(), {3000000, -2000000});
  const Words out = s.words(dc);
  const double level = levelOf(-6), vca = level / kUnity;
  const double gain = static_cast<double>(static_cast<float>(level)) / 524288.0;
  for (std::size_t i = 0; i < 24000; ++i) {
    const bool after = i >= 12000;
    ASSERT_EQ(out[2 * i], after ? static_cast<std::int64_t>(gain * vca * 3000000.0) / 256
                                : faderWord(3000000, level)) << i;
    ASSERT_EQ(out[2 * i + 1], after ? static_cast<std::int64_t>(-2000000.0 * vca * gain) / 256
                                    : faderWord(-2000000, level)) << i;
  }
  EXPECT_NEAR(static_cast<double>(out[24000]), faderWord(3000000, level) * 0.5011872336272722, 1.0);
}

// Submix and master faders work on bus values (2^27 at unity): the submix
// at -6 dB, then the master at -20 dB, each truncated. Channel field 0
// stores a master entry that is never played back.
TEST(PlaybackRenderTest, SubmixAndMasterFadersWorkInBusScale) {
  const Words x = alternating(4800, 3000001, -3000001);
  const auto busGain = [](double dB) { return static_cast<float>(levelOf(dB)) / kUnity; };
  for (const char* master : {"0", "M"}) {
    const Session s(std::string("\nsong\nsub\t1\t1\nt\t0\t0\t0\nv\t1\t0\nv\tG\t1\t-6\nv\t") +
                        master + "\t-20\nend\n",
                    4800);
    const Words out = s.words(x);
    const double masterGain = std::string(master) == "M" ? busGain(-20) : 1.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const auto bus = static_cast<std::int64_t>(256.0 * x[i] * busGain(-6));
      ASSERT_EQ(out[i], static_cast<std::int64_t>(masterGain * static_cast<double>(bus)) / 256)
          << master << " " << i;
    }
  }
}

}  // namespace
}  // namespace sorvan
