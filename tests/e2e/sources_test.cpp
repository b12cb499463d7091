// Real-world sources end to end: files made by sox from one WAVE source in
// other formats render as that source does (or by their documented
// conversion), a source at 44.1 kHz plays in a 48 kHz session with resample
// on, and files that cannot be played are named without losing the rest.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

constexpr const char* kPrefs = "begin\npre\toff\ndither\t0\nend\n";
constexpr const char* kResample = "begin\npre\toff\ndither\t0\nresample\ton\nend\n";
const std::string kFaders = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nv\t3\t0\nend\n";

struct Output {
  RunResult run;
  std::string bytes;
};

Output renderWith(const Session& s, const std::string& tracks, const char* prefs = kPrefs) {
  s.files(tracks, kFaders, prefs);
  Output o{s.run(), ""};
  EXPECT_EQ(o.run.status, 0) << o.run.out;
  o.bytes = s.read("song.wav");
  return o;
}

TEST(SourceFormats, FilesMadeFromOneWaveRenderAsTheirConversionSays) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.5 sine 440 whitenoise gain -3");
  s.sox("a.wav -b 16 b.wav");
  // The statistics name a source up to its first full stop, so the files
  // compared are all named a, b or c.
  s.sox("a.wav -b 8 c.8.wav");
  s.sox("c.8.wav -b 16 c.wav");  // 8 to 16 bits is exact: the 8-bit words x 256
  const Output a = renderWith(s, "begin\nx a.wav +\nend\n");
  const Output b = renderWith(s, "begin\nx b.wav +\nend\n");
  const Output c = renderWith(s, "begin\nx c.wav +\nend\n");
  ASSERT_NE(a.bytes, b.bytes);
  struct Case {
    const char* made;  // sox's output options and name, from the source
    const char* from;
    const Output* expected;
  };
  const Case cases[] = {
      {"a.flac", "a.wav", &a},
      {"a.aiff", "a.wav", &a},
      {"a.w64", "a.wav", &a},
      {"b.flac", "b.wav", &b},
      {"b.aiff", "b.wav", &b},
      // 24-bit words at the top of 32 bits lose exactly their zero low byte.
      {"-b 32 -e signed a.i32.wav", "a.wav", &a},
      // x 2^23 of a 24-bit word / 2^23 is the word again.
      {"-b 64 -e float a.f64.wav", "a.wav", &a},
      {"c.8.wav", "c.8.wav", &c},
  };
  for (const Case& k : cases) {
    const std::string made = k.made;
    const std::string name = made.substr(made.rfind(' ') + 1);
    SCOPED_TRACE(name);
    if (name != k.from) s.sox(std::string(k.from) + " " + made);
    const Output out = renderWith(s, "begin\nx " + name + " +\nend\n");
    EXPECT_TRUE(out.bytes == k.expected->bytes);
    // Nothing is said about the file: the WAVE reader's refusal does not apply.
    EXPECT_EQ(out.run.out, k.expected->run.out);
  }
}

// Amplitude and phase of `hz` in frames [from, from + n) of one side.
struct Tone {
  double amplitude, phase;
};
Tone measure(const std::vector<std::int32_t>& side, double rate, double hz, std::size_t from,
             std::size_t n) {
  double c = 0, q = 0;
  for (std::size_t i = from; i < from + n; ++i) {
    const double w = 2 * M_PI * hz * static_cast<double>(i) / rate;
    c += side[i] * std::cos(w);
    q += side[i] * std::sin(w);
  }
  return {2 * std::hypot(c, q) / static_cast<double>(n), std::atan2(q, c)};
}

