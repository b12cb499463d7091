// Whatever a user or a damaged disk hands Sorvan must end in a clear message
// and a defined exit status, and must leave the outputs of an earlier good run
// exactly as they were. Every run here is bounded by a timeout, so a hang
// fails the case instead of the whole suite.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

namespace fs = std::filesystem;

constexpr int kTimeoutSeconds = 30;  // a run that needs this long is a hang
constexpr int kTimedOut = 124;       // the status timeout(1) gives a killed run

// Channel 1 plays a.wav, a 0.1 s 24-bit stereo sine; channel 2 is the slot the
// damaged source goes into, left out here. No dither, so renders repeat bytes.
constexpr const char* kTracks = "begin\nkick a.wav +\nbad b.wav -\nend\n";
constexpr const char* kFaders = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nv\t2\t0\nend\n";
constexpr const char* kPrefsBody = "begin\npre\toff\ndither\t0\n";
constexpr const char* kPrefs = "begin\npre\toff\ndither\t0\nend\n";
constexpr std::size_t kSongFrames = 4800;
constexpr std::size_t kSongBytes = 44 + kSongFrames * 6;

RunResult runBounded(const Session& s, const std::string& args = "", const std::string& input = "",
                     int seconds = kTimeoutSeconds) {
  s.write(".input", input);
  const std::string command = "cd '" + s.dir() + "' && timeout -k 2 " + std::to_string(seconds) +
                              " '" SORVAN_BINARY "' " + args + " < .input 2>&1";
  RunResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot start sorvan";
    return result;
  }
  char chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.out.append(chunk, got);
  const int raw = ::pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::remove(s.path(".input").c_str());
  return result;
}

// The plain preferences with more lines before their "end".
std::string prefsWith(const std::string& lines) { return kPrefsBody + lines + "end\n"; }

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

