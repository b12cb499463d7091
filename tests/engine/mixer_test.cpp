// The block loop in memory: sessions read as the stages before the mix read
// them, rendered through memory sources into a memory sink. A render from and
// to files gives the same bytes; one prepared session renders the same after
// another render in the same process; a mono channel panned by delay and
// ramps follow their closed forms sample by sample; fader and VCA playback
// and whole strips are block-split invariant. Zero crossings and renders that
// start inside running ramps are checked end to end.
#include "engine/mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "base/fatal.h"
#include "base/messages.h"
#include "base/numeric.h"
#include "engine/block_math.h"
#include "engine/playback.h"
#include "engine/plot.h"
#include "engine/strip.h"
#include "script/effect_settings.h"
#include "script/script.h"
#include "wave/scratch_folder.h"

namespace sorvan {
namespace {

using test::ScratchFolder;
using Words = std::vector<std::int64_t>;

// The 24-bit words of a rendered file, interleaved.
Words decode(const std::vector<unsigned char>& bytes) {
  Words out;
  for (std::size_t at = 44; at + 3 <= bytes.size(); at += 3)
    out.push_back(bytes[at] | bytes[at + 1] << 8 | static_cast<signed char>(bytes[at + 2]) * 65536);
  return out;
}

// A session of `tracks` channels of `frames` frames, each with `channels`
// source channels, read as the stages before the mix read it, without dither.
struct Session {
  RenderPlan plan;
  std::unique_ptr<MixScript> script;
  std::unique_ptr<EffectSettings> effects = std::make_unique<EffectSettings>();

  Session(const std::string& faders, std::int64_t frames, int channels = 2, int tracks = 1) {
    MessageCapture quiet;
    ScriptInputs in;
    in.faderSection = faders;
    in.prefsSection = "\nend\n";
    in.sampleRate = plan.sampleRate = 48000.0;
    in.songLength = plan.renderLength = frames;
    in.trackCount = plan.trackCount = tracks;
    in.verbosity = plan.verbosity = plan.ditherHalfWidth = plan.ditherModulus = 0;
    ChannelActive active{};
    for (int ch = 1; ch <= tracks; ++ch) {
      in.sourceChannels[ch] = plan.channels[ch].channels = channels;
      plan.channels[ch].length = frames;
      plan.channels[ch].wanted = true;
      active[ch] = 1;
    }
    script = std::make_unique<MixScript>(readMixScript(in, active));
    readEffectSettings(EffectInputs{faders, 48000.0, false, 0}, *effects);
  }

