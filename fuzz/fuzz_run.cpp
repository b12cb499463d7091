// A whole run on fuzzed text files. The input is cut at '|' into the
// preferences, tracks and fader texts (a missing tracks or fader part means
// a missing file);
// two small WAVE sources, a.wav (16-bit mono) and b.wav (24-bit stereo), both
// 300 frames at 8 kHz, sit beside them. Every run must end with a defined
// status, with a message when it fails, and without leaving temporary output
// files behind.
//
// Containment, so that fuzzing stays inside its scratch folder:
// - lines holding "launch" are dropped from the preferences (the launch
//   command is handed to the shell);
// - '/' is replaced in all three texts, so no directory setting, output name
//   or source name can reach outside the folder;
// - files may grow to 1 MiB at most: a long render requested by the text
//   then ends in a write error (status 3) instead of filling the disk, and
//   soon, so that fuzzing spends its time on many inputs rather than on long
//   renders; 1 MiB still holds two blocks of 16-bit stereo, so the block
//   boundaries are crossed.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/buffer.h"
#include "base/fatal.h"
#include "base/messages.h"
#include "driver/run.h"
#include "fuzz_support.h"

namespace {

constexpr char kSeparator = '|';
constexpr std::uint32_t kRate = 8000;
constexpr int kFrames = 300;
constexpr rlim_t kFileSizeLimit = 1 << 20;

void put16(std::vector<unsigned char>& b, unsigned v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}

void put32(std::vector<unsigned char>& b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

void putTag(std::vector<unsigned char>& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

// A canonical 44-byte PCM header.
std::vector<unsigned char> waveHeader(int channels, int bits, int frames) {
  const std::uint32_t blockAlign = static_cast<std::uint32_t>(channels * bits / 8);
  const std::uint32_t dataBytes = blockAlign * static_cast<std::uint32_t>(frames);
  std::vector<unsigned char> b;
  putTag(b, "RIFF");
  put32(b, 36 + dataBytes);
  putTag(b, "WAVE");
  putTag(b, "fmt ");
  put32(b, 16);
  put16(b, 1);
  put16(b, static_cast<unsigned>(channels));
  put32(b, kRate);
  put32(b, kRate * blockAlign);
  put16(b, blockAlign);
  put16(b, static_cast<unsigned>(bits));
  putTag(b, "data");
  put32(b, dataBytes);
  return b;
}

// A loud sawtooth with full-scale corners, so clipping, compressors and
// limiters all have something to do.
std::int32_t sample24(int i, int phase) {
  const int k = (i + phase) % 50;
  if (k == 0) return 8388607;
  if (k == 25) return -8388608;
  return (k - 25) * 300000;
}

std::vector<unsigned char> monoSource16() {
  std::vector<unsigned char> b = waveHeader(1, 16, kFrames);
  for (int i = 0; i < kFrames; ++i) put16(b, static_cast<std::uint16_t>(sample24(i, 0) >> 8));
  return b;
}

std::vector<unsigned char> stereoSource24() {
  std::vector<unsigned char> b = waveHeader(2, 24, kFrames);
  for (int i = 0; i < kFrames; ++i) {
    for (int phase : {0, 17}) {
      const auto v = static_cast<std::uint32_t>(sample24(i, phase));
      b.push_back(v & 0xFF);
      b.push_back((v >> 8) & 0xFF);
      b.push_back((v >> 16) & 0xFF);
    }
  }
  return b;
}

struct Fixture {
  sorvan::fuzz::ScratchFolder folder;
  std::vector<unsigned char> a = monoSource16();
  std::vector<unsigned char> b = stereoSource24();
  std::string home = std::filesystem::current_path().string();
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

std::string containedPreferences(const std::string& text) {
  std::string out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    if (line.find("launch") == std::string_view::npos) {
      out.append(line);
      if (!last) out.push_back('\n');
    }
    start = end + 1;
  }
  return out;
}

std::string withoutSlashes(std::string text) {
  for (char& c : text) {
    if (c == '/') c = '_';
  }
  return text;
}

// A temporary output is its final path plus ".partial-" and six random
// letters and digits. Final names end in an extension, whose dot no random
// suffix holds, so a fuzzed mix name such as "a.partial-x2" (written as
// "stats_a.partial-x2.txt") is not mistaken for a leftover.
bool isTemporaryName(std::string_view name) {
  constexpr std::string_view kMark = ".partial-";
  constexpr std::size_t kRandom = 6;
  if (name.size() < kMark.size() + kRandom) return false;
  const std::size_t random = name.size() - kRandom;
  return name.compare(random - kMark.size(), kMark.size(), kMark) == 0 &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(random), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The fader-file dialogue reads a number from stdin: give it nothing.
  const int fd = ::open("/dev/null", O_RDONLY);
  if (fd < 0 || ::dup2(fd, STDIN_FILENO) < 0) std::abort();
  ::close(fd);
  // One run after another: each gets the last one's pages back.
  sorvan::keepBufferPages(true);
  fixture();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fixture& fx = fixture();
  const std::vector<std::string> parts = sorvan::fuzz::splitInput(data, size, kSeparator);
  const std::string prefs = withoutSlashes(containedPreferences(parts[0]));
  FUZZ_CHECK(prefs.find("launch") == std::string::npos);

  fx.folder.clear();
  fx.folder.write("a.wav", fx.a.data(), fx.a.size());
  fx.folder.write("b.wav", fx.b.data(), fx.b.size());
  fx.folder.write("prefs.txt", prefs);
  if (parts.size() > 1) fx.folder.write("tracks.txt", withoutSlashes(parts[1]));
  if (parts.size() > 2) fx.folder.write("faders.txt", withoutSlashes(parts[2]));

  FUZZ_CHECK(::fchdir(fx.folder.fd()) == 0);
  // The run installs its own handlers for interrupts (to remove temporary
  // outputs); libFuzzer's are put back afterwards. The file size limit holds
  // only for the run, and exceeding it must fail the write instead of
  // raising the signal libFuzzer would report.
  constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
  struct sigaction saved[4];
  for (int i = 0; i < 4; ++i) ::sigaction(kSignals[i], nullptr, &saved[i]);
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit fileSize{};
  FUZZ_CHECK(::getrlimit(RLIMIT_FSIZE, &fileSize) == 0);
  const rlimit limited{std::min(fileSize.rlim_max, kFileSizeLimit), fileSize.rlim_max};
  FUZZ_CHECK(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
  int status;
  std::string messages;
  {
    sorvan::MessageCapture cap;
    // One thread: libFuzzer runs on one core, and the threads' sharing of
    // the work is checked by the render tests under ThreadSanitizer.
    char name[] = "sorvan", threads[] = "--threads", one[] = "1";
    char* argv[] = {name, threads, one, nullptr};
    status = sorvan::runMain(3, argv);
    messages = cap.text();
  }
  FUZZ_CHECK(::setrlimit(RLIMIT_FSIZE, &fileSize) == 0);
  for (int i = 0; i < 4; ++i) ::sigaction(kSignals[i], &saved[i], nullptr);
  FUZZ_CHECK(::chdir(fx.home.c_str()) == 0);
  // For writing seeds and reproducing findings: show what the run said.
  if (std::getenv("SORVAN_FUZZ_SHOW"))
    std::fprintf(stderr, "%s\n[exit status %d]\n", messages.c_str(), status);

  FUZZ_CHECK(status >= sorvan::exit_status::kOk && status <= sorvan::exit_status::kIo);
  if (status != sorvan::exit_status::kOk) FUZZ_CHECK(!messages.empty());
  fx.folder.forEachEntry([](std::string_view name, bool) { FUZZ_CHECK(!isTemporaryName(name)); });
  fx.folder.clear();
  return 0;
}
