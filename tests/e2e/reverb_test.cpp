// Runs of the real binary through both reverbs, the reverb send filters, the
// tap file, the reverb lines of the statistics, delay panning of mono sources
// and the reverb geometry errors.
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

constexpr int kRate = 48000;
constexpr std::size_t kBlock = 131072;
// Without dither every output word is the master divided by 256, exactly.
constexpr const char* kPrefs = "begin\npre\toff\ndither\t0\nend\n";

std::string faders(const std::string& body) {
  return "begin\nsong\nt\t0\t0\t0\nv\t1\t0\n" + body + "end\n";
}

std::vector<std::int32_t> impulse(std::size_t frames, std::size_t at, std::int32_t value) {
  std::vector<std::int32_t> x(frames, 0);
  x[at] = value;
  return x;
}

// Deterministic noise filling `bits`, so that every sample tells where it came from.
std::vector<std::int32_t> noise(std::size_t frames, int bits) {
  std::vector<std::int32_t> x(frames);
  std::uint32_t state = 12345;
  const std::int64_t span = std::int64_t{1} << (bits - 1);
  for (auto& v : x) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<std::int32_t>(static_cast<std::int64_t>(state >> 8) % (2 * span - 1) -
                                  (span - 1));
  }
  return x;
}

std::vector<std::int32_t> side(const Rendered& r, bool left) {
  std::vector<std::int32_t> out(r.frames());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = left ? r.left(i) : r.right(i);
  return out;
}

// The first index at which the two differ (or one ends), or -1.
long firstMismatch(const std::vector<std::int32_t>& a, const std::vector<std::int32_t>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return static_cast<long>(i);
  }
  return a.size() == b.size() ? -1 : static_cast<long>(n);
}

double energy(const std::vector<std::int32_t>& x, std::size_t from, std::size_t to) {
  double e = 0.0;
  for (std::size_t i = from; i < std::min(to, x.size()); ++i) e += static_cast<double>(x[i]) * x[i];
  return e;
}

// Every file of the working folder with its content.
std::map<std::string, std::string> snapshot(const Session& s) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(s.dir())) {
    if (!entry.is_regular_file()) continue;
    const std::string name = std::filesystem::relative(entry.path(), s.dir()).string();
    files[name] = s.read(name);
  }
  return files;
}

// The text of the statistics between the channel lines and the RMS line.
std::string reverbLines(const std::string& stats) {
  const std::size_t from = stats.find("\n\n", stats.find("Ch 1\t"));
  const std::size_t to = stats.find("RMS\t");
  if (from == std::string::npos || to == std::string::npos) return "<stats not found>";
  return stats.substr(from, to - from);
}

// A stereo 24-bit impulse of amplitude A on both sides at frame F, at unity.
// With a 0 dB send and 0 dB return each reverb is fed 256 A in bus scale.
constexpr std::int32_t kA = 800000;
void impulseSession(Session& s, std::size_t frames, std::size_t at) {
  const auto x = impulse(frames, at, kA);
  writeSource(s, "imp.wav", kRate, 24, 2, stereo(x, x));
  s.write("tracks.txt", "begin\nimp imp.wav +\nend\n");
  s.write("prefs.txt", kPrefs);
}

