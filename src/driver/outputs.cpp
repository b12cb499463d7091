#include "driver/outputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "base/fatal.h"
#include "base/messages.h"
#include "engine/render_state.h"
#include "textcfg/line_check.h"
#include "wave/sink.h"

namespace sorvan {
namespace {

struct FileId {
  dev_t device;
  ino_t inode;
};

std::optional<FileId> fileId(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{info.st_dev, info.st_ino};
}

bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Why files cannot be created in `folder` (an errno value), 0 when they can.
int folderFault(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return errno;
  if (!S_ISDIR(info.st_mode)) return ENOTDIR;
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return errno;
  return 0;
}

}  // namespace

void checkOutputFolders(const OutputPaths& paths, const Preferences& prefs, const PreScan& pre,
                        const TextFile& prefsFile, const SessionPaths& names, Diagnostics& diag) {
  const struct {
    const char* keyword;
    const std::optional<std::string>& value;
    std::string example;
  } settings[] = {
      {"mixdir", pre.mixDir, pre.mixDir.value_or("") + prefs.outputName + ".wav"},
      {"predir", pre.previewDir, pre.previewDir.value_or("") + "preview.wav"},
      {"bakdir", pre.backupDir, paths.stats},
  };
  for (const auto& s : settings) {
    if (!s.value || s.value->empty() || s.value->back() == '/' || !isFolder(*s.value)) continue;
    diag.warn(names.prefs, keywordLine(prefsFile, s.keyword),
              std::string(s.keyword) + " " + quoted(*s.value) +
                  " names a folder, but the value is put in front of file names as it is, so " +
                  "Sorvan writes " + s.example +
                  "; to write into the folder end it with /: " + *s.value + "/");
  }

  const char* mixKeyword = prefs.preview && pre.previewDir ? "predir" : "mixdir";
  if (!(prefs.preview && pre.previewDir) && !pre.mixDir) mixKeyword = "oname";
  const char* reportKeyword = pre.backupDir ? "bakdir" : "oname";
  std::vector<std::pair<const std::string*, const char*>> outputs = {
      {&paths.mix, mixKeyword}, {&paths.stats, reportKeyword}, {&paths.faderReport, reportKeyword}};
  if (prefs.plot) outputs.push_back({&paths.plot, reportKeyword});
  for (const auto& [path, keyword] : outputs) {
    const std::size_t slash = path->rfind('/');
    if (slash == std::string::npos) continue;
    const std::string folder = slash == 0 ? "/" : path->substr(0, slash);
    const int fault = folderFault(folder);
    if (fault == 0) continue;
    say("Error: cannot write %s: %s\n", path->c_str(), std::strerror(fault));
    const std::string what =
        fault == ENOENT ? "the folder " + folder + " does not exist; create it (mkdir -p " +
                              shellWord(folder) + ") or correct the name"
        : fault == ENOTDIR ? folder + " is not a folder; correct the name"
                           : "the folder " + folder + " cannot be written; check its permissions";
    const int line = keywordLine(prefsFile, keyword);
    if (line == 0 && std::string_view(keyword) == "oname") {
      // Without "oname" the output is named after the fader file's mix name.
      diag.note(names.faders, 0, "the mix name puts the output in a folder: " + what);
    } else {
      diag.note(names.prefs, line, std::string(keyword) + ": " + what);
    }
    throw Fatal(exit_status::kIo);
  }
}

void refuseOutputOverInput(const std::string& output, const std::vector<std::string>& inputs) {
  const auto out = fileId(output);
  if (!out) return;
  for (const std::string& input : inputs) {
    const auto in = fileId(input);
    if (in && in->device == out->device && in->inode == out->inode) {
      say("Error: output file %s is also an input\n", output.c_str());
      throw Fatal(exit_status::kConfig);
    }
  }
}

// A WAVE header holds the data size in 32 bits; a longer render could not be
// described by its header (and would run for days).
void refuseTooLongForWave(std::int64_t frames, int frameBytes, int headerBytes) {
  const std::int64_t maxDataBytes = 0xFFFFFFFFLL - (headerBytes - 8);
  if (frames <= maxDataBytes / frameBytes) return;
  say("Error: a render of %lld frames is too long for a WAVE file\n",
      static_cast<long long>(frames));
  throw Fatal(exit_status::kConfig);
}

OutputPaths planOutputs(const Preferences& prefs, const PreScan& pre,
                        const std::vector<std::string>& inputs) {
  OutputPaths paths;
  const std::string reportDir = pre.backupDir.value_or("");
  paths.mix = prefs.outputPath;
  paths.stats = reportDir + "stats_" + prefs.outputName + ".txt";
  paths.faderReport = reportDir + "faders_" + prefs.outputName + ".txt";
  paths.plot = reportDir + "mix_" + prefs.outputName + ".svg";
  paths.json = reportDir + "stats_" + prefs.outputName + ".json";
  for (const std::string* out : {&paths.mix, &paths.stats, &paths.faderReport})
    refuseOutputOverInput(*out, inputs);
  if (prefs.plot) refuseOutputOverInput(paths.plot, inputs);
  if (prefs.json) refuseOutputOverInput(paths.json, inputs);
  for (int slot = 0; prefs.stems && slot < kStemSlots; ++slot)
    refuseOutputOverInput(stemPath(paths.mix, slot), inputs);
  const int channels = prefs.mono ? 1 : 2;
  if (prefs.format == OutputFormat::kFloat)
    refuseTooLongForWave(prefs.renderLength, 4 * channels, kFloatWaveHeaderBytes);
  else if (prefs.format == OutputFormat::kWave)
    refuseTooLongForWave(prefs.renderLength, (prefs.outputBits / 8) * channels);
  return paths;
}

std::string stemPath(const std::string& mixPath, int slot) {
  const std::size_t slash = mixPath.rfind('/');
  const std::size_t dot = mixPath.rfind('.');
  const std::size_t cut = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                              ? dot
                              : mixPath.size();
  const std::string name = slot == 0             ? "_direct"
                           : slot == kReverbStem ? "_reverb"
                                                 : "_sub" + std::to_string(slot);
  return mixPath.substr(0, cut) + name + mixPath.substr(cut);
}

}  // namespace sorvan