bool contains(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

// Long texts (1 MB names) are cut short in failure messages.
std::string shown(const std::string& text) {
  return text.size() <= 2000 ? text
                             : text.substr(0, 1000) + "\n[...]\n" + text.substr(text.size() - 1000);
}

void expectNoPartials(const Session& s, const std::string& context) {
  std::error_code error;
  for (fs::recursive_directory_iterator
           it(s.dir(), fs::directory_options::skip_permission_denied, error),
       end;
       it != end; it.increment(error)) {
    if (error) break;
    EXPECT_FALSE(contains(it->path().filename().string(), ".partial-"))
        << context << ": temporary left behind: " << it->path();
  }
}

// The files of an earlier run, kept to prove that a later run left them alone.
class Earlier {
 public:
  Earlier(const Session& s, const std::vector<std::string>& names) : s_(s) {
    for (const std::string& name : names) {
      EXPECT_TRUE(s.exists(name)) << name;
      files_[name] = s.read(name);
    }
  }

  void expectUntouched(const std::string& context) const {
    for (const auto& [name, bytes] : files_) {
      EXPECT_TRUE(s_.exists(name)) << context << ": " << name << " was removed";
      EXPECT_TRUE(s_.read(name) == bytes) << context << ": " << name << " was changed";
    }
    expectNoPartials(s_, context);
  }

  const std::string& bytes(const std::string& name) const { return files_.at(name); }

 private:
  const Session& s_;
  std::map<std::string, std::string> files_;
};

// Renders the good session and keeps its outputs.
Earlier goodRender(Session& s) {
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.1 sine 440 gain -6");
  s.write("tracks.txt", kTracks);
  s.write("faders.txt", kFaders);
  s.write("prefs.txt", kPrefs);
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(s.read("song.wav").size(), kSongBytes);
  return Earlier(s, {"song.wav", "stats_song.txt", "faders_song.txt"});
}

// The run fails with `status` and `message`, and the earlier outputs survive.
void expectRefused(const Earlier& earlier, const RunResult& r, int status,
                   const std::string& message, const std::string& context) {
  EXPECT_EQ(r.status, status) << context << "\n" << shown(r.out);
  EXPECT_TRUE(contains(r.out, message)) << context << "\nexpected: " << shown(message) << "\n"
                                        << shown(r.out);
  earlier.expectUntouched(context);
}

// The run succeeds and renders exactly the earlier song.wav.
void expectSameSong(const Session& s, const Earlier& earlier, const RunResult& r,
                    const std::string& context) {
  EXPECT_EQ(r.status, 0) << context << "\n" << shown(r.out);
  EXPECT_TRUE(s.read("song.wav") == earlier.bytes("song.wav"))
      << context << ": the mix differs from the plain render";
  expectNoPartials(s, context);
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
  const std::uint64_t align =
      static_cast<std::uint64_t>(bits / 8) * static_cast<std::uint64_t>(channels);
  return chunk("fmt ", le(static_cast<std::uint64_t>(tag), 2) +
                           le(static_cast<std::uint64_t>(channels), 2) + le(rate, 4) +
                           le(rate * align, 4) + le(align, 2) +
                           le(static_cast<std::uint64_t>(bits), 2));
}

std::string riff(const std::string& body) {
  return "RIFF" + le(body.size() + 4, 4) + "WAVE" + body;
}

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

// A JUNK chunk that places the next identifier at file position `at`, when
// the chunk itself starts at `from`.
std::string junkUpTo(std::size_t from, std::size_t at) {
  return chunk("JUNK", std::string(at - from - 8, '\0'));
}

enum class Outcome {
  kUnused,  // the source is refused; the mix is the plain render
  kSilent,  // the source is accepted but adds nothing
  kPlays,   // the source plays like `equivalent`
};

struct WaveCase {
  std::string name;
  std::string bytes;
  std::string message;  // empty: nothing may be said about b.wav
  Outcome outcome;
  std::string equivalent = {};  // kPlays: a sound file with the same samples
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const WaveCase& c, std::ostream* os) { *os << c.name; }

// Without frames of its own a source alone leaves no song to render.
bool holdsNoFrames(const WaveCase& c) {
  return c.outcome != Outcome::kPlays && c.name != "three channels";
}

std::vector<WaveCase> waveCases() {
  const std::string data = frames24(480);
  const std::string header = "RIFF" + le(36 + data.size(), 4) + "WAVE" + fmtChunk(1, 2, 48000, 24);
  const std::string notPcm =
      "b.wav is not a 32 float, 24 bit pcm, or 16 bit pcm file and cannot be used\n";
  const std::string noFormat = "Can't find format chunk in wave file!\n";
  const std::string noData = "Cannot find data block in file b.wav!\n";
  std::vector<WaveCase> cases = {
      {"empty file", "", noFormat, Outcome::kUnused},
      {"RIFF header only", "RIFF" + le(4, 4) + "WAVE", noFormat, Outcome::kUnused},
      {"cut inside fmt", ("RIFF" + le(100, 4) + "WAVE" + fmtChunk(1, 2, 48000, 24)).substr(0, 26),
       notPcm, Outcome::kUnused},
      {"fmt identifier as the last bytes", "RIFF" + le(7, 4) + "WAVEfmt", notPcm, Outcome::kUnused},
      {"data identifier as the last bytes", header + "data", "", Outcome::kSilent},
      {"header without samples", header + "data" + le(0, 4), "", Outcome::kSilent},
      {"header promising samples it lacks", header + "data" + le(6000, 4), "", Outcome::kSilent},
      {"fmt beyond 128 KiB",
       riff(junkUpTo(12, 131074) + fmtChunk(1, 2, 48000, 24) + chunk("data", data)), noFormat,
       Outcome::kUnused},
      {"data beyond 128 KiB",
       riff(fmtChunk(1, 2, 48000, 24) + junkUpTo(36, 131074) + chunk("data", data)), noData,
       Outcome::kUnused},
      {"fmt at odd offset",
       riff(chunk("JUNK", "abc") + fmtChunk(1, 2, 48000, 24) + chunk("data", data)), noFormat,
       Outcome::kUnused},
      {"data at odd offset",
       riff(fmtChunk(1, 2, 48000, 24) + chunk("JUNK", "a") + chunk("data", data)), noData,
       Outcome::kUnused},
      {"no channels", riff(fmtChunk(1, 0, 48000, 24) + chunk("data", data)),
       "b.wav has no channels or no sample bytes and cannot be used\n", Outcome::kUnused},
      {"three channels", riff(fmtChunk(1, 3, 48000, 24) + chunk("data", data)), "",
       Outcome::kSilent},
      {"65535 channels", riff(fmtChunk(1, 65535, 48000, 24) + chunk("data", data)), "",
       Outcome::kSilent},
      {"8-bit", riff(fmtChunk(1, 2, 48000, 8) + chunk("data", data)), notPcm, Outcome::kUnused},
      {"12-bit", riff(fmtChunk(1, 2, 48000, 12) + chunk("data", data)), notPcm, Outcome::kUnused},
      {"20-bit", riff(fmtChunk(1, 2, 48000, 20) + chunk("data", data)), notPcm, Outcome::kUnused},
      {"0-bit", riff(fmtChunk(1, 2, 48000, 0) + chunk("data", data)), notPcm, Outcome::kUnused},
      {"32-bit integer", riff(fmtChunk(1, 2, 48000, 32) + chunk("data", data)),
       "\nb.wav is not a 32 bit floating point format\n", Outcome::kUnused},
      {"64-bit float", riff(fmtChunk(3, 2, 48000, 64) + chunk("data", data)), notPcm,
       Outcome::kUnused},
      {"data size 0xFFFFFFFF", header + "data" + le(0xFFFFFFFFu, 4) + data, "", Outcome::kPlays,
       canonical24(data)},
      {"cut in the middle of a frame",
       (header + "data" + le(data.size(), 4) + data).substr(0, 44 + 100 * 6 + 4), "",
       Outcome::kPlays, canonical24(data.substr(0, 100 * 6))},
  };
  // "data" first and "fmt" exactly at the last searched position still count.
  const std::string dataFirst = chunk("data", data);
  cases.push_back(
      {"fmt at the last searched position",
       riff(dataFirst + junkUpTo(12 + dataFirst.size(), 131072) + fmtChunk(1, 2, 48000, 24)), "",
       Outcome::kPlays, canonical24(data)});
  return cases;
}

class BadWave : public ::testing::TestWithParam<WaveCase> {};

TEST_P(BadWave, ReportedAndTheMixGoesOn) {
  const WaveCase& c = GetParam();
  Session s;
  const Earlier plain = goodRender(s);
  s.write("b.wav", c.bytes);
  s.write("tracks.txt", "begin\nkick a.wav +\nbad b.wav +\nend\n");
  RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  if (c.message.empty()) {
    EXPECT_FALSE(contains(r.out, "b.wav")) << r.out;
  } else {
    EXPECT_TRUE(contains(r.out, c.message)) << r.out;
  }
  EXPECT_EQ(s.read("song.wav").size(), kSongBytes) << "the good source sets the song length";
  expectNoPartials(s, c.name);
  if (c.outcome != Outcome::kPlays) {
    EXPECT_TRUE(s.read("song.wav") == plain.bytes("song.wav")) << "channel 2 must stay silent";
  } else {
    const std::string damaged = s.read("song.wav");
    s.write("b.wav", c.equivalent);
    EXPECT_EQ(runBounded(s).status, 0);
    EXPECT_TRUE(damaged == s.read("song.wav")) << "plays unlike its sound equivalent";
    EXPECT_FALSE(damaged == plain.bytes("song.wav")) << "channel 2 should be heard";
  }
  if (!holdsNoFrames(c)) return;

  const Earlier before(s, {"song.wav", "stats_song.txt", "faders_song.txt"});
  s.write("tracks.txt", "begin\nbad b.wav +\nend\n");
  r = runBounded(s);
  expectRefused(before, r, 2, "Head or tail set incorrectly in preferences!\n", "alone");
}

std::string caseName(const ::testing::TestParamInfo<WaveCase>& info) {
  std::string name = info.param.name;
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(DamagedSource, BadWave, ::testing::ValuesIn(waveCases()), caseName);

TEST(BadWaveFile, SourceThatIsADirectory) {
  Session s;
  const Earlier earlier = goodRender(s);
  fs::create_directory(s.path("b.wav"));
  s.write("tracks.txt", "begin\nkick a.wav +\nbad b.wav +\nend\n");
  const RunResult r = runBounded(s);
  EXPECT_TRUE(contains(r.out, "Cannot find file in track list called b.wav!!\n")) << r.out;
  expectSameSong(s, earlier, r, "directory");
}

TEST(BadWaveFile, UnreadableSource) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads a file of mode 000";
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("b.wav", canonical24(frames24(480)));
  fs::permissions(s.path("b.wav"), fs::perms::none);
  s.write("tracks.txt", "begin\nkick a.wav +\nbad b.wav +\nend\n");
  const RunResult r = runBounded(s);
  EXPECT_TRUE(contains(r.out, "Cannot find file in track list called b.wav!!\n")) << r.out;
  expectSameSong(s, earlier, r, "unreadable");
}

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
  s.write("tracks.txt", "begin\nf f.wav +\nend\n");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n");
  s.write("prefs.txt", kPrefs);
  const RunResult r = runBounded(s);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(contains(r.out, "nan") || contains(r.out, "inf")) << r.out;
  const std::string wav = s.read("song.wav");
  ASSERT_EQ(wav.size(), 44u + 4u * 6u);
  const std::int32_t expected[] = {0, 8388607, -8388608, 2097152, -2097152, 0, 8388607, -8388608};
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(sample24(wav, 44 + 3 * i), expected[i]) << i;
}

