// A temporary working folder in which the real sorvan binary runs, with WAVE
// sources made by sox.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorvan::e2e {

struct RunResult {
  int status = -1;
  std::string out;  // standard output
};

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void write(const std::string& name, const std::string& text) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

  // Runs sox with the given arguments inside the folder; fails the test on error.
  void sox(const std::string& args) const;

  // Runs sorvan in the folder with optional arguments and standard input.
  RunResult run(const std::string& args = "", const std::string& input = "") const;

 private:
  std::string dir_;
};

// Little-endian helpers for output bytes.
std::uint32_t le32(const std::string& bytes, std::size_t at);
std::int32_t sample24(const std::string& bytes, std::size_t at);
std::int16_t sample16(const std::string& bytes, std::size_t at);

}  // namespace sorvan::e2e
