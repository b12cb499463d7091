// A fresh folder per test for WAVE files made by sox or written byte by byte;
// removed with everything in it when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace sorvan::test {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sorvan_wave_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
    EXPECT_FALSE(dir_.empty()) << "no scratch folder";
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs sox with the arguments inside the folder; true when it succeeded.
  bool sox(const std::string& args) const {
    const std::string cmd = "cd '" + dir_.string() + "' && sox -V1 " + args + " >/dev/null 2>&1";
    return !dir_.empty() && std::system(cmd.c_str()) == 0;
  }

  void write(const std::string& name, const std::vector<unsigned char>& bytes) const {
    if (dir_.empty()) return;
    std::ofstream f(path(name), std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  }

  std::vector<unsigned char> read(const std::string& name) const {
    std::ifstream f(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }

 private:
  std::filesystem::path dir_;
};

}  // namespace sorvan::test
