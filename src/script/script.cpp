#include "script/script.h"

#include <algorithm>

#include "base/messages.h"

namespace sorvan {

MixScript readMixScript(const ScriptInputs& in, ChannelActive& channelActive) {
  MixScript script;
  readMixScript(in, channelActive, script);
  return script;
}

void readMixScript(const ScriptInputs& in, ChannelActive& channelActive, MixScript& script) {
  const int trackCount = std::clamp(in.trackCount, 0, kMaxTracks);

  readRouting(in.faderSection, trackCount, channelActive, script.routing);

  script.automationOffset =
      readAutomationOffset(in.prefsSection, in.sampleRate, in.preview, in.renderStart);
  if (in.tempo) buildTempoMap(in.faderSection, in.sampleRate, in.verbosity, script.tempoMap);
  script.timeFields = readTimeFieldCount(in.prefsSection, in.verbosity);

  if (in.verbosity == 2) sayLine("Reading volume and pan settings...");
  TimeCursor cursor;
  cursor.sampleRate = in.sampleRate;
  cursor.songLength = in.songLength;
  cursor.fieldCount = script.timeFields;
  cursor.tempo = in.tempo;
  cursor.tempoMap = &script.tempoMap;
  cursor.offset = script.automationOffset;
  LevelSettings settings;
  settings.sampleRate = in.sampleRate;
  settings.songLength = in.songLength;
  settings.percent = in.percent;
  LevelTables& levels = script.levels;
  readVolumePass(in.faderSection, settings, cursor, levels);
  script.timeEntries = cursor.entryCount;
  if (in.verbosity == 2) {
    if (cursor.entryCount == 0) {
      sayLine("No time entries found!");
    } else if (cursor.entryCount == 1) {
      sayLine("Counted 1 time entry.");
    } else {
      say("Counted %i time entries.\n", cursor.entryCount);
    }
  }

  readDelayPan(in.faderSection, levels);
  readTrims(in.faderSection, in.percent, levels);
  readScale(in.faderSection, levels);
  readMasterTrim(in.faderSection, levels);
  readEffectsGains(in.faderSection, levels);
  checkLevels(levels);
  addAutomaticRamps(in.sampleRate, in.dbps, levels);
  levels.panLaw = readPanLaw(in.prefsSection);
  computePanGains(in.sourceChannels, levels);
}

}  // namespace sorvan
