// The chain walk compiled for this file's processor family (see CMakeLists.txt).
#include "filters/chain_lanes.h"
#include "filters/chain_walks.h"

namespace sorvan {

void runChainWalkBaseline(const ChainChannel* channels, int lanes, int count, long from, long n) {
  runChainLanes(channels, lanes, count, from, n);
}

}  // namespace sorvan
