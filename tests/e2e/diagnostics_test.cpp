// Mistakes a new user makes with sessions written in an ordinary editor. Each
// must add lines that name the file and line, what was read and the fix,
// keep the status the run had without them, and make a --strict run stop with
// status 2 before it writes anything.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

// '|' stands for a TAB in the texts below.
std::string tabs(std::string text) {
  for (char& c : text)
    if (c == '|') c = '\t';
  return text;
}

constexpr const char* kTracks = "begin\nkick a.wav +\nsnare b.wav +\nend\n";
constexpr const char* kPrefs = "begin\npre|off\ndither|0\nend\n";
// The fader file's first five lines, then `lines` from line 6 on.
std::string faders(const std::string& lines) {
  return "begin\nsong\nt|0|0|0\nv|1|0\nv|2|-6\n" + lines + "end\n";
}

struct Mistake {
  std::string name;
  std::string tracks, faders, prefs;  // '|' for TAB; empty: the good file
  std::string setup;                  // shell text run in the folder first
  std::vector<std::string> added;     // whole lines the run prints
  int status;                         // without --strict
  int strictStatus;
};

void PrintTo(const Mistake& m, std::ostream* os) { *os << m.name; }

// A row of the table (a call, so that it wraps compactly).
Mistake mistake(std::string name, std::string tracks, std::string faders, std::string prefs,
                std::string setup, std::vector<std::string> added, int status, int strictStatus) {
  return {std::move(name),  std::move(tracks), std::move(faders),
          std::move(prefs), std::move(setup),  std::move(added),
          status,           strictStatus};
}

const std::string kSpaced =
    " separates its fields with spaces; faders.txt drops every space, so it reads as ";
const std::string kNoChannel = "tracks.txt: no channel plays, so the song is empty: ";
const std::string kWave = " is a WAVE file of ";

