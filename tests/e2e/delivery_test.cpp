// Deliveries of real renders: stems that sum to the mix, float masters that
// keep what lies beyond full scale, FLAC masters that decode to the WAVE
// words, a loudness target checked with FFmpeg's meter, the JSON report
// against the text report, failing writes of the new files, and two renders
// at once in different folders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

using nlohmann::json;

std::string prefsWith(const std::string& lines) {
  return "begin\npre\toff\nverbo\t0\nseed\t7\n" + lines + "end\n";
}

// Channel 1 feeds the master directly and the recursive reverb; the mono
// channel 2 feeds submix 1; channel 3 feeds submix 2. Two seconds: one block
// and a part.
void makeGroupedSong(const Session& s) {
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 2 sine 220 gain -9");
  s.sox("-n -r 48000 -b 16 -c 1 m.wav synth 2 pinknoise gain -14");
  s.sox("-n -r 48000 -b 24 -c 2 b.wav synth 2 sine 660 gain -12 tremolo 5");
  s.files("begin\na a.wav +\nm m.wav +\nb b.wav +\nend\n",
          "begin\nsong\nsub\t1\t2\nsub\t2\t3\nt\t0\t0\t0\nv\t1\t-2\nv\t2\t0\nv\t3\t-1\n"
          "v\tG\t1\t-3\nv\tG\t2\t0\nrev\t1\t-6\nrtn\t-3\t60\nend\n",
          "");
}

const char* const kStems[] = {"song_direct.wav", "song_sub1.wav", "song_sub2.wav",
                              "song_reverb.wav"};

TEST(DeliveryStems, SumToTheMixWithinTheDitherAndOnlyWatch) {
  Session s;
  makeGroupedSong(s);
  struct Case {
    const char* prefs;
    int bits, channels;
  };
  for (const Case& c : {Case{"", 24, 2}, Case{"mono\t-6.02\noutbits\t16\ndither\t2\n", 16, 1}}) {
    SCOPED_TRACE(c.prefs);
    for (const char* name : kStems) std::filesystem::remove(s.path(name));
    s.write("prefs.txt", prefsWith(c.prefs));
    render(s);
    const std::string plain = s.read("song.wav");
    EXPECT_FALSE(s.exists("song_direct.wav"));
    s.write("prefs.txt", prefsWith(std::string(c.prefs) + "stems\ton\n"));
    const Rendered mix = render(s);
    EXPECT_EQ(s.read("song.wav"), plain) << "stems change the mix";
    EXPECT_FALSE(s.exists("song_sub3.wav"));
    std::vector<Rendered> stems;
    for (const char* name : kStems) {
      stems.push_back(readRendered(s, name));
      EXPECT_EQ(stems.back().bits, c.bits);
      EXPECT_EQ(stems.back().channels, c.channels);
      ASSERT_EQ(stems.back().words.size(), mix.words.size()) << name;
    }
    // Each file is within its own dither and truncation of the exact value.
    const std::int64_t bound =
        2 * (1 + static_cast<std::int64_t>(stems.size())) * (c.bits == 16 ? 2 : 1);
    std::int64_t worst = 0, loud = 0;
    for (std::size_t i = 0; i < mix.words.size(); ++i) {
      std::int64_t sum = 0;
      for (const Rendered& stem : stems) sum += stem.words[i];
      worst = std::max<std::int64_t>(worst, std::llabs(sum - mix.words[i]));
      loud = std::max<std::int64_t>(loud, std::llabs(stems.back().words[i]));
    }
    EXPECT_LE(worst, bound);
    EXPECT_GT(loud, 100) << "the reverb stem holds the returns";
  }
  // Every stem is the same for any number of threads.
  std::map<std::string, std::string> first;
  for (const char* threads : {"--threads 1", "--threads 2"}) {
    ASSERT_EQ(s.run(threads).status, 0);
    for (const char* name : kStems) {
      if (first.count(name))
        EXPECT_TRUE(first[name] == s.read(name)) << name << " " << threads;
      else
        first[name] = s.read(name);
    }
  }
}

