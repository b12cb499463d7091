// Whatever a user or a damaged disk hands Sorvan must end in a clear message
// and a defined exit status, and must leave the outputs of an earlier good run
// exactly as they were. Every case starts from a folder holding such a run;
// runs are bounded in time, so a hang fails its case instead of the suite.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

namespace fs = std::filesystem;

// Channel 1 plays a.wav, 0.1 s of 24-bit stereo; channel 2 is the slot a
// damaged source goes into, left out here. No dither, so renders repeat bytes.
constexpr const char* kTracks = "begin\nkick a.wav +\nbad b.wav -\nend\n";
constexpr const char* kBadTracks = "begin\nkick a.wav +\nbad b.wav +\nend\n";
constexpr const char* kFaders = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nend\n";
constexpr std::size_t kSongFrames = 4800;
constexpr std::size_t kSongBytes = 44 + kSongFrames * 6;

std::string prefsWith(const std::string& lines) {
  return "begin\npre\toff\ndither\t0\n" + lines + "end\n";
}

// Long texts (1 MB names) are cut short in failure messages.
std::string shown(const std::string& text) {
  return text.size() <= 2000 ? text
                             : text.substr(0, 1000) + "\n[...]\n" + text.substr(text.size() - 1000);
}

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

// ---------------------------------------------------------------------------
// WAVE bytes written by hand, for the damage sox would never produce.

std::string le(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

std::string chunk(const std::string& id, const std::string& payload) {
  return id + le(payload.size(), 4) + payload;
}

std::string fmtChunk(int tag, int channels, std::uint32_t rate, int bits) {
  const auto align = static_cast<std::uint64_t>(bits / 8) * static_cast<std::uint64_t>(channels);
  return chunk("fmt ", le(static_cast<std::uint64_t>(tag), 2) +
                           le(static_cast<std::uint64_t>(channels), 2) + le(rate, 4) +
                           le(rate * align, 4) + le(align, 2) +
                           le(static_cast<std::uint64_t>(bits), 2));
}

std::string riff(const std::string& body) { return "RIFF" + le(body.size() + 4, 4) + "WAVE" + body; }

// Frames of 24-bit stereo with values a plain mix keeps distinct.
std::string frames24(std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    const auto v =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(i * 7919 % 200000) - 100000);
    out += le(v, 3) + le(~v, 3);
  }
  return out;
}

std::string canonical24(const std::string& data) {
  return riff(fmtChunk(1, 2, 48000, 24) + chunk("data", data));
}

// A JUNK chunk starting at file position `from` that places the next
// identifier at `at`.
std::string junkUpTo(std::size_t from, std::size_t at) {
  return chunk("JUNK", std::string(at - from - 8, '\0'));
}

void goodRender(Session& s) {
  s.write("a.wav", canonical24(frames24(kSongFrames)));
  s.files(kTracks, kFaders, prefsWith(""));
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_EQ(s.read("song.wav").size(), kSongBytes);
}

template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = info.param.name;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

// ---------------------------------------------------------------------------
// Damaged sources in channel 2: each is reported (or silently read as far as
// it goes) and the mix goes on; alone, a source without frames leaves no song.

enum class Source {
  kUnused,  // refused or silent: the mix is the earlier render
  kPlays,   // plays like `equivalent`
};

struct WaveCase {
  std::string name;
  std::string bytes;
  std::string message;  // empty: nothing may be said about b.wav
  Source outcome = Source::kUnused;
  std::string equivalent = {};  // kPlays: a sound file with the same samples
};

void PrintTo(const WaveCase& c, std::ostream* os) { *os << c.name; }