// The rate is not checked; it only scales times, so any value must render.
TEST(BadWaveFile, AbsurdSampleRatesStillRender) {
  for (const std::uint32_t rate : {0u, 1u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(rate);
    Session s;
    s.write("r.wav", riff(fmtChunk(1, 2, rate, 24) + chunk("data", frames24(480))));
    s.write("tracks.txt", "begin\nr r.wav +\nend\n");
    s.write("faders.txt", kFaders);
    s.write("prefs.txt", kPrefs);
    const RunResult r = runBounded(s);
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string wav = s.read("song.wav");
    ASSERT_EQ(wav.size(), 44u + 480u * 6u);
    EXPECT_EQ(le32(wav, 24), rate);
    EXPECT_FALSE(contains(r.out, "nan")) << r.out;
  }
}

// ---------------------------------------------------------------------------
// Text files.

TEST(BadText, EmptyTracksFile) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("tracks.txt", "");
  expectRefused(earlier, runBounded(s), 2, "Head or tail set incorrectly in preferences!\n",
                "empty tracks file");
}

// No mix name and no fader move: a silent ".wav".
TEST(BadText, EmptyFaderFile) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("faders.txt", "");
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "No time entries found!\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "Done!  Created the file: .wav\n")) << r.out;
  const std::string silent = s.read(".wav");
  ASSERT_EQ(silent.size(), kSongBytes);
  EXPECT_EQ(silent.find_first_not_of('\0', 44), std::string::npos);
  earlier.expectUntouched("empty fader file");
}

TEST(BadText, EmptyPreferencesFile) {
  Session s;
  goodRender(s);
  s.write("prefs.txt", "");
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "Preview mode not specified.\n")) << r.out;
  EXPECT_EQ(s.read("song.wav").size(), kSongBytes);
  expectNoPartials(s, "empty preferences");
}

TEST(BadText, FilesWithoutBeginOrEnd) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("tracks.txt", "kick a.wav +\nbad b.wav -\n");
  s.write("faders.txt", "song\nt\t0\t0\t0\nv\t1\t0\n");
  s.write("prefs.txt", "pre\toff\ndither\t0\n");
  expectSameSong(s, earlier, runBounded(s), "no begin, no end");

  // "begin" as the very last bytes leaves an empty section.
  s.write("faders.txt", "song\nt\t0\t0\t0\nv\t1\t0\nbegin");
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "No time entries found!\n")) << r.out;
  expectNoPartials(s, "begin without a line end");
}

// A zero byte ends what the readers see, in every file.
TEST(BadText, NulBytesEndTheText) {
  Session s;
  const Earlier earlier = goodRender(s);
  using namespace std::string_literals;
  s.write("tracks.txt", "begin\nkick a.wav +\n\0bad b.wav +\nend\n"s);
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\n\0v\t1\t-20\nt\t9\t0\t0\nend\n"s);
  s.write("prefs.txt", "begin\npre\toff\ndither\t0\n\0xin\t9\t0\t0\nend\n"s);
  const RunResult r = runBounded(s);
  EXPECT_FALSE(contains(r.out, "Cannot find file")) << r.out;
  expectSameSong(s, earlier, r, "NUL bytes");
}

// Junk lines are skipped; a number of a million digits is just too loud.
TEST(BadText, MegabyteJunkLinesAndNumber) {
  Session s;
  goodRender(s);
  const std::string mega(1 << 20, 'x');
  s.write("faders.txt",
          "begin\nsong\n" + mega + "\nt\t0\t0\t0\nv\t1\t1" + std::string(1 << 20, '0') + "\nend\n");
  s.write("prefs.txt", prefsWith(mega + "\tx\n"));
  s.write("tracks.txt", std::string(kTracks) + mega + "\n");
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << shown(r.out);
  EXPECT_EQ(occurrences(r.out, ">> Warning: fader 1 (entry 1) set above 12.02 dB\n"), 1u)
      << shown(r.out);
  EXPECT_EQ(s.read("song.wav").size(), kSongBytes);
  expectNoPartials(s, "1 MB lines");
}

