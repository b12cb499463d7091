// Whatever a user or a damaged disk hands Sorvan must end in a clear message
// and a defined exit status, and must leave the outputs of an earlier good run
// exactly as they were. One row per distinct message and status; every row
// starts from a folder holding such a run. Runs are bounded in time, so a hang
// fails its row instead of the suite.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "e2e/render_support.h"
#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

namespace fs = std::filesystem;

// Channel 1 plays a.wav; channel 2 is the slot a damaged source goes into,
// left out here. No dither, so renders repeat their bytes.
constexpr const char* kTracks = "begin\nkick a.wav +\nbad b.wav -\nend\n";
constexpr const char* kBadTracks = "begin\nkick a.wav +\nbad b.wav +\nend\n";
constexpr const char* kPrefs = "begin\npre\toff\ndither\t0\nend\n";

void goodRender(Session& s) {
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.1 whitenoise gain -6");
  s.files(kTracks, unityFaders(), kPrefs);
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
}

enum class Kept {
  kNothing,  // the folder is left exactly as it was
  kSameMix,  // song.wav holds exactly the earlier mix (the reports are rewritten)
  kOnlyMix,  // the folder is left as it was but for song.wav
  kWritten,  // `output` was written
};

using Files = std::vector<std::pair<std::string, std::string>>;  // name and text

