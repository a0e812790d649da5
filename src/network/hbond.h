// The hydrogen-bond network of the water oxygens. Two waters are bonded when
// their oxygens are closer than the distance limit and an O-H bond of either
// water points at the other oxygen within the angle limit. Nodes keep their
// atom index; the bonds are found with a cell list and recorded in the order
// of an all-pairs scan (ascending first index, then second).
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/frame.h"
#include "core/neighbours.h"
#include "core/offsets.h"

namespace kavet {

struct Network {
    // Two entries per bond, smaller atom index first. Pruned of dangling bonds
    // by pruneEdges.
    std::vector<int32_t> edgeList;
    // Bonds per atom in the full network (0 for atoms that are not nodes).
    std::vector<int32_t> degree;
    // The full network as sorted neighbour lists: row a holds the
    // neighbours of atom a.
    OffsetArray adj;

    // Whether atoms a and b are hydrogen-bonded.
    bool isEdge(int32_t a, int32_t b) const
    {
        const std::span<const int32_t> n = adj[static_cast<std::size_t>(a)];
        return std::binary_search(n.begin(), n.end(), b);
    }
};

// Sizes `degree` and the neighbour lists for the atoms of `atoms` (all zero).
void initNetwork(const Frame& atoms, Network& net);

// The bond search: appends every bond to edgeList and fills degree and the
// neighbour lists. The waters are those of the frame's water table; one
// without both hydrogens cannot donate, but can accept.
void findBonds(const Frame& atoms, float hbDistance, float hbAngle, Network& net);
// The same on oxygen pairs already found: `pairs` must be built over
// waterOxygens(atoms) with the distance limit `hbDistance` as its cut-off, or
// a larger one (its pairs at or beyond the limit are passed over). With
// `distanceOnly` every pair within the limit is a bond and no hydrogen is
// looked at (one-site water).
void findBonds(const Frame& atoms, const NeighbourList& pairs, float hbAngle, Network& net,
               bool distanceOnly = false, float hbDistance = std::numeric_limits<float>::infinity());

// Drops from edgeList every bond with an end of degree 0 or 1 in the full
// network, in one pass and keeping the order; degree and the neighbour lists
// are left as they are.
void pruneEdges(Network& net);

} // namespace kavet