// ---------------------------------------------------------------------------
// The tap reverb alone: the output is the dry impulse and the room's
// reflections, each order at half the gain of the one before, and nothing
// else. The impulse sits just before the end of the first block, so the later
// reflections reach the second block through the spill pair.
TEST(ReverbRender, TapReflectionsLandAtTheRoomDelays) {
  const std::size_t F = kBlock - 3000;
  Session s;
  impulseSession(s, kBlock + 6000, F);
  // 48 kHz, 75 feet, position 37/39/43: reflection delays in samples. The
  // left wall reaches only the left side, the right wall only the right.
  struct Tap {
    std::size_t delay;
    bool left, right;
  };
  const Tap order0[] = {{2276, true, false}, {3018, false, true}, {4014, true, true},
                        {2356, true, true},  {2522, true, true},  {1612, true, true}};
  const Tap order1[] = {{6046, true, false}, {8034, false, true}, {6690, true, true},
                        {5425, true, true},  {4369, true, true},  {4476, true, true}};
  for (int taps : {1, 2}) {
    s.write("faders.txt", faders("trev\t1\t0\ntrtn\t0\t75\t" + std::to_string(taps) + "\n"));
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << r.out;
    const Rendered out = readRendered(s, "song.wav");
    std::vector<std::int32_t> L(kBlock + 6000, 0), R(kBlock + 6000, 0);
    L[F] = R[F] = kA;
    for (const Tap& t : order0) {
      if (t.left) L[F + t.delay] += kA / 2;
      if (t.right) R[F + t.delay] += kA / 2;
    }
    if (taps == 2) {
      for (const Tap& t : order1) {
        if (t.left) L[F + t.delay] += kA / 4;
        if (t.right) R[F + t.delay] += kA / 4;
      }
    }
    EXPECT_EQ(firstMismatch(side(out, true), L), -1) << "taps " << taps << ", left";
    EXPECT_EQ(firstMismatch(side(out, false), R), -1) << "taps " << taps << ", right";
  }
}

// Sends to both reverbs: both add into one return. Until the first bounce of
// the recursive network comes back, the output holds the dry impulse, the
// recursive reverb's direct paths from each surface (a quarter, half that on
// the far side for front, rear, floor and ceiling), and the first tap. The
// return tap file holds the same return in channel scale, without the dry
// signal.
TEST(ReverbRender, BothReverbsAddIntoOneReturn) {
  const std::size_t F = kBlock - 3000;
  const std::size_t frames = kBlock + 3000;
  Session s;
  impulseSession(s, frames, F);
  s.write("prefs.txt", "begin\npre\toff\ndither\t0\ntap\trtn\nend\n");
  s.write("faders.txt", faders("rev\t1\t0\ntrev\t1\t0\nrtn\t0\t75\ntrtn\t0\t75\t1\n"));
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered out = readRendered(s, "song.wav");
  ASSERT_EQ(out.frames(), frames);

  // Offsets from the impulse: {left, right} words.
  std::map<std::size_t, std::pair<std::int32_t, std::int32_t>> expected = {
      {0, {kA, kA}},             // dry
      {806, {kA / 8, kA / 4}},   // floor, fed from the left send
      {1138, {kA / 4, 0}},       // left wall
      {1178, {kA / 4, kA / 8}},  // rear wall, fed from the right send
      {1261, {kA / 4, kA / 8}},  // ceiling, fed from the right send
      {1509, {0, kA / 4}},       // right wall
      {1612, {kA / 2, kA / 2}},  // tap reverb: floor reflection
      {2007, {kA / 8, kA / 4}},  // front wall, fed from the left send
      // First returns of the network: a sixth of 256 A (truncated) passed from
      // the left wall (and from the rear wall) to the floor, heard from there.
      {2200, {16666, 33333}},
      {2233, {16666, 33333}},
      {2276, {kA / 2, 0}},  // tap reverb: left wall reflection
  };
  for (std::size_t i = 0; i < F + 2277; ++i) {
    const auto it = i >= F ? expected.find(i - F) : expected.end();
    const auto want =
        it == expected.end() ? std::pair<std::int32_t, std::int32_t>{0, 0} : it->second;
    ASSERT_EQ(out.left(i), want.first) << "frame " << i << " (impulse + " << i - F << ")";
    ASSERT_EQ(out.right(i), want.second) << "frame " << i << " (impulse + " << i - F << ")";
  }

  // The return tap: the same return divided by 256 (its single-precision
  // rounding may move a word by one), carried over the block boundary.
  const Rendered tap = readRendered(s, "rtnTap.wav");
  ASSERT_EQ(tap.frames(), frames);
  EXPECT_EQ(tap.channels, 2);
  EXPECT_EQ(tap.bits, 24);
  EXPECT_EQ(tap.left(F), 0);
  EXPECT_EQ(tap.right(F), 0);
  EXPECT_EQ(tap.left(F + 1612), kA / 2);
  EXPECT_EQ(tap.right(F + 806), kA / 4);
  for (std::size_t i = 0; i < frames; ++i) {
    if (i == F) continue;
    ASSERT_LE(std::abs(tap.left(i) - out.left(i)), 1) << "frame " << i;
    ASSERT_LE(std::abs(tap.right(i) - out.right(i)), 1) << "frame " << i;
  }
  // Reflections that fall into the next block arrive there through the spill.
  EXPECT_GE(out.right(F + 3018), kA / 2);
  EXPECT_GE(out.left(F + 4014), kA / 2);
  EXPECT_GE(out.right(F + 4014), kA / 2);
}

