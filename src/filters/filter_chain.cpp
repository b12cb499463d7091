#include "filters/filter_chain.h"

#include <algorithm>

#include "base/target.h"
#include "filters/chain_walks.h"

namespace sorvan {
namespace {

// The frames at the start of a chain that go through its filters one by one:
// until every filter has seen its seeding samples (one for the high-pass, two
// for a section).
long seedingFrames(const ChainFilter* filters, int count, long n) {
  long head = 0;
  for (int f = 0; f < count; ++f) {
    const ChainFilter& c = filters[f];
    const long need = c.hpf ? (c.hpfMemory->seeded ? 0 : 1) : 2 - c.biquadMemory->first;
    head = std::max(head, std::min(n, need));
  }
  return head;
}

void runOneByOne(const ChainFilter* filters, int count, long n, double* left, double* right) {
  for (int f = 0; f < count; ++f) {
    const ChainFilter& c = filters[f];
    if (c.hpf)
      HPF(*c.hpf, *c.hpfMemory, n, left, right);
    else
      runBiquad(*c.biquad, *c.biquadMemory, n, left, right);
  }
}

// The walk built for this processor, chosen once.
struct ChainWalk {
  ChainWalkFunction run;
  int widest;  // the most channels side by side that pay here
};

ChainWalk chooseWalk() {
  switch (processorFamily()) {
    case ProcessorFamily::kAvx512:
      return {runChainWalkAvx512, 4};
    case ProcessorFamily::kAvx2:
      return {runChainWalkAvx2, 2};
    default:
      return {runChainWalkBaseline, 2};
  }
}

const ChainWalk& walk() {
  static const ChainWalk chosen = chooseWalk();
  return chosen;
}

}  // namespace

void runFilterChain(const ChainFilter* filters, int count, long n, double* left, double* right) {
  if (n <= 0 || count <= 0) return;
  const long head = seedingFrames(filters, count, n);
  if (head > 0) runOneByOne(filters, count, head, left, right);
  if (head == n) return;
  const ChainChannel channel{filters, left, right};
  walk().run(&channel, 1, count, head, n);
}

void runFilterChains(const ChainChannel* channels, int channelCount, int count, long n) {
  if (n <= 0 || count <= 0 || channelCount <= 0) return;
  // A chain still seeding (a channel's first frames) runs on its own.
  bool seeded = true;
  for (int c = 0; c < channelCount; ++c)
    seeded = seeded && seedingFrames(channels[c].filters, count, n) == 0;
  if (!seeded) {
    for (int c = 0; c < channelCount; ++c)
      runFilterChain(channels[c].filters, count, n, channels[c].left, channels[c].right);
    return;
  }
  // Vectors hold a power of two of lanes: three channels go as two and one.
  const ChainWalk& w = walk();
  for (int done = 0; done < channelCount;) {
    int lanes = 1;
    while (lanes * 2 <= std::min(w.widest, channelCount - done)) lanes *= 2;
    w.run(channels + done, lanes, count, 0, n);
    done += lanes;
  }
}

}  // namespace sorvan
