#include "wave/open_source.h"

#include "base/messages.h"
#include "wave/resampled_source.h"
#include "wave/sndfile_source.h"

namespace sorvan {

bool readSourceHeader(const std::string& path, SourceAttributes& out) {
  std::string refusal;
  if (readWaveHeader(path, out, refusal)) return true;
  if (probeSndfile(path, out)) return true;
  say("%s", refusal.c_str());
  return false;
}

std::unique_ptr<SampleSource> openSource(const std::string& path, const SourceAttributes& a,
                                         std::uint32_t sessionRate) {
  std::unique_ptr<SampleSource> source;
  if (a.reader == SourceReader::kSndfile) {
    source = std::make_unique<SndfileSource>(path, a);
  } else {
    source = std::make_unique<WaveFileSource>(path, a);
  }
  if (a.sampleRate == sessionRate || !canConvertRate(a.sampleRate, sessionRate)) return source;
  return std::make_unique<ResampledSource>(std::move(source), a.channels, a.frames, a.sampleRate,
                                           sessionRate);
}

}  // namespace sorvan
