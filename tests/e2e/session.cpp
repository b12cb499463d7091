// The session folder, and the sources and outputs of end-to-end renders.
#include "e2e/session.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "e2e/render_support.h"

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
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
  const int raw =
      std::system(("cd '" + dir_ + "' && " + limits + " timeout -k 2 60 '" SORVAN_BINARY "' " +
                   args + " < .stdin > .stdout 2>&1")
                      .c_str());
  RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read(".stdout")};
  fs::remove(path(".stdin"));
  fs::remove(path(".stdout"));
  return result;
}

bool contains(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

// Calls visit(name relative to the folder, entry) for everything in the folder.
template <typename Visit>
void walk(const Session& s, Visit visit) {
  std::error_code error;
  const auto options = fs::directory_options::skip_permission_denied;
  for (fs::recursive_directory_iterator it(s.dir(), options, error), end; !error && it != end;
       it.increment(error))
    visit(fs::relative(it->path(), s.dir()).string(), *it);
}

Snapshot snapshot(const Session& s) {
  Snapshot files;
  walk(s, [&](const std::string& name, const fs::directory_entry& entry) {
    std::error_code error;
    files[name] = entry.is_directory(error)      ? "<folder>"
                  : entry.is_regular_file(error) ? s.read(name)
                                                 : "<other>";
  });
  return files;
}

std::string differences(const Snapshot& before, const Snapshot& after) {
  std::string text;
  for (const auto& [name, bytes] : after)
    if (!before.count(name) || before.at(name) != bytes)
      text += (before.count(name) ? "changed: " : "new: ") + name + "\n";
  for (const auto& [name, bytes] : before)
    if (!after.count(name)) text += "gone: " + name + "\n";
  return text;
}

bool anyPartial(const Session& s) {
  bool found = false;
  walk(s, [&](const std::string& name, const fs::directory_entry&) {
    found = found || contains(name, ".partial-");
  });
  return found;
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

void writeSource(const Session& s, const std::string& name, int rate, int bits, int channels,
                 const std::vector<std::int32_t>& samples) {
  const std::size_t width = static_cast<std::size_t>(bits / 8);
  std::string raw(samples.size() * width, '\0');
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto v = static_cast<std::uint32_t>(samples[i]);
    for (std::size_t b = 0; b < width; ++b) raw[i * width + b] = static_cast<char>(v >> (8 * b));
  }
  s.write(name + ".raw", raw);
  s.sox("-t raw -r " + std::to_string(rate) + " -e signed -b " + std::to_string(bits) + " -c " +
        std::to_string(channels) + " -L '" + name + ".raw' '" + name + "'");
}

std::vector<std::int32_t> soxSamples(const Session& s, const std::string& name, int bits) {
  s.sox("-D '" + name + "' -t raw -e signed -b " + std::to_string(bits) + " -L '" + name + ".d'");
  const std::string raw = s.read(name + ".d");
  std::vector<std::int32_t> out;
  for (std::size_t at = 0; at + bits / 8 <= raw.size(); at += bits / 8)
    out.push_back(signedLe(raw, at, bits / 8));
  return out;
}

Rendered readRendered(const Session& s, const std::string& name) {
  Rendered r;
  const std::string wav = s.read(name);
  if (wav.size() < 44 || wav.substr(0, 4) != "RIFF" || wav.substr(36, 4) != "data") {
    ADD_FAILURE() << name << " is missing or has no canonical header";
    return r;
  }
  r.channels = static_cast<int>(le32(wav, 22) & 0xffff);
  r.rate = le32(wav, 24);
  r.bits = static_cast<int>(le32(wav, 34) & 0xffff);
  const std::uint32_t dataBytes = le32(wav, 40), frameBytes = r.channels * r.bits / 8;
  EXPECT_EQ(dataBytes, wav.size() - 44) << name << ": the header's size matches the data";
  EXPECT_EQ(le32(wav, 4), dataBytes + 36);
  EXPECT_EQ(le32(wav, 20) & 0xffff, 1u) << name << ": plain PCM";
  EXPECT_EQ(le32(wav, 32) & 0xffff, frameBytes) << name << ": block align";
  EXPECT_EQ(le32(wav, 28), r.rate * frameBytes) << name << ": byte rate";
  for (std::size_t at = 44; r.bits >= 16 && at + r.bits / 8 <= wav.size(); at += r.bits / 8)
    r.words.push_back(signedLe(wav, at, r.bits / 8));
  return r;
}

Rendered render(const Session& s, const std::string& name) {
  const RunResult r = s.run();
  EXPECT_EQ(r.status, 0) << r.out;
  return readRendered(s, name);
}

std::vector<std::int32_t> Rendered::side(bool leftSide) const {
  std::vector<std::int32_t> out(frames());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = leftSide ? left(i) : right(i);
  return out;
}

std::vector<std::int32_t> stereo(const std::vector<std::int32_t>& left,
                                 const std::vector<std::int32_t>& right) {
  std::vector<std::int32_t> out;
  for (std::size_t i = 0; i < left.size(); ++i) out.insert(out.end(), {left[i], right[i]});
  return out;
}

std::vector<std::int32_t> spread(std::size_t frames, std::int32_t amplitude, std::uint32_t salt) {
  std::vector<std::int32_t> out(frames);
  const auto span = static_cast<std::uint32_t>(2 * amplitude + 1);
  for (std::size_t i = 0; i < frames; ++i)
    out[i] =
        static_cast<std::int32_t>((static_cast<std::uint32_t>(i) * 2654435761u + salt) % span) -
        amplitude;
  return out;
}

std::vector<std::int32_t> sine(std::size_t frames, double hz, double amplitude) {
  std::vector<std::int32_t> out(frames);
  for (std::size_t i = 0; i < frames; ++i)
    out[i] = static_cast<std::int32_t>(std::lround(
        amplitude * 8388608.0 * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / 48000.0)));
  return out;
}

}  // namespace sorvan::e2e
