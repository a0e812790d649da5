// Clusters of cages: closed cages that share a face (a ring) belong to one
// cluster, and so do chains of them. The largest cluster, counted in cages, is
// the usual measure of a hydrate nucleus.
#pragma once

#include <cstdint>
#include <vector>

namespace kavet {

struct CageClusters {
    // Per cage: its cluster, numbered from 1 in the order of each cluster's
    // first cage; 0 for a cage that is not closed.
    std::vector<int32_t> clusterOf;
    std::vector<int32_t> size; // cages of cluster k + 1
    int32_t largest = 0;       // cages in the largest cluster (0 without any)
};

// `cages[c]` lists the rings of cage c; `closed[c]` says whether it counts.
CageClusters clustersOf(const std::vector<std::vector<int32_t>>& cages, const std::vector<uint8_t>& closed);

} // namespace kavet