const Mistake kMistakes[] = {
    mistake("faders written with spaces", "", "begin\nsong\nt 0 0 0\nv 1 0\nend\n", "", "",
            {"faders.txt:3: \"t 0 0 0\"" + kSpaced +
                 "\"t000\" and does nothing; separate the fields with TABs",
             "faders.txt:4: \"v 1 0\"" + kSpaced +
                 "\"v10\" and does nothing; separate the fields with TABs",
             "No time entries found!", "Summary: 2 warnings."},
            0, 2),
    mistake(
        "time entry short of a value", "", faders("t|0|0.5\nv|1|-10\n"), "", "",
        {"faders.txt:6: t lacks its milliseconds (it takes minutes, seconds, milliseconds); the "
         "reader takes it from line 7 (\"v 1 -10\"), so that entry is lost; add the missing value"},
        0, 2),
    mistake("compressor short of a value", "", faders("comp|1|-20|4|100\nfxg|1|3\n"), "", "",
            {"faders.txt:6: comp lacks its ratio (it takes channel, threshold, attack, release, "
             "ratio); the reader takes it from line 7 (\"fxg 1 3\"); add the missing value"},
            0, 2),
    mistake("misspelt keyword", "", faders("hshelve|1|9000|2|0.7\n"), "", "",
            {"faders.txt:6: \"hshelve\" is not a faders.txt keyword (did you mean hshelf?), so the "
             "line does nothing"},
            0, 2),
    mistake(
        "volume entries out of time order", "",
        faders("t|0|0|800\nv|1|-10\nt|0|0|400\nv|1|-3\nt|0|0|900\nv|1|0\n"), "", "",
        {"faders.txt:9: v for channel 1 at 0.400 s comes earlier than the entry on line 7 (0.800 "
         "s); playback takes a fader's entries in time order, so it is never played, nor is the "
         "entry after it on line 11; put the time entries of channel 1 in time order"},
        0, 2),
    mistake("time entry beyond the song end", "", faders("t|0|5|0\nv|1|-3\n"), "", "",
            {"Error:  Time entry 2 exceeds song length",
             "faders.txt:6: time entry 2 (\"t 0 5 0\") is at 5.000 s (240000 samples), after the "
             "song's end at 1.000 s (48000 samples), which is where its longest source ends; move "
             "the entry into the song"},
            2, 2),
    mistake("tracks separated by TABs", "begin\nkick|a.wav|+\nsnare|b.wav|+\nend\n", "", "", "",
            {"tracks.txt:2: the fields are separated by TABs, but tracks.txt is read with spaces "
             "unless prefs.txt holds tlist=tab; add a line tlist=tab there",
             kNoChannel +
                 "no line reads with the mark + (or ++) at its end, which makes a channel play",
             "Head or tail set incorrectly in preferences!"},
            2, 2),
    mistake("a list of file names", "begin\na.wav\nb.wav\nend\n", "", "", "",
            {"tracks.txt:2: \"a.wav\" is a file name alone, but the lines are read as label, file "
             "and mark (tlist 2, the default), so this one runs into the next; write each line as "
             "\"kick kick.wav +\", or add tlist<TAB>0 to prefs.txt to play every listed file"},
            2, 2),
    mistake("a track name with spaces", "begin\nkick a.wav +\nLead vox b.wav +\nend\n", "", "", "",
            {"tracks.txt:3: \"Lead vox b.wav +\" has more fields than label, file and mark (tlist "
             "2, the default): the mark is read as \"b.wav +\", so channel 2 does not play; for "
             "names with spaces add tlist=tab to prefs.txt and separate the fields with TABs"},
            0, 2),
    mistake("recordings Sorvan cannot play",
            "begin\nk a.wav +\nf k.flac +\ni k6.flac +\ns six.wav +\nm gone.wav +\nend\n", "", "",
            "sox a.wav whole.flac && head -c 30 whole.flac > k.flac && sox -n -r 48000 -b 16 -c 6 "
            "k6.flac synth 0.1 sine 440 && sox -n -r 48000 -b 24 -c 6 six.wav synth 0.1 sine 440",
            {"tracks.txt:3: channel 2 plays silence: k.flac is a FLAC file, but it cannot be read "
             "(libsndfile: File contains data in an unimplemented format); export the recording "
             "again or convert it with: sox k.flac -b 24 k.wav, then name k.wav in tracks.txt",
             "tracks.txt:4: channel 3 plays silence: k6.flac is a FLAC file of 16-bit integer PCM, "
             "6 channels, 48000 Hz; Sorvan mixes mono and stereo recordings; keep its first two "
             "channels with: sox k6.flac k6.wav remix 1 2, then name k6.wav in tracks.txt",
             "tracks.txt:5: channel 4 plays silence: six.wav" + kWave +
                 "24-bit integer PCM (extensible header), 6 channels, 48000 Hz; Sorvan mixes mono "
                 "and stereo recordings; keep its first two channels with: sox six.wav "
                 "six-stereo.wav remix 1 2, then name six-stereo.wav in tracks.txt",
             "tracks.txt:6: channel 5 plays silence: there is no file gone.wav; check the name in "
             "tracks.txt",
             "Summary: 4 silent channels."},
            0, 2),
    mistake("recordings at 44.1 and 48 kHz", "begin\nkick a.wav +\nsnare c.wav +\nend\n", "", "",
            "sox -n -r 44100 -b 16 -c 1 c.wav synth 0.1 sine 300",
            {"The file assigned to channel 2 has a different rate!",
             "tracks.txt:3: channel 2 plays c.wav at 44100 Hz, but channel 1 plays a.wav at 48000 "
             "Hz; all sources must share one rate: convert it with: sox c.wav -r 48000 "
             "c-48000.wav, then name c-48000.wav in tracks.txt",
             "tracks.txt:3: or let Sorvan convert it as it reads it: add a line resample<TAB>on "
             "to prefs.txt, and every source plays at 48000 Hz, the rate of channel 1"},
            1, 1),
    mistake(
        "output folder without its slash", "", "", "begin\npre|off\ndither|0\nmixdir|out\nend\n",
        "mkdir out",
        {"prefs.txt:4: mixdir \"out\" names a folder, but the value is put in front of file names "
         "as it is, so Sorvan writes outsong.wav; to write into the folder end it with /: out/",
         "Done!  Created the file: outsong.wav"},
        0, 2),
    mistake("missing report folder", "", "", "begin\npre|off\ndither|0\nbakdir|nowhere/\nend\n", "",
            {"Error: cannot write nowhere/stats_song.txt: No such file or directory",
             "prefs.txt:4: bakdir: the folder nowhere does not exist; create it (mkdir -p nowhere) "
             "or correct the name"},
            3, 3),
    mistake("preferences misread", "", "",
            "begin\npre|off\ndither 0\noutbits|32\ntempo \nverbo|0\nend\n", "",
            {"Summary: 3 warnings. Run sorvan --check to see the warnings."}, 0, 2),
    mistake("delivery settings misread", "", "",
            "begin\npre|off\ndither|0\noutbits|32\nstems|yes\noutformat|mp3\ntarget|-14|1\n"
            "target|loud\njson\nend\n",
            "",
            {"prefs.txt:4: outbits reads 32, but Sorvan writes 16- or 24-bit words only, so this "
             "mix is 24-bit; write 16 or 24, or outformat<TAB>float for 32-bit floating point",
             "prefs.txt:5: stems takes on or off; \"yes\" leaves it as it was",
             "prefs.txt:6: outformat takes wav, float or flac; \"mp3\" leaves the format as it was",
             "prefs.txt:7: target takes a loudness from -70 to 0 LUFS and a ceiling from -20 to 0 "
             "dBTP, so this line sets no target",
             "prefs.txt:8: \"loud\" is not a number, so the line sets no target",
             "prefs.txt:9: json lacks its on or off (it takes on or off); the reader takes it from "
             "line 10 (\"end\"); add the missing value"},
            0, 2),
};

