// The statistics for programs: stats_<name>.json beside the text, holding
// every number of the text report (unrounded), the settings that made the
// mix, the warnings of the run and the files it wrote. The schema is in the
// guide; "version" changes whenever a field changes meaning or goes away.
#pragma once

#include <string>
#include <vector>

#include "driver/prefs.h"
#include "engine/report.h"
#include "engine/session.h"

namespace sorvan {

inline constexpr int kJsonReportVersion = 1;

struct JsonReportInputs {
  const ReportInputs* report = nullptr;  // what the statistics text was made of
  const Preferences* prefs = nullptr;
  const RenderPlan* plan = nullptr;
  std::vector<std::string> warnings;
  std::vector<std::string> files;  // written by the run, in order
  double processingSeconds = 0;    // as the text reported it
};

std::string statisticsJson(const JsonReportInputs& in);

// The warnings of a run: the findings about the session files (printed or
// not), then the console's own warnings and corrections among the messages
// printed (one entry per message), without their surrounding line breaks.
std::vector<std::string> runWarnings(const std::vector<std::string>& findings,
                                     const std::vector<std::string>& messages);

}  // namespace sorvan
