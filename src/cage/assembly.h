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
#include <vector>

#include "cage/occlusion.h"
#include "core/offsets.h"

namespace kavet {

struct CageSearch {
    OffsetArray cageList;          // per side (later per cage) its rings: seed first
    std::vector<int32_t> cageNorm;              // +1 or -1: the side the cage was built from
    int64_t sharedSides = 0; // sides left out by assembleCages (shareSides): 2R = entries + sharedSides
};

// A trace of one seed ring: each of its sides (the seed centre and the side
// vector), and on each side the line-of-sight decision for one candidate
// ring, whether or not the growing cage reaches it.
class SeedTrace : public OcclusionTrace {
public:
    virtual void side(Vec3 centre, Vec3 sideVector) = 0;
    int32_t seed = -1;
    int32_t candidate = -1;
};

// Fills cageList and cageNorm with exactly 2R entries, reporting the sides of
// trace->seed to `trace` when that ring exists. With `seeds`, only the sides
// of those rings are grown; the entries of the other sides are left empty
// with a sign of 0.
//
// With `shareSides` (and no seeds), a side is not grown when
// its cage is found to lie within a cage grown from a side before it (no ring
// outside that cage that shares an edge with it is visible from the side):
// such a side would only repeat that cage or a part of it, and its entry is
// left out (counted in sharedSides). The entries then are those of the grown
// sides, in side order, and deduplication gives the same cages, with the same
// signs and order, as from all 2R entries. The sides of trace->seed are
// always grown, with the seed's whole near list, so that its trace is as
// without sharing.
void assembleCages(const OcclusionContext& ctx, int32_t numRing, CageSearch& cages, SeedTrace* trace = nullptr,
                   const std::vector<int32_t>* seeds = nullptr, bool shareSides = false);

} // namespace kavet
