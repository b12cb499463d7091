// The walk of the filter chains compiled once per processor family; the chain
// runner chooses the one the processor can run when it is first needed. All
// do the same arithmetic lane by lane (nothing is fused), so they give the
// same bits.
#pragma once

#include "filters/filter_chain.h"

namespace sorvan {

// Runs channels[0..lanes-1] (lanes 1, 2 or 4: seeded chains of one shape,
// `count` filters each) over frames [from, n), in place.
using ChainWalkFunction = void (*)(const ChainChannel* channels, int lanes, int count, long from,
                                   long n);

void runChainWalkBaseline(const ChainChannel* channels, int lanes, int count, long from, long n);
void runChainWalkAvx2(const ChainChannel* channels, int lanes, int count, long from, long n);
void runChainWalkAvx512(const ChainChannel* channels, int lanes, int count, long from, long n);

}  // namespace sorvan
