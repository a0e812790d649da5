// Cages across split pentagons (one-site water).
//
// With bonds from the O-O distance alone, two waters of one pentagon can come
// within the bond distance of each other (the diagonal of a hydrate pentagon
// is about 4.4 A). The pentagon is then no ring of the network: its place is
// taken by a 3-ring and a 4-ring that share the new bond, the chord. The
// chord also closes rings that run across the faces beside it (the two
// pentagons that meet the 3-ring's apex become one 7-ring through the
// chord), and their fans hide the faces of the cage on that side from every
// seed: the line of sight builds no entry for the polyhedron, although each
// of its faces is a ring of the frame.
//
// The search across split pentagons grows cages a second time from the
// pentagon itself: with every split pentagon restored as a ring, and the
// rings that hold a chord as an edge left out, it grows from both sides of
// each restored pentagon (assembleCages with those seeds). Each closed
// polyhedron it finds is added to the cage list with the pentagon given back
// as its 3-ring and 4-ring, which makes it a closed polyhedron of the
// frame's own rings (a chord adds one edge and one face).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cage/assembly.h"
#include "core/frame.h"
#include "network/hbond.h"
#include "network/plane_fit.h"
#include "network/ring_search.h"

namespace kavet {

// A pentagon split by a chord: the 3-ring and the 4-ring (ring numbers) that
// share exactly the chord's two waters, and the pentagon of their other
// edges, in ring order starting at a chord end. The pentagon has no bond
// across it other than the chord.
struct SplitPentagon {
    int32_t triangle = -1, square = -1;
    int32_t chord[2] = {-1, -1};
    std::vector<int32_t> pentagon;
};

// Every split pentagon among the rings, in ascending order of the 3-ring, then
// of the 4-ring.
std::vector<SplitPentagon> findSplitPentagons(const RingSearch& rings, const Network& net);

// The closed cages grown from the restored pentagons of `split`, as entries of
// the frame's own rings (the 3-ring first, the rest ascending), appended to
// `cages` with their signs. `geo` holds the frame's rings; the restored ring
// set is fitted, its neighbours found and its cages grown with these
// parameters (those of the first search).
void addCagesAcrossSplitPentagons(const Frame& frame, const RingSearch& rings, const Network& net,
                                  const std::vector<SplitPentagon>& split, float ringDeviation, int32_t ringMax,
                                  float hbDistance, float cageDistance, float cageAngle, bool sealed,
                                  CageSearch& cages);

// The type of a closed cage as the census counts it: its faces' sizes
// (cageLabel), with each 3-ring and 4-ring of the cage that split a pentagon
// (share one edge whose two ends each lie on four edges of the cage) counted
// as that pentagon. A 5^12-6^2 with one pentagon split by a close contact is
// a 5^12-6^2, not a 3^1-4^1-5^11-6^2.
std::string cageLabelJoiningSplitPentagons(std::span<const int32_t> cage, const RingSearch& rings);

} // namespace kavet
