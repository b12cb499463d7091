// Runs of the real binary through both reverbs, the reverb send filters, the
// tap files, the reverb lines of the statistics and delay panning of mono
// sources. The messages of rooms the reverbs cannot hold are cases of the
// bad-input suite; here, that the refusal comes before any output exists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

constexpr std::size_t kBlock = 131072;
// A stereo impulse of amplitude kA at unity: with a 0 dB send and a 0 dB
// return each reverb is fed 256 kA in bus scale.
constexpr std::int32_t kA = 800000;

void impulseSession(Session& s, std::size_t frames, std::size_t at) {
  std::vector<std::int32_t> x(frames, 0);
  x[at] = kA;
  writeSource(s, "imp.wav", 48000, 24, 2, stereo(x, x));
  s.files("begin\nimp imp.wav +\nend\n", "", kPlainPrefs);
}

double energy(const std::vector<std::int32_t>& x, std::size_t from) {
  double e = 0.0;
  for (std::size_t i = from; i < x.size(); ++i) e += static_cast<double>(x[i]) * x[i];
  return e;
}

// The text of the statistics between the channel lines and the RMS line.
std::string reverbLines(const std::string& stats) {
  const std::size_t from = stats.find("\n\n", stats.find("Ch 1\t"));
  const std::size_t to = stats.find("RMS\t");
  if (from == std::string::npos || to == std::string::npos) return "<stats not found>";
  return stats.substr(from, to - from);
}

// The rooms are set up before the outputs are created: an impossible one ends
// the run before the mix starts, leaving the earlier mix and no temporary.
TEST(ReverbRender, ImpossibleRoomIsRefusedBeforeAnyOutputExists) {
  Session s;
  impulseSession(s, 1000, 10);
  s.files("", unityFaders(), kPlainPrefs);
  const Rendered earlier = render(s);
  s.files("", unityFaders("rev\t1\t0\nrtn\t0\t4000\n"), "begin\npre\toff\ntap\trtn\nend\n");
  const Snapshot before = snapshot(s);
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(contains(r.out, "Reading effect settings...\nPlease reduce room size in reverb!\n"))
      << r.out;
  EXPECT_FALSE(contains(r.out, "Mixing...")) << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
  EXPECT_FALSE(anyPartial(s));
  EXPECT_FALSE(earlier.words.empty());
}

// Sends to both reverbs add into one return. Until the first bounce of the
// recursive network comes back, the output holds the dry impulse, the
// recursive reverb's direct paths from each surface (a quarter, half that on
// the far side for front, rear, floor and ceiling), and the taps. The impulse
// sits before the end of the first block, so later reflections reach the
// second block through the spill lines. The return tap file holds the same
// return in channel scale, without the dry signal.
TEST(ReverbRender, ChannelSendsToBothReverbsAddIntoOneReturn) {
  const std::size_t F = kBlock - 3000;
  const std::size_t frames = kBlock + 3000;
  Session s;
  impulseSession(s, frames, F);
  s.files("", unityFaders("rev\t1\t0\ntrev\t1\t0\nrtn\t0\t75\ntrtn\t0\t75\t1\n"),
          "begin\npre\toff\ndither\t0\ntap\trtn\nend\n");
  const Rendered out = render(s);
  ASSERT_EQ(out.frames(), frames);

  // Offsets from the impulse: {left, right} words.
  const std::map<std::size_t, std::pair<std::int32_t, std::int32_t>> expected = {
      {0, {kA, kA}},             // dry
      {806, {kA / 8, kA / 4}},   // floor, fed from the left send
      {1138, {kA / 4, 0}},       // left wall
      {1178, {kA / 4, kA / 8}},  // rear wall, fed from the right send
      {1261, {kA / 4, kA / 8}},  // ceiling, fed from the right send
      {1509, {0, kA / 4}},       // right wall
      {1612, {kA / 2, kA / 2}},  // tap reverb: floor reflection
      {2007, {kA / 8, kA / 4}},  // front wall, fed from the left send
      // First returns of the network: a sixth of 256 kA (truncated) passed from
      // the left wall (and from the rear wall) to the floor, heard from there.
      {2200, {16666, 33333}},
      {2233, {16666, 33333}},
      {2276, {kA / 2, 0}},  // tap reverb: left wall reflection
  };
  for (std::size_t i = 0; i < F + 2277; ++i) {
    const auto it = i >= F ? expected.find(i - F) : expected.end();
    const auto want = it == expected.end() ? std::pair{0, 0} : it->second;
    ASSERT_EQ(out.left(i), want.first) << "frame " << i << " (impulse + " << i - F << ")";
    ASSERT_EQ(out.right(i), want.second) << "frame " << i << " (impulse + " << i - F << ")";
  }
  EXPECT_GE(out.right(F + 3018), kA / 2) << "right wall reflection, through the spill";
  EXPECT_GE(out.left(F + 4014), kA / 2);

  // The return tap: the same return divided by 256 (its single-precision
  // rounding may move a word by one), carried over the block boundary.
  const Rendered tap = readRendered(s, "rtnTap.wav");
  ASSERT_EQ(tap.frames(), frames);
  EXPECT_EQ(tap.bits, 24);
  EXPECT_EQ(tap.left(F), 0);
  EXPECT_EQ(tap.left(F + 1612), kA / 2);
  for (std::size_t i = 0; i < frames; ++i) {
    if (i == F) continue;
    ASSERT_LE(std::abs(tap.left(i) - out.left(i)), 1) << "frame " << i;
    ASSERT_LE(std::abs(tap.right(i) - out.right(i)), 1) << "frame " << i;
  }
}