// In a large room the recursive tail outlives several blocks, carried from
// block to block by the node spill lines, and loses energy block by block.
TEST(ReverbRender, RecursiveTailDecaysOverManyBlocks) {
  Session s;
  writeSource(s, "imp.wav", kRate, 16, 1, impulse(4 * kBlock, 1000, 32767));
  s.write("tracks.txt", "begin\nimp imp.wav +\nend\n");
  s.write("prefs.txt", kPrefs);
  s.write("faders.txt", faders("rev\t1\t0\nrtn\t0\t600\n"));
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const Rendered out = readRendered(s, "song.wav");
  const auto L = side(out, true);
  const auto R = side(out, false);
  std::vector<double> perBlock;
  for (std::size_t b = 0; b < 4; ++b)
    perBlock.push_back(energy(L, b * kBlock, (b + 1) * kBlock) +
                       energy(R, b * kBlock, (b + 1) * kBlock));
  for (std::size_t b = 1; b < 4; ++b) {
    EXPECT_GT(perBlock[b], 0.0) << "block " << b;
    EXPECT_LT(perBlock[b], perBlock[b - 1]) << "block " << b;
  }
}

// With a send from the master, the reverbs are fed from the master whatever
// the channels send: the mix equals the one whose channels send everything at
// 0 dB, with channel sends set differently or not at all.
TEST(ReverbRender, MasterFedReverbsOverrideChannelSends) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.3 sine 440 sine 550 gain -12");
  s.sox("-n -r 48000 -b 24 -c 2 b.wav synth 0.3 square 100 gain -14");
  s.write("tracks.txt", "begin\na a.wav +\nb b.wav +\nend\n");
  s.write("prefs.txt", kPrefs);
  const std::string returns = "rtn\t0\t75\ntrtn\t0\t75\t2\n";
  const std::string base = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\n";
  struct Mix {
    std::string song, reverbs;
  };
  auto render = [&](const std::string& body) {
    s.write("faders.txt", base + body + "end\n");
    const RunResult r = s.run();
    EXPECT_EQ(r.status, 0) << r.out;
    return Mix{s.read("song.wav"), reverbLines(s.read("stats_song.txt"))};
  };
  const Mix channelSends = render("rev\t1\t0\nrev\t2\t0\ntrev\t1\t0\ntrev\t2\t0\n" + returns);
  const Mix masterOnly = render("rev\tM\t0\ntrev\tM\t0\n" + returns);
  const Mix masterAndChannels =
      render("rev\tM\t0\ntrev\tM\t0\nrev\t1\t-20\ntrev\t2\t-6\n" + returns);
  const Mix dry = render("");

  EXPECT_NE(channelSends.song, dry.song) << "the reverbs are heard";
  EXPECT_TRUE(masterOnly.song == channelSends.song) << "fed from the master";
  EXPECT_TRUE(masterAndChannels.song == channelSends.song) << "channel sends have no effect";
  EXPECT_NE(masterOnly.reverbs.find("\nRev\tL  "), std::string::npos) << masterOnly.reverbs;
  EXPECT_NE(masterOnly.reverbs.find("\nTrev\tL  "), std::string::npos) << masterOnly.reverbs;
  EXPECT_EQ(masterOnly.reverbs, channelSends.reverbs);
  EXPECT_EQ(masterAndChannels.reverbs, channelSends.reverbs);
}

