// Clusters of cages: closed cages that share a face (a ring) belong to one
// cluster, and so do chains of them. The largest cluster, counted in cages, is
// the usual measure of a hydrate nucleus.
#pragma once

#include <cstdint>
#include <vector>

#include "core/box.h"
#include "core/dvec3.h"
#include "core/offsets.h"

namespace kavet {

struct CageClusters {
    // Per cage: its cluster, numbered from 1 in the order of each cluster's
    // first cage; 0 for a cage that is not closed.
    std::vector<int32_t> clusterOf;
    std::vector<int32_t> size; // cages of cluster k + 1
    int32_t largest = 0;       // cages in the largest cluster (0 without any)
};

// `cages[c]` lists the rings of cage c; `closed[c]` says whether it counts.
CageClusters clustersOf(const OffsetArray& cages, const std::vector<uint8_t>& closed);

// Where each cluster lies and how far it reaches. The cages of a cluster are
// laid out by walking its face-sharing graph from its first cage, each cage's
// centre placed at the minimum image of its step from the cage it was reached
// from; a step back to a cage already placed that lands on another image of
// it closes a cycle that winds around the periodic cell, by a whole cell
// vector. The cluster spans as many cell directions as those vectors are
// independent (0 to 3: a nucleus 0, a slab 2, a crystal 3).
struct ClusterShape {
    DVec3 centre;      // mean of the laid-out cage centres, wrapped into the cell
    double rg = 0.0;   // radius of gyration of the laid-out cage centres
    int32_t spans = 0; // independent cell vectors of its winding cycles
};

// The shape of every cluster of `k` (index k: cluster k + 1), from the centre
// of every cage (`centre[c]`, read for closed cages only: any image).
// Neighbouring cages' centres must lie less than half the narrowest cell
// width apart for the minimum image to place them.
std::vector<ClusterShape> clusterShapes(const OffsetArray& cages,
                                        const CageClusters& k, const std::vector<DVec3>& centre, const Box& box);

} // namespace kavet