// With a send from the master, the reverbs are fed from the master whatever
// the channels send: the mix equals the one whose channels send everything at
// 0 dB, with channel sends set differently or not at all.
TEST(ReverbRender, MasterFedReverbsOverrideChannelSends) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.3 sine 440 sine 550 gain -12");
  s.sox("-n -r 48000 -b 24 -c 2 b.wav synth 0.3 square 100 gain -14");
  s.files("begin\na a.wav +\nb b.wav +\nend\n", "", kPlainPrefs);
  auto mix = [&](const std::string& sends) {
    s.write("faders.txt", unityFaders("v\t2\t0\nrtn\t0\t75\ntrtn\t0\t75\t2\n" + sends));
    EXPECT_EQ(s.run().status, 0);
    return std::pair{s.read("song.wav"), reverbLines(s.read("stats_song.txt"))};
  };
  const auto channelSends = mix("rev\t1\t0\nrev\t2\t0\ntrev\t1\t0\ntrev\t2\t0\n");
  const auto masterOnly = mix("rev\tM\t0\ntrev\tM\t0\n");
  const auto masterAndChannels = mix("rev\tM\t0\ntrev\tM\t0\nrev\t1\t-20\ntrev\t2\t-6\n");
  EXPECT_NE(channelSends.first, mix("").first) << "the reverbs are heard";
  EXPECT_TRUE(masterOnly == channelSends) << "fed from the master";
  EXPECT_TRUE(masterAndChannels == channelSends) << "channel sends have no effect";
  EXPECT_TRUE(contains(masterOnly.second, "\nRev\tL  ")) << masterOnly.second;
  EXPECT_TRUE(contains(masterOnly.second, "\nTrev\tL  ")) << masterOnly.second;
}

// The send tap holds the recursive send with the return level divided out, in
// channel scale: for a unity channel sending at 0 dB it is the source itself.
TEST(ReverbTapFile, SendTapHoldsTheSendInChannelScale) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.2 sine 440 sine 660 gain -3");
  const std::vector<std::int32_t> source = soxSamples(s, "a.wav", 24);
  s.files("begin\na a.wav +\nend\n", "", "begin\npre\toff\ndither\t0\ntap\trev\nend\n");
  struct Case {
    const char* body;
    int slack;  // a return below unity is divided out in single precision
  };
  for (const Case& c : {Case{"rev\t1\t0\nrtn\t0\t75\n", 0}, Case{"rev\t1\t0\nrtn\t-6\t75\n", 1},
                        Case{"rev\tM\t0\nrtn\t0\t75\n", 0}}) {
    s.write("faders.txt", unityFaders(c.body));
    ASSERT_EQ(s.run().status, 0) << c.body;
    const Rendered tap = readRendered(s, "revTap.wav");
    EXPECT_EQ(tap.rate, 48000u);
    ASSERT_EQ(tap.words.size(), source.size()) << c.body;
    for (std::size_t i = 0; i < source.size(); ++i)
      ASSERT_LE(std::abs(tap.words[i] - source[i]), c.slack) << c.body << " word " << i;
  }

  // A send hotter than channel full scale is held at the word range.
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t12\nrev\t1\t0\nrtn\t0\t75\nend\n");
  ASSERT_EQ(s.run().status, 0);
  const Rendered tap = readRendered(s, "revTap.wav");
  const double gain = channelGain(static_cast<double>(levelOf(12)));
  int held = 0;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const auto bus = static_cast<std::int64_t>(gain * source[i]);
    const auto word = static_cast<std::int64_t>(static_cast<float>(bus) / 256.0);
    held += word != std::clamp<std::int64_t>(word, -8388608, 8388607);
    ASSERT_EQ(tap.words[i], std::clamp<std::int64_t>(word, -8388608, 8388607)) << "word " << i;
  }
  EXPECT_GT(held, 100);

  // The mix folder prefixes the tap file's name.
  std::filesystem::create_directory(s.path("out"));
  std::filesystem::remove(s.path("revTap.wav"));
  s.write("prefs.txt", "begin\nmixdir\tout/\npre\toff\ndither\t0\ntap\trev\nend\n");
  ASSERT_EQ(s.run().status, 0);
  EXPECT_TRUE(s.exists("out/revTap.wav"));
  EXPECT_FALSE(s.exists("revTap.wav"));
}