// ---------------------------------------------------------------------------
// The send tap holds the recursive send with the return level divided out, in
// channel scale: for a unity channel sending at 0 dB with a 0 dB return it is
// the source itself.
TEST(ReverbTapFile, SendTapHoldsTheSendInChannelScale) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.5 sine 440 sine 660 gain -3");
  s.write("tracks.txt", "begin\na a.wav +\nend\n");
  const auto source = soxSamples(s, "a.wav", 24);
  s.write("prefs.txt", "begin\npre\toff\ndither\t0\ntap\trev\nend\n");

  s.write("faders.txt", faders("rev\t1\t0\nrtn\t0\t75\n"));
  RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  Rendered tap = readRendered(s, "revTap.wav");
  EXPECT_EQ(tap.rate, 48000u);
  EXPECT_EQ(tap.channels, 2);
  EXPECT_EQ(tap.bits, 24);
  EXPECT_EQ(firstMismatch(tap.words, source), -1);

  // A return below unity is divided out again (to within the single
  // precision of the send sample).
  s.write("faders.txt", faders("rev\t1\t0\nrtn\t-6\t75\n"));
  ASSERT_EQ(s.run().status, 0);
  tap = readRendered(s, "revTap.wav");
  ASSERT_EQ(tap.words.size(), source.size());
  for (std::size_t i = 0; i < source.size(); ++i)
    ASSERT_LE(std::abs(tap.words[i] - source[i]), 1) << "word " << i;

  // A reverb fed from the master taps the master's send.
  s.write("faders.txt", faders("rev\tM\t0\nrtn\t0\t75\n"));
  ASSERT_EQ(s.run().status, 0);
  EXPECT_EQ(firstMismatch(readRendered(s, "revTap.wav").words, source), -1);

  // The mix directory prefixes the tap file's name.
  std::filesystem::create_directory(s.path("out"));
  std::filesystem::remove(s.path("revTap.wav"));
  s.write("prefs.txt", "begin\nmixdir\tout/\npre\toff\ndither\t0\ntap\trev\nend\n");
  s.write("faders.txt", faders("rev\t1\t0\nrtn\t0\t75\n"));
  ASSERT_EQ(s.run().status, 0);
  EXPECT_TRUE(s.exists("out/revTap.wav"));
  EXPECT_TRUE(s.exists("out/song.wav"));
  EXPECT_FALSE(s.exists("revTap.wav"));
}

// A send hotter than channel full scale saturates in the tap file instead of
// wrapping around.
TEST(ReverbTapFile, SendTapWordsSaturate) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.1 sine 440 gain -1");
  s.write("tracks.txt", "begin\na a.wav +\nend\n");
  const auto source = soxSamples(s, "a.wav", 24);
  s.write("prefs.txt", "begin\npre\toff\ndither\t0\ntap\trev\nend\n");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t12\nrev\t1\t0\nrtn\t0\t75\nend\n");
  ASSERT_EQ(s.run().status, 0);
  const Rendered tap = readRendered(s, "revTap.wav");
  ASSERT_EQ(tap.words.size(), source.size());
  EXPECT_EQ(*std::max_element(tap.words.begin(), tap.words.end()), 8388607);
  EXPECT_EQ(*std::min_element(tap.words.begin(), tap.words.end()), -8388608);
  for (std::size_t i = 0; i < source.size(); ++i) {
    ASSERT_GE(std::abs(static_cast<std::int64_t>(tap.words[i])), std::abs(source[i]))
        << "word " << i;
    ASSERT_EQ(tap.words[i] < 0, source[i] < 0) << "word " << i;
  }
}

