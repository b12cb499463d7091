#include "dynamics/switched_compressor.h"

namespace sorvan {

SwitchedCompressorSettings switchedCompressor(std::int64_t threshold, long attackSamples,
                                              long releaseSamples, double ratio) {
  SwitchedCompressorSettings s;
  s.thresh = threshold;
  s.attackSamples = attackSamples < 1 ? 1 : attackSamples;
  s.releaseSamples = releaseSamples < 1 ? 1 : releaseSamples;
  s.ratio = ratio >= 1.0 ? ratio : 1.0;
  return s;
}

void triggerAttack(SwitchedPhase& s) {
  s.phase = compressor_phase::kAttack;
  s.attackCount = 1;
  s.releaseCount = 1;
  s.passTL = s.passTR = 0;
}

std::vector<double> curveTable(long length) {
  std::vector<double> table(static_cast<std::size_t>(length) + 1);
  for (long step = 0; step <= length; ++step)
    table[static_cast<std::size_t>(step)] = curveValue(step, length);
  return table;
}

}  // namespace sorvan
