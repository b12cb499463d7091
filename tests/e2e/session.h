// A temporary working folder in which the real sorvan binary runs, with WAVE
// sources made by sox.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace sorvan::e2e {

struct RunResult {
  int status = -1;  // 124: killed by the time limit, a hang
  std::string out;  // standard output and error
};

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  bool exists(const std::string& name) const;

  void write(const std::string& name, const std::string& text) const;
  // The three text files at once; an empty text leaves that file alone.
  void files(const std::string& tracks, const std::string& faders, const std::string& prefs) const;
  std::string read(const std::string& name) const;

  // Runs sox (or, for `shell`, any command) inside the folder; fails the
  // test on error.
  void sox(const std::string& args) const;
  void shell(const std::string& command) const;

  // Runs sorvan in the folder with arguments and standard input, bounded in
  // time. `limits` is shell text run first (ulimit, trap).
  RunResult run(const std::string& args = "", const std::string& input = "",
                const std::string& limits = "") const;

 private:
  std::string dir_;
};

bool contains(const std::string& text, const std::string& what);

// Every file of the folder with its bytes (folders and other kinds as markers),
// and a readable list of what changed between two of them.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const Session& s);
std::string differences(const Snapshot& before, const Snapshot& after);
// Whether a temporary output file was left behind.
bool anyPartial(const Session& s);

// A little-endian unsigned or two's complement field of `bytes` bytes.
std::uint32_t le32(const std::string& bytes, std::size_t at);
std::int32_t signedLe(const std::string& bytes, std::size_t at, std::size_t width);

}  // namespace sorvan::e2e
