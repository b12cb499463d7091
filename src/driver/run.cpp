#include "driver/run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "base/fatal.h"
#include "base/messages.h"
#include "base/numeric.h"
#include "base/output_file.h"
#include "driver/diagnostics.h"
#include "driver/fader_timing.h"
#include "driver/json_report.h"
#include "driver/outputs.h"
#include "driver/prefs.h"
#include "driver/session_check.h"
#include "driver/session_files.h"
#include "driver/terminal_progress.h"
#include "driver/tracks.h"
#include "driver/version.h"
#include "engine/mixer.h"
#include "engine/plot.h"
#include "engine/render_state.h"
#include "engine/report.h"
#include "engine/session.h"
#include "script/effect_settings.h"
#include "script/script.h"
#include "wave/open_source.h"
#include "wave/sink.h"
#include "wave/source.h"

namespace sorvan {
namespace {

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
    "  --threads N  mix with N threads (default: the preferences' threads, else all cores)\n"
    "  --strict     stop with status 2, before anything is written, on any warning\n"
    "               about the files or any channel that would play silence\n"
    "  --no-launch  render everything, but do not run the preferences' launch command\n"
    "  -C DIR       run as if started in DIR\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 rendered (or checked) without errors; 1 different sample rates,\n"
    "impossible reverb room, or the fader-file prompt was ended; 2 configuration or\n"
    "time error, or a warning under --strict; 3 an output file could not be created,\n"
    "written or closed.\n"
    "\n"
    "The user guide is docs/guide.md; the manual page is sorvan(1).\n";

struct CommandLine {
  SessionPaths paths;
  int threads = 0;                   // 0: as the preferences say
  std::vector<std::string> folders;  // -C, in order
  bool check = false;
  bool strict = false;
  bool noLaunch = false;
  bool help = false;
  bool version = false;
};

// Arguments starting with "--" are options, and so is -C with its folder (as
// "-C DIR" or "-CDIR"); the others keep their positions, and a later position
// counts only when every earlier one is present.
CommandLine parseCommandLine(int argc, char** argv) {
  CommandLine cmd;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("-C", 0) == 0) {
      if (arg.size() == 2 && i + 1 == argc) {
        sayLine("Option -C needs a folder (see sorvan --help)");
        throw Fatal(exit_status::kConfig);
      }
      cmd.folders.push_back(arg.size() > 2 ? arg.substr(2) : argv[++i]);
    } else if (arg.rfind("--", 0) != 0) {
      positional.push_back(arg);
    } else if (arg == "--check") {
      cmd.check = true;
    } else if (arg == "--threads" && i + 1 < argc && readInteger(argv[i + 1]) >= 1) {
      cmd.threads = static_cast<int>(std::min<std::int64_t>(readInteger(argv[++i]), 256));
    } else if (arg == "--strict") {
      cmd.strict = true;
    } else if (arg == "--no-launch") {
      cmd.noLaunch = true;
    } else if (arg == "--help") {
      cmd.help = true;
    } else if (arg == "--version") {
      cmd.version = true;
    } else {
      say("Unknown option %s (see sorvan --help)\n", arg.c_str());
      throw Fatal(exit_status::kConfig);
    }
  }
  if (positional.size() > 0) cmd.paths.tracks = positional[0];
  if (positional.size() > 1) cmd.paths.faders = positional[1];
  if (positional.size() > 2) cmd.paths.prefs = positional[2];
  return cmd;
}

// Stage 5: the track list and the source recordings.
struct SourceStage {
  TrackList tracks;
  Sources sources;
};

SourceStage readSourceStage(const SessionFiles& files, const SessionPaths& names,
                            Diagnostics& diag) {
  SourceStage stage;
  stage.tracks = readTrackList(files.tracks.section(), files.trackCount, files.pre.trackListMode,
                               files.pre.tabSeparatedTracks);
  SourceReport report(diag, names, firstSectionLine(files.tracks), files.pre);
  stage.sources = readSources(stage.tracks, files.pre.sourceDir, files.faders.section(),
                              files.pre.verbosity, readRateSettings(files.prefs.section()), report);
  return stage;
}

