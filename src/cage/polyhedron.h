// Whether a cage is a closed polyhedron: every edge of every face is shared
// by exactly two faces, and V - E + F = 2 with the edges counted from the
// faces. An open sheet of rings fails the first test even where the bonds
// among its waters happen to satisfy the classic V - E + F = 2.
#pragma once

#include <cstdint>
#include <vector>

#include "network/ring_search.h"

namespace kavet {

struct Polyhedron {
    int32_t vertices = 0; // distinct waters of the faces
    int32_t edges = 0;    // distinct ring edges
    int32_t faces = 0;
    bool closed = false;
};

// The polyhedron of the faces `cage` (ring numbers into rings.ringList).
// Vertices and edges are counted only when every edge is shared by exactly
// two faces; otherwise they are 0 and the cage is open.
Polyhedron polyhedronOf(const std::vector<int32_t>& cage, const RingSearch& rings);

} // namespace kavet