// The tap file comes from the recursive reverb, so it exists only when that
// reverb runs; a failed or skipped tap leaves no temporary file either.
TEST(ReverbTapFile, WrittenOnlyWhenTheRecursiveReverbRuns) {
  struct Case {
    const char* tap;
    const char* body;
    const char* file;
    bool made;
  };
  const Case cases[] = {
      {"rev", "trev\t1\t0\ntrtn\t0\t75\t1\n", "revTap.wav", false},  // tap reverb only
      {"rtn", "", "rtnTap.wav", false},                              // no reverb at all
      {"rtn", "rtn\t0\t75\n", "rtnTap.wav", true},                   // returned, nothing sent
      {"other", "rev\t1\t0\nrtn\t0\t75\n", "revTap.wav", false},     // no tap selected
  };
  for (const Case& c : cases) {
    Session s;
    s.sox("-n -r 48000 -b 16 -c 1 a.wav synth 0.1 sine 440 gain -3");
    s.write("tracks.txt", "begin\na a.wav +\nend\n");
    s.write("prefs.txt", std::string("begin\npre\toff\ntap\t") + c.tap + "\nend\n");
    s.write("faders.txt", faders(c.body));
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(s.exists(c.file), c.made) << c.tap << " / " << c.body;
    if (c.made) {
      const Rendered tap = readRendered(s, c.file);
      EXPECT_EQ(tap.frames(), 4800u);
      EXPECT_TRUE(
          std::all_of(tap.words.begin(), tap.words.end(), [](std::int32_t w) { return w == 0; }));
    }
    for (const auto& [name, content] : snapshot(s))
      EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
  }
}

// ---------------------------------------------------------------------------
// The statistics carry a "Rev" and a "Trev" line only for a reverb in use,
// with the send's peak in bus scale, and flag a send beyond full scale.
TEST(ReverbReport, SendLinesOnlyForReverbsInUse) {
  Session s;
  impulseSession(s, 4800, 100);
  auto linesFor = [&](const std::string& body) {
    s.write("faders.txt", faders(body));
    const RunResult r = s.run();
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string lines = reverbLines(s.read("stats_song.txt"));
    EXPECT_NE(r.out.find(lines), std::string::npos) << "the console shows the same text";
    return lines;
  };
  // 256 x 800000 of 2^31 is -20.41 dB.
  EXPECT_EQ(linesFor(""), "\n\n\n");
  EXPECT_EQ(linesFor("rev\t1\t0\nrtn\t0\t75\n"), "\n\nRev\tL  -20.41\tR  -20.41\t(send)\n\n");
  EXPECT_EQ(linesFor("trev\t1\t0\ntrtn\t0\t75\t1\n"),
            "\n\n\nTrev\tL  -20.41\tR  -20.41\t(send)\n\n");
  EXPECT_EQ(linesFor("rev\t1\t-6.0206\ntrev\t1\t0\nrtn\t0\t75\ntrtn\t0\t75\t1\n"),
            "\n\nRev\tL  -26.43\tR  -26.43\t(send)\n\nTrev\tL  -20.41\tR  -20.41\t(send)\n\n");
  // A return level scales the send, since the send includes it.
  EXPECT_EQ(linesFor("rev\t1\t0\nrtn\t-6.0206\t75\n"), "\n\nRev\tL  -26.43\tR  -26.43\t(send)\n\n");

  // Full scale at +12 dB sends far beyond bus full scale.
  Session hot;
  hot.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.1 square 200 gain -1");
  hot.write("tracks.txt", "begin\na a.wav +\nend\n");
  hot.write("prefs.txt", kPrefs);
  hot.write("faders.txt",
            "begin\nsong\nt\t0\t0\t0\nv\t1\t12\nrev\t1\t0\ntrev\t1\t0\nrtn\t0\t75\ntrtn\t0\t75\t1\n"
            "end\n");
  const RunResult r = hot.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string stats = hot.read("stats_song.txt");
  EXPECT_NE(stats.find("\t(send)Reverb Over!\nTrev\tL  "), std::string::npos) << stats;
  EXPECT_NE(stats.find("\t(send)Tap Reverb Over!\nRMS\t"), std::string::npos) << stats;
}