TEST(SourceRates, A44kSineInA48kSessionKeepsItsPitchLevelAndLength) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a48.wav trim 0 1");
  s.sox("-D -n -r 44100 -b 24 -c 2 c44.wav synth 2 sine 1000 gain -6");
  s.files("begin\nx a48.wav +\ny c44.wav +\nend\n", kFaders, kResample);
  const RunResult run = s.run();
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(contains(run.out, "Channel 2: c44.wav is converted from 44100 Hz to 48000 Hz.\n"));
  EXPECT_TRUE(contains(run.out, "Rate converted: channel 2, c44.wav, from 44100 Hz to 48000 Hz\n"));
  EXPECT_TRUE(contains(s.read("stats_song.txt"), "Rate converted: channel 2, c44.wav"));
  const Rendered out = readRendered(s, "song.wav");
  EXPECT_EQ(out.rate, 48000u);
  EXPECT_EQ(out.frames(), 96000u);  // 2 s at 48 kHz

  // 1800 whole cycles away from the ends, in the source and in the mix.
  const std::vector<std::int32_t> source = soxSamples(s, "c44.wav", 24);
  std::vector<std::int32_t> sourceLeft;
  for (std::size_t i = 0; i < source.size(); i += 2) sourceLeft.push_back(source[i]);
  const std::vector<std::int32_t> left = out.side(true);
  const Tone in = measure(sourceLeft, 44100, 1000, 4410, 79380);
  const Tone mixed = measure(left, 48000, 1000, 4800, 86400);
  EXPECT_NEAR(20 * std::log10(mixed.amplitude / in.amplitude), 0.0, 0.01);
  // Pitch: the phase of the first and the last 0.3 s agree to 0.01 Hz.
  const Tone early = measure(left, 48000, 1000, 4800, 14400);
  const Tone late = measure(left, 48000, 1000, 76800, 14400);
  const double drift = std::remainder(late.phase - early.phase, 2 * M_PI);
  EXPECT_LT(std::abs(drift / (2 * M_PI * 1.5)), 0.01);

  // The same session with sox's very-high-quality conversion in its place.
  s.sox("-D c44.wav -b 24 c48.wav rate -v 48000");
  s.files("begin\nx a48.wav +\ny c48.wav +\nend\n", kFaders, kPrefs);
  const Rendered bySox = render(s);
  ASSERT_EQ(bySox.words.size(), out.words.size());
  double signal = 0, difference = 0;
  for (std::size_t i = 0; i < out.words.size(); ++i) {
    signal += static_cast<double>(bySox.words[i]) * bySox.words[i];
    const double d = static_cast<double>(out.words[i]) - bySox.words[i];
    difference += d * d;
  }
  EXPECT_LT(10 * std::log10(difference / signal), -60.0);

  // A preview starting inside the song reads each source from there, the
  // same every time and as the whole render has it.
  const std::string preview =
      "begin\npre\ton\nstart\t0\t0\t700\nlength\t0.5\ndither\t0\nresample\ton\nend\n";
  s.files("begin\nx a48.wav +\ny c44.wav +\nend\n", kFaders, preview);
  const Rendered first = render(s, "preview.wav");
  EXPECT_TRUE(render(s, "preview.wav").words == first.words);
  ASSERT_EQ(first.frames(), 24000u);
  int worst = 0;
  for (std::size_t i = 0; i < first.words.size(); ++i)
    worst = std::max(worst, std::abs(first.words[i] - out.words[2 * 33600 + i]));
  EXPECT_LE(worst, 1);
}