// Runs as if started in each folder in turn, as make -C does.
void changeFolders(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    if (::chdir(folder.c_str()) == 0) continue;
    say("Error: cannot change to folder %s: %s\n", folder.c_str(), std::strerror(errno));
    throw Fatal(exit_status::kConfig);
  }
}

// Every file the run reads, which no output may overwrite.
std::vector<std::string> runInputs(const SessionPaths& paths, const Sources& sources) {
  std::vector<std::string> inputs = sources.paths;
  inputs.insert(inputs.end(), {paths.tracks, paths.faders, paths.prefs});
  return inputs;
}

// Stage 7: routing, time and levels, read into `script` (its level tables are
// megabytes: built once, not copied). Channels left feeding no active bus are
// cleared in `active`.
void readScriptStage(const SessionFiles& files, const Sources& sources, const Preferences& prefs,
                     ChannelFlags& active, MixScript& script) {
  ScriptInputs in;
  in.faderSection = files.faders.section();
  in.prefsSection = files.prefs.section();
  in.sampleRate = sources.rate;
  in.songLength = sources.songLength;
  in.renderStart = prefs.renderStart;
  in.preview = prefs.preview;
  in.trackCount = files.trackCount;
  in.verbosity = files.pre.verbosity;
  in.percent = prefs.percent;
  in.tempo = prefs.tempo;
  in.dbps = prefs.dbps;
  for (int ch = 1; ch <= files.trackCount; ++ch)
    in.sourceChannels[ch] = sources.active[ch] ? sources.attributes[ch].channels : 0;
  active = sources.active;
  readMixScript(in, active, script);
}

// Stage 8: the settings of every strip processor and of the reverbs.
std::unique_ptr<EffectSettings> readEffectStage(const SessionFiles& files, double rate,
                                                const Preferences& prefs) {
  auto effects = std::make_unique<EffectSettings>();
  readEffectSettings(EffectInputs{files.faders.section(), rate, prefs.percent, files.pre.verbosity},
                     *effects);
  return effects;
}

std::uint32_t ditherSeed(const Preferences& prefs) {
  if (prefs.seed) return *prefs.seed;
  return static_cast<std::uint32_t>(std::time(nullptr) % 3600);
}