// ---------------------------------------------------------------------------
// The reverb filter limits are announced while the effect settings are read,
// before the mix starts.
TEST(ReverbEq, LimitMessagesDuringTheRun) {
  Session s;
  impulseSession(s, 4800, 100);
  struct Case {
    const char* body;
    const char* expected;
  };
  const Case cases[] = {
      {"rhp\t10\nrlp\t20000\n",
       "Reading effect settings...\nResetting reverb high pass to 20 Hz\n"
       "Resetting reverb low pass to 16000 Hz\n\nMixing...\n"},
      {"rhp\t13000\nrlp\t100\n",
       "Reading effect settings...\nResetting reverb high pass to 12000 Hz\n"
       "Resetting reverb low pass to 500 Hz\n\nMixing...\n"},
      {"rhp\t20\nrlp\t16000\n", "Reading effect settings...\n\nMixing...\n"},
      {"rhp\t12000\nrlp\t500\n", "Reading effect settings...\n\nMixing...\n"},
  };
  for (const Case& c : cases) {
    s.write("faders.txt", faders(std::string("rev\t1\t0\nrtn\t0\t75\n") + c.body));
    const RunResult r = s.run();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.body << r.out;
  }
}

// The filters act on the send: the high-pass takes out a low tone, the
// low-pass a high one, as the send tap shows.
TEST(ReverbEq, FiltersShapeTheSend) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.5 sine 5000 sine 100 gain -6");
  s.write("tracks.txt", "begin\na a.wav +\nend\n");
  s.write("prefs.txt", "begin\npre\toff\ndither\t0\ntap\trev\nend\n");
  const auto source = soxSamples(s, "a.wav", 24);
  std::vector<std::int32_t> highTone, lowTone;
  for (std::size_t i = 0; i + 1 < source.size(); i += 2) {
    highTone.push_back(source[i]);
    lowTone.push_back(source[i + 1]);
  }
  // Skip the settling of the filters.
  const std::size_t from = 2400, to = highTone.size();
  struct Case {
    const char* filter;
    double highKept, lowKept;  // bounds on the share of energy kept
  };
  for (const Case& c : {Case{"rlp\t500\n", 0.01, 0.9}, Case{"rhp\t2000\n", 0.9, 0.01}}) {
    s.write("faders.txt", faders(std::string("rev\t1\t0\nrtn\t0\t75\n") + c.filter));
    ASSERT_EQ(s.run().status, 0);
    const Rendered tap = readRendered(s, "revTap.wav");
    const double high = energy(side(tap, true), from, to) / energy(highTone, from, to);
    const double low = energy(side(tap, false), from, to) / energy(lowTone, from, to);
    if (c.highKept < 0.5) {
      EXPECT_LT(high, c.highKept) << c.filter;
      EXPECT_GT(low, c.lowKept) << c.filter;
    } else {
      EXPECT_GT(high, c.highKept) << c.filter;
      EXPECT_LT(low, c.lowKept) << c.filter;
    }
  }
}

// ---------------------------------------------------------------------------
// "dp" -50 at 48 kHz delays the right side by 15 samples (half of an 8.5 inch
// head at 13560 inches per second, truncated); both sides keep full level,
// and the delayed side carries the last samples of one block into the next.
TEST(DelayPanRender, HalfLeftDelaysTheRightSideByFifteenSamples) {
  for (int bits : {24, 16}) {
    Session s;
    const std::size_t frames = kBlock + 500;
    const auto source = noise(frames, bits);
    writeSource(s, "m.wav", kRate, bits, 1, source);
    s.write("tracks.txt", "begin\nm m.wav +\nend\n");
    s.write("prefs.txt", kPrefs);
    // The 16-bit source also starts inside the first block.
    const std::size_t start = bits == 16 ? 1000 : 0;
    s.write("faders.txt", "begin\nsong\nsstamp\t1\t" + std::to_string(start) +
                              "\nt\t0\t0\t0\nv\t1\t0\ndp\t1\t-50\nend\n");
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << r.out;
    const Rendered out = readRendered(s, "song.wav");
    ASSERT_EQ(out.frames(), start + frames);
    const std::int32_t scale = bits == 16 ? 256 : 1;
    std::vector<std::int32_t> L(start + frames, 0), R(start + frames, 0);
    for (std::size_t i = 0; i < frames; ++i) L[start + i] = source[i] * scale;
    for (std::size_t i = start + 15; i < start + frames; ++i) R[i] = L[i - 15];
    EXPECT_EQ(firstMismatch(side(out, true), L), -1) << bits << "-bit";
    EXPECT_EQ(firstMismatch(side(out, false), R), -1) << bits << "-bit";
  }
}

