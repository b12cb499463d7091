#include "base/output_file.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "base/fatal.h"
#include "base/messages.h"

namespace sorvan {
namespace {

// Temporary paths a signal handler may remove. A handler can only use what
// is async-signal-safe, so the list is a fixed table of C strings owned by
// the OutputFiles that registered them.
constexpr int kTemporarySlots = 16;
std::atomic<const char*> g_temporaries[kTemporarySlots];

int registerTemporary(const char* path) {
  for (int i = 0; i < kTemporarySlots; ++i) {
    const char* expected = nullptr;
    if (g_temporaries[i].compare_exchange_strong(expected, path)) return i;
  }
  return -1;
}

void unregisterTemporary(int slot) {
  if (slot >= 0) g_temporaries[slot].store(nullptr);
}

extern "C" void removeTemporariesAndDie(int signal) {
  for (auto& entry : g_temporaries) {
    if (const char* path = entry.load()) ::unlink(path);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

CleanupSignalsHeld::CleanupSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal : kCleanupSignals) sigaddset(&held, signal);
  ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

CleanupSignalsHeld::~CleanupSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void removeTemporariesOnSignals() {
  for (int signal : kCleanupSignals) std::signal(signal, removeTemporariesAndDie);
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::fail(int error) { fail(std::string(std::strerror(error))); }

void OutputFile::fail(const std::string& reason) {
  const std::string path = finalPath_;
  discard();
  say("Error: cannot write %s: %s\n", path.c_str(), reason.c_str());
  throw Fatal(exit_status::kIo);
}

void OutputFile::open(const std::string& finalPath, std::size_t bufferBytes) {
  discard();
  finalPath_ = finalPath;
  tempPath_ = finalPath + ".partial-XXXXXX";
  int fd = -1;
  int error = 0;
  {
    // Held back while the file exists on disk but is not yet in the
    // handler's list; the handler then finds it listed.
    CleanupSignalsHeld held;
    fd = ::mkstemp(tempPath_.data());
    if (fd >= 0)
      slot_ = registerTemporary(tempPath_.c_str());
    else
      error = errno;
  }
  if (fd < 0) {
    tempPath_.clear();
    fail(error);
  }
  // mkstemp creates the file private; give it the permissions a plain
  // fopen would have given the final file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  stream_ = ::fdopen(fd, "wb");
  if (!stream_) {
    const int error = errno;
    ::close(fd);
    fail(error);
  }
  buffer_ = static_cast<char*>(std::malloc(bufferBytes));
  if (buffer_) std::setvbuf(stream_, buffer_, _IOFBF, bufferBytes);
}

void OutputFile::write(const void* data, std::size_t bytes) {
  if (!stream_) return;
  if (bytes == 0) return;
  errno = 0;
  if (std::fwrite(data, 1, bytes, stream_) != bytes) fail(errno ? errno : EIO);
}

std::size_t OutputFile::writeSome(const void* data, std::size_t bytes) noexcept {
  if (!stream_) {
    errno = EBADF;
    return 0;
  }
  errno = 0;
  const std::size_t written = std::fwrite(data, 1, bytes, stream_);
  if (written != bytes && errno == 0) errno = EIO;
  return written;
}

bool OutputFile::seek(std::int64_t offset, int whence) noexcept {
  return stream_ && ::fseeko(stream_, static_cast<off_t>(offset), whence) == 0;
}

std::int64_t OutputFile::tell() noexcept { return stream_ ? ::ftello(stream_) : -1; }

std::int64_t OutputFile::length() noexcept {
  if (!stream_ || std::fflush(stream_) != 0) return -1;
  struct stat info {};
  if (::fstat(::fileno(stream_), &info) != 0) return -1;
  return info.st_size;
}

void OutputFile::finish() {
  if (!stream_) return;
  errno = 0;
  if (std::fflush(stream_) != 0) fail(errno ? errno : EIO);
  std::FILE* stream = stream_;
  stream_ = nullptr;
  if (std::fclose(stream) != 0) {
    const int error = errno ? errno : EIO;
    stream_ = nullptr;
    fail(error);
  }
  std::free(buffer_);
  buffer_ = nullptr;
}

void OutputFile::commit() {
  finish();
  if (tempPath_.empty()) return;
  if (std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) fail(errno);
  unregisterTemporary(slot_);
  slot_ = -1;
  tempPath_.clear();
}

void OutputFile::discard() {
  if (stream_) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  std::free(buffer_);
  buffer_ = nullptr;
  if (!tempPath_.empty()) {
    std::remove(tempPath_.c_str());
    unregisterTemporary(slot_);
    slot_ = -1;
    tempPath_.clear();
  }
}

void writeWholeFile(const std::string& path, const std::string& text) {
  OutputFile file;
  file.open(path);
  file.write(text.data(), text.size());
  file.commit();
}

}  // namespace sorvan