// The command line's thread count, else the preferences', else every core.
int renderThreads(const CommandLine& cmd, const Preferences& prefs) {
  if (cmd.threads > 0) return cmd.threads;
  if (prefs.threads > 0) return prefs.threads;
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

RenderPlan makeRenderPlan(const TrackList& tracks, const Sources& sources,
                          const ChannelFlags& active, const Preferences& prefs, int verbosity) {
  RenderPlan plan;
  plan.trackCount = tracks.count;
  for (int ch = 1; ch <= tracks.count; ++ch) {
    SourceChannel& c = plan.channels[ch];
    const SourceAttributes& a = sources.attributes[ch];
    c.wanted = tracks.wanted[ch] && active[ch];
    c.channels = a.channels;
    c.start = sources.startOffset[ch];
    c.length = sources.length[ch];
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
  plan.format = prefs.format;
  plan.stems = prefs.stems;
  return plan;
}

struct TapFile {
  int mode = 0;  // 0: none
  std::string path;
};

// Stage 9: the tap file carries the recursive reverb's send or the reverbs'
// return, so it is made only when that reverb runs.
TapFile planTapFile(const SessionFiles& files, const EffectSettings& effects,
                    const Preferences& prefs, const std::vector<std::string>& inputs) {
  const ReverbSettings& r = effects.reverbs;
  TapFile tap;
  if (!r.anyInUse() || !(r.recursiveInUse || r.masterFedRecursive)) return tap;
  tap.mode = readTapMode(files.prefs.section());
  if (tap.mode == 0) return tap;
  tap.path = files.pre.mixDir.value_or("") + (tap.mode == 1 ? "revTap.wav" : "rtnTap.wav");
  // The send tap needs the send-fed recursive reverb; a master-fed reverb
  // takes the place of the send-fed ones, and then there is no such send.
  if (tap.mode == 1 && !r.recursiveRuns()) {
    say("Tap file %s not written: a master-fed reverb replaces the send-fed ones, so the "
        "recursive reverb has no send; write tap<TAB>rtn to tap the return instead\n",
        tap.path.c_str());
    return TapFile{};
  }
  refuseOutputOverInput(tap.path, inputs);
  // Both are renamed into place after the mix; one name would lose the mix.
  if (tap.path == prefs.outputPath) {
    say("Error: output file %s is also the tap file\n", tap.path.c_str());
    throw Fatal(exit_status::kConfig);
  }
  refuseTooLongForWave(prefs.renderLength, 6);
  return tap;
}

// The recordings of the channels the plan reads.
struct OpenSources {
  std::vector<std::unique_ptr<SampleSource>> files;
  SourceTable table{};

  void close() {
    for (auto& file : files) file->close();
  }
};

OpenSources openSources(const RenderPlan& plan, const Sources& sources) {
  OpenSources open;
  for (int ch = 1; ch <= plan.trackCount; ++ch) {
    if (!plan.channels[ch].wanted) continue;
    open.files.push_back(
        openSource(sources.paths[ch - 1], sources.attributes[ch], sources.sampleRate));
    open.table[ch] = open.files.back().get();
  }
  return open;
}

// The stream buffer of a WAVE output: `bytes`, or less when the whole file
// is smaller.
std::size_t streamBuffer(std::size_t bytes, const WaveFormat& f) {
  const std::int64_t whole =
      44 + f.frames * (f.bits / 8) * f.channels;  // the frame count fits a WAVE file
  return static_cast<std::size_t>(
      std::clamp<std::int64_t>(whole, 4096, static_cast<std::int64_t>(bytes)));
}

// A loudness target's first pass: the whole render with a state of its own,
// writing nothing, then the one gain that brings the master to the target
// without its true peak passing the ceiling. What the sources print is
// printed once, by the render that follows (unless this pass fails).
TargetOutcome measureForTarget(const RenderInputs& session, const SourceStage& src,
                               const LoudnessTarget& target) {
  if (session.plan.verbosity == 2) sayLine("Measuring the loudness for the target...");
  RenderPlan measuring = session.plan;
  measuring.measuring = true;
  const RenderInputs pass{measuring, session.script, session.effects};
  LoudnessResult master;
  {
    auto quiet = std::make_unique<MessageCapture>();
    try {
      const std::unique_ptr<RenderState> state = prepareRender(pass);
      OpenSources sources = openSources(measuring, src.sources);
      master = measureMix(pass, *state, sources.table);
      sources.close();
    } catch (...) {
      const std::string said = quiet->text();
      quiet.reset();
      say("%s", said.c_str());
      throw;
    }
  }
  TargetOutcome outcome;
  outcome.set = true;
  outcome.lufs = target.lufs;
  outcome.ceiling = target.ceiling;
  if (!master.measured) return outcome;
  outcome.measured = true;
  outcome.masterLufs = master.integrated;
  outcome.masterTruePeakDb = master.truePeakDb;
  outcome.gainDb = target.lufs - master.integrated;
  if (master.truePeak > 0 && master.truePeakDb + outcome.gainDb > target.ceiling) {
    outcome.gainDb = target.ceiling - master.truePeakDb;
    outcome.heldByCeiling = true;
  }
  return outcome;
}

WaveFormat outputFormat(const RenderPlan& plan, std::uint32_t rate) {
  WaveFormat format{rate, plan.outputBits, plan.mono ? 1 : 2, plan.renderLength};
  if (plan.format == OutputFormat::kFloat) format.encoding = SampleEncoding::kFloat;
  if (plan.format == OutputFormat::kFlac) format.encoding = SampleEncoding::kFlac;
  return format;
}

// Stages 10 and 11: the outputs are created, the mix renders into them and
// they are renamed into place once all of them are complete. `written`
// receives their paths.
MixMeters renderStage(const RenderInputs& session, RenderState& state, const SourceStage& src,
                      const OutputPaths& paths, const TapFile& tapFile, MixPlot* plot,
                      std::vector<std::string>& written) {
  const RenderPlan& plan = session.plan;
  const auto rate = src.sources.sampleRate;
  const WaveFormat format = outputFormat(plan, rate);
  const auto bufferBytes =
      streamBuffer(static_cast<std::size_t>(plan.outputBits / 3) * 262144, format);
  std::vector<std::unique_ptr<FileSink>> files;
  files.push_back(openFileSink(paths.mix, format, bufferBytes));
  RenderOutputs outputs{*files.back()};
  if (tapFile.mode != 0) {
    const WaveFormat tapFormat{rate, 24, 2, plan.renderLength};
    files.push_back(
        std::make_unique<WaveFileSink>(tapFile.path, tapFormat, streamBuffer(2097152, tapFormat)));
    outputs.tap = files.back().get();
  }
  for (int slot = 0; slot < kStemSlots; ++slot) {
    if (!state.stems[slot]) continue;
    files.push_back(openFileSink(stemPath(paths.mix, slot), format, bufferBytes));
    outputs.stems[slot] = files.back().get();
  }
  OpenSources sources = openSources(plan, src.sources);
  TerminalProgress terminal(plan.verbosity > 0 ? plan.sampleRate : 0.0);
  outputs.plot = plot;
  outputs.progress = terminal.active() ? &terminal : nullptr;
  const MixMeters meters = renderMix(session, state, sources.table, outputs);
  sources.close();
  for (auto& file : files) file->finish();
  for (auto& file : files) {
    file->commit();
    written.push_back(file->path());
  }
  return meters;
}

// What the JSON report needs beyond the statistics.
struct RunRecord {
  const RenderPlan* plan = nullptr;
  std::vector<std::string> warnings;
  std::vector<std::string> written;
};

// Stage 12: the statistics, the fader report, the picture and the JSON report.
void writeReports(const MixMeters& meters, const SessionFiles& files, const SourceStage& src,
                  const ChannelFlags& active, const MixScript& script, const Preferences& prefs,
                  const OutputPaths& paths, const MixPlot* plot, std::clock_t startClock,
                  RunRecord& record) {
  ReportInputs report;
  report.meters = &meters;
  report.sampleRate = src.sources.sampleRate;
  report.trackCount = files.trackCount;
  report.sourceNames = &src.tracks.names;
  report.channelActive = &active;
  report.busActive = script.routing.busActive;
  report.outputName = prefs.outputName;
  report.outputBits = prefs.outputBits;
  report.faderText = &files.faders.text;
  report.statsPath = paths.stats;
  report.faderReportPath = paths.faderReport;
  report.verbosity = files.pre.verbosity;
  report.startClock = startClock;
  for (int ch = 1; ch <= files.trackCount; ++ch) {
    if (src.sources.converted[ch] && active[ch])
      report.converted.push_back({ch, src.tracks.names[static_cast<std::size_t>(ch - 1)],
                                  src.sources.attributes[ch].sampleRate});
  }
  const double seconds = CreateTextFiles(report);
  record.written.insert(record.written.end(), {paths.stats, paths.faderReport});
  if (plot) {
    writeWholeFile(paths.plot, plot->svg(prefs.outputName));
    record.written.push_back(paths.plot);
    if (files.pre.verbosity == 2) say("Mix picture: %s\n", paths.plot.c_str());
  }
  if (prefs.json) {
    JsonReportInputs json{&report,        &prefs, record.plan, std::move(record.warnings),
                          record.written, seconds};
    writeWholeFile(paths.json, statisticsJson(json));
  }
}

// Stage 13: the command the preferences ask for once everything is written.
// A session folder may come from anyone, and this runs its command in a
// shell, so the command is shown before it runs and --no-launch skips it.
void launch(const Preferences& prefs, bool skip) {
  if (!prefs.launch) return;
  if (skip) {
    say("Launch command not run (--no-launch): %s\n", prefs.launch->c_str());
    return;
  }
  say("Running the launch command: %s\n", prefs.launch->c_str());
  std::fflush(stdout);
  [[maybe_unused]] const int ignored = std::system(prefs.launch->c_str());
}

int run(const CommandLine& cmd) {
  const std::clock_t startClock = std::clock();
  // The messages up to the render, for the JSON report's warnings.
  auto messages = std::make_unique<MessageRecord>();
  changeFolders(cmd.folders);
  const SessionFiles files = loadSessionFiles(cmd.paths, cmd.check);
  const int verbosity = files.pre.verbosity;
  Diagnostics diag(verbosity >= 2 || cmd.check || cmd.strict, cmd.strict);
  checkSessionText(files, cmd.paths, diag);
  const SourceStage src = readSourceStage(files, cmd.paths, diag);
  const Sources& sources = src.sources;

  const Preferences prefs =
      checkPreferences(files.prefs.section(), files.pre,
                       SongFacts{files.faders.section(), sources.rate, sources.songLength});
  const auto timeFault = checkFaderTiming(files, cmd.paths, sources, prefs, diag);
  const std::vector<std::string> inputs = runInputs(cmd.paths, sources);
  const OutputPaths paths = planOutputs(prefs, files.pre, inputs);
  checkOutputFolders(paths, prefs, files.pre, files.prefs, cmd.paths, diag);
  // Strictness stops the run here: nothing has been written yet.
  if (!cmd.check) diag.stopIfStrict();

  ChannelFlags active{};
  MixScript script;
  try {
    readScriptStage(files, sources, prefs, active, script);
  } catch (const Fatal&) {
    if (timeFault) explainTimeEntryFault(*timeFault, sources, cmd.paths, diag);
    throw;
  }
  const auto effects = readEffectStage(files, sources.rate, prefs);

  RenderPlan plan = makeRenderPlan(src.tracks, sources, active, prefs, verbosity);
  plan.threads = renderThreads(cmd, prefs);
  plan.threadsFromCores = cmd.threads <= 0 && prefs.threads <= 0;
  const TapFile tap = planTapFile(files, *effects, prefs, inputs);
  plan.tapMode = tap.mode;
  const RenderInputs session{plan, script, *effects};
  // Everything that can refuse the render is checked here, before any output exists.
  const std::unique_ptr<RenderState> state = prepareRender(session);
  if (cmd.check) {
    if (prefs.launch)
      say("Check: a render would then run the launch command: %s\n", prefs.launch->c_str());
    diag.stopIfStrict();
    diag.summary();
    sayLine("Check complete: the session is ready to render; nothing was written.");
    return exit_status::kOk;
  }

  RunRecord record;
  record.plan = &plan;
  record.warnings = runWarnings(diag.findings(), messages->messages());
  messages.reset();  // nothing is recorded while the render runs
  TargetOutcome target;
  if (prefs.target) {
    target = measureForTarget(session, src, *prefs.target);
    plan.outputGain = std::pow(10.0, target.gainDb / 20.0);
  }

  std::unique_ptr<MixPlot> plot;
  if (prefs.plot) plot = std::make_unique<MixPlot>(makeMixPlot(plan, script, src.tracks.names));
  MixMeters meters = renderStage(session, *state, src, paths, tap, plot.get(), record.written);
  meters.target = target;
  if (verbosity > 0) say("\nDone!  Created the file: %s\n\n", paths.mix.c_str());

  writeReports(meters, files, src, active, script, prefs, paths, plot.get(), startClock, record);
  diag.summary();
  launch(prefs, cmd.noLaunch);
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
      say("%s\nbuild %s\n", kVersionLine, kBuild);
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
