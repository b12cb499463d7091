#include "e2e/session.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sorvan::e2e {

namespace fs = std::filesystem;

Session::Session() {
  std::string pattern = (fs::temp_directory_path() / "sorvan-e2e-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "cannot create a temporary folder";
  dir_ = pattern;
}

Session::~Session() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void Session::write(const std::string& name, const std::string& text) const {
  std::ofstream(path(name), std::ios::binary) << text;
}

void Session::files(const std::string& tracks, const std::string& faders,
                    const std::string& prefs) const {
  if (!tracks.empty()) write("tracks.txt", tracks);
  if (!faders.empty()) write("faders.txt", faders);
  if (!prefs.empty()) write("prefs.txt", prefs);
}

std::string Session::read(const std::string& name) const {
  std::ifstream in(path(name), std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool Session::exists(const std::string& name) const { return fs::exists(path(name)); }

void Session::shell(const std::string& command) const {
  const std::string line = "cd '" + dir_ + "' && " + command + " 2>&1";
  ASSERT_EQ(std::system(line.c_str()), 0) << line;
}

void Session::sox(const std::string& args) const { shell("sox " + args); }

RunResult Session::run(const std::string& args, const std::string& input,
                       const std::string& limits) const {
  write(".stdin", input);
  const std::string command = "cd '" + dir_ + "' && " + limits +
                              " timeout -k 2 60 '" SORVAN_BINARY "' " + args + " < .stdin 2>&1";
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
  std::remove(path(".stdin").c_str());
  return result;
}

bool contains(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

Snapshot snapshot(const Session& s) {
  Snapshot files;
  std::error_code error;
  for (fs::recursive_directory_iterator
           it(s.dir(), fs::directory_options::skip_permission_denied, error),
       end;
       !error && it != end; it.increment(error)) {
    const std::string name = fs::relative(it->path(), s.dir()).string();
    files[name] = it->is_directory(error)      ? "<folder>"
                  : it->is_regular_file(error) ? s.read(name)
                                               : "<other>";
  }
  return files;
}

std::string differences(const Snapshot& before, const Snapshot& after) {
  std::string text;
  for (const auto& [name, bytes] : after) {
    if (!before.count(name))
      text += "new: " + name + "\n";
    else if (before.at(name) != bytes)
      text += "changed: " + name + "\n";
  }
  for (const auto& [name, bytes] : before)
    if (!after.count(name)) text += "gone: " + name + "\n";
  return text;
}

bool anyPartial(const Session& s) {
  std::error_code error;
  for (fs::recursive_directory_iterator
           it(s.dir(), fs::directory_options::skip_permission_denied, error),
       end;
       !error && it != end; it.increment(error)) {
    if (contains(it->path().filename().string(), ".partial-")) return true;
  }
  return false;
}

std::uint32_t le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint32_t>(signedLe(b, at, 4));
}

std::int32_t signedLe(const std::string& b, std::size_t at, std::size_t width) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < width; ++i)
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
  const std::uint32_t sign = width < 4 ? 1u << (8 * width - 1) : 0;
  return static_cast<std::int32_t>(sign && v >= sign ? v - 2 * sign : v);
}

}  // namespace sorvan::e2e