TEST(BadText, MegabyteChannelNumber) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("faders.txt",
          "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nv\t" + std::string(1 << 20, '9') + "\t0\nend\n");
  const RunResult r = runBounded(s);
  EXPECT_TRUE(contains(r.out, ">>Channel number out of range or not specified!\n")) << shown(r.out);
  expectSameSong(s, earlier, r, "1 MB channel number");
}

TEST(BadText, MegabyteTrackName) {
  Session s;
  const Earlier earlier = goodRender(s);
  const std::string mega(1 << 20, 'y');
  s.write("tracks.txt", "begin\nkick a.wav +\nbad " + mega + " +\nend\n");
  const RunResult r = runBounded(s);
  EXPECT_TRUE(contains(r.out, "Cannot find file in track list called " + mega + "!!\n"))
      << shown(r.out);
  expectSameSong(s, earlier, r, "1 MB track name");
}

TEST(BadText, MegabyteOutputName) {
  Session s;
  const Earlier earlier = goodRender(s);
  const std::string mega(1 << 20, 'x');
  s.write("prefs.txt", prefsWith("oname\t" + mega + "\n"));
  expectRefused(earlier, runBounded(s), 3,
                "Error: cannot write " + mega + ".wav: File name too long\n", "1 MB output name");
}

TEST(BadText, TenThousandEntriesForOneFader) {
  Session s;
  goodRender(s);
  // The ramps lie after the start, where ramps are allowed.
  std::string faders = "begin\nsong\nVCA:\t1\t1\nt\t0\t0\t0\nv\t1\t0\nvca\t1\t0\nt\t0\t0\t50\n";
  for (int i = 0; i < 10000; ++i) faders += "v\t1\t-1\nvca\t1\t-1\nrmp\t0.001\n";
  s.write("faders.txt", faders + "end\n");
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << shown(r.out);
  EXPECT_EQ(occurrences(r.out,
                        ">> Warning: fader 1 has more than 512 entries; "
                        "the extra entries are ignored.\n"),
            1u)
      << shown(r.out);
  EXPECT_EQ(occurrences(r.out,
                        ">> Warning: vca 1 has more than 512 entries; "
                        "the extra entries are ignored.\n"),
            1u)
      << shown(r.out);
  EXPECT_EQ(s.read("song.wav").size(), kSongBytes);
  expectNoPartials(s, "10 000 entries");
}

TEST(BadText, TwoHundredTempoSegments) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("prefs.txt", prefsWith("tempo\n"));
  std::string faders = "begin\nsong\nt\t1\t1\t0\nv\t1\t0\n";
  for (int i = 0; i < 200; ++i) faders += "tmap\t120\t4\t1\n";
  s.write("faders.txt", faders + "end\n");
  const RunResult r = runBounded(s);
  EXPECT_EQ(occurrences(r.out,
                        ">> Warning: tempo map has more than 128 entries; "
                        "the extra entries are ignored.\n"),
            1u)
      << r.out;
  expectSameSong(s, earlier, r, "200 tempo segments");
}

TEST(BadText, TemposThatAreNotAboveZero) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("prefs.txt", prefsWith("tempo\n"));
  for (const char* tempo : {"0", "-120", "abc", "1e-400"}) {
    s.write("faders.txt", std::string("begin\nsong\ntmap\t120\t4\t1\ntmap\t") + tempo +
                              "\t4\t1\nt\t1\t1\t0\nv\t1\t0\nend\n");
    expectRefused(earlier, runBounded(s), 2,
                  "Error:  Tempo must be above zero in tempo map entry 2\n", tempo);
  }
  // A "tmap" whose fields are cut off by the end of the file.
  s.write("faders.txt", "begin\nsong\nt\t1\t1\t0\nv\t1\t0\ntmap");
  expectRefused(earlier, runBounded(s), 2,
                "Error:  Tempo must be above zero in tempo map entry 1\n", "tmap at the end");
}

// Every reader that takes a channel, bus or VCA number refuses what lies
// outside its table with a message, and the mix is unchanged.
TEST(BadText, ChannelNumbersOutOfRange) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("faders.txt",
          "begin\nsong\ntstamp\t99999999999\t0\t1\t0\nsstamp\t-5\t100\n"
          "sub\t1\t-5,99999999999\nsub\t99999999999\t1\nVCA:\t1\t99999999999\n"
          "VCA:\t-5\t1\nt\t0\t0\t0\nv\t1\t0\nv\t99999999999\t0\nv\t-5\t0\n"
          "v\tG\t99999999999\t0\nvca\t99999999999\t0\np\t99999999999\t50\npol\t-5\t-1\n"
          "trim\t-5\t-6\nfxg\t99999999999\t6\ncomp\t-5\t-10\t1\t10\t2\n"
          "dp\t-5\t50\ndp\t99999999999\t50\no\tcomp\t99999999999\t1\nend\n");
  const RunResult r = runBounded(s);
  const char* messages[] = {
      ">> Warning: tstamp for channel 99999999999 is out of range and is ignored.\n",
      ">> Warning: sstamp for channel -5 is out of range and is ignored.\n",
      "Submix number out of range!\n",
      "Channel assigned to VCA 1 is out of range!\n",
      "VCA fader out of range!\n",
      ">> Warning: delay pan channel -5 is out of range and is ignored.\n",
      ">> Warning: delay pan channel 2147483647 is out of range and is ignored.\n",
  };
  for (const char* m : messages) EXPECT_TRUE(contains(r.out, m)) << m << "\n" << r.out;
  EXPECT_EQ(occurrences(r.out, "Channel assigned to sub 1 is out of range!\n"), 2u) << r.out;
  // v three times, p, pol, trim, fxg and comp: each folded once.
  EXPECT_EQ(occurrences(r.out, ">>Channel number out of range or not specified!\n"), 8u) << r.out;
  expectSameSong(s, earlier, r, "channel numbers");
}