// The statistics carry a "Rev" and a "Trev" line only for a reverb in use,
// with the send's peak in bus scale, and flag a send beyond full scale.
TEST(ReverbReport, SendLinesOnlyForReverbsInUse) {
  Session s;
  impulseSession(s, 4800, 100);
  s.write("prefs.txt", "begin\npre\toff\ndither\t0\nend\n");
  auto linesFor = [&](const std::string& body) {
    s.write("faders.txt", unityFaders(body));
    const RunResult r = s.run();
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string lines = reverbLines(s.read("stats_song.txt"));
    EXPECT_TRUE(contains(r.out, lines)) << "the console shows the same text";
    return lines;
  };
  // 256 x 800000 of 2^31 is -20.41 dB; a send or return level of -6.0206 dB
  // takes 6.02 dB off.
  EXPECT_EQ(linesFor(""), "\n\n\n");
  EXPECT_EQ(linesFor("rev\t1\t0\nrtn\t0\t75\n"), "\n\nRev\tL  -20.41\tR  -20.41\t(send)\n\n");
  EXPECT_EQ(linesFor("trev\t1\t0\ntrtn\t0\t75\t1\n"),
            "\n\n\nTrev\tL  -20.41\tR  -20.41\t(send)\n\n");
  EXPECT_EQ(linesFor("rev\t1\t-6.0206\ntrev\t1\t0\nrtn\t0\t75\ntrtn\t0\t75\t1\n"),
            "\n\nRev\tL  -26.43\tR  -26.43\t(send)\n\nTrev\tL  -20.41\tR  -20.41\t(send)\n\n");
  EXPECT_EQ(linesFor("rev\t1\t0\nrtn\t-6.0206\t75\n"), "\n\nRev\tL  -26.43\tR  -26.43\t(send)\n\n");

  // Full scale at +12 dB sends far beyond bus full scale.
  s.sox("-n -r 48000 -b 24 -c 2 imp.wav synth 0.1 square 200 gain -1");
  s.write("faders.txt",
          "begin\nsong\nt\t0\t0\t0\nv\t1\t12\nrev\t1\t0\ntrev\t1\t0\nrtn\t0\t75\n"
          "trtn\t0\t75\t1\nend\n");
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string stats = s.read("stats_song.txt");
  EXPECT_TRUE(contains(stats, "\t(send)Reverb Over!\nTrev\tL  ")) << stats;
  EXPECT_TRUE(contains(stats, "\t(send)Tap Reverb Over!\nRMS\t")) << stats;
}

// The send filters, their limits announced while the effect settings are
// read: a low-pass takes a high tone out of the send, a high-pass a low one.
TEST(ReverbEq, FiltersShapeTheSendWithinTheirLimits) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.5 sine 5000 sine 100 gain -6");
  s.files("begin\na a.wav +\nend\n", "", "begin\npre\toff\ndither\t0\ntap\trev\nend\n");
  const Rendered source{2, 24, 48000, soxSamples(s, "a.wav", 24)};
  enum Keeps { kLow, kHigh, kUnmeasured };
  struct Case {
    const char* filters;
    const char* resets;
    Keeps keeps;
  };
  const Case cases[] = {
      {"rhp\t10\nrlp\t100\n",
       "Resetting reverb high pass to 20 Hz\nResetting reverb low pass to 500 Hz\n", kLow},
      {"rhp\t13000\nrlp\t20000\n",
       "Resetting reverb high pass to 12000 Hz\nResetting reverb low pass to 16000 Hz\n",
       kUnmeasured},
      {"rhp\t12000\nrlp\t500\n", "", kUnmeasured},
      {"rhp\t2000\n", "", kHigh},
  };
  for (const Case& c : cases) {
    s.write("faders.txt", unityFaders(std::string("rev\t1\t0\nrtn\t0\t75\n") + c.filters));
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(
        contains(r.out, std::string("Reading effect settings...\n") + c.resets + "\nMixing...\n"))
        << r.out;
    if (c.keeps == kUnmeasured) continue;
    const Rendered tap = readRendered(s, "revTap.wav");
    // Past the filters' settling, the share of each tone's energy kept.
    const double high = energy(tap.side(true), 2400) / energy(source.side(true), 2400);
    const double low = energy(tap.side(false), 2400) / energy(source.side(false), 2400);
    EXPECT_GT(c.keeps == kHigh ? high : low, 0.9) << c.filters;
    EXPECT_LT(c.keeps == kHigh ? low : high, 0.01) << c.filters;
  }
}

