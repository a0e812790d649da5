// Cage assembly. From each of the 2R ring sides a cage grows from its seed
// ring through shared edges: a ring joins when it shares an edge with a ring
// already in the cage and is visible from the seed side. The result for side
// f (f < R: the + side of ring f; f >= R: the - side of ring f - R) is the
// seed followed by the joined rings in ascending order: the rings that an
// all-pairs occlusion scan would list for that side and that hang together
// with the seed through shared edges. Visibility is decided only for rings
// that the growing cage reaches.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "cage/occlusion.h"

namespace kavet {

struct CageSearch {
    std::vector<std::vector<int32_t>> cageList; // per side (later per cage): seed first
    std::vector<int32_t> cageNorm;              // +1 or -1: the side the cage was built from
};

// The seed whose two sides print the diagnostic trace, the candidate traced
// and the blocking ring whose ray frame is shown.
struct TracePoint {
    int32_t seed = 322;
    int32_t candidate = 326;
    int32_t blocker = 287;
};

// Fills cageList and cageNorm with exactly 2R entries. Prints the diagnostic
// trace to `trace` for the sides of trace.seed when that ring exists.
void assembleCages(const OcclusionContext& ctx, int32_t numRing, CageSearch& cages, std::FILE* trace,
                   const TracePoint& point = TracePoint());

} // namespace kavet
