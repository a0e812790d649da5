// Ring search: every chordless cycle of 3 to `maximum` nodes of the
// hydrogen-bond network, by depth-first extension of open paths started from
// every bond of edgeList. Each ring is stored once, in canonical order, in
// order of first discovery.
#pragma once

#include <cstdint>
#include <vector>

#include "core/offsets.h"
#include "network/hbond.h"

namespace kavet {

struct RingSearch {
    OffsetArray ringList; // per ring, its nodes in canonical order
    int64_t iter = 0; // calls of findNewCycle (searched from every bond)
};

// How the rings are searched for. EveryBond: a search from every bond, which
// meets each ring once per bond and counts its calls in `iter`. Once: each
// ring is searched for only from its earliest bond (a path takes only later
// bonds), with the same rings in the same order and far fewer paths; `iter`
// is not counted. Once needs every ring bond in edgeList, each bond once, as
// findBonds and pruneEdges leave them.
enum class RingWalk { EveryBond, Once };

// Rotates the ring so that its smallest node comes first, followed by the
// smaller of that node's two ring neighbours.
void canonicalRing(std::vector<int32_t>& ring);

// Runs the whole search: one findNewCycle per bond of the (pruned) edgeList,
// in list order. `minimum` is handed on but not applied: rings of every size
// from 3 to `maximum` are recorded. Rings already in `rings` stay first.
void findAllRings(const Network& net, int32_t minimum, int32_t maximum, RingSearch& rings,
                  RingWalk walk = RingWalk::EveryBond);

} // namespace kavet
