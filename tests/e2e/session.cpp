#include "e2e/session.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace sorvan::e2e {

Session::Session() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sorvan-e2e-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "cannot create a temporary folder";
  dir_ = pattern;
}

Session::~Session() {
  std::error_code ignored;
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(dir_, ignored);
}

void Session::write(const std::string& name, const std::string& text) const {
  std::ofstream(path(name), std::ios::binary) << text;
}

std::string Session::read(const std::string& name) const {
  std::ifstream in(path(name), std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool Session::exists(const std::string& name) const {
  return std::filesystem::exists(path(name));
}

void Session::sox(const std::string& args) const {
  const std::string command = "cd '" + dir_ + "' && sox " + args + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

RunResult Session::run(const std::string& args, const std::string& input) const {
  write(".stdin", input);
  const std::string command = "cd '" + dir_ + "' && '" SORVAN_BINARY "' " + args +
                              " < .stdin 2>&1";
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
  std::remove(path(".stdin").c_str());
  return result;
}

std::uint32_t le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::int32_t sample24(const std::string& b, std::size_t at) {
  const std::int32_t v = static_cast<unsigned char>(b[at]) |
                         static_cast<unsigned char>(b[at + 1]) << 8 |
                         static_cast<unsigned char>(b[at + 2]) << 16;
  return v >= 0x800000 ? v - 0x1000000 : v;
}

std::int16_t sample16(const std::string& b, std::size_t at) {
  return static_cast<std::int16_t>(static_cast<unsigned char>(b[at]) |
                                   static_cast<unsigned char>(b[at + 1]) << 8);
}

}  // namespace sorvan::e2e
