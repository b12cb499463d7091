// A fresh folder per test for WAVE files made by sox or written byte by byte;
// removed with everything in it when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace sorvan::test {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sorvan_XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr) << "no scratch folder";
    dir_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // Runs sox with the arguments inside the folder; true when it succeeded.
  bool sox(const std::string& args) const {
    return std::system(("cd '" + dir_ + "' && sox -V1 " + args + " >/dev/null 2>&1").c_str()) == 0;
  }
  void write(const std::string& name, const std::vector<unsigned char>& bytes) const {
    std::ofstream(path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<unsigned char> read(const std::string& name) const {
    std::ifstream f(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }

 private:
  std::string dir_;
};

}  // namespace sorvan::test
