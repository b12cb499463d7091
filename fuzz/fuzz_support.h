// Small helpers shared by the fuzz targets: a private scratch folder for the
// files an input is written to, checks that abort loudly (so libFuzzer keeps
// the input), and splitting one input into several texts.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
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
// between inputs so no input sees what an earlier one left behind. The
// folder is held open and its files are made and removed through that
// handle: a whole run takes milliseconds, and building paths and listing
// the folder anew for every input cost a few hundred allocations a run.
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
    fd_ = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(fd_ >= 0);
    // The listing reads through a handle of its own, rewound for each pass.
    listing_ = ::fdopendir(::dup(fd_));
    FUZZ_CHECK(listing_ != nullptr);
  }
  ~ScratchFolder() {
    ::closedir(listing_);
    ::close(fd_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  int fd() const { return fd_; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  void write(const char* name, const void* data, std::size_t size) const {
    const int f = ::openat(fd_, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(f >= 0);
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = ::write(f, at, size);
      FUZZ_CHECK(n > 0);
      at += n;
      size -= static_cast<std::size_t>(n);
    }
    FUZZ_CHECK(::close(f) == 0);
  }
  void write(const char* name, std::string_view text) const {
    write(name, text.data(), text.size());
  }

  // Calls f(name, isFolder) for every entry of the folder.
  template <typename F>
  void forEachEntry(F f) const {
    ::rewinddir(listing_);
    while (const dirent* e = ::readdir(listing_)) {
      const std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      f(name, e->d_type == DT_DIR);
    }
  }

  void clear() const {
    // Removing while listing may hide an entry from the listing; a second
    // pass finds the folder empty or takes what the first missed.
    for (bool removed = true; removed;) {
      removed = false;
      forEachEntry([&](std::string_view name, bool isFolder) {
        removed = true;
        if (!isFolder && ::unlinkat(fd_, name.data(), 0) == 0) return;
        std::error_code ec;
        std::filesystem::remove_all(dir_ / name, ec);
      });
    }
  }

 private:
  std::filesystem::path dir_;
  int fd_ = -1;
  DIR* listing_ = nullptr;
};

// The input as text, cut at every `separator` byte; always at least one part.
inline std::vector<std::string> splitInput(const std::uint8_t* data, std::size_t size,
                                           char separator) {
  std::vector<std::string> parts;
  const char* text = reinterpret_cast<const char*>(data);
  const char* end = text + size;
  for (;;) {
    const char* cut = std::find(text, end, separator);
    parts.emplace_back(text, cut);
    if (cut == end) return parts;
    text = cut + 1;
  }
}

}  // namespace sorvan::fuzz