float floatAt(const std::string& bytes, std::size_t at) {
  const std::uint32_t word = le32(bytes, at);
  float value;
  std::memcpy(&value, &word, sizeof value);
  return value;
}

TEST(DeliveryFormats, FloatKeepsWhatLiesBeyondFullScale) {
  Session s;
  // The same recording on two channels at 0 dB sums to 1.4 times full scale.
  const std::vector<std::int32_t> left = spread(3000, 6000000, 3), right = spread(3000, 6000000, 9);
  writeSource(s, "a.wav", 48000, 24, 2, stereo(left, right));
  s.files("begin\nx a.wav +\ny a.wav +\nend\n", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nend\n",
          prefsWith("outformat\tfloat\noutbits\t16\n"));
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string wav = s.read("song.wav");
  ASSERT_EQ(wav.size(), 58u + 3000 * 8);
  EXPECT_EQ(wav.substr(36, 6), std::string("\0\0fact", 6));
  EXPECT_EQ(le32(wav, 20) & 0xffff, 3u) << "IEEE float";
  EXPECT_EQ(le32(wav, 34) & 0xffff, 32u);
  EXPECT_EQ(le32(wav, 46), 3000u) << "fact: frames";
  EXPECT_EQ(le32(wav, 54), 3000u * 8);
  float peak = 0;
  for (std::size_t i = 0; i < 3000; ++i) {
    // Two channels of x at unity: 2 x 256 x on the 2^31 bus, exact in a float.
    ASSERT_EQ(floatAt(wav, 58 + 8 * i), static_cast<float>(left[i]) / 4194304.0f) << i;
    ASSERT_EQ(floatAt(wav, 62 + 8 * i), static_cast<float>(right[i]) / 4194304.0f) << i;
    peak = std::max(peak, std::fabs(floatAt(wav, 58 + 8 * i)));
  }
  EXPECT_GT(peak, 1.4f);
  s.shell("test \"$(sox --i -s song.wav)\" = 3000");
  const std::string stats = s.read("stats_song.txt");
  EXPECT_TRUE(contains(stats, "\nPeak Out L = 3.") && contains(stats, "Main Out Left Over!"))
      << stats;
  EXPECT_TRUE(contains(stats,
                       "\nFloat output: the values above full scale are kept as they are, "
                       "not limited\nLoudness: "))
      << stats;
  EXPECT_FALSE(contains(stats, "Dither seed")) << "float output is not dithered";
}

TEST(DeliveryFormats, FlacDecodesToTheWaveWords) {
  Session s;
  makeGroupedSong(s);
  for (const char* form : {"", "outbits\t16\n", "mono\t-6.02\n", "mono\t-6.02\noutbits\t16\n"}) {
    SCOPED_TRACE(form);
    const int bits = contains(form, "16") ? 16 : 24;
    s.write("prefs.txt", prefsWith(std::string(form) + "dither\t2\nstems\ton\n"));
    const Rendered wave = render(s);
    const Rendered sub = readRendered(s, "song_sub1.wav");
    s.write("prefs.txt", prefsWith(std::string(form) + "dither\t2\nstems\ton\noutformat\tflac\n"));
    const RunResult r = s.run("");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(s.read("song.flac").substr(0, 4), "fLaC");
    EXPECT_TRUE(soxSamples(s, "song.flac", bits) == wave.words);
    EXPECT_TRUE(soxSamples(s, "song_sub1.flac", bits) == sub.words);
  }
}

struct Measured {
  double integrated, truePeak;
};

double grab(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) {
    ADD_FAILURE() << "no match for " << pattern << " in\n" << text;
    return 0;
  }
  return std::stod(m[1]);
}