// At the extremes only one side carries the signal; a position beyond them
// is no delay-pan at all.
TEST(DelayPanRender, ExtremesLeaveOneSideSilent) {
  Session s;
  const auto source = noise(3000, 24);
  writeSource(s, "m.wav", kRate, 24, 1, source);
  s.write("tracks.txt", "begin\nm m.wav +\nend\n");
  s.write("prefs.txt", kPrefs);
  const std::vector<std::int32_t> silence(source.size(), 0);
  for (const char* position : {"100", "-100"}) {
    s.write("faders.txt", faders(std::string("dp\t1\t") + position + "\n"));
    ASSERT_EQ(s.run().status, 0);
    const Rendered out = readRendered(s, "song.wav");
    const bool toLeft = position[0] == '-';
    EXPECT_EQ(firstMismatch(side(out, toLeft), source), -1) << position;
    EXPECT_EQ(firstMismatch(side(out, !toLeft), silence), -1) << position;
  }
  s.write("faders.txt", faders("dp\t1\t150\n"));
  ASSERT_EQ(s.run().status, 0);
  const Rendered out = readRendered(s, "song.wav");
  EXPECT_EQ(firstMismatch(side(out, true), side(out, false)), -1) << "centre, same on both sides";
  EXPECT_NE(firstMismatch(side(out, true), source), -1) << "level-panned at the centre";
}

// With a pan law of 0 dB every mono channel is panned by delay with its own
// pan position, and "dp" values are not used; stereo sources keep the
// balance law.
TEST(DelayPanRender, ZeroPanLawPansMonoChannelsByDelay) {
  Session s;
  const auto source = noise(3000, 24);
  writeSource(s, "m.wav", kRate, 24, 1, source);
  s.write("tracks.txt", "begin\nm m.wav +\nend\n");
  s.write("prefs.txt", "begin\npre\toff\ndither\t0\npan\t0\nend\n");
  s.write("faders.txt", faders("p\t1\t50\ndp\t1\t-100\n"));
  ASSERT_EQ(s.run().status, 0);
  Rendered out = readRendered(s, "song.wav");
  std::vector<std::int32_t> delayed(source.size(), 0);
  std::copy(source.begin(), source.end() - 15, delayed.begin() + 15);
  EXPECT_EQ(firstMismatch(side(out, false), source), -1);
  EXPECT_EQ(firstMismatch(side(out, true), delayed), -1);

  s.write("faders.txt", faders("p\t1\t-100\n"));
  ASSERT_EQ(s.run().status, 0);
  out = readRendered(s, "song.wav");
  EXPECT_EQ(firstMismatch(side(out, true), source), -1);
  EXPECT_EQ(firstMismatch(side(out, false), std::vector<std::int32_t>(source.size(), 0)), -1);

  const auto other = noise(3000, 23);
  writeSource(s, "st.wav", kRate, 24, 2, stereo(source, other));
  s.write("tracks.txt", "begin\nst st.wav +\nend\n");
  s.write("faders.txt", faders("p\t1\t50\n"));
  ASSERT_EQ(s.run().status, 0);
  out = readRendered(s, "song.wav");
  EXPECT_EQ(firstMismatch(side(out, false), other), -1);
  for (std::size_t i = 0; i < source.size(); ++i)
    ASSERT_LE(std::abs(out.left(i) - source[i] / 2), 1) << "frame " << i << ": halved, not delayed";
}

