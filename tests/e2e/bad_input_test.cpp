// Whatever a user or a damaged disk hands Sorvan must end in a clear message
// and a defined exit status, and must leave the outputs of an earlier good run
// exactly as they were. Every case starts from a folder holding such a run;
// runs are bounded in time, so a hang fails its case instead of the suite.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
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
// A case edits the good folder and runs sorvan once.

struct Edit {
  enum Kind {
    kTracks,
    kFaders,
    kPrefs,
    kSource,
    kShell,
    kArguments,
    kAnswer,
    kLimits,
    kAsUser
  } kind;
  std::string text;
};
Edit tracksFile(const std::string& text) { return {Edit::kTracks, text}; }
Edit fadersFile(const std::string& text) { return {Edit::kFaders, text}; }
Edit prefsFile(const std::string& text) { return {Edit::kPrefs, text}; }
// The good fader file or preferences with more lines.
Edit faderLines(const std::string& lines) { return fadersFile(unityFaders(lines)); }
Edit prefLines(const std::string& lines) { return prefsFile(prefsWith(lines)); }
Edit preview(const std::string& lines) { return prefsFile("begin\npre\ton\n" + lines + "end\n"); }
// The bytes of b.wav.
Edit source(const std::string& bytes) { return {Edit::kSource, bytes}; }
Edit shell(const std::string& command) { return {Edit::kShell, command}; }
Edit arguments(const std::string& text) { return {Edit::kArguments, text}; }
Edit answer(const std::string& text) { return {Edit::kAnswer, text}; }
// Shell text run before sorvan in the same process (ulimit, trap).
Edit limits(const std::string& text) { return {Edit::kLimits, text}; }
// Root reads and writes past file modes, so the case needs a plain user.
Edit asUser() { return {Edit::kAsUser, ""}; }

enum class Mix {
  kNothing,     // the folder is left exactly as it was
  kOnlyOutput,  // the folder is left as it was but for `output`
  kSame,        // `output` holds exactly the earlier mix
  kLength,      // `output` holds `bytes` bytes
  kSilent,      // `output` holds `bytes` bytes of silence
  kDoubled,     // b.wav on channel 2 plays the first `bytes` frames of a.wav again
};

struct Said {
  std::string text;
  std::size_t times = 1;  // 0: never said
};

