// Renders that fail after the output was begun: the earlier output of the same
// name and its reports stay as they were, and no temporary file is left.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

// Every file of the folder with its bytes (folders as a marker).
std::map<std::string, std::string> snapshot(const Session& s) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(s.dir())) {
    const std::string name = std::filesystem::relative(entry.path(), s.dir()).string();
    files[name] = entry.is_directory() ? "<folder>" : s.read(name);
  }
  return files;
}

std::string differences(const std::map<std::string, std::string>& before,
                        const std::map<std::string, std::string>& after) {
  std::string text;
  for (const auto& [name, bytes] : after)
    if (!before.count(name))
      text += "new: " + name + "\n";
    else if (before.at(name) != bytes)
      text += "changed: " + name + "\n";
  for (const auto& [name, bytes] : before)
    if (!after.count(name)) text += "gone: " + name + "\n";
  return text;
}

// Runs sorvan with writes limited to `blocks` of 512 bytes; the signal that
// would stop it is ignored, so an oversized write fails as a full disk would.
RunResult runWithFileSizeLimit(const Session& s, int blocks) {
  const std::string command = "cd '" + s.dir() + "' && trap '' XFSZ && ulimit -f " +
                              std::to_string(blocks) +
                              " && exec '" SORVAN_BINARY "' < /dev/null 2>&1";
  RunResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot start sorvan";
    return result;
  }
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.out.append(chunk, got);
  const int raw = ::pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

void goodRender(Session& s) {
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 0.5 sine 440 gain -6");
  s.write("tracks.txt", "begin\nk a.wav +\nend\n");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nend\n");
  s.write("prefs.txt", "begin\npre\toff\nverbo\t0\nend\n");
  const RunResult r = s.run();
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_EQ(s.read("song.wav").size(), 44u + 24000u * 6u);
}

TEST(FailedRender, AWriteThatFailsKeepsTheEarlierOutput) {
  Session s;
  goodRender(s);
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t-3\nend\n");
  const auto before = snapshot(s);
  // 100 blocks hold the text files but not the 144044-byte output.
  const RunResult r = runWithFileSizeLimit(s, 100);
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("Error: cannot write song.wav: File too large\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
}

TEST(FailedRender, AFatalErrorDuringTheMixKeepsTheEarlierOutput) {
  Session s;
  goodRender(s);
  // A negative room size is found when the reverb first runs, in the mix.
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nrtn\t0\t-5\nrev\t1\t0\nend\n");
  s.write("prefs.txt", "begin\npre\toff\nverbo\t0\ntap\trtn\nend\n");
  const auto before = snapshot(s);
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("Illegal value for reverb room size\n"), std::string::npos) << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "") << "neither output nor tap file is left";
}

TEST(FailedRender, AnOutputThatCannotTakeItsPlaceIsAnError) {
  Session s;
  goodRender(s);
  std::filesystem::remove(s.path("song.wav"));
  std::filesystem::create_directory(s.path("song.wav"));
  const auto before = snapshot(s);
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("Error: cannot write song.wav: "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Done!"), std::string::npos) << r.out;
  EXPECT_EQ(differences(before, snapshot(s)), "");
}

}  // namespace
}  // namespace sorvan::e2e