Measured ffmpegMeter(const Session& s, const std::string& file) {
  s.shell("ffmpeg -hide_banner -nostats -i " + file + " -af ebur128=peak=true -f null - > ff.txt");
  const std::string text = s.read("ff.txt");
  const std::string summary = text.substr(std::min(text.rfind("Summary:"), text.size()));
  return {grab(summary, R"(I:\s+(-?[0-9.]+) LUFS)"), grab(summary, R"(Peak:\s+(-?[0-9.]+) dBFS)")};
}

// Ten seconds of a 1 kHz tone at -40 dBFS with a spike of 0.9 every half
// second: quiet, but with peaks that leave no room to raise it.
std::vector<std::int32_t> tickingTone() {
  std::vector<std::int32_t> out = sine(480000, 1000.0, 0.01);
  for (std::size_t i = 12000; i < out.size(); i += 24000) out[i] = 7549747;
  return out;
}

TEST(DeliveryTarget, LandsWithinATenthOfALoudnessUnitByAnIndependentMeter) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
  struct Case {
    const char* sox;  // none: the ticking tone
    const char* target;
    bool held;
  };
  const Case cases[] = {
      {"-n -r 48000 -b 24 -c 2 src.wav synth 10 sine 997 gain -32", "target\t-14\n", false},
      {"-n -r 44100 -b 24 -c 2 src.wav synth 10 pinknoise gain -3", "target\t-23\t-2\n", false},
      {nullptr, "target\t-14\t-1\n", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    Session s;
    if (c.sox)
      s.sox(c.sox);
    else
      writeSource(s, "src.wav", 48000, 24, 1, tickingTone());
    s.files("begin\nx src.wav +\nend\n", unityFaders(),
            prefsWith(std::string(c.target) + "json\ton\n"));
    const RunResult r = s.run();
    ASSERT_EQ(r.status, 0) << r.out;
    const json target = json::parse(s.read("stats_song.json"))["settings"]["target"];
    ASSERT_TRUE(target["measured"].get<bool>());
    EXPECT_EQ(target["heldByCeiling"].get<bool>(), c.held);
    const double expected =
        c.held ? target["masterLoudness"].get<double>() + target["gain"].get<double>()
               : target["lufs"].get<double>();
    const Measured theirs = ffmpegMeter(s, "song.wav");
    // FFmpeg prints one decimal, so "within 0.1 LU" includes one step of 0.1.
    EXPECT_NEAR(theirs.integrated, expected, 0.1 + 1e-9);
    EXPECT_LE(theirs.truePeak, target["ceiling"].get<double>() + 0.2);
    const std::string stats = s.read("stats_song.txt");
    EXPECT_NEAR(grab(stats, R"(reached (-?[0-9.]+) LUFS)"), expected, 0.1 + 1e-9) << stats;
    EXPECT_EQ(contains(stats, "held back by the ceiling"), c.held) << stats;
  }
}

// Every line of the text report, as numbers, in order.
std::vector<double> numbersOf(const std::string& text) {
  std::vector<double> numbers;
  const std::regex number(R"(-?[0-9]+\.[0-9]+)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), number);
       it != std::sregex_iterator(); ++it)
    numbers.push_back(std::stod(it->str()));
  return numbers;
}

// The fields the guide documents, object by object.
void expectFields(const json& object, const std::set<std::string>& fields, const char* what) {
  std::set<std::string> keys;
  for (const auto& item : object.items()) keys.insert(item.key());
  EXPECT_EQ(keys, fields) << what;
}

