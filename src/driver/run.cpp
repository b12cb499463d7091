#include "driver/run.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ctime>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "base/fatal.h"
#include "base/messages.h"
#include "base/numeric.h"
#include "base/output_file.h"
#include "driver/prefs.h"
#include "driver/text_file.h"
#include "driver/tracks.h"
#include "engine/mixer.h"
#include "engine/plot.h"
#include "engine/report.h"
#include "engine/session.h"
#include "reverb/recursive_reverb.h"
#include "reverb/tap_reverb.h"
#include "script/effect_settings.h"
#include "script/script.h"
#include "wave/header.h"

namespace sorvan {
namespace {

constexpr const char* kBanner =
    "Sorvan version 1.164 (w20e)\n"
    "Scripted offline multitrack mixing console\n";

#ifndef SORVAN_BUILD
#define SORVAN_BUILD "unknown"
#endif

constexpr const char* kUsage =
    "Usage: sorvan [options] [tracks.txt [faders.txt [prefs.txt]]]\n"
    "\n"
    "Renders the mix described by the three text files of the current folder:\n"
    "  tracks.txt   which WAVE recording feeds which channel\n"
    "  faders.txt   the mix script (time entries, faders, routing, processors)\n"
    "  prefs.txt    render settings (created with defaults when missing)\n"
    "\n"
    "Options:\n"
    "  --check      read and check everything, print every warning, write nothing\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 rendered (or checked) without errors; 1 different sample rates,\n"
    "impossible reverb room, or the fader-file prompt was ended; 2 configuration or\n"
    "time error; 3 an output file could not be created, written or closed.\n"
    "\n"
    "The user guide is docs/guide.md; the manual page is sorvan(1).\n";

struct CommandLine {
  std::string tracksPath = "tracks.txt";
  std::string faderPath = "faders.txt";
  std::string prefsPath = "prefs.txt";
  bool check = false;
  bool help = false;
  bool version = false;
};

// Arguments starting with "--" are options; the others keep their positions,
// and a later position counts only when every earlier one is present.
CommandLine parseCommandLine(int argc, char** argv) {
  CommandLine cmd;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) {
      positional.push_back(arg);
    } else if (arg == "--check") {
      cmd.check = true;
    } else if (arg == "--help") {
      cmd.help = true;
    } else if (arg == "--version") {
      cmd.version = true;
    } else {
      say("Unknown option %s (see sorvan --help)\n", arg.c_str());
      throw Fatal(exit_status::kConfig);
    }
  }
  if (positional.size() > 0) cmd.tracksPath = positional[0];
  if (positional.size() > 1) cmd.faderPath = positional[1];
  if (positional.size() > 2) cmd.prefsPath = positional[2];
  return cmd;
}

bool pathExists(const char* path) {
  struct stat info {};
  return ::lstat(path, &info) == 0;
}

// Creates a default file under its fixed name unless a file of that name
// exists already; either way the run goes on with `text`. A check only says
// so. Returns whether the file was written.
bool createDefaultFile(const char* name, const std::string& text, bool check) {
  if (check) {
    say("Check: would create %s with default settings.\n", name);
    return false;
  }
  if (pathExists(name)) {
    say("%s already exists and was left unchanged; using the default text for this run.\n", name);
    return false;
  }
  writeWholeFile(name, text);
  return true;
}

TextFile loadPreferences(const std::string& path, bool check) {
  if (auto file = loadTextFile(path)) return std::move(*file);
  say("\nWarning: prefs.txt file was not found...");
  if (check || pathExists("prefs.txt")) say("\n");
  if (createDefaultFile("prefs.txt", kDefaultPreferencesText, check))
    sayLine("...created one for you.");
  return makeTextFile(kDefaultPreferencesText);
}

// The answer to the default-level question: the first word of standard input,
// which must be a number as the fader file itself writes numbers.
bool readDefaultLevel(double& level) {
  char word[64];
  if (std::scanf("%63s", word) != 1) return false;
  return parseReal(word, level);
}