TEST(BadText, HugeLevelsRampsAndIncrements) {
  Session s;
  goodRender(s);
  const std::string head = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\n";
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t1e308\nend\n");
  RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, ">> Warning: fader 1 (entry 1) set above 12.02 dB\n")) << r.out;

  s.write("faders.txt", head + "t\t0\t0\t50\nv\t1\t-6\nrmp\t1e308\nend\n");
  r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "Adjusted volume ramp that exceeded song length (channel 1)\n"))
      << r.out;

  // Entries pushed out of reach by "inc" are never played.
  s.write("faders.txt", head + "inc\t1e308\nv\t1\t-40\nt\t0\t0\t0\ninc\t-1e308\nv\t1\t-40\nend\n");
  r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(s.read("song.wav").size(), kSongBytes);
  expectNoPartials(s, "huge levels, ramps and increments");
}

TEST(BadText, HugeTimeEntries) {
  Session s;
  const Earlier earlier = goodRender(s);
  const std::string head = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\n";
  s.write("faders.txt", head + "t\t0\t1e308\t0\nend\n");
  expectRefused(earlier, runBounded(s), 2, "Error:  Time entry 2 exceeds song length\n",
                "time 1e308");
  s.write("faders.txt", head + "t\t-1e308\t0\t0\nend\n");
  expectRefused(earlier, runBounded(s), 2, "Error:  Time entry 2 is less than zero\n",
                "time -1e308");
  s.write("faders.txt", head + "t\t0\t0\t99999999999999999999999\nend\n");
  expectRefused(earlier, runBounded(s), 2, "Error:  Time entry 2 exceeds song length\n",
                "23-digit milliseconds");
}

TEST(BadText, HugePreferenceValuesThatAreIgnored) {
  Session s;
  goodRender(s);
  s.write("prefs.txt", prefsWith("head\t1e308\ntail\t-1e308\nseed\t-1e308\nverbo\t99999999999\n"
                                 "outbits\t1e308\ndbps\t1e308\npan\t-1e308\nmono\t1e308\n"
                                 "tfields\t-99999999999\nsfields\t1e308\n"));
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string wav = s.read("song.wav");
  ASSERT_EQ(wav.size(), 44u + kSongFrames * 3u) << "mono, 24-bit";
  EXPECT_EQ(static_cast<unsigned char>(wav[22]), 1u) << "one channel";
  EXPECT_EQ(static_cast<unsigned char>(wav[34]), 24u) << "24 bits";
  expectNoPartials(s, "ignored extremes");
}

struct PrefsCase {
  const char* name;
  const char* lines;
  const char* message;
};

void expectPrefsRefused(const PrefsCase* begin, const PrefsCase* end) {
  Session s;
  const Earlier earlier = goodRender(s);
  for (const PrefsCase* c = begin; c != end; ++c) {
    s.write("prefs.txt", std::string("begin\ndither\t0\n") + c->lines + "end\n");
    expectRefused(earlier, runBounded(s), 2, c->message, c->name);
  }
}

TEST(BadText, HugePreviewTimes) {
  const PrefsCase cases[] = {
      {"preview start 1e308", "pre\ton\nstart\t0\t1e308\t0\n",
       "Error: Preview start time in preferences file exceeds song length\n"},
      {"preview start -1e308", "pre\ton\nstart\t-1e308\t0\t0\n",
       "Error: Preview start time in preferences is less than zero.\n"},
      {"preview length -1e308", "pre\ton\nlength\t-1e308\n",
       "Head or tail set incorrectly in preferences!\n"},
  };
  expectPrefsRefused(std::begin(cases), std::end(cases));
}

TEST(BadText, HugeInOutPointsAndOffsets) {
  const PrefsCase cases[] = {
      {"xin 1e308", "xin\t0\t1e308\t0\n", "Head or tail set incorrectly in preferences!\n"},
      {"xout -1e308", "xout\t0\t-1e308\t0\n", "Head or tail set incorrectly in preferences!\n"},
      {"offset 1e308", "offset\t0\t1e308\t0\n", "Error:  Time entry 1 exceeds song length\n"},
      {"offset -1e308", "offset\t-1e308\t0\t0\n", "Error:  Time entry 1 is less than zero\n"},
  };
  expectPrefsRefused(std::begin(cases), std::end(cases));
}

// Effect values at the ends of the number range are clamped.
TEST(BadText, ExtremeEffectSettingsAreClamped) {
  Session s;
  goodRender(s);
  const std::string head = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\n";
  // One file per group: the strips, the reverb sends and returns, the
  // master-fed tap reverb.
  const char* strips =
      "comp\t1\t1e308\t1e308\t1e308\t1e308\nrms\t1\t-1e308\t-1e308\t-1e308\t-1e308\n"
      "nlc\t1\t-10\t1e308\t4\nnlc\tM\t-10\t-1e308\t1e308\nlim\t1\t-1e308\n"
      "hp\t1\t1e308\nband1\t1\t1e308\t1e308\t1e308\nhshelf\t1\t-1e308\t-1e308\t-1e308\n"
      "lshelf\tG\t1\t0\t0\t0\nband4\tM\t-1\t-1e308\t1e-308\nfxg\t1\t1e308\nfxg\tM\t-1e308\n"
      "o\tcomp\t1\t99999999999\no\thp\t1\t-99999999999\n";
  const char* reverbs =
      "rtn\t1e308\t75\nrev\t1\t1e308\nwidth\t1e308\npos\t1e308\t-1e308\t50\n"
      "rhp\t1e308\nrlp\t-1e308\ntrtn\t-1e308\t75\t99999999999\ntrev\t1\t-1e308\n";
  const char* masterFed = "trtn\t0\t75\t-99999999999\ntrev\tM\t0\n";
  const char* files[] = {strips, reverbs, masterFed};
  for (const char* lines : files) {
    s.write("faders.txt", head + lines + "end\n");
    const RunResult r = runBounded(s);
    EXPECT_EQ(r.status, 0) << lines << "\n" << r.out;
    EXPECT_FALSE(contains(r.out, "nan")) << lines << "\n" << r.out;
    EXPECT_EQ(s.read("song.wav").size(), kSongBytes) << lines;
    expectNoPartials(s, lines);
  }
}