std::vector<WaveCase> waveCases() {
  const std::string data = frames24(480);
  const std::string header = "RIFF" + le(36 + data.size(), 4) + "WAVE" + fmtChunk(1, 2, 48000, 24);
  const std::string notPcm =
      "b.wav is not a 32 float, 24 bit pcm, or 16 bit pcm file and cannot be used\n";
  const std::string noFormat = "Can't find format chunk in wave file!\n";
  const std::string noData = "Cannot find data block in file b.wav!\n";
  const auto withFmt = [&](int tag, int channels, int bits) {
    return riff(fmtChunk(tag, channels, 48000, bits) + chunk("data", data));
  };
  const std::string dataFirst = chunk("data", data);
  return {
      {"empty file", "", noFormat},
      {"RIFF header only", "RIFF" + le(4, 4) + "WAVE", noFormat},
      {"cut inside fmt", ("RIFF" + le(100, 4) + "WAVE" + fmtChunk(1, 2, 48000, 24)).substr(0, 26),
       notPcm},
      {"fmt identifier as the last bytes", "RIFF" + le(7, 4) + "WAVEfmt", notPcm},
      {"data identifier as the last bytes", header + "data", ""},
      {"header without samples", header + "data" + le(0, 4), ""},
      {"header promising samples it lacks", header + "data" + le(6000, 4), ""},
      {"fmt beyond 128 KiB",
       riff(junkUpTo(12, 131074) + fmtChunk(1, 2, 48000, 24) + chunk("data", data)), noFormat},
      {"data beyond 128 KiB",
       riff(fmtChunk(1, 2, 48000, 24) + junkUpTo(36, 131074) + chunk("data", data)), noData},
      {"fmt at odd offset",
       riff(chunk("JUNK", "abc") + fmtChunk(1, 2, 48000, 24) + chunk("data", data)), noFormat},
      {"data at odd offset",
       riff(fmtChunk(1, 2, 48000, 24) + chunk("JUNK", "a") + chunk("data", data)), noData},
      {"no channels", withFmt(1, 0, 24),
       "b.wav has no channels or no sample bytes and cannot be used\n"},
      {"three channels", withFmt(1, 3, 24), ""},
      {"65535 channels", withFmt(1, 65535, 24), ""},
      {"8-bit", withFmt(1, 2, 8), notPcm},
      {"12-bit", withFmt(1, 2, 12), notPcm},
      {"20-bit", withFmt(1, 2, 20), notPcm},
      {"0-bit", withFmt(1, 2, 0), notPcm},
      {"32-bit integer", withFmt(1, 2, 32), "\nb.wav is not a 32 bit floating point format\n"},
      {"64-bit float", withFmt(3, 2, 64), notPcm},
      {"data size 0xFFFFFFFF", header + "data" + le(0xFFFFFFFFu, 4) + data, "", Source::kPlays,
       canonical24(data)},
      {"cut in the middle of a frame",
       (header + "data" + le(data.size(), 4) + data).substr(0, 44 + 100 * 6 + 4), "",
       Source::kPlays, canonical24(data.substr(0, 100 * 6))},
      // "data" first and "fmt " exactly at the last searched position still count.
      {"fmt at the last searched position",
       riff(dataFirst + junkUpTo(12 + dataFirst.size(), 131072) + fmtChunk(1, 2, 48000, 24)), "",
       Source::kPlays, canonical24(data)},
  };
}

class BadWave : public ::testing::TestWithParam<WaveCase> {};

TEST_P(BadWave, ReportedAndTheMixGoesOn) {
  const WaveCase& c = GetParam();
  Session s;
  goodRender(s);
  const std::string plain = s.read("song.wav");
  s.write("b.wav", c.bytes);
  s.write("tracks.txt", kBadTracks);
  RunResult r = s.run();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(c.message.empty() ? !contains(r.out, "b.wav") : contains(r.out, c.message)) << r.out;
  const std::string mixed = s.read("song.wav");
  EXPECT_EQ(mixed.size(), kSongBytes) << "the good source sets the song length";
  EXPECT_FALSE(anyPartial(s));
  if (c.outcome == Source::kUnused) {
    EXPECT_TRUE(mixed == plain) << "channel 2 must stay silent";
  } else {
    s.write("b.wav", c.equivalent);
    EXPECT_EQ(s.run().status, 0);
    EXPECT_TRUE(mixed == s.read("song.wav")) << "plays unlike its sound equivalent";
    EXPECT_FALSE(mixed == plain) << "channel 2 should be heard";
    return;
  }
  if (c.name == "three channels") return;  // it holds frames, just none it can play

  s.write("tracks.txt", "begin\nbad b.wav +\nend\n");
  const Snapshot before = snapshot(s);
  r = s.run();
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_TRUE(contains(r.out, "Head or tail set incorrectly in preferences!\n")) << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
}

INSTANTIATE_TEST_SUITE_P(DamagedSource, BadWave, ::testing::ValuesIn(waveCases()),
                         caseName<WaveCase>);

// Float sources: NaN carries no value, infinities are the largest values the
// decoder gives (2^31 on the 2^23 channel scale), so the output saturates.
TEST(BadWaveFile, NaNAndInfiniteFloatSamples) {
  Session s;
  const float values[] = {
      __builtin_nanf(""), __builtin_inff(), -__builtin_inff(), 0.25f, -0.25f, 0.0f, 1e30f, -1e30f};
  std::string data;
  for (float v : values) {
    std::uint32_t word;
    std::memcpy(&word, &v, sizeof word);
    data += le(word, 4);
  }
  s.write("f.wav", riff(fmtChunk(3, 2, 48000, 32) + chunk("data", data)));
  s.files("begin\nf f.wav +\nend\n", kFaders, prefsWith(""));
  const Rendered out = render(s);
  EXPECT_EQ(out.words, (std::vector<std::int32_t>{0, 8388607, -8388608, 2097152, -2097152, 0,
                                                  8388607, -8388608}));
}