TextFile loadTracks(const std::string& path) {
  if (auto file = loadTextFile(path)) return std::move(*file);
  sayLine("tracks.txt file was not found.");
  sayLine("Create the file and run again.");
  sayLine("Exiting...");
  throw Fatal(exit_status::kConfig);
}

std::string defaultFaderText(int trackCount, double level) {
  std::string text = "begin\ntest_mix\n\nt\t0\t0\t0\n";
  const int channels = trackCount < kMaxTracks ? trackCount : kMaxTracks;
  for (int ch = 1; ch <= channels; ++ch) {
    char line[400];
    std::snprintf(line, sizeof line, "v\t%i\t%.1f\n", ch, level);
    text += line;
  }
  return text + "end\n";
}

TextFile loadFaders(const std::string& path, int trackCount, bool check) {
  if (auto file = loadTextFile(path)) return std::move(*file);
  sayLine("faders.txt file was not found");
  if (check) {
    // A check asks nothing: it goes on as if 0 dB had been entered.
    const std::string text = defaultFaderText(trackCount, 0.0);
    createDefaultFile("faders.txt", text, check);
    return makeTextFile(text);
  }
  sayLine("Enter the default fader value or -999 to exit.");
  sayFlush();
  double level = 0.0;
  if (!readDefaultLevel(level)) {
    sayLine("No default fader value was given.");
    throw Fatal(exit_status::kUser);
  }
  if (level == -999.0) throw Fatal(exit_status::kUser);
  const std::string text = defaultFaderText(trackCount, level);
  createDefaultFile("faders.txt", text, check);
  return makeTextFile(text);
}

struct FileId {
  dev_t device;
  ino_t inode;
};

std::optional<FileId> fileId(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{info.st_dev, info.st_ino};
}

// Refuses an output that would overwrite one of the run's own inputs.
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