TEST(BadText, ImpossibleReverbRooms) {
  Session s;
  const Earlier earlier = goodRender(s);
  const std::string head = "begin\nsong\nt\t0\t0\t0\nv\t1\t0\n";
  struct Case {
    const char* lines;
    const char* message;
  };
  const Case cases[] = {
      {"rtn\t0\t1e308\nrev\t1\t0", "Please reduce room size in reverb!\n"},
      {"rtn\t0\t-1e308\nrev\t1\t0", "Illegal value for reverb room size\n"},
      {"trtn\t0\t1e308\t3\ntrev\t1\t0",
       ">>> Error: A tap reverb dimension has exceeded the limit\n"},
      {"trtn\t0\t-1e308\t3\ntrev\t1\t0", ">>> Error:  Illegal value for tap reverb room size\n"},
  };
  for (const Case& c : cases) {
    s.write("faders.txt", head + c.lines + "\nend\n");
    expectRefused(earlier, runBounded(s), 1, c.message, c.lines);
  }
}

// An entry cut off by the end of the file reads its missing fields as 0.
TEST(BadText, FaderEntriesCutShortByTheEndOfTheFile) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1");
  expectSameSong(s, earlier, runBounded(s), "v without its level");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nt");
  const RunResult r = runBounded(s);
  EXPECT_TRUE(contains(r.out, "Counted 2 time entries.\n")) << r.out;
  expectSameSong(s, earlier, r, "t without its fields");
}

TEST(BadText, TrackLineCutShortByTheEndOfTheFile) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("tracks.txt", "begin\nkick a.wav +\nbad");
  const RunResult r = runBounded(s);
  EXPECT_TRUE(contains(r.out, "Counted 2 tracks\n")) << r.out;
  expectSameSong(s, earlier, r, "track line without its mark");
}

TEST(BadText, PreferenceLinesCutShortByTheEndOfTheFile) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("prefs.txt", std::string(kPrefsBody) + "head");
  expectSameSong(s, earlier, runBounded(s), "head without its value");
  s.write("prefs.txt", "begin\npre\toff\ndither");
  expectSameSong(s, earlier, runBounded(s), "dither without its level");
}

TEST(BadText, NonAsciiBytes) {
  Session s;
  const Earlier earlier = goodRender(s);
  const std::string junk = "\x80\x81\xfe\xff\t\xc3\xa9t\xc0\t\xef\xbb\xbf\n";
  s.write("tracks.txt", junk + "begin\nkick a.wav +\nend\n");
  s.write("faders.txt",
          "begin\ns\xc3\xb8ng\xff\n" + junk + "t\t0\t0\t0\nv\t1\t0\n" + junk + "end\n");
  s.write("prefs.txt", prefsWith(junk));
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(s.exists("s\xc3\xb8ng\xff.wav")) << r.out;
  EXPECT_TRUE(s.read("s\xc3\xb8ng\xff.wav") == earlier.bytes("song.wav"));
  earlier.expectUntouched("non-ASCII");
}

// Names reach the messages as data, never as formats.
TEST(BadText, PercentSignsInNames) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("tracks.txt", "begin\nkick a.wav +\nbad %s%n%x.wav +\nend\n");
  s.write("prefs.txt", prefsWith("oname\t%n%s%d\n"));
  const RunResult r = runBounded(s);
  EXPECT_TRUE(contains(r.out, "Cannot find file in track list called %s%n%x.wav!!\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "Done!  Created the file: %n%s%d.wav\n")) << r.out;
  EXPECT_TRUE(s.read("%n%s%d.wav") == earlier.bytes("song.wav"));
  EXPECT_TRUE(s.exists("stats_%n%s%d.txt"));
  earlier.expectUntouched("percent signs");
}

TEST(BadText, FaderFileThatIsADirectory) {
  Session s;
  const Earlier earlier = goodRender(s);
  fs::remove(s.path("faders.txt"));
  fs::create_directory(s.path("faders.txt"));
  expectRefused(earlier, runBounded(s, "", ""), 1,
                "faders.txt file was not found\nEnter the default fader value or -999 to exit.\n"
                "No default fader value was given.\n",
                "no answer");
  const RunResult r = runBounded(s, "", "0\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out,
                       "faders.txt already exists and was left unchanged; "
                       "using the default text for this run.\n"))
      << r.out;
  EXPECT_TRUE(fs::is_directory(s.path("faders.txt")));
  EXPECT_EQ(s.read("test_mix.wav").size(), kSongBytes);
  earlier.expectUntouched("answered");
}

TEST(BadText, TracksAndPreferencesThatAreDirectories) {
  Session s;
  const Earlier earlier = goodRender(s);
  fs::rename(s.path("tracks.txt"), s.path("tracks.keep"));
  fs::create_directory(s.path("tracks.txt"));
  expectRefused(earlier, runBounded(s), 2,
                "tracks.txt file was not found.\nCreate the file and run again.\nExiting...\n",
                "tracks file is a directory");
  fs::remove(s.path("tracks.txt"));
  fs::rename(s.path("tracks.keep"), s.path("tracks.txt"));

  fs::remove(s.path("prefs.txt"));
  fs::create_directory(s.path("prefs.txt"));
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out,
                       "\nWarning: prefs.txt file was not found...\nprefs.txt already "
                       "exists and was left unchanged"))
      << r.out;
  EXPECT_FALSE(contains(r.out, "created one for you")) << "nothing was created";
  EXPECT_TRUE(fs::is_directory(s.path("prefs.txt")));
  EXPECT_EQ(s.read("song.wav").size(), kSongBytes);
  expectNoPartials(s, "preferences file is a directory");
}