TEST(SourceRates, ResampleOffKeepsTheRateCheckAndRatePicksTheSessionRate) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a48.wav synth 1 sine 300 gain -6");
  s.sox("-n -r 44100 -b 24 -c 1 c44.wav synth 1 sine 500 gain -6");
  s.files("begin\nx a48.wav +\ny c44.wav +\nend\n", kFaders, kPrefs);
  RunResult run = s.run();
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(contains(run.out,
                       "tracks.txt:3: or let Sorvan convert it as it reads it: add a line "
                       "resample<TAB>on to prefs.txt, and every source plays at 48000 Hz, the "
                       "rate of channel 1\n"));

  // rate sets the session rate: both sources are converted to 96 kHz; time
  // stamps count at that rate.
  s.files("", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nsstamp\t2\t96000\nend\n",
          "begin\npre\toff\ndither\t0\nresample\ton\nrate\t96000\nend\n");
  run = s.run();
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(contains(run.out, "Sample Rate: 96000\n"));
  EXPECT_TRUE(contains(run.out, "Rate converted: channel 1, a48.wav, from 48000 Hz to 96000 Hz\n"));
  const Rendered out = readRendered(s, "song.wav");
  EXPECT_EQ(out.rate, 96000u);
  EXPECT_EQ(out.frames(), 192000u);  // 1 s from 1 s on

  // A rate the converter does not take leaves that channel silent, saying why.
  s.sox("-n -r 500 -b 16 -c 1 low.wav synth 1 sine 50");
  s.files("begin\nx a48.wav +\ny low.wav +\nend\n", kFaders, kResample);
  run = s.run();
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(
      contains(run.out,
               "tracks.txt:3: channel 2 plays silence: low.wav is at 500 Hz and the session "
               "at 48000 Hz, but Sorvan converts between rates of 1000 to 768000 Hz only; "
               "convert it with: sox low.wav -r 48000 low-48000.wav, then name "
               "low-48000.wav in tracks.txt\n"));

  // rate without resample is pointed out and not read.
  s.files("", "", "begin\npre\toff\ndither\t0\nrate\t96000\nend\n");
  run = s.run("--check");
  EXPECT_TRUE(contains(run.out, "prefs.txt:4: rate sets the session rate only with resample on"));
}

TEST(SourceFormats, FilesThatCannotPlayAreNamedAndTheRestPlays) {
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.5 sine 440 whitenoise gain -3");
  s.sox("a.wav a.flac");
  s.sox("-n -r 48000 -b 24 -c 6 six.flac synth 0.1 sine 440");
  s.shell("head -c $(( $(stat -c %s a.flac) / 2 )) a.flac > cut.flac");
  s.write("nothing.flac", "not a recording\n");
  const Output alone = renderWith(s, "begin\nx a.wav +\nend\n");
  s.files("begin\nx a.wav +\ns six.flac +\nn nothing.flac +\nend\n", kFaders, kPrefs);
  RunResult run = s.run();
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(contains(
      run.out,
      "tracks.txt:3: channel 2 plays silence: six.flac is a FLAC file of 24-bit integer PCM, 6 "
      "channels, 48000 Hz; Sorvan mixes mono and stereo recordings; keep its first two channels "
      "with: sox six.flac six.wav remix 1 2, then name six.wav in tracks.txt\n"));
  EXPECT_TRUE(contains(run.out,
                       "Can't find format chunk in wave file!\ntracks.txt:4: channel 3 plays "
                       "silence: nothing.flac is not a WAVE file; "));
  EXPECT_TRUE(contains(run.out, "Summary: 2 silent channels.\n"));
  EXPECT_TRUE(s.read("song.wav") == alone.bytes);

  // A FLAC file cut in half plays every frame it still holds (as many as
  // sox decodes from it), then silence.
  const Output cut = renderWith(s, "begin\nx cut.flac +\nend\n");
  s.shell("sox cut.flac decoded.wav 2>/dev/null; true");
  const std::size_t held = soxSamples(s, "decoded.wav", 24).size() / 2;
  EXPECT_TRUE(contains(cut.run.out,
                       ">> Warning: cut.flac holds fewer frames than its header "
                       "said; the missing frames are silent.\n"));
  const Rendered whole = readRendered(s, "song.wav");
  s.files("begin\nx a.wav +\nend\n", "", "");
  const Rendered reference = render(s);
  ASSERT_EQ(whole.frames(), reference.frames());
  std::size_t same = 0;
  while (same < whole.frames() && whole.left(same) == reference.left(same) &&
         whole.right(same) == reference.right(same))
    ++same;
  EXPECT_EQ(same, held);
  EXPECT_GT(held, 0u);
  for (std::size_t i = same; i < whole.frames(); ++i)
    ASSERT_TRUE(whole.left(i) == 0 && whole.right(i) == 0) << i;
}

}  // namespace
}  // namespace sorvan::e2e