struct Case {
  std::string name;
  Files files;  // written over the good folder
  int status;
  std::string says;
  Kept kept = Kept::kNothing;
  std::string shell = "", args = "", input = "", limits = "", never = "\x01";
  std::string output = "song.wav";
  // Modifiers, so that a row stays one call.
  Case& run(std::string command) { return shell = std::move(command), *this; }
  Case& with(std::string arguments) { return args = std::move(arguments), *this; }
  Case& answer(std::string text) { return input = std::move(text), *this; }
  Case& keeps(Kept k, std::string name = "song.wav") { return kept = k, output = name, *this; }
  Case& notSaying(std::string text) { return never = std::move(text), *this; }
  Case& limitedBy(std::string shell) { return limits = std::move(shell), *this; }
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

Case row(std::string name, Files files, int status, std::string says) {
  return Case{std::move(name), std::move(files), status, std::move(says)};
}
Files prefs(const std::string& lines) {
  return {{"prefs.txt", "begin\npre\toff\ndither\t0\n" + lines + "end\n"}};
}
Files preview(const std::string& lines) {
  return {{"prefs.txt", "begin\npre\ton\n" + lines + "end\n"}};
}
Files faders(const std::string& lines, const std::string& prefLines = "") {
  Files f{{"faders.txt", unityFaders(lines)}};
  if (!prefLines.empty()) f.push_back(prefs(prefLines)[0]);
  return f;
}
std::string cannotWrite(const std::string& path, const std::string& reason) {
  return "Error: cannot write " + path + ": " + reason + "\n";
}

const std::string kHeadTail = "Head or tail set incorrectly in preferences!\n";
const std::string kPrompt =
    "faders.txt file was not found\nEnter the default fader value or -999 to exit.\n";
const std::string kNoAnswer = "No default fader value was given.\n";

const Case kCases[] = {
    // The render range, time entries and the tempo map: status 2.
    row("preview start beyond the song", preview("start\t0\t2\t0\n"), 2,
        "Error: Preview start time in preferences file exceeds song length\n"),
    row("preview start below zero", preview("start\t-1e308\t0\t0\n"), 2,
        "Error: Preview start time in preferences is less than zero.\n"),
    row("negative preview length", preview("length\t-1\n"), 2, kHeadTail),
    row("render too long", preview("length\t1e308\n"), 2,
        "Error: a render of 9223372036854775807 frames is too long"),
    row("time entry beyond the song", faders("t\t0\t1e308\t0\n"), 2,
        "Error:  Time entry 2 exceeds song length\n"),
    row("time entry below zero", faders("t\t-1e308\t0\t0\n"), 2,
        "Error:  Time entry 2 is less than zero\n"),
    row("tempo 0",
        {{"faders.txt", "begin\nsong\ntmap\t120\t4\t1\ntmap\t0\t4\t1\nt\t1\t1\t0\nend\n"},
         prefs("tempo\n")[0]},
        2, "Error:  Tempo must be above zero in tempo map entry 2\n"),
    row("tempo mode without a map", prefs("tempo\n"), 2,
        "Tempo mode is on, but no tempos or meters have been entered!\n"),
    // Reverb rooms, refused before any output is created: status 1.
    row("room -1e308", faders("rtn\t0\t-1e308\nrev\t1\t0\n"), 1,
        "Illegal value for reverb room size\n"),
    row("room 4000 with a tap file", faders("rev\t1\t0\nrtn\t0\t4000\n", "tap\trtn\n"), 1,
        "Reading effect settings...\nPlease reduce room size in reverb!\n")
        .notSaying("Mixing..."),
    row("tap room -10", faders("trtn\t0\t-10\t1\ntrev\t1\t0\n"), 1,
        ">>> Error:  Illegal value for tap reverb room size\n"),
    row("tap room 1e308", faders("trtn\t0\t1e308\t3\ntrev\t1\t0\n"), 1,
        ">>> Error: A tap reverb dimension has exceeded the limit\n"),
    row("too many taps", faders("trtn\t0\t500\t11\ntrev\tM\t0\n"), 1,
        ">>> Error:  Please decrease reverb tap number to 4 or room length to 254 feet\n"),
    row("unknown option", {}, 2, "Unknown option --frobnicate (see sorvan --help)\n")
        .with("--frobnicate"),
    row("missing tracks file", {}, 2,
        "tracks.txt file was not found.\nCreate the file and run again.\n")
        .run("rm tracks.txt")
        .with("missing.txt"),
    row("sources of different rates", {{"tracks.txt", "begin\nx a.wav +\nz b.wav +\nend\n"}}, 1,
        "The sample rate appears to be 48000\nThe file assigned to channel 2 has a different "
        "rate!\n")
        .run("sox -n -r 44100 -b 16 -c 1 b.wav synth 0.1 sine 300"),
    row("dialogue without an answer", {}, 1, kPrompt + kNoAnswer).run("rm faders.txt"),
    row("dialogue answered -999", {}, 1, kPrompt)
        .run("rm faders.txt")
        .answer("-999\n")
        .notSaying(kNoAnswer),
    // Outputs that would overwrite inputs: status 2.
    row("output named like a source", prefs("oname\ta\n"), 2,
        "Error: output file a.wav is also an input\n"),
    row("mix named like the tap file",
        faders("rtn\t0\t75\nrev\t1\t0\n", "tap\trev\noname\trevTap\n"), 2,
        "Error: output file revTap.wav is also the tap file\n"),
    // A send tap where a master-fed reverb replaces the send-fed ones: the mix
    // alone (this read an unallocated send and crashed).
    row("send tap of a replaced reverb",
        faders("rtn\t0\t75\nrev\t1\t0\ntrev\tM\t-3\n", "tap\trev\n"), 0,
        "Tap file revTap.wav not written: a master-fed reverb replaces the send-fed ones")
        .keeps(Kept::kWritten),
    // Outputs that cannot be created, written or renamed into place: status 3.
    row("missing output folder", prefs("mixdir\tnowhere/\n"), 3,
        cannotWrite("nowhere/song.wav", "No such file or directory")),
    row("missing report folder", prefs("bakdir\tnowhere/\n"), 3,
        cannotWrite("nowhere/stats_song.txt", "No such file or directory")),
    // Writes beyond 20 blocks of 512 bytes fail as on a full disk.
    row("write that fails", faders("v\t1\t-3\n"), 3, cannotWrite("song.wav", "File too large"))
        .limitedBy("trap '' XFSZ && ulimit -f 20 &&"),
    // The mix is committed before the tap file; only the tap fails.
    row("tap file name taken by a directory", faders("rtn\t0\t75\nrev\t1\t0\n", "tap\trev\n"), 3,
        cannotWrite("revTap.wav", "Is a directory"))
        .run("mkdir -p revTap.wav/inside")
        .keeps(Kept::kOnlyMix),
    // A source that cannot be used is reported and left out; the mix goes on.
    row("source without a format chunk", {{"tracks.txt", kBadTracks}, {"b.wav", ""}}, 0,
        "Can't find format chunk in wave file!\n")
        .keeps(Kept::kSameMix),
    // Missing or empty text: defaults, said so.
    row("empty preferences file", {{"prefs.txt", ""}}, 0, "Preview mode not specified.\n")
        .keeps(Kept::kWritten),
    row("empty fader file", {{"faders.txt", ""}}, 0, "No time entries found!\n")
        .keeps(Kept::kWritten, ".wav"),
    row("fader file that is a directory, answered", {}, 0,
        "faders.txt already exists and was left unchanged; using the default text for this run.\n")
        .run("rm faders.txt && mkdir faders.txt")
        .answer("0\n")
        .keeps(Kept::kWritten, "test_mix.wav"),
    // Names reach the messages as data, never as formats.
    row("percent signs in names",
        {{"tracks.txt", "begin\nkick a.wav +\nbad %s%n%x.wav +\nend\n"},
         prefs("oname\t%n%s%d\n")[0]},
        0, "Cannot find file in track list called %s%n%x.wav!!\n")
        .keeps(Kept::kWritten, "%n%s%d.wav"),
    // A launch command that fails does not change the run's status.
    row("launch that fails", prefs("launch\tkill -9 $$\n"), 0, "").keeps(Kept::kSameMix),
};

class BadInput : public ::testing::TestWithParam<Case> {};

TEST_P(BadInput, ClearMessageAndNothingLost) {
  const Case& c = GetParam();
  Session s;
  goodRender(s);
  const std::string earlier = s.read("song.wav");
  for (const auto& [name, text] : c.files) s.write(name, text);
  if (!c.shell.empty()) s.shell(c.shell);
  const Snapshot before = snapshot(s);
  const RunResult r = s.run(c.args, c.input, c.limits);
  EXPECT_EQ(r.status, c.status) << r.out;
  EXPECT_TRUE(contains(r.out, c.says)) << "expected: " << c.says << "\n" << r.out;
  EXPECT_FALSE(contains(r.out, c.never)) << r.out;
  EXPECT_FALSE(anyPartial(s)) << "a temporary file was left behind";
  if (c.kept == Kept::kWritten) {
    EXPECT_GT(s.read(c.output).size(), 44u) << c.output;
  } else if (c.kept == Kept::kSameMix) {
    EXPECT_TRUE(s.read("song.wav") == earlier) << "the mix differs from the plain render";
  } else {
    EXPECT_EQ(differences(before, snapshot(s)),
              c.kept == Kept::kOnlyMix ? "changed: song.wav\n" : "");
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, BadInput, ::testing::ValuesIn(kCases), [](const auto& info) {
  std::string name = info.param.name;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
});

// --check reads and checks everything a render would, says which default
// files it would create, and writes nothing.
TEST(CheckRun, ReadsEverythingAndWritesNothing) {
  Session s;
  goodRender(s);
  s.write("faders.txt", unityFaders("v\t1\t20\n"));
  Snapshot before = snapshot(s);
  RunResult r = s.run("--check");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, ">> Warning: fader 1 (entry 2) set above 12.02 dB\n") &&
              contains(r.out, "Check complete") && !contains(r.out, "Mixing..."))
      << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
  s.shell("rm prefs.txt faders.txt");
  before = snapshot(s);
  r = s.run("--check");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "Check: would create prefs.txt") &&
              contains(r.out, "Check: would create faders.txt"))
      << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
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
  // Two seconds of preview: 576 KB for a 64 KB disk, all of it still in the
  // stream buffer until the final flush.
  s.write("prefs.txt", "begin\ndither\t0\npredir\tfull/\npre\ton\nlength\t2\nend\n");
  Snapshot before = snapshot(s);
  RunResult r = s.run();
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(contains(r.out, cannotWrite("full/preview.wav", "No space left on device"))) << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
  s.shell("cat /dev/zero > full/filler 2>/dev/null || true");
  s.write("prefs.txt", prefs("bakdir\tfull/\n")[0].second);
  before = snapshot(s);
  r = s.run();
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(contains(r.out, cannotWrite("full/stats_song.txt", "No space left on device")))
      << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
}