TEST(BadText, MoreThan127Tracks) {
  Session s;
  goodRender(s);
  std::string tracks = "begin\n";
  for (int i = 1; i <= 200; ++i) tracks += "t" + std::to_string(i) + " a.wav +\n";
  s.write("tracks.txt", tracks + "end\n");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t-60\nv\t127\t-60\nend\n");
  s.write("prefs.txt", prefsWith("verbo\t1\n"));
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out,
                       ">> Warning: the tracks file lists 200 tracks; only the first 127 "
                       "are used.\n"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "Ch 127\tL")) << r.out;
  EXPECT_FALSE(contains(r.out, "Ch 128\t")) << r.out;
  EXPECT_EQ(s.read("song.wav").size(), kSongBytes);
  expectNoPartials(s, "200 tracks");
}

// ---------------------------------------------------------------------------
// Runtime: where the outputs go.

TEST(BadRuntime, MissingOutputFolder) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("prefs.txt", prefsWith("mixdir\tnowhere/\n"));
  expectRefused(earlier, runBounded(s), 3,
                "Error: cannot write nowhere/song.wav: No such file or directory\n",
                "missing mix folder");
}

// Root writes into read-only folders, but not below a plain file.
TEST(BadRuntime, OutputFolderThatIsAFile) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("plain.txt", "a file, not a folder");
  s.write("prefs.txt", prefsWith("mixdir\tplain.txt/\n"));
  expectRefused(earlier, runBounded(s), 3,
                "Error: cannot write plain.txt/song.wav: Not a directory\n", "parent is a file");
}

TEST(BadRuntime, ReadOnlyOutputFolder) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into a read-only folder";
  Session s;
  const Earlier earlier = goodRender(s);
  fs::create_directory(s.path("ro"));
  fs::permissions(s.path("ro"), fs::perms::owner_read | fs::perms::owner_exec);
  s.write("prefs.txt", prefsWith("mixdir\tro/\n"));
  expectRefused(earlier, runBounded(s), 3, "Error: cannot write ro/song.wav: Permission denied\n",
                "read-only folder");
  fs::permissions(s.path("ro"), fs::perms::owner_all);
}

// The mix is complete before the reports are written; only they fail.
TEST(BadRuntime, MissingReportFolder) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("prefs.txt", prefsWith("bakdir\tnowhere/\n"));
  expectRefused(earlier, runBounded(s), 3,
                "Error: cannot write nowhere/stats_song.txt: No such file or directory\n",
                "missing report folder");
}

TEST(BadRuntime, OutputNameTakenByADirectory) {
  Session s;
  const Earlier earlier = goodRender(s);
  fs::create_directories(s.path("taken.wav/inside"));
  s.write("prefs.txt", prefsWith("oname\ttaken\n"));
  expectRefused(earlier, runBounded(s), 3, "Error: cannot write taken.wav: Is a directory\n",
                "output name is a directory");
  EXPECT_TRUE(fs::is_directory(s.path("taken.wav/inside")));
}

TEST(BadRuntime, OutputThatIsALinkToASource) {
  Session s;
  const Earlier earlier = goodRender(s);
  fs::create_symlink("a.wav", s.path("link.wav"));
  const Earlier source(s, {"a.wav"});
  s.write("prefs.txt", prefsWith("oname\tlink\n"));
  expectRefused(earlier, runBounded(s), 2, "Error: output file link.wav is also an input\n",
                "symlink to a source");
  source.expectUntouched("symlink to a source");
  EXPECT_TRUE(fs::is_symlink(s.path("link.wav")));
}

// Mixing an earlier mix again must not overwrite it while reading it.
TEST(BadRuntime, EarlierMixListedAsASource) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("tracks.txt", "begin\nkick a.wav +\nagain song.wav +\nend\n");
  expectRefused(earlier, runBounded(s), 2, "Error: output file song.wav is also an input\n",
                "earlier mix as a source");
}

// The mix is committed before the tap file; only the tap fails.
TEST(BadRuntime, TapFileNameTakenByADirectory) {
  Session s;
  const Earlier earlier = goodRender(s);
  fs::create_directories(s.path("revTap.wav/inside"));
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nrtn\t0\t75\nrev\t1\t0\nend\n");
  s.write("prefs.txt", prefsWith("tap\trev\n"));
  const RunResult r = runBounded(s);
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(contains(r.out, "Error: cannot write revTap.wav: Is a directory\n")) << r.out;
  EXPECT_TRUE(fs::is_directory(s.path("revTap.wav/inside")));
  EXPECT_EQ(s.read("song.wav").size(), kSongBytes);
  const Earlier reports(s, {"stats_song.txt", "faders_song.txt"});
  EXPECT_TRUE(reports.bytes("stats_song.txt") == earlier.bytes("stats_song.txt"))
      << "no reports for a run that failed";
  expectNoPartials(s, "tap file blocked");
}

// The reports of one run given as the inputs of the next.
TEST(BadRuntime, ReportsThatWouldOverwriteInputs) {
  Session s;
  goodRender(s);
  s.write("stats_song.txt", kTracks);
  const Earlier asTracks(s, {"song.wav", "stats_song.txt", "faders_song.txt"});
  expectRefused(asTracks, runBounded(s, "stats_song.txt"), 2,
                "Error: output file stats_song.txt is also an input\n", "report over tracks");
  s.write("faders_song.txt", kFaders);
  const Earlier asFaders(s, {"song.wav", "stats_song.txt", "faders_song.txt"});
  expectRefused(asFaders, runBounded(s, "tracks.txt faders_song.txt"), 2,
                "Error: output file faders_song.txt is also an input\n", "report over faders");
}

// A small tmpfs stands in for a full disk; mounting needs root.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& dir) : dir_(dir) {
    fs::create_directory(dir_);
    const std::string command = "mount -t tmpfs -o size=64k tmpfs '" + dir_ + "' 2>/dev/null";
    mounted_ = ::geteuid() == 0 && std::system(command.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) {
      [[maybe_unused]] const int ignored = std::system(("umount '" + dir_ + "'").c_str());
    }
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

  // Writes filler until the disk refuses more.
  void fill() const {
    std::FILE* f = std::fopen((dir_ + "/filler").c_str(), "wb");
    if (!f) return;
    const std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    std::fclose(f);
  }

 private:
  std::string dir_;
  bool mounted_ = false;
};