// In a large room the recursive tail outlives several blocks, carried from
// block to block by the node spill lines, and loses energy block by block.
TEST(ReverbRender, RecursiveTailDecaysOverManyBlocks) {
  Session s;
  std::vector<std::int32_t> x(4 * kBlock, 0);
  x[1000] = 32767;
  writeSource(s, "imp.wav", 48000, 16, 1, x);
  s.files("begin\nimp imp.wav +\nend\n", unityFaders("rev\t1\t0\nrtn\t0\t600\n"), kPlainPrefs);
  const Rendered out = render(s);
  ASSERT_EQ(out.frames(), 4 * kBlock);
  double previous = 0.0;
  for (std::size_t b = 0; b < 4; ++b) {
    double e = 0.0;
    for (std::size_t i = b * kBlock; i < (b + 1) * kBlock; ++i)
      e += static_cast<double>(out.left(i)) * out.left(i) +
           static_cast<double>(out.right(i)) * out.right(i);
    EXPECT_GT(e, 0.0) << "block " << b;
    if (b > 0) {
      EXPECT_LT(e, previous) << "block " << b;
    }
    previous = e;
  }
}

// "dp" -50 at 48 kHz delays the right side by 15 samples (half of an 8.5 inch
// head at 13560 inches per second, truncated); both sides keep full level,
// and the delayed side carries the last samples of one block into the next.
TEST(DelayPanRender, HalfLeftDelaysTheRightSideByFifteenSamples) {
  for (int bits : {24, 16}) {
    Session s;
    const std::size_t frames = kBlock + 500;
    const std::vector<std::int32_t> source = spread(frames, (1 << (bits - 1)) - 1, 12345);
    writeSource(s, "m.wav", 48000, bits, 1, source);
    // The 16-bit source also starts inside the first block.
    const std::size_t start = bits == 16 ? 1000 : 0;
    s.files("begin\nm m.wav +\nend\n",
            "begin\nsong\nsstamp\t1\t" + std::to_string(start) +
                "\nt\t0\t0\t0\nv\t1\t0\ndp\t1\t-50\nend\n",
            kPlainPrefs);
    const Rendered out = render(s);
    std::vector<std::int32_t> L(start + frames, 0), R(start + frames, 0);
    for (std::size_t i = 0; i < frames; ++i) L[start + i] = source[i] * (bits == 16 ? 256 : 1);
    for (std::size_t i = start + 15; i < start + frames; ++i) R[i] = L[i - 15];
    EXPECT_TRUE(out.side(true) == L) << bits << "-bit";
    EXPECT_TRUE(out.side(false) == R) << bits << "-bit";
  }
}

// At the extremes only one side carries the signal. With a pan law of 0 dB
// every mono channel is panned by delay with its own pan position and "dp"
// values are not used; stereo sources keep the balance law.
TEST(DelayPanRender, ExtremesAndTheZeroPanLaw) {
  Session s;
  const std::vector<std::int32_t> source = spread(3000, 8388607, 1),
                                  other = spread(3000, 4194303, 2);
  const std::vector<std::int32_t> silent(source.size(), 0);
  std::vector<std::int32_t> delayed(source.size(), 0);
  std::copy(source.begin(), source.end() - 15, delayed.begin() + 15);
  writeSource(s, "m.wav", 48000, 24, 1, source);
  writeSource(s, "st.wav", 48000, 24, 2, stereo(source, other));
  s.write("tracks.txt", "begin\nm m.wav +\nend\n");
  struct Case {
    const char* panLaw;
    const char* body;
    const std::vector<std::int32_t>& left;
    const std::vector<std::int32_t>& right;
  };
  const Case cases[] = {
      {"", "dp\t1\t100\n", silent, source},
      {"", "dp\t1\t-100\n", source, silent},
      {"pan\t0\n", "p\t1\t50\ndp\t1\t-100\n", delayed, source},
      {"pan\t0\n", "p\t1\t-100\n", source, silent},
  };
  for (const Case& c : cases) {
    s.files("", unityFaders(c.body),
            std::string("begin\npre\toff\ndither\t0\n") + c.panLaw + "end\n");
    const Rendered out = render(s);
    EXPECT_TRUE(out.side(true) == c.left) << c.panLaw << c.body;
    EXPECT_TRUE(out.side(false) == c.right) << c.panLaw << c.body;
  }
  s.write("tracks.txt", "begin\nst st.wav +\nend\n");
  s.write("faders.txt", unityFaders("p\t1\t50\n"));
  const Rendered out = render(s);
  EXPECT_TRUE(out.side(false) == other);
  for (std::size_t i = 0; i < source.size(); ++i)
    ASSERT_LE(std::abs(out.left(i) - source[i] / 2), 1) << "frame " << i << ": halved, not delayed";
}

}  // namespace
}  // namespace sorvan::e2e