// The reverb rooms are checked when the reverbs first run; a check runs the
// same set-up so that an impossible room fails here too.
void checkReverbRooms(const ReverbSettings& r, double rate) {
  if (r.tapInUse || r.masterFedTap) {
    TapReverbState tapState;
    int taps = r.taps;
    setupDiscreteReverb(tapState, kBlockFrames, rate, r.tapRoom, taps, r.p1, r.p2, r.p3);
  }
  if (r.recursiveInUse || r.masterFedRecursive) {
    auto recursive = std::make_unique<RecurseReverbState>();
    setupRecurseReverb(*recursive, rate, r.recursiveRoom, r.p1, r.p2, r.p3, r.width);
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

std::uint32_t ditherSeed(const Preferences& prefs) {
  if (prefs.seed) return *prefs.seed;
  return static_cast<std::uint32_t>(std::time(nullptr) % 3600);
}

RenderPlan makeRenderPlan(const TrackList& tracks, const Sources& sources,
                          const ChannelFlags& active, const Preferences& prefs, int verbosity) {
  RenderPlan plan;
  plan.trackCount = tracks.count;
  for (int ch = 1; ch <= tracks.count; ++ch) {
    SourceChannel& c = plan.channels[ch];
    const SourceAttributes& a = sources.attributes[ch];
    c.path = sources.paths[ch - 1];
    c.wanted = tracks.wanted[ch] && active[ch];
    c.channels = a.channels;
    c.bytesPerSample = a.bytesPerSample;
    c.dataOffset = a.dataOffset;
    c.start = sources.startOffset[ch];
    c.length = a.frames;
  }
  plan.renderStart = prefs.renderStart;
  plan.renderLength = prefs.renderLength;
  plan.sampleRate = sources.rate;
  plan.outputBits = prefs.outputBits;
  plan.mono = prefs.mono;
  plan.monoFactor = prefs.monoFactor;
  plan.ditherHalfWidth = prefs.ditherHalfWidth;
  plan.ditherModulus = prefs.ditherModulus;
  plan.ditherSeed = ditherSeed(prefs);
  plan.verbosity = verbosity;
  return plan;
}

int run(const CommandLine& cmd) {
  // Stage 1: start-up.
  const std::clock_t startClock = std::clock();

  // Stage 2: preferences pre-scan.
  TextFile prefsFile = loadPreferences(cmd.prefsPath, cmd.check);
  warnPreferencesLines(prefsFile);
  const PreScan pre = preScanPreferences(prefsFile.section());
  const int verbosity = pre.verbosity;
  if (verbosity == 2) say("%s", kBanner);

  // Stage 3: tracks file.
  const TextFile tracksFile = loadTracks(cmd.tracksPath);
  if (verbosity > 1) warnTracksLines(tracksFile, pre.tabSeparatedTracks);
  const int trackCount = countTracks(tracksFile.section());
  if (verbosity == 2) {
    if (trackCount == 1) {
      sayLine("Counted 1 track");
    } else {
      say("Counted %i tracks\n", trackCount);
    }
  }

  // Stage 4: fader file.
  TextFile faderFile = loadFaders(cmd.faderPath, trackCount, cmd.check);
  if (verbosity > 1) warnFaderLines(faderFile);
  removeSectionSpaces(faderFile);

  // Stage 5: sources.
  TrackList tracks = readTrackList(tracksFile.section(), trackCount, pre.trackListMode,
                                   pre.tabSeparatedTracks);
  const Sources sources = readSources(tracks, pre.sourceDir, faderFile.section(), verbosity);

  // Stage 6: preferences check and the output header.
  const Preferences prefs = checkPreferences(
      prefsFile.section(), pre, SongFacts{faderFile.section(), sources.rate, sources.songLength});
  std::vector<std::string> inputs = sources.paths;
  inputs.insert(inputs.end(), {cmd.tracksPath, cmd.faderPath, cmd.prefsPath});
  const std::string reportDir = pre.backupDir.value_or("");
  const std::string statsPath = reportDir + "stats_" + prefs.outputName + ".txt";
  const std::string faderReportPath = reportDir + "faders_" + prefs.outputName + ".txt";
  const std::string plotPath = reportDir + "mix_" + prefs.outputName + ".svg";
  for (const std::string* out : {&prefs.outputPath, &statsPath, &faderReportPath})
    refuseOutputOverInput(*out, inputs);
  if (prefs.plot) refuseOutputOverInput(plotPath, inputs);
  refuseTooLongForWave(prefs.renderLength, (prefs.outputBits / 8) * (prefs.mono ? 1 : 2));
  OutputFile output;
  if (!cmd.check) {
    output.open(prefs.outputPath, static_cast<std::size_t>(prefs.outputBits / 3) * 262144);
    const auto header = MAKE_HEADER(sources.sampleRate, static_cast<unsigned>(prefs.outputBits),
                                    prefs.mono ? 1 : 2, prefs.renderLength);
    output.write(header.data(), header.size());
  }

  // Stage 7: the mix script.
  ScriptInputs scriptIn;
  scriptIn.faderSection = faderFile.section();
  scriptIn.prefsSection = prefsFile.section();
  scriptIn.sampleRate = sources.rate;
  scriptIn.songLength = sources.songLength;
  scriptIn.renderStart = prefs.renderStart;
  scriptIn.preview = prefs.preview;
  scriptIn.trackCount = trackCount;
  scriptIn.verbosity = verbosity;
  scriptIn.percent = prefs.percent;
  scriptIn.tempo = prefs.tempo;
  scriptIn.dbps = prefs.dbps;
  for (int ch = 1; ch <= trackCount; ++ch) {
    scriptIn.sourceChannels[ch] = sources.active[ch] ? sources.attributes[ch].channels : 0;
    scriptIn.startOffset[ch] = sources.startOffset[ch];
  }
  ChannelFlags active = sources.active;
  MixScript script = readMixScript(scriptIn, active);

  // Stage 8: effect settings.
  auto effects = std::make_unique<EffectSettings>();
  readEffectSettings(
      EffectInputs{faderFile.section(), sources.rate, prefs.percent, verbosity}, *effects);

  // Stage 9: tap output. The tap file carries the recursive reverb's send or
  // the reverbs' return, so it is made only when that reverb runs.
  RenderPlan plan = makeRenderPlan(tracks, sources, active, prefs, verbosity);
  OutputFile tap;
  if (effects->reverbs.anyInUse()) plan.tapMode = readTapMode(prefsFile.section());
  const bool recursiveRuns =
      effects->reverbs.recursiveInUse || effects->reverbs.masterFedRecursive;
  if (cmd.check) {
    checkReverbRooms(effects->reverbs, sources.rate);
    sayLine("Check complete: the session is ready to render; nothing was written.");
    return exit_status::kOk;
  }
  if (plan.tapMode != 0 && recursiveRuns) {
    const std::string tapPath =
        pre.mixDir.value_or("") + (plan.tapMode == 1 ? "revTap.wav" : "rtnTap.wav");
    refuseOutputOverInput(tapPath, inputs);
    // Both are renamed into place after the mix; one name would lose the mix.
    if (tapPath == prefs.outputPath) {
      say("Error: output file %s is also the tap file\n", tapPath.c_str());
      throw Fatal(exit_status::kConfig);
    }
    refuseTooLongForWave(prefs.renderLength, 6);
    tap.open(tapPath, 2097152);
    const auto tapHeader = MAKE_HEADER(sources.sampleRate, 24, 2, prefs.renderLength);
    tap.write(tapHeader.data(), tapHeader.size());
  } else {
    plan.tapMode = 0;
  }

  // Stage 10: the mix.
  std::unique_ptr<MixPlot> plot;
  if (prefs.plot) plot = std::make_unique<MixPlot>(makeMixPlot(plan, script, tracks.names));
  const MixMeters meters =
      renderMix(plan, script, *effects, output, tap.isOpen() ? &tap : nullptr, plot.get());

  // Stage 11: close.
  output.commit();
  tap.commit();
  if (verbosity > 0) say("\nDone!  Created the file: %s\n\n", prefs.outputPath.c_str());

  // Stage 12: reports.
  ReportInputs report;
  report.meters = &meters;
  report.sampleRate = sources.sampleRate;
  report.trackCount = trackCount;
  report.sourceNames = &tracks.names;
  report.channelActive = &active;
  report.busActive = script.routing.busActive;
  report.outputName = prefs.outputName;
  report.outputBits = prefs.outputBits;
  report.faderText = &faderFile.text;
  report.statsPath = statsPath;
  report.faderReportPath = faderReportPath;
  report.verbosity = verbosity;
  report.startClock = startClock;
  CreateTextFiles(report);
  if (plot) {
    writeWholeFile(plotPath, plot->svg(prefs.outputName));
    if (verbosity == 2) say("Mix picture: %s\n", plotPath.c_str());
  }

  // Stage 13: launch.
  if (prefs.launch) {
    std::fflush(stdout);
    [[maybe_unused]] const int ignored = std::system(prefs.launch->c_str());
  }
  return exit_status::kOk;
}

}  // namespace

int runMain(int argc, char** argv) {
  try {
    const CommandLine cmd = parseCommandLine(argc, argv);
    if (cmd.help) {
      say("%s", kUsage);
      return exit_status::kOk;
    }
    if (cmd.version) {
      say("Sorvan version 1.164 (w20e)\nbuild %s\n", SORVAN_BUILD);
      return exit_status::kOk;
    }
    return run(cmd);
  } catch (const Fatal& fatal) {
    std::fflush(stdout);
    return fatal.status;
  } catch (const std::bad_alloc&) {
    sayLine("Error: out of memory");
    std::fflush(stdout);
    return exit_status::kIo;
  }
}

}  // namespace sorvan