// The rate is not checked; it only scales times, so any value must render.
TEST(BadWaveFile, AbsurdSampleRatesStillRender) {
  for (const std::uint32_t rate : {0u, 1u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(rate);
    Session s;
    s.write("r.wav", riff(fmtChunk(1, 2, rate, 24) + chunk("data", frames24(480))));
    s.files("begin\nr r.wav +\nend\n", kFaders, prefsWith(""));
    const RunResult r = s.run();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(contains(r.out, "nan")) << r.out;
    const std::string wav = s.read("song.wav");
    ASSERT_EQ(wav.size(), 44u + 480u * 6u);
    EXPECT_EQ(le32(wav, 24), rate);
  }
}

// ---------------------------------------------------------------------------
// Text files, folders and outputs. A case changes the good folder (the files
// it names, then its shell set-up) and runs sorvan once.

enum class Mix {
  kNothing,  // the folder is left as it was, but for `changes`
  kSame,     // `output` holds exactly the earlier mix
  kLength,   // `output` holds `bytes` bytes
  kSilent,   // `output` holds `bytes` bytes of silence
};

struct Said {
  std::string text;
  std::size_t times = 1;
};

struct Case {
  std::string name;
  std::string tracks = {}, faders = {}, prefs = {};  // empty: the good run's
  std::string setup = {};
  std::string args = {}, input = {}, limits = {};
  int status = 0;
  std::vector<Said> says = {};
  std::vector<std::string> never = {};
  Mix mix = Mix::kSame;
  std::string output = "song.wav";
  std::size_t bytes = kSongBytes;
  std::string changes = {};
  bool asUserOnly = false;  // root reads and writes past file modes
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> refusedCases() {
  const std::string mega(1 << 20, 'x');
  const std::string tooLong = "Head or tail set incorrectly in preferences!\n";
  const std::string beyond = "Error: Preview start time in preferences file exceeds song length\n";
  const std::string below = "Error: Preview start time in preferences is less than zero.\n";
  const std::string tempo = "Error:  Tempo must be above zero in tempo map entry 2\n";
  const std::string tooLongForWave = "Error: a render of 9223372036854775807 frames is too long";
  const std::string noAnswer = "No default fader value was given.\n";
  const std::string tempoMap = "begin\nsong\ntmap\t120\t4\t1\ntmap\t";
  const std::string tempoEnd = "\t4\t1\nt\t1\t1\t0\nv\t1\t0\nend\n";
  const std::string illegalRoom = "Illegal value for reverb room size\n";
  const std::string noFolder = "Error: cannot write nowhere/song.wav: No such file or directory\n";
  return {
      // The render range.
      {.name = "preview start beyond the song",
       .prefs = "begin\npre\ton\nstart\t0\t2\t0\nend\n", .status = 2, .says = {{beyond}}},
      {.name = "preview start 1e308", .prefs = "begin\npre\ton\nstart\t0\t1e308\t0\nend\n",
       .status = 2, .says = {{beyond}}},
      {.name = "preview start below zero", .prefs = "begin\npre\ton\nstart\t0\t-1\t0\nend\n",
       .status = 2, .says = {{below}}},
      {.name = "preview start -1e308", .prefs = "begin\npre\ton\nstart\t-1e308\t0\t0\nend\n",
       .status = 2, .says = {{below}}},
      {.name = "negative preview length", .prefs = "begin\npre\ton\nlength\t-1\nend\n",
       .status = 2, .says = {{tooLong}}},
      {.name = "preview length -1e308", .prefs = "begin\npre\ton\nlength\t-1e308\nend\n",
       .status = 2, .says = {{tooLong}}},
      {.name = "preview length 1e308", .prefs = "begin\npre\ton\nlength\t1e308\nend\n",
       .status = 2, .says = {{tooLongForWave}}},
      {.name = "in-point beyond the song", .prefs = prefsWith("xfields\t1\nxin\t5\n"),
       .status = 2, .says = {{tooLong}}},
      {.name = "in-point 1e308", .prefs = prefsWith("xin\t0\t1e308\t0\n"), .status = 2,
       .says = {{tooLong}}},
      {.name = "out-point -1e308", .prefs = prefsWith("xout\t0\t-1e308\t0\n"), .status = 2,
       .says = {{tooLong}}},
      {.name = "out-point 1e308", .prefs = prefsWith("xfields\t1\nxout\t1e308\n"), .status = 2,
       .says = {{tooLongForWave}}},
      {.name = "time stamp 1e308", .faders = unityFaders("tstamp\t1\t0\t1e308\t0\n"),
       .status = 2, .says = {{tooLongForWave}}},
      {.name = "sample stamp 2^63-1", .faders = unityFaders("sstamp\t1\t9223372036854775807\n"),
       .status = 2, .says = {{tooLongForWave}}},
      {.name = "empty tracks file", .setup = ": > tracks.txt", .status = 2, .says = {{tooLong}}},
      // Time entries and the tempo map.
      {.name = "automation offset 1e308", .prefs = prefsWith("offset\t0\t1e308\t0\n"),
       .status = 2, .says = {{"Error:  Time entry 1 exceeds song length\n"}}},
      {.name = "automation offset -1e308", .prefs = prefsWith("offset\t-1e308\t0\t0\n"),
       .status = 2, .says = {{"Error:  Time entry 1 is less than zero\n"}}},
      {.name = "time entry 1e308", .faders = unityFaders("t\t0\t1e308\t0\n"), .status = 2,
       .says = {{"Error:  Time entry 2 exceeds song length\n"}}},
      {.name = "time entry -1e308", .faders = unityFaders("t\t-1e308\t0\t0\n"), .status = 2,
       .says = {{"Error:  Time entry 2 is less than zero\n"}}},
      {.name = "time entry of 23 digits",
       .faders = unityFaders("t\t0\t0\t99999999999999999999999\n"), .status = 2,
       .says = {{"Error:  Time entry 2 exceeds song length\n"}}},
      {.name = "check finds a time entry beyond the song",
       .faders = "begin\nsong\nt\t1\t0\t0\nv\t1\t0\nend\n", .args = "--check", .status = 2,
       .says = {{"Error:  Time entry 1 exceeds song length\n"}}},
      {.name = "tempo 0", .faders = tempoMap + "0" + tempoEnd, .prefs = prefsWith("tempo\n"),
       .status = 2, .says = {{tempo}}},
      {.name = "tempo -120", .faders = tempoMap + "-120" + tempoEnd,
       .prefs = prefsWith("tempo\n"), .status = 2, .says = {{tempo}}},
      {.name = "tempo abc", .faders = tempoMap + "abc" + tempoEnd, .prefs = prefsWith("tempo\n"),
       .status = 2, .says = {{tempo}}},
      {.name = "tempo 1e-400", .faders = tempoMap + "1e-400" + tempoEnd,
       .prefs = prefsWith("tempo\n"), .status = 2, .says = {{tempo}}},
      {.name = "tempo entry cut off by the end of the file",
       .faders = "begin\nsong\nt\t1\t1\t0\nv\t1\t0\ntmap", .prefs = prefsWith("tempo\n"),
       .status = 2, .says = {{"Error:  Tempo must be above zero in tempo map entry 1\n"}}},
      // Reverb rooms, found in the mix after the output was begun.
      {.name = "room -1e308", .faders = unityFaders("rtn\t0\t-1e308\nrev\t1\t0\n"), .status = 1,
       .says = {{illegalRoom}}},
      {.name = "room 4000", .faders = unityFaders("rtn\t0\t4000\nrev\t1\t0\n"), .status = 1,
       .says = {{"Please reduce room size in reverb!\n"}}},
      {.name = "tap room -10", .faders = unityFaders("trtn\t0\t-10\t1\ntrev\t1\t0\n"),
       .status = 1, .says = {{">>> Error:  Illegal value for tap reverb room size\n"}}},
      {.name = "tap room 1e308", .faders = unityFaders("trtn\t0\t1e308\t3\ntrev\t1\t0\n"),
       .status = 1, .says = {{">>> Error: A tap reverb dimension has exceeded the limit\n"}}},
      {.name = "too many taps", .faders = unityFaders("trtn\t0\t500\t11\ntrev\t1\t0\n"),
       .status = 1,
       .says = {{">>> Error:  Please decrease reverb tap number to 4 or room length to 254 feet\n"}}},
      {.name = "bad room with a tap file", .faders = unityFaders("rtn\t0\t-5\nrev\t1\t0\n"),
       .prefs = prefsWith("tap\trtn\n"), .status = 1, .says = {{illegalRoom}}},
      {.name = "bad room fed from the master", .faders = unityFaders("rev\tM\t0\nrtn\t0\t-1\n"),
       .prefs = prefsWith("tap\trtn\n"), .status = 1, .says = {{illegalRoom}}},
      {.name = "check finds a bad room", .faders = unityFaders("rtn\t0\t-5\nrev\t1\t0\n"),
       .args = "--check", .status = 1, .says = {{illegalRoom}}},
      // The input files and the dialogue.
      {.name = "missing tracks file", .setup = "rm tracks.txt", .args = "missing.txt",
       .status = 2,
       .says = {{"tracks.txt file was not found.\nCreate the file and run again.\nExiting...\n"}}},
      {.name = "tracks file that is a directory", .setup = "rm tracks.txt && mkdir tracks.txt",
       .status = 2,
       .says = {{"tracks.txt file was not found.\nCreate the file and run again.\nExiting...\n"}}},
      {.name = "sources of different rates", .tracks = "begin\nx a.wav +\ny a.wav +\nz b.wav +\nend\n",
       .setup = "sox -n -r 44100 -b 16 -c 1 b.wav synth 0.1 sine 300", .status = 1,
       .says = {{"The sample rate appears to be 48000\n"
                 "The file assigned to channel 3 has a different rate!\n"}}},
      {.name = "dialogue answered -999", .setup = "rm faders.txt", .input = "-999\n",
       .status = 1,
       .says = {{"faders.txt file was not found\nEnter the default fader value or -999 to exit.\n"}},
       .never = {noAnswer}},
      {.name = "dialogue without an answer", .setup = "rm faders.txt", .status = 1,
       .says = {{noAnswer}}},
      {.name = "dialogue answered abc", .setup = "rm faders.txt", .input = "abc\n", .status = 1,
       .says = {{noAnswer}}},
      {.name = "dialogue answered nan", .setup = "rm faders.txt", .input = "nan\n", .status = 1,
       .says = {{noAnswer}}},
      {.name = "dialogue answered -inf", .setup = "rm faders.txt", .input = "-inf\n",
       .status = 1, .says = {{noAnswer}}},
      {.name = "fader file that is a directory", .setup = "rm faders.txt && mkdir faders.txt",
       .status = 1,
       .says = {{"faders.txt file was not found\nEnter the default fader value or -999 to exit.\n" +
                 noAnswer}}},
      // Outputs that would overwrite inputs.
      {.name = "output named like a source", .prefs = prefsWith("oname\ta\n"), .status = 2,
       .says = {{"Error: output file a.wav is also an input\n"}}},
      {.name = "output that is a link to a source", .prefs = prefsWith("oname\tlink\n"),
       .setup = "ln -s a.wav link.wav", .status = 2,
       .says = {{"Error: output file link.wav is also an input\n"}}},
      {.name = "earlier mix listed as a source",
       .tracks = "begin\nkick a.wav +\nagain song.wav +\nend\n", .status = 2,
       .says = {{"Error: output file song.wav is also an input\n"}}},
      {.name = "statistics over the tracks file", .setup = "cp tracks.txt stats_song.txt",
       .args = "stats_song.txt", .status = 2,
       .says = {{"Error: output file stats_song.txt is also an input\n"}}},
      {.name = "fader report over the fader file", .setup = "cp faders.txt faders_song.txt",
       .args = "tracks.txt faders_song.txt", .status = 2,
       .says = {{"Error: output file faders_song.txt is also an input\n"}}},
      {.name = "mix named like the tap file", .faders = unityFaders("rtn\t0\t75\nrev\t1\t0\n"),
       .prefs = prefsWith("tap\trev\noname\trevTap\n"), .status = 2,
       .says = {{"Error: output file revTap.wav"}}},
      // Outputs that cannot be written.
      {.name = "missing output folder", .prefs = prefsWith("mixdir\tnowhere/\n"), .status = 3,
       .says = {{noFolder}}},
      {.name = "output folder that is a file", .prefs = prefsWith("mixdir\tplain.txt/\n"),
       .setup = "echo text > plain.txt", .status = 3,
       .says = {{"Error: cannot write plain.txt/song.wav: Not a directory\n"}}},
      {.name = "read-only output folder", .prefs = prefsWith("mixdir\tro/\n"),
       .setup = "mkdir ro && chmod 500 ro", .status = 3,
       .says = {{"Error: cannot write ro/song.wav: Permission denied\n"}}, .asUserOnly = true},
      {.name = "output name taken by a directory", .prefs = prefsWith("oname\ttaken\n"),
       .setup = "mkdir -p taken.wav/inside", .status = 3,
       .says = {{"Error: cannot write taken.wav: Is a directory\n"}}},
      {.name = "earlier output replaced by a directory", .setup = "rm song.wav && mkdir song.wav",
       .status = 3, .says = {{"Error: cannot write song.wav: Is a directory\n"}},
       .never = {"Done!"}},
      {.name = "output name of a megabyte", .prefs = prefsWith("oname\t" + mega + "\n"),
       .status = 3, .says = {{"Error: cannot write " + mega + ".wav: File name too long\n"}}},
      // The reports come after the mix, which is not kept without them.
      {.name = "missing report folder", .prefs = prefsWith("bakdir\tnowhere/\n"), .status = 3,
       .says = {{"Error: cannot write nowhere/stats_song.txt: No such file or directory\n"}}},
      // Writes beyond 20 blocks of 512 bytes fail as on a full disk.
      {.name = "write that fails", .faders = unityFaders("v\t1\t-3\n"),
       .limits = "trap '' XFSZ && ulimit -f 20 &&", .status = 3,
       .says = {{"Error: cannot write song.wav: File too large\n"}}},
      // The mix is committed before the tap file; only the tap fails.
      {.name = "tap file name taken by a directory",
       .faders = unityFaders("rtn\t0\t75\nrev\t1\t0\n"), .prefs = prefsWith("tap\trev\n"),
       .setup = "mkdir -p revTap.wav/inside", .status = 3,
       .says = {{"Error: cannot write revTap.wav: Is a directory\n"}},
       .changes = "changed: song.wav\n"},
  };
}

std::vector<Case> acceptedCases() {
  using namespace std::string_literals;
  const std::string mega(1 << 20, 'x');
  const std::string notFound = "Cannot find file in track list called b.wav!!\n";
  const std::string junk = "\x80\x81\xfe\xff\t\xc3\xa9t\xc0\t\xef\xbb\xbf\n";
  const std::string fader = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\n";
  const std::string outOfRange = ">>Channel number out of range or not specified!\n";
  std::string manyEntries = "begin\nsong\nVCA:\t1\t1\nt\t0\t0\t0\nv\t1\t0\nvca\t1\t0\nt\t0\t0\t50\n";
  for (int i = 0; i < 10000; ++i) manyEntries += "v\t1\t-1\nvca\t1\t-1\nrmp\t0.001\n";
  std::string manyTempos = "begin\nsong\nt\t1\t1\t0\nv\t1\t0\n";
  for (int i = 0; i < 200; ++i) manyTempos += "tmap\t120\t4\t1\n";
  std::string manyTracks = "begin\n";
  for (int i = 1; i <= 200; ++i) manyTracks.append("t").append(std::to_string(i)).append(" a.wav +\n");
  std::vector<Case> cases = {
      // Sources that are not files sorvan can read.
      {.name = "source that is a directory", .tracks = kBadTracks, .setup = "mkdir b.wav",
       .says = {{notFound}}},
      {.name = "source that is a FIFO", .tracks = kBadTracks, .setup = "mkfifo b.wav",
       .says = {{notFound}}},
      {.name = "unreadable source", .tracks = kBadTracks, .setup = "cp a.wav b.wav && chmod 0 b.wav",
       .says = {{notFound}}, .asUserOnly = true},
      // Empty, unbounded and cut-off text.
      {.name = "empty preferences file", .setup = ": > prefs.txt",
       .says = {{"Preview mode not specified.\n"}}, .mix = Mix::kLength},
      {.name = "empty fader file", .setup = ": > faders.txt",
       .says = {{"No time entries found!\n"}, {"Done!  Created the file: .wav\n"}},
       .mix = Mix::kSilent, .output = ".wav"},
      {.name = "files without begin or end", .tracks = "kick a.wav +\nbad b.wav -\n",
       .faders = "song\nt\t0\t0\t0\nv\t1\t0\n", .prefs = "pre\toff\ndither\t0\n"},
      {.name = "begin as the last bytes", .faders = "song\nt\t0\t0\t0\nv\t1\t0\nbegin",
       .says = {{"No time entries found!\n"}}, .mix = Mix::kSilent, .output = ".wav"},
      // A zero byte ends what the readers see, in every file.
      {.name = "NUL bytes", .tracks = "begin\nkick a.wav +\n\0bad b.wav +\nend\n"s,
       .faders = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\n\0v\t1\t-20\nt\t9\t0\t0\nend\n"s,
       .prefs = "begin\npre\toff\ndither\t0\n\0xin\t9\t0\t0\nend\n"s,
       .never = {"Cannot find file"}},
      {.name = "fader entries cut off by the end", .faders = "begin\nsong\nt\t0\t0\t0\nv\t1"},
      {.name = "time entry cut off by the end", .faders = fader + "t",
       .says = {{"Counted 2 time entries.\n"}}},
      {.name = "track line cut off by the end", .tracks = "begin\nkick a.wav +\nbad",
       .says = {{"Counted 2 tracks\n"}}},
      {.name = "head without its value", .prefs = "begin\npre\toff\ndither\t0\nhead"},
      {.name = "dither without its level", .prefs = "begin\npre\toff\ndither"},
      // Junk lines are skipped; a number of a million digits is just too loud.
      {.name = "lines and a number of a megabyte",
       .tracks = kTracks + mega + "\n",
       .faders = "begin\nsong\n" + mega + "\nt\t0\t0\t0\nv\t1\t1" + std::string(1 << 20, '0') +
                 "\nend\n",
       .prefs = prefsWith(mega + "\tx\n"),
       .says = {{">> Warning: fader 1 (entry 1) set above 12.02 dB\n"}}, .mix = Mix::kLength},
      {.name = "channel number of a megabyte",
       .faders = fader + "v\t" + std::string(1 << 20, '9') + "\t0\nend\n", .says = {{outOfRange}}},
      {.name = "track name of a megabyte", .tracks = "begin\nkick a.wav +\nbad " + mega + " +\nend\n",
       .says = {{"Cannot find file in track list called " + mega + "!!\n"}}},
      {.name = "non-ASCII bytes", .tracks = junk + "begin\nkick a.wav +\nend\n",
       .faders = "begin\ns\xc3\xb8ng\xff\n" + junk + "t\t0\t0\t0\nv\t1\t0\n" + junk + "end\n",
       .prefs = prefsWith(junk), .output = "s\xc3\xb8ng\xff.wav"},
      // Names reach the messages as data, never as formats.
      {.name = "percent signs in names", .tracks = "begin\nkick a.wav +\nbad %s%n%x.wav +\nend\n",
       .prefs = prefsWith("oname\t%n%s%d\n"),
       .says = {{"Cannot find file in track list called %s%n%x.wav!!\n"},
                {"Done!  Created the file: %n%s%d.wav\n"}},
       .output = "%n%s%d.wav"},
      // Tables that would overflow.
      {.name = "10 000 entries for one fader", .faders = manyEntries + "end\n",
       .says = {{">> Warning: fader 1 has more than 512 entries; the extra entries are ignored.\n"},
                {">> Warning: vca 1 has more than 512 entries; the extra entries are ignored.\n"}},
       .mix = Mix::kLength},
      {.name = "200 tempo segments", .faders = manyTempos + "end\n", .prefs = prefsWith("tempo\n"),
       .says = {{">> Warning: tempo map has more than 128 entries; the extra entries are "
                 "ignored.\n"}}},
      {.name = "200 tracks", .tracks = manyTracks + "end\n",
       .faders = "begin\nsong\nt\t0\t0\t0\nv\t1\t-60\nv\t127\t-60\nend\n",
       .prefs = prefsWith("verbo\t1\n"),
       .says = {{">> Warning: the tracks file lists 200 tracks; only the first 127 are used.\n"},
                {"Ch 127\tL"}},
       .never = {"Ch 128\t"}, .mix = Mix::kLength},
      // Every reader of a channel, bus or VCA number refuses what lies outside
      // its table; "v" three times, "p", "pol", "trim", "fxg" and "comp" are
      // each folded once.
      {.name = "channel numbers out of range",
       .faders = "begin\nsong\ntstamp\t99999999999\t0\t1\t0\nsstamp\t-5\t100\n"
                 "sub\t1\t-5,99999999999\nsub\t99999999999\t1\nVCA:\t1\t99999999999\n"
                 "VCA:\t-5\t1\nt\t0\t0\t0\nv\t1\t0\nv\t99999999999\t0\nv\t-5\t0\n"
                 "v\tG\t99999999999\t0\nvca\t99999999999\t0\np\t99999999999\t50\npol\t-5\t-1\n"
                 "trim\t-5\t-6\nfxg\t99999999999\t6\ncomp\t-5\t-10\t1\t10\t2\n"
                 "dp\t-5\t50\ndp\t99999999999\t50\no\tcomp\t99999999999\t1\nend\n",
       .says = {{">> Warning: tstamp for channel 99999999999 is out of range and is ignored.\n"},
                {">> Warning: sstamp for channel -5 is out of range and is ignored.\n"},
                {"Submix number out of range!\n"},
                {"Channel assigned to VCA 1 is out of range!\n"},
                {"VCA fader out of range!\n"},
                {">> Warning: delay pan channel -5 is out of range and is ignored.\n"},
                {">> Warning: delay pan channel 2147483647 is out of range and is ignored.\n"},
                {"Channel assigned to sub 1 is out of range!\n", 2},
                {outOfRange, 8}}},
      // Numbers at the ends of their range.
      {.name = "level 1e308", .faders = "begin\nsong\nt\t0\t0\t0\nv\t1\t1e308\nend\n",
       .says = {{">> Warning: fader 1 (entry 1) set above 12.02 dB\n"}}, .mix = Mix::kLength},
      {.name = "ramp 1e308", .faders = fader + "t\t0\t0\t50\nv\t1\t-6\nrmp\t1e308\nend\n",
       .says = {{"Adjusted volume ramp that exceeded song length (channel 1)\n"}},
       .mix = Mix::kLength},
      // Entries pushed out of reach by "inc" are never played.
      {.name = "increments of 1e308",
       .faders = fader + "inc\t1e308\nv\t1\t-40\nt\t0\t0\t0\ninc\t-1e308\nv\t1\t-40\nend\n"},
      {.name = "preference values that are ignored",
       .prefs = prefsWith("head\t1e308\ntail\t-1e308\nseed\t-1e308\nverbo\t99999999999\n"
                          "outbits\t1e308\ndbps\t1e308\npan\t-1e308\nmono\t1e308\n"
                          "tfields\t-99999999999\nsfields\t1e308\n"),
       .mix = Mix::kLength, .bytes = 44 + kSongFrames * 3},  // mono, 24-bit
      // Effect values at the ends of the number range are clamped.
      {.name = "extreme strip settings",
       .faders = fader +
                 "comp\t1\t1e308\t1e308\t1e308\t1e308\nrms\t1\t-1e308\t-1e308\t-1e308\t-1e308\n"
                 "nlc\t1\t-10\t1e308\t4\nnlc\tM\t-10\t-1e308\t1e308\nlim\t1\t-1e308\n"
                 "hp\t1\t1e308\nband1\t1\t1e308\t1e308\t1e308\nhshelf\t1\t-1e308\t-1e308\t-1e308\n"
                 "lshelf\tG\t1\t0\t0\t0\nband4\tM\t-1\t-1e308\t1e-308\nfxg\t1\t1e308\n"
                 "fxg\tM\t-1e308\no\tcomp\t1\t99999999999\no\thp\t1\t-99999999999\nend\n",
       .never = {"nan"}, .mix = Mix::kLength},
      {.name = "extreme reverb settings",
       .faders = fader +
                 "rtn\t1e308\t75\nrev\t1\t1e308\nwidth\t1e308\npos\t1e308\t-1e308\t50\n"
                 "rhp\t1e308\nrlp\t-1e308\ntrtn\t-1e308\t75\t99999999999\ntrev\t1\t-1e308\nend\n",
       .never = {"nan"}, .mix = Mix::kLength},
      {.name = "extreme master-fed tap reverb",
       .faders = fader + "trtn\t0\t75\t-99999999999\ntrev\tM\t0\nend\n", .never = {"nan"},
       .mix = Mix::kLength},
      // Files that are folders are never replaced.
      {.name = "fader file that is a directory, answered", .setup = "rm faders.txt && mkdir faders.txt",
       .input = "0\n",
       .says = {{"faders.txt already exists and was left unchanged; using the default text for "
                 "this run.\n"}},
       .mix = Mix::kLength, .output = "test_mix.wav"},
      {.name = "preferences file that is a directory", .setup = "rm prefs.txt && mkdir prefs.txt",
       .says = {{"\nWarning: prefs.txt file was not found...\nprefs.txt already exists and was "
                 "left unchanged"}},
       .never = {"created one for you"}, .mix = Mix::kLength},
  };
  // A launch command that fails does not change the run's status.
  for (const std::string& command : {std::string("exit 7"), std::string("/nonexistent/command"),
                                     std::string("kill -9 $$"), "echo " + mega})
    cases.push_back({.name = "launch " + command.substr(0, 20),
                     .prefs = prefsWith("launch\t" + command + "\n")});
  return cases;
}

class BadInput : public ::testing::TestWithParam<Case> {};

TEST_P(BadInput, ClearMessageAndNothingLost) {
  const Case& c = GetParam();
  if (c.asUserOnly && ::geteuid() == 0) GTEST_SKIP() << "root reads and writes past file modes";
  Session s;
  goodRender(s);
  const std::string earlier = s.read("song.wav");
  s.files(c.tracks, c.faders, c.prefs);
  if (!c.setup.empty()) s.shell(c.setup);
  const Snapshot before = snapshot(s);
  const RunResult r = s.run(c.args, c.input, c.limits);
  EXPECT_EQ(r.status, c.status) << shown(r.out);
  for (const Said& said : c.says)
    EXPECT_EQ(occurrences(r.out, said.text), said.times)
        << "expected: " << shown(said.text) << "\n" << shown(r.out);
  for (const std::string& text : c.never) EXPECT_FALSE(contains(r.out, text)) << shown(r.out);
  EXPECT_FALSE(anyPartial(s)) << "a temporary file was left behind";
  const std::string output = s.read(c.output);
  switch (c.mix) {
    case Mix::kNothing:
      EXPECT_EQ(differences(before, snapshot(s)), c.changes);
      break;
    case Mix::kSame:
      EXPECT_TRUE(output == earlier) << "the mix differs from the plain render";
      break;
    case Mix::kLength:
      EXPECT_EQ(output.size(), c.bytes);
      break;
    case Mix::kSilent:
      EXPECT_EQ(output.size(), c.bytes);
      EXPECT_EQ(output.find_first_not_of('\0', 44), std::string::npos);
      break;
  }
}

std::vector<Case> refusedAndNothingWritten() {
  std::vector<Case> cases = refusedCases();
  for (Case& c : cases) c.mix = Mix::kNothing;
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Refused, BadInput, ::testing::ValuesIn(refusedAndNothingWritten()),
                         caseName<Case>);
INSTANTIATE_TEST_SUITE_P(Accepted, BadInput, ::testing::ValuesIn(acceptedCases()),
                         caseName<Case>);

// A small tmpfs stands in for a full disk; mounting needs root.
TEST(BadRuntime, FullDiskForTheMixAndForTheReports) {
  Session s;
  goodRender(s);
  const std::string full = s.path("full");
  fs::create_directory(full);
  if (::geteuid() != 0 ||
      std::system(("mount -t tmpfs -o size=64k tmpfs '" + full + "' 2>/dev/null").c_str()))
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  struct Unmount {
    std::string dir;
    ~Unmount() { [[maybe_unused]] const int ignored = std::system(("umount '" + dir + "'").c_str()); }
  } unmount{full};
  s.write("full/preview.wav", "an earlier preview");
  s.write("full/stats_song.txt", "earlier statistics");
  // Two seconds of preview, mostly silence after the source: 576 KB for a
  // 64 KB disk, all of it still in the stream buffer until the final flush.
  s.write("prefs.txt", "begin\ndither\t0\npredir\tfull/\npre\ton\nlength\t2\nend\n");
  Snapshot before = snapshot(s);
  RunResult r = s.run();
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(contains(r.out, "Error: cannot write full/preview.wav: No space left on device\n"))
      << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");

  s.shell("cat /dev/zero > full/filler || true");
  s.write("prefs.txt", prefsWith("bakdir\tfull/\n"));
  before = snapshot(s);
  r = s.run();
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(contains(r.out, "Error: cannot write full/stats_song.txt: No space left on device\n"))
      << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
}

}  // namespace
}  // namespace sorvan::e2e