// ---------------------------------------------------------------------------
// A room the reverbs cannot hold ends the run with status 1 and its message,
// during the mix; the folder is left as it was: no new output, no tap file,
// no temporary file, and an earlier mix of the same name untouched.
TEST(ReverbGeometry, ImpossibleRoomsEndTheRunAndLeaveNothingBehind) {
  struct Case {
    const char* entry;
    const char* message;
  };
  const Case cases[] = {
      {"rtn\t0\t-10\n", "Illegal value for reverb room size\n"},
      {"rtn\t0\t4000\n", "Please reduce room size in reverb!\n"},
      {"trtn\t0\t-10\t1\n", ">>> Error:  Illegal value for tap reverb room size\n"},
      {"trtn\t0\t2000\t1\n", ">>> Error: A tap reverb dimension has exceeded the limit\n"},
      {"trtn\t0\t500\t11\n",
       ">>> Error:  Please decrease reverb tap number to 4 or room length to 254 feet\n"},
  };
  const std::string good = "rev\t1\t0\ntrev\t1\t0\nrtn\t0\t75\ntrtn\t0\t75\t1\n";
  Session s;
  s.sox("-n -r 48000 -b 16 -c 2 a.wav synth 0.2 sine 440 gain -3");
  s.write("tracks.txt", "begin\na a.wav +\nend\n");
  s.write("prefs.txt", "begin\npre\toff\ntap\trev\nend\n");
  s.write("faders.txt", faders(good));
  ASSERT_EQ(s.run().status, 0);
  ASSERT_TRUE(s.exists("song.wav") && s.exists("revTap.wav"));
  for (const Case& c : cases) {
    // The later entry wins.
    s.write("faders.txt", faders(good + c.entry));
    const auto before = snapshot(s);
    const RunResult r = s.run();
    EXPECT_EQ(r.status, 1) << c.entry;
    ASSERT_GE(r.out.size(), std::string(c.message).size());
    EXPECT_EQ(r.out.substr(r.out.size() - std::string(c.message).size()), c.message)
        << "the message ends the run\n"
        << r.out;
    EXPECT_TRUE(snapshot(s) == before) << c.entry;
  }
  // A reverb fed from the master, in a fresh folder: nothing at all is written.
  Session fresh;
  fresh.sox("-n -r 48000 -b 16 -c 1 a.wav synth 0.2 sine 440 gain -3");
  fresh.write("tracks.txt", "begin\na a.wav +\nend\n");
  fresh.write("prefs.txt", "begin\npre\toff\ntap\trtn\nend\n");
  fresh.write("faders.txt", faders("rev\tM\t0\nrtn\t0\t-1\n"));
  const auto before = snapshot(fresh);
  const RunResult r = fresh.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Illegal value for reverb room size\n"), std::string::npos) << r.out;
  EXPECT_TRUE(snapshot(fresh) == before);
}

// Positions are held inside the room, so an entry outside it is no error: a
// listener at a wall hears that wall's first reflection together with the
// dry sound.
TEST(ReverbGeometry, PositionsOutsideTheRoomAreHeldAtTheWall) {
  Session s;
  impulseSession(s, 9000, 100);
  for (const char* pos : {"pos\t-5\t39\t43\n", "pos\t150\t39\t43\n"}) {
    s.write("faders.txt", faders(std::string("trev\t1\t0\ntrtn\t0\t75\t1\n") + pos));
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << pos << r.out;
    const Rendered out = readRendered(s, "song.wav");
    EXPECT_EQ(out.left(100), kA + kA / 2) << pos;
    EXPECT_EQ(out.right(100), kA + kA / 2) << pos;
  }
}

}  // namespace
}  // namespace sorvan::e2e