struct Case {
  std::string name;
  std::vector<Edit> edits;
  int status;
  std::vector<Said> says;
  Mix mix = Mix::kNothing;
  std::string output = "song.wav";
  std::size_t bytes = kSongBytes;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// A row of the tables below (a call, so that it wraps compactly).
Case row(std::string name, std::vector<Edit> edits, int status, std::vector<Said> says,
         Mix mix = Mix::kNothing, std::string output = "song.wav", std::size_t bytes = kSongBytes) {
  return {
      std::move(name), std::move(edits), status, std::move(says), mix, std::move(output), bytes};
}

// Damaged sources in channel 2: each is reported (or read as far as it goes)
// and the mix goes on; alone, a source without frames leaves no song.
std::vector<Case> waveCases() {
  const std::string data = frames24(480);
  const std::string header = "RIFF" + le(36 + data.size(), 4) + "WAVE" + fmtChunk(1, 2, 48000, 24);
  const std::string notPcm =
      "b.wav is not a 32 float, 24 bit pcm, or 16 bit pcm file and cannot be used\n";
  const std::string noFormat = "Can't find format chunk in wave file!\n";
  const std::string noData = "Cannot find data block in file b.wav!\n";
  // Sources the header reader accepts but the mix cannot play say so too.
  const std::string silent = "tracks.txt:3: channel 2 plays silence: b.wav is a WAVE file of ";
  const std::string noSamples =
      "24-bit integer PCM, 2 channels, 48000 Hz; it holds no samples (its data chunk is empty or "
      "cut off); export the recording again\n";
  const auto manyChannels = [&](const std::string& count) {
    return silent + "24-bit integer PCM, " + count +
           " channels, 48000 Hz; Sorvan mixes mono and stereo recordings; keep its first two "
           "channels with: sox b.wav b-stereo.wav remix 1 2, then name b-stereo.wav in "
           "tracks.txt\n";
  };
  const auto withFmt = [&](int tag, int channels, int bits) {
    return riff(fmtChunk(tag, channels, 48000, bits) + chunk("data", data));
  };
  const auto unused = [](const std::string& name, const std::string& bytes,
                         const std::string& message) {
    return row(name, {tracksFile(kBadTracks), source(bytes)}, 0, {Said{message}}, Mix::kSame);
  };
  const auto plays = [](const std::string& name, const std::string& bytes, std::size_t frames) {
    return row(name, {tracksFile(kBadTracks), source(bytes)}, 0, {{"b.wav", 0}}, Mix::kDoubled,
               "song.wav", frames);
  };
  const std::string dataFirst = chunk("data", data);
  std::vector<Case> cases = {
      unused("empty file", "", noFormat),
      unused("RIFF header only", "RIFF" + le(4, 4) + "WAVE", noFormat),
      unused("cut inside fmt", (header + "data").substr(0, 26), notPcm),
      unused("fmt identifier as the last bytes", "RIFF" + le(7, 4) + "WAVEfmt", notPcm),
      unused("data identifier as the last bytes", header + "data", silent + noSamples),
      unused("header without samples", header + "data" + le(0, 4), silent + noSamples),
      unused("header promising samples it lacks", header + "data" + le(6000, 4),
             silent + noSamples),
      unused("fmt at odd offset",
             riff(chunk("JUNK", "abc") + fmtChunk(1, 2, 48000, 24) + dataFirst), noFormat),
      unused("data at odd offset", riff(fmtChunk(1, 2, 48000, 24) + chunk("JUNK", "a") + dataFirst),
             noData),
      unused("no channels", withFmt(1, 0, 24),
             "b.wav has no channels or no sample bytes and cannot be used\n"),
      unused("65535 channels", withFmt(1, 65535, 24), manyChannels("65535")),
      unused("0-bit", withFmt(1, 2, 0), notPcm),
  };
  // Alone, a source without frames leaves no song to render.
  for (std::size_t i = 0, n = cases.size(); i < n; ++i)
    cases.push_back(row(cases[i].name + ", alone",
                        {tracksFile("begin\nbad b.wav +\nend\n"), cases[i].edits[1]}, 2,
                        {{"Head or tail set incorrectly in preferences!\n"}}));
  // Files our reader refuses that libsndfile reads: chunks beyond the reach of
  // our search play as they are; other sample sizes play as libsndfile
  // decodes them, and nothing is said about them.
  cases.push_back(plays("fmt beyond 128 KiB",
                        riff(junkUpTo(12, 131074) + fmtChunk(1, 2, 48000, 24) + dataFirst), 480));
  cases.push_back(plays("data beyond 128 KiB",
                        riff(fmtChunk(1, 2, 48000, 24) + junkUpTo(36, 131074) + dataFirst), 480));
  for (const auto& [name, tag, bits] : {std::tuple{"8-bit", 1, 8}, std::tuple{"12-bit", 1, 12},
                                         std::tuple{"20-bit", 1, 20},
                                         std::tuple{"32-bit integer", 1, 32},
                                         std::tuple{"64-bit float", 3, 64}})
    cases.push_back(row(name, {tracksFile(kBadTracks), source(withFmt(tag, 2, bits))}, 0,
                        {{"b.wav", 0}}, Mix::kLength));
  // Three channels hold frames, just none that can be played.
  cases.push_back(unused("three channels", withFmt(1, 3, 24), manyChannels("3")));
  cases.push_back(plays("data size 0xFFFFFFFF", header + "data" + le(0xFFFFFFFFu, 4) + data, 480));
  cases.push_back(plays("cut in the middle of a frame",
                        (header + "data" + le(data.size(), 4) + data).substr(0, 44 + 100 * 6 + 4),
                        100));
  // "data" first and "fmt " exactly at the last searched position still count.
  cases.push_back(plays(
      "fmt at the last searched position",
      riff(dataFirst + junkUpTo(12 + dataFirst.size(), 131072) + fmtChunk(1, 2, 48000, 24)), 480));
  // The rate is not checked; it only scales times, so any value renders.
  for (const std::uint32_t rate : {0u, 1u, 0xFFFFFFFFu})
    cases.push_back(row(
        "rate " + std::to_string(rate),
        {tracksFile("begin\nr b.wav +\nend\n"), source(riff(fmtChunk(1, 2, rate, 24) + dataFirst))},
        0, {{"nan", 0}}, Mix::kLength, "song.wav", 44 + 480 * 6));
  return cases;
}

std::vector<Case> refusedCases() {
  const std::string mega(1 << 20, 'x');
  const std::string headTail = "Head or tail set incorrectly in preferences!\n";
  const std::string beyond = "Error: Preview start time in preferences file exceeds song length\n";
  const std::string below = "Error: Preview start time in preferences is less than zero.\n";
  const std::string tooLong = "Error: a render of 9223372036854775807 frames is too long";
  const std::string entry1Late = "Error:  Time entry 1 exceeds song length\n";
  const std::string entry2Late = "Error:  Time entry 2 exceeds song length\n";
  const std::string tempo = "Error:  Tempo must be above zero in tempo map entry 2\n";
  const auto tempoMap = [](const std::string& bpm) {
    return fadersFile("begin\nsong\ntmap\t120\t4\t1\ntmap\t" + bpm + "\t4\t1\nt\t1\t1\t0\nend\n");
  };
  const std::string badRoom = "Illegal value for reverb room size\n";
  const std::string noTracks = "tracks.txt file was not found.\nCreate the file and run again.\n";
  const std::string prompt =
      "faders.txt file was not found\nEnter the default fader value or -999 to exit.\n";
  const std::string noAnswer = "No default fader value was given.\n";
  const auto isInput = [](const std::string& name) {
    return Said{"Error: output file " + name + " is also an input\n"};
  };
  const auto cannotWrite = [](const std::string& path, const std::string& reason) {
    return Said{"Error: cannot write " + path + ": " + reason + "\n"};
  };
  return {
      // The render range.
      row("preview start beyond the song", {preview("start\t0\t2\t0\n")}, 2, {{beyond}}),
      row("preview start 1e308", {preview("start\t0\t1e308\t0\n")}, 2, {{beyond}}),
      row("preview start below zero", {preview("start\t0\t-1\t0\n")}, 2, {{below}}),
      row("preview start -1e308", {preview("start\t-1e308\t0\t0\n")}, 2, {{below}}),
      row("negative preview length", {preview("length\t-1\n")}, 2, {{headTail}}),
      row("preview length -1e308", {preview("length\t-1e308\n")}, 2, {{headTail}}),
      row("preview length 1e308", {preview("length\t1e308\n")}, 2, {{tooLong}}),
      row("in-point beyond the song", {prefLines("xfields\t1\nxin\t5\n")}, 2, {{headTail}}),
      row("in-point 1e308", {prefLines("xin\t0\t1e308\t0\n")}, 2, {{headTail}}),
      row("out-point -1e308", {prefLines("xout\t0\t-1e308\t0\n")}, 2, {{headTail}}),
      row("out-point 1e308", {prefLines("xfields\t1\nxout\t1e308\n")}, 2, {{tooLong}}),
      row("time stamp 1e308", {faderLines("tstamp\t1\t0\t1e308\t0\n")}, 2, {{tooLong}}),
      row("sample stamp 2^63-1", {faderLines("sstamp\t1\t9223372036854775807\n")}, 2, {{tooLong}}),
      row("empty tracks file", {shell(": > tracks.txt")}, 2, {{headTail}}),
      // Time entries and the tempo map.
      row("automation offset 1e308", {prefLines("offset\t0\t1e308\t0\n")}, 2, {{entry1Late}}),
      row("automation offset -1e308", {prefLines("offset\t-1e308\t0\t0\n")}, 2,
          {{"Error:  Time entry 1 is less than zero\n"}}),
      row("time entry 1e308", {faderLines("t\t0\t1e308\t0\n")}, 2, {{entry2Late}}),
      row("time entry -1e308", {faderLines("t\t-1e308\t0\t0\n")}, 2,
          {{"Error:  Time entry 2 is less than zero\n"}}),
      row("time entry of 23 digits", {faderLines("t\t0\t0\t99999999999999999999999\n")}, 2,
          {{entry2Late}}),
      row("check finds a late time entry",
          {fadersFile("begin\nsong\nt\t1\t0\t0\nv\t1\t0\nend\n"), arguments("--check")}, 2,
          {{entry1Late}}),
      row("tempo 0", {tempoMap("0"), prefLines("tempo\n")}, 2, {{tempo}}),
      row("tempo -120", {tempoMap("-120"), prefLines("tempo\n")}, 2, {{tempo}}),
      row("tempo abc", {tempoMap("abc"), prefLines("tempo\n")}, 2, {{tempo}}),
      row("tempo 1e-400", {tempoMap("1e-400"), prefLines("tempo\n")}, 2, {{tempo}}),
      row("tempo entry cut off by the end of the file",
          {fadersFile("begin\nsong\nt\t1\t1\t0\nv\t1\t0\ntmap"), prefLines("tempo\n")}, 2,
          {{"Error:  Tempo must be above zero in tempo map entry 1\n"}}),
      // Reverb rooms, refused before any output is created.
      row("room -1e308", {faderLines("rtn\t0\t-1e308\nrev\t1\t0\n")}, 1, {{badRoom}}),
      row("room 4000", {faderLines("rtn\t0\t4000\nrev\t1\t0\n")}, 1,
          {{"Please reduce room size in reverb!\n"}}),
      row("tap room -10", {faderLines("trtn\t0\t-10\t1\ntrev\t1\t0\n")}, 1,
          {{">>> Error:  Illegal value for tap reverb room size\n"}}),
      row("tap room 1e308", {faderLines("trtn\t0\t1e308\t3\ntrev\t1\t0\n")}, 1,
          {{">>> Error: A tap reverb dimension has exceeded the limit\n"}}),
      row("too many taps", {faderLines("trtn\t0\t500\t11\ntrev\t1\t0\n")}, 1,
          {{">>> Error:  Please decrease reverb tap number to 4 or room length to 254 feet\n"}}),
      row("bad room with a tap file",
          {faderLines("rtn\t0\t-5\nrev\t1\t0\n"), prefLines("tap\trtn\n")}, 1, {{badRoom}}),
      row("bad room fed from the master",
          {faderLines("rev\tM\t0\nrtn\t0\t-1\n"), prefLines("tap\trtn\n")}, 1, {{badRoom}}),
      row("check finds a bad room", {faderLines("rtn\t0\t-5\nrev\t1\t0\n"), arguments("--check")},
          1, {{badRoom}}),
      // The input files and the dialogue.
      row("missing tracks file", {shell("rm tracks.txt"), arguments("missing.txt")}, 2,
          {{noTracks}}),
      row("tracks file that is a directory", {shell("rm tracks.txt && mkdir tracks.txt")}, 2,
          {{noTracks}}),
      row("sources of different rates",
          {tracksFile("begin\nx a.wav +\ny a.wav +\nz b.wav +\nend\n"),
           shell("sox -n -r 44100 -b 16 -c 1 b.wav synth 0.1 sine 300")},
          1,
          {{"The sample rate appears to be 48000\n"
            "The file assigned to channel 3 has a different rate!\n"}}),
      row("dialogue answered -999", {shell("rm faders.txt"), answer("-999\n")}, 1,
          {{prompt}, {noAnswer, 0}}),
      row("dialogue without an answer", {shell("rm faders.txt")}, 1, {{noAnswer}}),
      row("dialogue answered abc", {shell("rm faders.txt"), answer("abc\n")}, 1, {{noAnswer}}),
      row("dialogue answered nan", {shell("rm faders.txt"), answer("nan\n")}, 1, {{noAnswer}}),
      row("dialogue answered -inf", {shell("rm faders.txt"), answer("-inf\n")}, 1, {{noAnswer}}),
      row("fader file that is a directory", {shell("rm faders.txt && mkdir faders.txt")}, 1,
          {{prompt + noAnswer}}),
      // Outputs that would overwrite inputs.
      row("output named like a source", {prefLines("oname\ta\n")}, 2, {isInput("a.wav")}),
      row("output that is a link to a source",
          {prefLines("oname\tlink\n"), shell("ln -s a.wav link.wav")}, 2, {isInput("link.wav")}),
      row("earlier mix listed as a source",
          {tracksFile("begin\nkick a.wav +\nagain song.wav +\nend\n")}, 2, {isInput("song.wav")}),
      row("statistics over the tracks file",
          {shell("cp tracks.txt stats_song.txt"), arguments("stats_song.txt")}, 2,
          {isInput("stats_song.txt")}),
      row("fader report over the fader file",
          {shell("cp faders.txt faders_song.txt"), arguments("tracks.txt faders_song.txt")}, 2,
          {isInput("faders_song.txt")}),
      row("mix named like the tap file",
          {faderLines("rtn\t0\t75\nrev\t1\t0\n"), prefLines("tap\trev\noname\trevTap\n")}, 2,
          {{"Error: output file revTap.wav is also the tap file\n"}}),
      // Outputs that cannot be written.
      row("missing output folder", {prefLines("mixdir\tnowhere/\n")}, 3,
          {cannotWrite("nowhere/song.wav", "No such file or directory")}),
      row("output folder that is a file",
          {prefLines("mixdir\tplain.txt/\n"), shell("echo text > plain.txt")}, 3,
          {cannotWrite("plain.txt/song.wav", "Not a directory")}),
      row("read-only output folder",
          {prefLines("mixdir\tro/\n"), shell("mkdir ro && chmod 500 ro"), asUser()}, 3,
          {cannotWrite("ro/song.wav", "Permission denied")}),
      row("output name taken by a directory",
          {prefLines("oname\ttaken\n"), shell("mkdir -p taken.wav/inside")}, 3,
          {cannotWrite("taken.wav", "Is a directory")}),
      row("earlier output replaced by a directory", {shell("rm song.wav && mkdir song.wav")}, 3,
          {cannotWrite("song.wav", "Is a directory"), {"Done!", 0}}),
      row("output name of a megabyte", {prefLines("oname\t" + mega + "\n")}, 3,
          {cannotWrite(mega + ".wav", "File name too long")}),
      // The mix is not kept without its reports.
      row("missing report folder", {prefLines("bakdir\tnowhere/\n")}, 3,
          {cannotWrite("nowhere/stats_song.txt", "No such file or directory")}),
      // Writes beyond 20 blocks of 512 bytes fail as on a full disk.
      row("write that fails", {faderLines("v\t1\t-3\n"), limits("trap '' XFSZ && ulimit -f 20 &&")},
          3, {cannotWrite("song.wav", "File too large")}),
      // The mix is committed before the tap file; only the tap fails.
      row("tap file name taken by a directory",
          {faderLines("rtn\t0\t75\nrev\t1\t0\n"), prefLines("tap\trev\n"),
           shell("mkdir -p revTap.wav/inside")},
          3, {cannotWrite("revTap.wav", "Is a directory")}, Mix::kOnlyOutput),
  };
}

std::vector<Case> acceptedCases() {
  using namespace std::string_literals;
  const std::string mega(1 << 20, 'x');
  const std::string notFound = "Cannot find file in track list called b.wav!!\n";
  const std::string junk = "\x80\x81\xfe\xff\t\xc3\xa9t\xc0\t\xef\xbb\xbf\n";
  const std::string outOfRange = ">>Channel number out of range or not specified!\n";
  const std::string tooLoud = ">> Warning: fader 1 (entry 1) set above 12.02 dB\n";
  std::string manyEntries = "VCA:\t1\t1\nvca\t1\t0\nt\t0\t0\t50\n";
  for (int i = 0; i < 10000; ++i) manyEntries += "v\t1\t-1\nvca\t1\t-1\nrmp\t0.001\n";
  std::string manyTempos = "begin\nsong\nt\t1\t1\t0\nv\t1\t0\n";
  for (int i = 0; i < 200; ++i) manyTempos += "tmap\t120\t4\t1\n";
  std::string manyTracks = "begin\n";
  for (int i = 1; i <= 200; ++i)
    manyTracks.append("t").append(std::to_string(i)).append(" a.wav +\n");
  std::vector<Case> cases = {
      // Sources that are not files sorvan can read.
      row("source that is a directory", {tracksFile(kBadTracks), shell("mkdir b.wav")}, 0,
          {{notFound}}, Mix::kSame),
      row("source that is a FIFO", {tracksFile(kBadTracks), shell("mkfifo b.wav")}, 0, {{notFound}},
          Mix::kSame),
      row("unreadable source",
          {tracksFile(kBadTracks), shell("cp a.wav b.wav && chmod 0 b.wav"), asUser()}, 0,
          {{notFound}}, Mix::kSame),
      // Empty, unbounded and cut-off text.
      row("empty preferences file", {shell(": > prefs.txt")}, 0,
          {{"Preview mode not specified.\n"}}, Mix::kLength),
      row("empty fader file", {shell(": > faders.txt")}, 0,
          {{"No time entries found!\n"}, {"Done!  Created the file: .wav\n"}}, Mix::kSilent,
          ".wav"),
      row("files without begin or end",
          {tracksFile("kick a.wav +\nbad b.wav -\n"), fadersFile("song\nt\t0\t0\t0\nv\t1\t0\n"),
           prefsFile("pre\toff\ndither\t0\n")},
          0, {}, Mix::kSame),
      row("begin as the last bytes", {fadersFile("song\nt\t0\t0\t0\nv\t1\t0\nbegin")}, 0,
          {{"No time entries found!\n"}}, Mix::kSilent, ".wav"),
      // A zero byte ends what the readers see, in every file.
      row("NUL bytes",
          {tracksFile("begin\nkick a.wav +\n\0bad b.wav +\nend\n"s),
           fadersFile("begin\nsong\nt\t0\t0\t0\nv\t1\t0\n\0v\t1\t-20\nt\t9\t0\t0\nend\n"s),
           prefsFile("begin\npre\toff\ndither\t0\n\0xin\t9\t0\t0\nend\n"s)},
          0, {{"Cannot find file", 0}}, Mix::kSame),
      row("fader entry cut off by the end", {fadersFile("begin\nsong\nt\t0\t0\t0\nv\t1")}, 0, {},
          Mix::kSame),
      row("time entry cut off by the end", {fadersFile("begin\nsong\nt\t0\t0\t0\nv\t1\t0\nt")}, 0,
          {{"Counted 2 time entries.\n"}}, Mix::kSame),
      row("track line cut off by the end", {tracksFile("begin\nkick a.wav +\nbad")}, 0,
          {{"Counted 2 tracks\n"}}, Mix::kSame),
      row("head without its value", {prefsFile("begin\npre\toff\ndither\t0\nhead")}, 0, {},
          Mix::kSame),
      row("dither without its level", {prefsFile("begin\npre\toff\ndither")}, 0, {}, Mix::kSame),
      // Junk lines are skipped; a number of a million digits is just too loud.
      row("lines and a number of a megabyte",
          {tracksFile(kTracks + mega + "\n"),
           fadersFile("begin\nsong\n" + mega + "\nt\t0\t0\t0\nv\t1\t1" + std::string(1 << 20, '0') +
                      "\nend\n"),
           prefLines(mega + "\tx\n")},
          0, {{tooLoud}}, Mix::kLength),
      row("channel number of a megabyte", {faderLines("v\t" + std::string(1 << 20, '9') + "\t0\n")},
          0, {{outOfRange}}, Mix::kSame),
      row("track name of a megabyte",
          {tracksFile("begin\nkick a.wav +\nbad " + mega + " +\nend\n")}, 0,
          {{"Cannot find file in track list called " + mega + "!!\n"}}, Mix::kSame),
      row("non-ASCII bytes",
          {tracksFile(junk + "begin\nkick a.wav +\nend\n"),
           fadersFile("begin\ns\xc3\xb8ng\xff\n" + junk + "t\t0\t0\t0\nv\t1\t0\n" + junk + "end\n"),
           prefLines(junk)},
          0, {}, Mix::kSame, "s\xc3\xb8ng\xff.wav"),
      // Names reach the messages as data, never as formats.
      row("percent signs in names",
          {tracksFile("begin\nkick a.wav +\nbad %s%n%x.wav +\nend\n"),
           prefLines("oname\t%n%s%d\n")},
          0,
          {{"Cannot find file in track list called %s%n%x.wav!!\n"},
           {"Done!  Created the file: %n%s%d.wav\n"}},
          Mix::kSame, "%n%s%d.wav"),
      // Tables that would overflow.
      row("10 000 entries for one fader", {faderLines(manyEntries)}, 0,
          {{">> Warning: fader 1 has more than 512 entries; the extra entries are ignored.\n"},
           {">> Warning: vca 1 has more than 512 entries; the extra entries are ignored.\n"}},
          Mix::kLength),
      row("200 tempo segments", {fadersFile(manyTempos + "end\n"), prefLines("tempo\n")}, 0,
          {{">> Warning: tempo map has more than 128 entries; the extra entries are ignored.\n"}},
          Mix::kSame),
      row("200 tracks",
          {tracksFile(manyTracks + "end\n"),
           fadersFile("begin\nsong\nt\t0\t0\t0\nv\t1\t-60\nv\t127\t-60\nend\n"),
           prefLines("verbo\t1\n")},
          0,
          {{">> Warning: the tracks file lists 200 tracks; only the first 127 are used.\n"},
           {"Ch 127\tL"},
           {"Ch 128\t", 0}},
          Mix::kLength),
      // Every reader of a channel, bus or VCA number refuses what lies outside
      // its table; "v" three times, "p", "pol", "trim", "fxg" and "comp" are
      // each folded once.
      row("channel numbers out of range",
          {fadersFile("begin\nsong\ntstamp\t99999999999\t0\t1\t0\nsstamp\t-5\t100\n"
                      "sub\t1\t-5,99999999999\nsub\t99999999999\t1\nVCA:\t1\t99999999999\n"
                      "VCA:\t-5\t1\nt\t0\t0\t0\nv\t1\t0\nv\t99999999999\t0\nv\t-5\t0\n"
                      "v\tG\t99999999999\t0\nvca\t99999999999\t0\np\t99999999999\t50\npol\t-5\t-1\n"
                      "trim\t-5\t-6\nfxg\t99999999999\t6\ncomp\t-5\t-10\t1\t10\t2\n"
                      "dp\t-5\t50\ndp\t99999999999\t50\no\tcomp\t99999999999\t1\nend\n")},
          0,
          {{">> Warning: tstamp for channel 99999999999 is out of range and is ignored.\n"},
           {">> Warning: sstamp for channel -5 is out of range and is ignored.\n"},
           {"Submix number out of range!\n"},
           {"Channel assigned to VCA 1 is out of range!\n"},
           {"VCA fader out of range!\n"},
           {">> Warning: delay pan channel -5 is out of range and is ignored.\n"},
           {">> Warning: delay pan channel 2147483647 is out of range and is ignored.\n"},
           {"Channel assigned to sub 1 is out of range!\n", 2},
           {outOfRange, 8}},
          Mix::kSame),
      // Numbers at the ends of their range.
      row("level 1e308", {fadersFile("begin\nsong\nt\t0\t0\t0\nv\t1\t1e308\nend\n")}, 0,
          {{tooLoud}}, Mix::kLength),
      row("ramp 1e308", {faderLines("t\t0\t0\t50\nv\t1\t-6\nrmp\t1e308\n")}, 0,
          {{"Adjusted volume ramp that exceeded song length (channel 1)\n"}}, Mix::kLength),
      // Entries pushed out of reach by "inc" are never played.
      row("increments of 1e308",
          {faderLines("inc\t1e308\nv\t1\t-40\nt\t0\t0\t0\ninc\t-1e308\nv\t1\t-40\n")}, 0, {},
          Mix::kSame),
      row("preference values that are ignored",
          {prefLines("head\t1e308\ntail\t-1e308\nseed\t-1e308\nverbo\t99999999999\n"
                     "outbits\t1e308\ndbps\t1e308\npan\t-1e308\nmono\t1e308\n"
                     "tfields\t-99999999999\nsfields\t1e308\n")},
          0, {}, Mix::kLength, "song.wav",
          44 + kSongFrames * 3),  // mono, 24-bit
      // Effect values at the ends of the number range are clamped.
      row("extreme strip settings",
          {faderLines(
              "comp\t1\t1e308\t1e308\t1e308\t1e308\nrms\t1\t-1e308\t-1e308\t-1e308\t-1e308\n"
              "nlc\t1\t-10\t1e308\t4\nnlc\tM\t-10\t-1e308\t1e308\nlim\t1\t-1e308\n"
              "hp\t1\t1e308\nband1\t1\t1e308\t1e308\t1e308\nhshelf\t1\t-1e308\t-1e308\t-1e308\n"
              "lshelf\tG\t1\t0\t0\t0\nband4\tM\t-1\t-1e308\t1e-308\nfxg\t1\t1e308\n"
              "fxg\tM\t-1e308\no\tcomp\t1\t99999999999\no\thp\t1\t-99999999999\n")},
          0, {{"nan", 0}}, Mix::kLength),
      row("extreme reverb settings",
          {faderLines("rtn\t1e308\t75\nrev\t1\t1e308\nwidth\t1e308\npos\t1e308\t-1e308\t50\n"
                      "rhp\t1e308\nrlp\t-1e308\ntrtn\t-1e308\t75\t99999999999\ntrev\t1\t-1e308\n")},
          0, {{"nan", 0}}, Mix::kLength),
      row("extreme master-fed tap reverb", {faderLines("trtn\t0\t75\t-99999999999\ntrev\tM\t0\n")},
          0, {{"nan", 0}}, Mix::kLength),
      // Files that are folders are never replaced.
      row("fader file that is a directory, answered",
          {shell("rm faders.txt && mkdir faders.txt"), answer("0\n")}, 0,
          {{"faders.txt already exists and was left unchanged; using the default text for "
            "this run.\n"}},
          Mix::kLength, "test_mix.wav"),
      row("preferences file that is a directory", {shell("rm prefs.txt && mkdir prefs.txt")}, 0,
          {{"\nWarning: prefs.txt file was not found...\nprefs.txt already exists and was "
            "left unchanged"},
           {"created one for you", 0}},
          Mix::kLength),
  };
  // A launch command that fails does not change the run's status.
  for (const std::string& command :
       {"exit 7"s, "/nonexistent/command"s, "kill -9 $$"s, "echo " + mega})
    cases.push_back({"launch " + command.substr(0, 20),
                     {prefLines("launch\t" + command + "\n")},
                     0,
                     {},
                     Mix::kSame});
  return cases;
}

class BadInput : public ::testing::TestWithParam<Case> {};

TEST_P(BadInput, ClearMessageAndNothingLost) {
  const Case& c = GetParam();
  Session s;
  goodRender(s);
  const std::string earlier = s.read("song.wav");
  std::string args, input, limits;
  for (const Edit& e : c.edits) {
    switch (e.kind) {
      case Edit::kTracks:
        s.write("tracks.txt", e.text);
        break;
      case Edit::kFaders:
        s.write("faders.txt", e.text);
        break;
      case Edit::kPrefs:
        s.write("prefs.txt", e.text);
        break;
      case Edit::kSource:
        s.write("b.wav", e.text);
        break;
      case Edit::kShell:
        s.shell(e.text);
        break;
      case Edit::kArguments:
        args = e.text;
        break;
      case Edit::kAnswer:
        input = e.text;
        break;
      case Edit::kLimits:
        limits = e.text;
        break;
      case Edit::kAsUser:
        if (::geteuid() == 0) GTEST_SKIP() << "root reads and writes past file modes";
        break;
    }
  }
  const Snapshot before = snapshot(s);
  const RunResult r = s.run(args, input, limits);
  EXPECT_EQ(r.status, c.status) << shown(r.out);
  for (const Said& said : c.says)
    EXPECT_EQ(occurrences(r.out, said.text), said.times) << "expected: " << shown(said.text) << "\n"
                                                         << shown(r.out);
  EXPECT_FALSE(anyPartial(s)) << "a temporary file was left behind";
  const std::string output = s.read(c.output);
  switch (c.mix) {
    case Mix::kNothing:
      EXPECT_EQ(differences(before, snapshot(s)), "");
      break;
    case Mix::kOnlyOutput:
      EXPECT_EQ(differences(before, snapshot(s)), "changed: " + c.output + "\n");
      break;
    case Mix::kSame:
      EXPECT_TRUE(output == earlier) << "the mix differs from the plain render";
      break;
    case Mix::kLength:
    case Mix::kSilent:
      EXPECT_EQ(output.size(), c.bytes);
      if (c.mix == Mix::kSilent) {
        EXPECT_EQ(output.find_first_not_of('\0', 44), std::string::npos);
      }
      break;
    case Mix::kDoubled: {
      std::string doubled = earlier;
      for (std::size_t at = 44; at < 44 + c.bytes * 6; at += 3)
        doubled.replace(at, 3, le(static_cast<std::uint32_t>(2 * sample24(earlier, at)), 3));
      EXPECT_TRUE(output == doubled) << "channel 2 does not play its samples";
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(DamagedSource, BadInput, ::testing::ValuesIn(waveCases()), caseName<Case>);
INSTANTIATE_TEST_SUITE_P(Refused, BadInput, ::testing::ValuesIn(refusedCases()), caseName<Case>);
INSTANTIATE_TEST_SUITE_P(Accepted, BadInput, ::testing::ValuesIn(acceptedCases()), caseName<Case>);

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
  EXPECT_EQ(render(s).words, (std::vector<std::int32_t>{0, 8388607, -8388608, 2097152, -2097152, 0,
                                                        8388607, -8388608}));
}

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
    ~Unmount() {
      [[maybe_unused]] const int ignored = std::system(("umount '" + dir + "'").c_str());
    }
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

  s.shell("cat /dev/zero > full/filler 2>/dev/null || true");
  s.write("prefs.txt", prefsWith("bakdir\tfull/\n"));
  before = snapshot(s);
  r = s.run();
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(contains(r.out, "Error: cannot write full/stats_song.txt: No space left on device\n"))
      << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
}

// An interrupted render leaves no half-written temporary file behind.
TEST(BadRuntime, TerminatedRenderRemovesItsTemporaryFile) {
  Session s;
  // Long enough that the render is still running when the signal arrives.
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 600 sine 440 gain -6");
  s.files("begin\nx a.wav +\nend\n", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nhp\t1\t100\nend\n",
          "begin\npre\toff\nverbo\t0\nend\n");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::chdir(s.dir().c_str()) != 0) ::_exit(99);
    ::execl(SORVAN_BINARY, SORVAN_BINARY, static_cast<char*>(nullptr));
    ::_exit(98);
  }
  // Wait (bounded) until the temporary output exists, then interrupt.
  bool started = false;
  for (int i = 0; i < 20000 && !started; ++i) {
    started = anyPartial(s);
    if (!started) ::usleep(500);
  }
  ::kill(child, SIGTERM);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(started) << "the render never started";
  if (WIFEXITED(status)) GTEST_SKIP() << "the render finished before the signal";
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(anyPartial(s));
  EXPECT_FALSE(s.exists("song.wav"));
}

}  // namespace
}  // namespace sorvan::e2e
