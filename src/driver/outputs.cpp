#include "driver/outputs.h"

#include <optional>

#include <sys/stat.h>

#include "base/fatal.h"
#include "base/messages.h"

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

}  // namespace

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
void refuseTooLongForWave(std::int64_t frames, int frameBytes) {
  constexpr std::int64_t kMaxDataBytes = 0xFFFFFFFFLL - 36;
  if (frames <= kMaxDataBytes / frameBytes) return;
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
  for (const std::string* out : {&paths.mix, &paths.stats, &paths.faderReport})
    refuseOutputOverInput(*out, inputs);
  if (prefs.plot) refuseOutputOverInput(paths.plot, inputs);
  refuseTooLongForWave(prefs.renderLength, (prefs.outputBits / 8) * (prefs.mono ? 1 : 2));
  return paths;
}

}  // namespace sorvan