TEST(BadRuntime, FullDiskForTheMix) {
  Session s;
  goodRender(s);
  SmallDisk disk(s.path("full"));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  s.write("full/preview.wav", "an earlier preview");
  const Earlier earlier(s, {"full/preview.wav", "song.wav", "stats_song.txt", "faders_song.txt"});
  // Two seconds of preview, mostly silence after the source: 576 KB for a
  // 64 KB disk, all of it still in the stream buffer until the final flush.
  s.write("prefs.txt", "begin\ndither\t0\npredir\tfull/\npre\ton\nlength\t2\nend\n");
  expectRefused(earlier, runBounded(s), 3,
                "Error: cannot write full/preview.wav: No space left on device\n", "full disk");
}

TEST(BadRuntime, FullDiskForTheReports) {
  Session s;
  goodRender(s);
  SmallDisk disk(s.path("full"));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  s.write("full/stats_song.txt", "earlier statistics");
  s.write("full/faders_song.txt", "earlier fader report");
  disk.fill();
  const Earlier earlier(
      s, {"full/stats_song.txt", "full/faders_song.txt", "stats_song.txt", "faders_song.txt"});
  s.write("prefs.txt", prefsWith("bakdir\tfull/\n"));
  expectRefused(earlier, runBounded(s), 3,
                "Error: cannot write full/stats_song.txt: No space left on device\n",
                "full report disk");
}

TEST(BadRuntime, FailingLaunchCommandsDoNotChangeTheStatus) {
  Session s;
  const Earlier earlier = goodRender(s);
  for (const std::string& command :
       {std::string("exit 7"), std::string("/nonexistent/command"), std::string("kill -9 $$"),
        "echo " + std::string(1 << 20, 'x')}) {
    s.write("prefs.txt", prefsWith("launch\t" + command + "\n"));
    expectSameSong(s, earlier, runBounded(s), command.substr(0, 40));
  }
}

// ---------------------------------------------------------------------------
// Faults found by this suite, written as the runs should behave. They are
// skipped until mended; set SORVAN_KNOWN_FAULTS to run them.

#define SKIP_KNOWN_FAULT(reason) \
  if (!std::getenv("SORVAN_KNOWN_FAULTS")) GTEST_SKIP() << reason

// A render must stay within what a WAVE header can describe, and finish.
void expectRenderRefused(Session& s, const std::string& context) {
  const Earlier before(s, {"song.wav", "stats_song.txt", "faders_song.txt"});
  const RunResult r = runBounded(s, "", "", 5);
  EXPECT_NE(r.status, kTimedOut) << context << ": the render did not finish";
  EXPECT_EQ(r.status, 2) << context << "\n" << r.out;
  before.expectUntouched(context);
  EXPECT_FALSE(s.exists("preview.wav")) << context;
}

TEST(BadFaults, PreviewLengthOf1e308IsRefused) {
  Session s;
  goodRender(s);
  s.write("prefs.txt", "begin\ndither\t0\npre\ton\nlength\t1e308\nend\n");
  expectRenderRefused(s, "preview length 1e308");
}

TEST(BadFaults, OutPointOf1e308IsRefused) {
  Session s;
  goodRender(s);
  s.write("prefs.txt", "begin\ndither\t0\npre\toff\nxfields\t1\nxout\t1e308\nend\n");
  expectRenderRefused(s, "xout 1e308");
}

TEST(BadFaults, SourceThatIsAFifo) {
  Session s;
  const Earlier earlier = goodRender(s);
  ASSERT_EQ(::mkfifo(s.path("b.wav").c_str(), 0644), 0);
  s.write("tracks.txt", "begin\nkick a.wav +\nbad b.wav +\nend\n");
  const RunResult r = runBounded(s, "", "", 5);
  EXPECT_NE(r.status, kTimedOut) << "the run did not finish";
  EXPECT_TRUE(contains(r.out, "Cannot find file in track list called b.wav!!\n")) << r.out;
  expectSameSong(s, earlier, r, "FIFO");
}

// The dialogue writes the answer into faders.txt, so it must be a number the
// fader file's own reader reads back.
TEST(BadFaults, DialogueAnswersThatAreNotNumbers) {
  Session s;
  const Earlier earlier = goodRender(s);
  fs::remove(s.path("faders.txt"));
  for (const char* answer : {"nan\n", "inf\n", "-inf\n"}) {
    expectRefused(earlier, runBounded(s, "", answer), 1, "No default fader value was given.\n",
                  answer);
    EXPECT_FALSE(s.exists("faders.txt")) << answer;
  }
}

// The tap file is committed after the mix; under the same name it replaces
// the mix while the run reports success.
TEST(BadFaults, OutputNamedLikeTheTapFile) {
  Session s;
  const Earlier earlier = goodRender(s);
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nrtn\t0\t75\nrev\t1\t0\nend\n");
  s.write("prefs.txt", prefsWith("tap\trev\noname\trevTap\n"));
  expectRefused(earlier, runBounded(s), 2, "Error: output file revTap.wav",
                "mix named like the tap");
  EXPECT_FALSE(s.exists("revTap.wav"));
}

TEST(BadFaults, TimeStampOf1e308IsRefused) {
  Session s;
  goodRender(s);
  s.write("faders.txt", "begin\nsong\ntstamp\t1\t0\t1e308\t0\nt\t0\t0\t0\nv\t1\t0\nend\n");
  expectRenderRefused(s, "tstamp 1e308");
  s.write("faders.txt", "begin\nsong\nsstamp\t1\t9223372036854775807\nt\t0\t0\t0\nv\t1\t0\nend\n");
  expectRenderRefused(s, "sstamp 2^63-1");
}

}  // namespace
}  // namespace sorvan::e2e