TEST(DeliveryJson, HoldsEveryNumberOfTheTextReport) {
  Session s;
  makeGroupedSong(s);
  s.sox("-n -r 48000 -b 24 -c 2 hot.wav synth 1 square 100 gain -1");
  s.files(
      "begin\na a.wav +\nm m.wav +\nb b.wav +\ngone gone.wav +\nh hot.wav +\nend\n", "",
      "begin\npre\toff\nverbo\t0\nbakdir\trep/\nditherr\t1\ndither\t9\nseed\t3\nplot\njson\ton\n"
      "end\n");
  s.write("faders.txt",
          "begin\nsong\nsub\t1\t2\nsub\t2\t3\nt\t0\t0\t0\nv\t1\t-2\nv\t2\t0\nv\t3\t-1\nv\t5\t12\n"
          "v\tG\t1\t-3\nv\tG\t2\t0\nrev\t1\t-6\nrtn\t-3\t60\nfxg\t5\t6\nhp\t5\t20\nend\n");
  std::filesystem::create_directory(s.path("rep"));
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  const json j = json::parse(s.read("rep/stats_song.json"));
  expectFields(j,
               {"version", "mix", "settings", "channels", "reverbs", "submixes", "master", "rms",
                "output", "loudness", "warnings", "files", "processingSeconds"},
               "top");
  EXPECT_EQ(j["version"], 1);
  expectFields(j["settings"],
               {"sampleRate", "format", "bits", "channels", "preview", "renderStart",
                "renderLength", "dither", "ditherSeed", "stems", "target"},
               "settings");
  EXPECT_EQ(j["settings"]["ditherSeed"], 3);
  EXPECT_EQ(j["settings"]["renderLength"], 96000);
  EXPECT_TRUE(j["settings"]["target"].is_null());
  for (const json& c : j["channels"])
    expectFields(c, {"channel", "name", "peak", "over", "clipping"}, "channel");
  expectFields(j["reverbs"]["recursive"], {"peak", "over", "fedBy"}, "reverb");
  expectFields(j["output"]["left"], {"peak", "frame", "minutes", "seconds", "over"}, "output");

  // The text's numbers, in the text's order and rounding, from the JSON.
  std::vector<double> fromJson;
  const auto add2 = [&](double v) { fromJson.push_back(std::round(v * 100) / 100); };
  for (const json& c : j["channels"]) {
    fromJson.push_back(c["channel"].get<double>());
    add2(c["peak"]["left"].get<double>());
    add2(c["peak"]["right"].get<double>());
  }
  add2(j["reverbs"]["recursive"]["peak"]["left"].get<double>());
  add2(j["reverbs"]["recursive"]["peak"]["right"].get<double>());
  for (const json& k : j["submixes"]) {
    fromJson.push_back(k["submix"].get<double>());
    add2(k["peak"]["left"].get<double>());
    add2(k["peak"]["right"].get<double>());
  }
  add2(j["rms"]["left"].get<double>());
  add2(j["rms"]["right"].get<double>());
  for (const char* side : {"left", "right"}) {
    add2(j["output"][side]["peak"].get<double>());
    fromJson.push_back(j["output"][side]["minutes"].get<double>());
    fromJson.push_back(std::round(j["output"][side]["seconds"].get<double>() * 1000) / 1000);
  }
  for (const char* key : {"integrated", "range", "truePeak"})
    fromJson.push_back(std::round(j["loudness"][key].get<double>() * 10) / 10);
  fromJson.push_back(std::round(j["processingSeconds"].get<double>() * 100) / 100);
  std::string stats = s.read("rep/stats_song.txt");
  // "Ch n" and "Sub k" carry whole numbers; "Peak Out" its minutes.
  stats = std::regex_replace(stats, std::regex(R"((Ch|Sub) ([0-9]+))"), "$1 $2.0");
  stats = std::regex_replace(stats, std::regex(R"(at ([0-9]+) min)"), "at $1.0 min");
  stats = std::regex_replace(stats, std::regex(R"(Dither seed: [0-9]+)"), "");
  EXPECT_EQ(numbersOf(stats), fromJson) << stats;
  EXPECT_TRUE(contains(stats, "Channel 5 is clipping")) << stats;
  EXPECT_TRUE(j["channels"][3]["clipping"].get<bool>());
  EXPECT_TRUE(j["channels"][3]["over"].get<bool>());

  const std::vector<std::string> files = j["files"];
  EXPECT_EQ(files, (std::vector<std::string>{"song.wav", "rep/stats_song.txt",
                                             "rep/faders_song.txt", "rep/mix_song.svg"}));
  const std::vector<std::string> warnings = j["warnings"];
  const std::vector<std::string> expected = {
      "prefs.txt:5: \"ditherr\" is not a prefs.txt keyword (did you mean dither?), so the line "
      "does nothing",
      "Cannot find file in track list called gone.wav!!", "Dither is set out of range (0-8)"};
  for (const std::string& w : expected)
    EXPECT_NE(std::find(warnings.begin(), warnings.end(), w), warnings.end()) << json(warnings);
  for (const std::string& w : warnings) EXPECT_FALSE(contains(w, "Counted")) << w;
}