// An interrupted render leaves no half-written temporary file behind.
TEST(BadRuntime, TerminatedRenderRemovesItsTemporaryFile) {
  Session s;
  // Long enough that the render is still running when the signal arrives.
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 600 sine 440 gain -6");
  s.files("begin\nx a.wav +\nend\n", unityFaders("hp\t1\t100\n"),
          "begin\npre\toff\nverbo\t0\nend\n");
  // The signal goes out once the temporary output has been created.
  const int created = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(::inotify_add_watch(created, s.dir().c_str(), IN_CREATE), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::chdir(s.dir().c_str()) != 0) ::_exit(99);
    ::execl(SORVAN_BINARY, SORVAN_BINARY, static_cast<char*>(nullptr));
    ::_exit(98);
  }
  bool started = false;
  pollfd event{created, POLLIN, 0};
  char events[4096];
  while (!started && ::poll(&event, 1, 60000) == 1 && ::read(created, events, sizeof events) > 0)
    started = anyPartial(s);
  ::kill(child, SIGTERM);
  ::close(created);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(started) << "the render never started";
  if (WIFEXITED(status)) GTEST_SKIP() << "the render finished before the signal";
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(anyPartial(s));
  EXPECT_EQ(s.read("song.wav"), "");
}

}  // namespace
}  // namespace sorvan::e2e