  // Renders with sources[k] on channel k + 1.
  void render(const std::vector<SampleSource*>& sources, SampleSink& sink,
              MixPlot* plot = nullptr) const {
    const RenderInputs in{plan, *script, *effects};
    const auto state = prepareRender(in);
    SourceTable table{};
    for (std::size_t k = 0; k < sources.size(); ++k) table[k + 1] = sources[k];
    RenderOutputs out{sink};
    out.plot = plot;
    renderMix(in, *state, table, out);
  }
  void render(SampleSource& source, SampleSink& sink) const { render({&source}, sink); }
  std::vector<unsigned char> render(const std::vector<SampleSource*>& sources,
                                    MixPlot* plot = nullptr) const {
    MemorySink sink(WaveFormat{48000, 24, 2, plan.renderLength});
    render(sources, sink, plot);
    return sink.bytes();
  }
  std::vector<unsigned char> render(SampleSource& source) const { return render({&source}); }
  // The 24-bit output words of interleaved samples on channel 1.
  Words words(const Words& interleaved) const {
    MemorySource source(2, interleaved);
    return decode(render(source));
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

// Every kind of state that lives from block to block: filters, dynamics,
// fader playback, dither and the recursive reverb.
const std::string kBusy =
    "\nsong\nt\t0\t0\t0\nv\t1\t-3\nt\t0\t0\t100\nv\t1\t-9\nhp\t1\t120\nband2\t1\t900\t4\t2\n"
    "comp\t1\t-20\t5\t80\t4\nrms\t1\t-18\t10\t100\t3\nlim\tM\t-6\nrtn\t-6\t40\nrev\t1\t-3\nend\n";

TEST(RenderTest, InMemoryEqualsFromAndToFilesTwiceAndAShortSourceIsSilentPastItsEnd) {
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
  a.channels = 2, a.dataOffset = 44, a.sampleRate = 48000, a.frames = 150000;
  a.bytesPerSample = 3, a.bits = 24;
  {
    WaveFileSource source(dir.path("a.wav"), a);
    WaveFileSink sink(dir.path("out.wav"), WaveFormat{48000, 24, 2, 150000}, 1 << 16);
    session.render(source, sink);
    sink.commit();
  }
  // The same bytes in memory, and again after a different render in between:
  // no state survives from one render to the next.
  const Session other(
      "\nsong\nt\t0\t0\t0\nv\t1\t2\nlshelf\t1\t200\t6\t1\nnlc\t1\t-30\t64\t8\nrtn\t0\t90\n"
      "rev\t1\t0\nend\n",
      150000);
  MemorySource memory(2, frames), between(2, frames), again(2, frames);
  const auto bytes = dir.read("out.wav");
  EXPECT_TRUE(session.render(memory) == bytes);
  EXPECT_FALSE(other.render(between) == bytes);
  EXPECT_TRUE(session.render(again) == bytes);
  // A source that holds fewer frames than promised (or is gone) plays
  // silence from there on, with one warning naming it, in every block.
  const Session plain("\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n", 150000);
  dir.write("a.wav", std::vector<unsigned char>(file.begin(), file.begin() + 44 + 600 * 6));
  for (const std::string name : {"a.wav", "gone.wav"}) {
    MessageCapture capture;
    WaveFileSource source(dir.path(name), a);
    Words expected(300000, 0);
    if (name == "a.wav") std::copy(frames.begin(), frames.begin() + 1200, expected.begin());
    EXPECT_TRUE(decode(plain.render(source)) == expected) << name;
    const std::string& said = capture.text();
    EXPECT_NE(said.find(dir.path(name)), std::string::npos) << said;
    EXPECT_EQ(said.find("Warning", said.find("Warning") + 1), std::string::npos) << said;
  }
}

// Threads share the channels out, with reverb sends (added in channel order)
// and without; every byte stays the same.
TEST(RenderTest, ThreadsDoNotChangeABit) {
  std::string faders = "\nsong\nt\t0\t0\t0\n";
  for (int ch = 1; ch <= 6; ++ch) {
    const std::string c = std::to_string(ch);
    faders += "v\t" + c + "\t-" + c + "\n" + (ch % 2 ? "band2\t" + c + "\t900\t4\t2\n" : "");
  }
  std::vector<MemorySource> sources;
  for (int ch = 1; ch <= 6; ++ch) sources.emplace_back(2, noise(150000, 40u + ch));
  std::vector<SampleSource*> table;
  for (MemorySource& source : sources) table.push_back(&source);
  for (const std::string sends :
       {"", "rev\t2\t-3\nrev\t5\t-8\ntrev\t3\t-1\nrtn\t-6\t40\ntrtn\t0\t30\t2\n"}) {
    std::vector<std::vector<unsigned char>> renders;
    for (int threads : {1, 2, 5}) {
      Session session(faders + sends + "end\n", 150000, 2, 6);
      session.plan.threads = threads;
      renders.push_back(session.render(table));
    }
    EXPECT_TRUE(renders[1] == renders[0]) << "two threads" << (sends.empty() ? "" : ", sends");
    EXPECT_TRUE(renders[2] == renders[0]) << "five threads" << (sends.empty() ? "" : ", sends");
  }
}

// A sink whose disk fills at its `failAt`-th block, as a file sink says it.
class FillingSink final : public SampleSink {
 public:
  explicit FillingSink(int failAt) : failAt_(failAt) {}
  void write(const std::int64_t*, const std::int64_t*, long) override {
    if (++writes_ < failAt_) return;
    say("Error: cannot write mix.wav: No space left on device\n");
    throw Fatal(exit_status::kIo);
  }

 private:
  int failAt_;
  int writes_ = 0;
};

// The output side may run a block behind the mix on a thread of its own; the
// console must read the same: progress lines after their block is written,
// a short recording's warning in its block, and a failing write ending the
// render before anything of a later block is said.
TEST(RenderTest, TheConsoleReadsTheSameWhateverThreadWritesTheOutput) {
  const long frames = 3 * kBlockFrames;
  Session session("\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n", frames);
  session.plan.verbosity = 2;
  // The recording ends early in the third block, and says so there.
  ScratchFolder dir;
  std::vector<unsigned char> file(44, 0);
  for (const std::int64_t v : noise(2 * kBlockFrames + 600, 5))
    for (int shift : {0, 8, 16}) file.push_back(static_cast<unsigned char>(v >> shift));
  dir.write("a.wav", file);
  SourceAttributes a;
  a.channels = 2, a.dataOffset = 44, a.sampleRate = 48000, a.frames = frames;
  a.bytesPerSample = 3, a.bits = 24;
  std::vector<std::string> said;
  std::vector<int> statuses;
  for (const int failAt : {2, 9}) {
    for (const int threads : {1, 2}) {
      session.plan.threads = threads;
      WaveFileSource source(dir.path("a.wav"), a);
      FillingSink sink(failAt);
      MessageCapture capture;
      int status = 0;
      try {
        session.render({&source}, sink);
      } catch (const Fatal& fatal) {
        status = fatal.status;
      }
      said.push_back(capture.text());
      statuses.push_back(status);
    }
  }
  EXPECT_EQ(said[1], said[0]);
  EXPECT_EQ(said[3], said[2]);
  EXPECT_EQ(statuses, (std::vector<int>{3, 3, 0, 0}));
  // The second block's write fails: nothing of the third is said.
  EXPECT_EQ(said[0].find("Warning"), std::string::npos) << said[0];
  EXPECT_EQ(said[0].find("done"), std::string::npos) << said[0];
  const std::size_t quarter = said[2].find("1/4 done"), warning = said[2].find("Warning");
  EXPECT_TRUE(quarter < warning && warning < said[2].find("1/2 done")) << said[2];
}

// A channel the picture follows takes the general fader path; the others
// take the steady sweep. So a render with and without the picture must sound
// the same: steady faders under a steady and then a riding VCA, and unity.
TEST(RenderTest, ThePictureNeverChangesTheSound) {
  const std::string faders =
      "\nsong\nVCA:\t1\t1,2\nt\t0\t0\t0\nv\t1\t-3\nv\t2\t0\nv\t3\t-7\nvca\t1\t-5\n"
      "t\t0\t2\t0\nvca\t1\t-11\nrmp\t0.5\nend\n";
  std::vector<MemorySource> sources;
  for (int ch = 1; ch <= 3; ++ch) sources.emplace_back(2, noise(150000, 70u + ch));
  std::vector<SampleSource*> table;
  for (MemorySource& source : sources) table.push_back(&source);
  const Session session(faders, 150000, 2, 3);
  const std::vector<unsigned char> unwatched = session.render(table);
  MixPlot plot = makeMixPlot(session.plan, *session.script, {"a.wav", "b.wav", "c.wav"});
  ASSERT_EQ(plot.lanes().size(), 4u) << "three channels and the VCA";
  EXPECT_TRUE(session.render(table, &plot) == unwatched);
}

// A mono channel panned half left by delay: both sides at full level, the
// right one 15 samples late (half an 8.5 inch head at 13560 inches a second).
TEST(RenderTest, DelayPannedMonoChannel) {
  const Session session("\nsong\nt\t0\t0\t0\nv\t1\t0\ndp\t1\t-50\nend\n", 3000, 1);
  const Words x = noise(1500, 3);
  MemorySource source(1, x);
  const Words out = decode(session.render(source));
  for (std::size_t i = 0; i < 3000; ++i)
    ASSERT_EQ(std::pair(out[2 * i], out[2 * i + 1]), std::pair(x[i], i < 15 ? 0 : x[i - 15])) << i;
}

// A ramp moves in decibels, linearly (shape 1) or along its power (shape 2),
// from the sample after its entry; halfway up a ramp from -40 dB the linear
// one stands at -20 dB, the squared one at -30 dB. The level meets the pan
// gain in single precision, 2^19 takes unity up by 256 into bus scale, and
// the bus value and the word are truncated toward zero.
TEST(PlaybackRenderTest, RampsFollowTheirShapeInDecibels) {
  Words x;
  for (int i = 0; i < 48000; ++i) x.push_back(i % 4 < 2 ? 4000000 : -4000000);  // all crossings
  const double unity = 134217728.0, low = std::trunc(std::pow(10.0, -2.0) * unity);
  for (const int shape : {1, 2}) {
    const Session s("\nsong\nt\t0\t0\t0\nv\t1\t-40\nt\t0\t0\t125\nv\t1\t0\nrmp\t0.25\nshape\t" +
                        std::to_string(shape) + "\nend\n",
                    24000);
    const Words out = s.words(x);
    ASSERT_EQ(out.size(), x.size());
    for (std::size_t i = 0; i < 24000; ++i) {
      const double step = i < 6000 ? 0.0 : static_cast<double>(i - 6000 + 1);
      const double dB = 20.0 * std::log10(low / unity) * (1.0 - std::pow(step / 12000, shape));
      const double level = i < 6000        ? low
                           : step >= 12000 ? unity
                                           : std::pow(10.0, dB / 20.0) * unity;
      const double gain = static_cast<float>(level) / 524288.0;
      const std::int64_t want =
          static_cast<std::int64_t>(gain * static_cast<double>(x[2 * i])) / 256;
      // One word of slack for the power function; outside the ramp exact.
      ASSERT_LE(std::llabs(out[2 * i] - want), i >= 6000 && i < 17999 ? 1 : 0) << shape << " " << i;
      ASSERT_EQ(out[2 * i + 1], out[2 * i]) << shape << " " << i;
    }
    EXPECT_NEAR(20.0 * std::log10(out[24000] / 4000000.0), shape == 1 ? -20.0 : -30.0, 0.01);
  }
}

constexpr const char* kFullStrip =
    "\nhp\t5\t40\nband1\t5\t100\t3\t1\nband2\t5\t500\t-4\t2\nband3\t5\t2000\t6\t0.7\n"
    "band4\t5\t6000\t-2\t1\nhshelf\t5\t8000\t2\t0.7\nlshelf\t5\t80\t-3\t0.7\n"
    "rms\t5\t-18\t5\t50\t3\nnlc\t5\t-12\t200\t2\ncomp\t5\t-6\t1\t20\t4\nlim\t5\t-3\n"
    "order\tcomp\t5\t2\norder\thp\t5\t9\nhp\tG\t2\t30\nrms\tG\t2\t-10\t5\t50\t2\nlim\tG\t2\t-1\n"
    "band1\tM\t1000\t3\t1\ncomp\tM\t-6\t2\t30\t3\nlim\tM\t-1\n";

// A 220 Hz tone jumping between quiet and loud every 2500 frames, so that
// every compressor attacks and releases, with a little noise on top, run in
// blocks of the given sizes (the last block takes what is left).
std::vector<double> runInBlocks(const StripSettings& settings, int index, double scale,
                                const std::vector<long>& sizes) {
  const long frames = 24000;
  std::vector<double> left(frames), right(frames);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> noise(-0.01, 0.01);
  for (long i = 0; i < frames; ++i) {
    const double level = (i / 2500) % 2 ? 0.9 : 0.05, phase = 2 * M_PI * 220.0 * i / 48000.0;
    left[i] = std::trunc((level * std::sin(phase) + noise(rng)) * scale);
    right[i] = std::trunc((level * std::cos(phase) + noise(rng)) * scale);
  }
  const StripChannelSettings& strip = settings.strip[static_cast<std::size_t>(index)];
  auto memory = std::make_unique<StripMemory>();
  for (long at = 0, k = 0, n = 0; at < frames; at += n, ++k) {
    n = k < static_cast<long>(sizes.size()) ? std::min(sizes[k], frames - at) : frames - at;
    runStrip(strip, stripOrder(strip), *memory, n, &left[at], &right[at], index != 0);
    if (index == 0) runMasterLimiter(strip, n, &left[at], &right[at]);
  }
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

TEST(StripTest, WholeStripsAreBlockSplitInvariant) {
  auto fx = std::make_unique<EffectSettings>();
  MessageCapture quiet;
  readEffectSettings(EffectInputs{kFullStrip, 48000.0, false, 0}, *fx);
  std::mt19937 rng(5);
  std::uniform_int_distribution<long> size(1, 3000);
  std::vector<long> sizes;
  for (long total = 0; total < 24000; total += sizes.back()) sizes.push_back(size(rng));
  for (auto [index, scale] : {std::pair{5, 8388608.0}, {129, 2147483648.0}, {0, 2147483648.0}}) {
    const auto whole = runInBlocks(fx->strips, index, scale, {});
    EXPECT_TRUE(whole == runInBlocks(fx->strips, index, scale, sizes)) << index;
    EXPECT_TRUE(whole == runInBlocks(fx->strips, index, scale, std::vector<long>(24000, 1)))
        << index;
    EXPECT_FALSE(whole == runInBlocks(StripSettings{}, index, scale, {}))
        << index << " was processed";
  }
}

constexpr std::int64_t kUnity = 134217728;

struct Entry {
  std::int64_t time, level, ramp;
  float shape;
};

void setEntries(FaderTable& table, std::initializer_list<Entry> entries) {
  table = FaderTable{};
  for (const Entry& e : entries) table.append(e.level, e.time, e.ramp, e.shape);
}

TEST(PlaybackTest, BlockSizesDoNotChangeTheResult) {
  const long n = 60000;
  std::vector<std::int64_t> left(n), right(n);
  for (long i = 0; i < n; ++i) {
    left[i] = std::lround(1e6 * std::sin(2 * M_PI * i / 100.0));
    right[i] = std::lround(1e6 * std::sin(2 * M_PI * i / 100.0 + 1.0));
  }
  MixScript script;
  setEntries(script.levels.faders[1], {{0, kUnity / 3, 0, 1},
                                       {5000, kUnity, 9000, 2},
                                       {20000, 40000000, 0, 1},
                                       {21000, 0, 15000, 0.5f},
                                       {45000, kUnity, 3, 1}});
  setEntries(script.levels.vcas[4],
             {{0, kUnity, 0, 1}, {1000, kUnity / 8, 30000, 3}, {40000, kUnity * 2, 7, 1}});
  script.routing.vcaAssignment[1] = 4;
  auto run = [&](const std::vector<long>& blocks) {
    AutomationState state;
    startAutomation(script.levels, 0, kMaxTracks, {}, state);
    std::vector<double> rows(kVcaSlots * kBlockFrames, 1.0), vca;
    std::vector<std::int64_t> l = left, r = right;
    std::int64_t pos = 0;
    for (long size : blocks) {
      double* row = rows.data() + 4 * kBlockFrames;
      FillVCA(pos, size, 4, script.levels, state, row);
      vca.insert(vca.end(), row, row + size);
      AUTOMATE(pos, size, 1, script, state, l.data() + pos, r.data() + pos, 524288.0,
               VcaRows{rows.data(), kBlockFrames});
      pos += size;
    }
    return std::tuple{l, r, vca};
  };
  const auto whole = run({n});
  EXPECT_NE(std::get<0>(whole), left);
  for (unsigned seed : {1u, 2u}) {
    std::mt19937 rng(seed);
    std::vector<long> blocks;
    for (long done = 0; done < n; done += blocks.back())
      blocks.push_back(std::min<long>(n - done, std::uniform_int_distribution<long>(1, 997)(rng)));
    EXPECT_TRUE(run(blocks) == whole) << seed;
  }
}

// A strip's way back to integers, vectorised, truncates as truncateTo does at
// every edge (NaN, infinities, the ends of the range) and flags a frame
// beyond full scale on either side, whichever clone of it the machine runs.
TEST(BlockMathTest, BackToIntegersTruncatesAtEveryEdgeAndFlagsClips) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> edges = {0.0,
                               -0.0,
                               0.5,
                               -0.5,
                               1.9999,
                               -1.9999,
                               8388607.9,
                               -8.4e6,
                               9.2e18,
                               -9.3e18,
                               0x1p63,
                               -0x1p63,
                               0x1.fffffffffffffp62,
                               inf,
                               -inf,
                               std::nan("")};
  std::vector<double> left(edges), right(edges.rbegin(), edges.rend());
  for (int i = 0; i < 40; ++i) left.push_back(i * 1000.5), right.push_back(-i * 999.25);
  const long n = static_cast<long>(left.size());
  std::vector<std::int64_t> l(n), r(n);
  int clip = 0;
  toIntegers(left.data(), right.data(), l.data(), r.data(), n, 1e300, clip);
  for (long i = 0; i < n; ++i) {
    EXPECT_EQ(l[i], truncateTo<std::int64_t>(left[i])) << left[i];
    EXPECT_EQ(r[i], truncateTo<std::int64_t>(right[i])) << right[i];
  }
  EXPECT_EQ(clip, 1);  // the infinities
  clip = 0;
  toIntegers(left.data() + n - 40, right.data() + n - 40, l.data(), r.data(), 40, 40000.0, clip);
  EXPECT_EQ(clip, 0);
  toIntegers(left.data() + n - 40, right.data() + n - 40, l.data(), r.data(), 40, 39000.0, clip);
  EXPECT_EQ(clip, 1);  // 39019.5 on the left
}

}  // namespace
}  // namespace sorvan
