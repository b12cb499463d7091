// A file Sorvan creates. It is written to a temporary file beside its final
// path and renamed into place only by commit(), after every write, the flush
// and the close succeeded; until then an earlier file of the same name stays
// untouched, and a file that is never committed is removed again.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

namespace sorvan {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file; bufferBytes sizes the stream buffer.
  // Failures print "Error: cannot write <path>: <reason>" and throw Fatal (status 3).
  void open(const std::string& finalPath, std::size_t bufferBytes = 1 << 16);
  void write(const void* data, std::size_t bytes);
  // Flushes and closes the temporary file, failing as write does; the file
  // keeps its temporary name until commit(). Lets several files be completed
  // before any of them replaces an earlier one.
  void finish();
  // Finishes when that has not been done, and renames the temporary file
  // over the final path.
  void commit();

  // For writers that position within the file (a library that rewrites its
  // header at the end): they report failure by their result, with errno set,
  // instead of throwing, since they are called back from C code.
  std::size_t writeSome(const void* data, std::size_t bytes) noexcept;
  bool seek(std::int64_t offset, int whence) noexcept;
  std::int64_t tell() noexcept;
  std::int64_t length() noexcept;
  // Removes the temporary file, prints "Error: cannot write <path>: <reason>"
  // and throws Fatal (status 3).
  [[noreturn]] void fail(int error);
  [[noreturn]] void fail(const std::string& reason);
  // Closes and removes the temporary file (also done by the destructor).
  void discard();

  bool isOpen() const { return stream_ != nullptr; }
  const std::string& path() const { return finalPath_; }

 private:
  std::FILE* stream_ = nullptr;
  std::string finalPath_;
  std::string tempPath_;
  int slot_ = -1;  // place in the list the signal handler cleans up
  char* buffer_ = nullptr;
};

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary files of every open
// OutputFile before the process ends, so an interrupted run leaves nothing
// half-written behind.
void removeTemporariesOnSignals();

// While alive, the calling thread holds those signals back; one that arrives
// meanwhile is delivered when it ends. Threads started meanwhile inherit the
// held signals for their whole life, so that only the main thread ever runs
// the cleanup, and never while a temporary file is being created.
class CleanupSignalsHeld {
 public:
  CleanupSignalsHeld();
  ~CleanupSignalsHeld();
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Writes a whole text file through an OutputFile.
void writeWholeFile(const std::string& path, const std::string& text);

}  // namespace sorvan