// Shell text that makes every file larger than `kib` KiB fail to grow.
std::string sizeLimit(int kib) {
  return "trap '' XFSZ && ulimit -f " + std::to_string(kib) + " &&";
}

TEST(DeliveryFailures, AFailingWriteOfANewFileLosesNothing) {
  Session s;
  makeGroupedSong(s);
  struct Case {
    const char* prefs;
    const char* failing;
  };
  // The stems fail with the mix, since all of them are completed before any
  // is renamed into place; the float and FLAC masters in their own writers.
  for (const Case& c :
       {Case{"stems\ton\n", "song.wav"}, Case{"stems\ton\noutformat\tfloat\n", "song.wav"},
        Case{"stems\ton\noutformat\tflac\n", "song.flac"}}) {
    SCOPED_TRACE(c.prefs);
    s.write("prefs.txt", prefsWith(c.prefs));
    for (const char* name : {"song.wav", "song.flac", "song_sub1.wav", "song_sub1.flac"})
      s.write(name, "an earlier file");
    const Snapshot before = snapshot(s);
    const RunResult r = s.run("", "", sizeLimit(64));
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_TRUE(
        contains(r.out, std::string("Error: cannot write ") + c.failing + ": File too large\n"))
        << r.out;
    EXPECT_EQ(differences(before, snapshot(s)), "");
  }
  // A JSON report too large for the limit, after a render small enough for it.
  s.write("prefs.txt", "begin\npre\ton\nlength\t0.001\nverbo\t0\njson\ton\nend\n");
  s.write("stats_song.json", "an earlier report");
  const RunResult r = s.run("--threads 1", "", sizeLimit(1));
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(contains(r.out, "Error: cannot write stats_song.json: File too large\n")) << r.out;
  EXPECT_EQ(s.read("stats_song.json"), "an earlier report");
  EXPECT_FALSE(anyPartial(s));
}

TEST(DeliveryBatch, TwoRendersAtOnceInDifferentFoldersDoNotInterfere) {
  Session a, b;
  makeGroupedSong(a);
  a.write("prefs.txt", prefsWith("stems\ton\njson\ton\n"));
  b.sox("-n -r 44100 -b 16 -c 2 x.wav synth 3 pinknoise gain -6");
  b.files("begin\nx x.wav +\nend\n", unityFaders(), prefsWith("outformat\tflac\ntarget\t-20\n"));
  ASSERT_EQ(a.run().status, 0);
  ASSERT_EQ(b.run().status, 0);
  const std::string alone[] = {a.read("song.wav"), a.read("song_reverb.wav"), b.read("song.flac")};
  a.shell("'" SORVAN_BINARY "' -C '" + a.dir() + "' >/dev/null & '" SORVAN_BINARY "' -C '" +
          b.dir() + "' >/dev/null & wait");
  EXPECT_TRUE(a.read("song.wav") == alone[0]);
  EXPECT_TRUE(a.read("song_reverb.wav") == alone[1]);
  EXPECT_TRUE(b.read("song.flac") == alone[2]);
}

}  // namespace
}  // namespace sorvan::e2e
