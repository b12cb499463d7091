// Small helpers shared by the fuzz targets: a private scratch folder for the
// files an input is written to, checks that abort loudly (so libFuzzer keeps
// the input), and splitting one input into several texts.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// A violated invariant is a finding just like a sanitizer report.
#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

namespace sorvan::fuzz {

// One folder per fuzzing process under $TMPDIR (or /tmp). clear() empties it
// between inputs so no input sees what an earlier one left behind.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/sorvan_fuzz_XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("sorvan fuzz: mkdtemp");
      std::abort();
    }
    dir_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  void write(const std::string& name, const void* data, std::size_t size) const {
    std::FILE* f = std::fopen(path(name).c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);
  }
  void write(const std::string& name, std::string_view text) const {
    write(name, text.data(), text.size());
  }

  void clear() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir_, ec))
      std::filesystem::remove_all(entry.path(), ec);
  }

 private:
  std::filesystem::path dir_;
};

// The input as text, cut at every `separator` byte; always at least one part.
inline std::vector<std::string> splitInput(const std::uint8_t* data, std::size_t size,
                                           char separator) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

}  // namespace sorvan::fuzz