class MistakeTable : public ::testing::TestWithParam<Mistake> {};

TEST_P(MistakeTable, NamesTheLineAndTheFix) {
  const Mistake& m = GetParam();
  Session s;
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 1 sine 440 gain -6");
  s.sox("-n -r 48000 -b 24 -c 2 b.wav synth 0.5 sine 330 gain -6");
  s.files(tabs(m.tracks.empty() ? kTracks : m.tracks),
          tabs(m.faders.empty() ? faders("") : m.faders), tabs(m.prefs.empty() ? kPrefs : m.prefs));
  if (!m.setup.empty()) s.shell(m.setup);

  const Snapshot before = snapshot(s);
  const RunResult strict = s.run("--strict");
  EXPECT_EQ(strict.status, m.strictStatus) << strict.out;
  EXPECT_EQ(differences(before, snapshot(s)), "") << "a stopped run wrote something";
  EXPECT_EQ(contains(strict.out, "\nStrict: "), m.strictStatus != m.status) << strict.out;

  const RunResult r = s.run();
  EXPECT_EQ(r.status, m.status) << r.out;
  for (const std::string& line : m.added)
    EXPECT_TRUE(contains("\n" + r.out, "\n" + line + "\n")) << line << "\n---\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(Diagnostics, MistakeTable, ::testing::ValuesIn(kMistakes),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// A session from elsewhere runs its launch command only in a plain render,
// and shows it first; -C runs in another folder as if started there.
TEST(DiagnosticsOptions, LaunchCommandAndOtherFolder) {
  Session s;
  s.shell("mkdir song");
  s.sox("-n -r 48000 -b 24 -c 2 song/a.wav synth 0.2 sine 440");
  s.write("song/tracks.txt", "begin\nkick a.wav +\nend\n");
  s.write("song/faders.txt", tabs("begin\nsong\nt|0|0|0\nv|1|0\nend\n"));
  s.write("song/prefs.txt", tabs("begin\npre|off\nlaunch|touch launched\nend\n"));
  const std::string command = "touch launched\n";

  RunResult r = s.run("-C song --check");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "\nCheck: a render would then run the launch command: " + command));
  r = s.run("--no-launch -C song");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "\nLaunch command not run (--no-launch): " + command));
  EXPECT_TRUE(s.exists("song/song.wav"));
  EXPECT_FALSE(s.exists("song/launched"));
  r = s.run("-Csong");
  EXPECT_TRUE(contains(r.out, "\nRunning the launch command: " + command));
  EXPECT_TRUE(s.exists("song/launched"));

  // A check under --strict prints every finding before it stops.
  s.write("song/faders.txt", tabs("begin\nsong\nt|0|0|0\nv|1|0\nrmps|1\nend\n"));
  r = s.run("-C song --check --strict");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_TRUE(contains(r.out,
                       "faders.txt:5: \"rmps\" is not a faders.txt keyword (did you mean rmp?), so "
                       "the line does nothing\n"));
  EXPECT_TRUE(
      contains(r.out, "\nStrict: 1 warning; stopping with status 2 before anything is written.\n"));
  EXPECT_FALSE(contains(r.out, "Check complete"));

  r = s.run("-C nowhere");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Error: cannot change to folder nowhere: No such file or directory\n");
}

}  // namespace
}  // namespace sorvan::e2e
