// An interrupted render leaves no half-written temporary file behind.
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "e2e/session.h"

namespace sorvan::e2e {
namespace {

bool anyPartial(const std::string& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().find(".partial-") != std::string::npos) return true;
  }
  return false;
}

TEST(SignalRun, TerminatedRenderRemovesItsTemporaryFile) {
  Session s;
  // Long enough that the render is still running when the signal arrives.
  s.sox("-n -r 48000 -b 24 -c 2 a.wav synth 600 sine 440 gain -6");
  s.write("tracks.txt", "begin\nx a.wav +\nend\n");
  s.write("faders.txt", "begin\nsong\nt\t0\t0\t0\nv\t1\t0\nhp\t1\t100\nend\n");
  s.write("prefs.txt", "begin\npre\toff\nverbo\t0\nend\n");
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
    started = anyPartial(s.dir());
    if (!started) ::usleep(500);
  }
  ::kill(child, SIGTERM);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(started) << "the render never started";
  if (WIFEXITED(status)) GTEST_SKIP() << "the render finished before the signal";
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(anyPartial(s.dir()));
  EXPECT_FALSE(s.exists("song.wav"));
}

}  // namespace
}  // namespace sorvan::e2e
