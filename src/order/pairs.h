// Neighbour pairs for the order parameters, taken from the core neighbour
// list (core/neighbours.h): every pair of points closer than a cut-off, with
// the double-precision vector between them at the minimum image, and the
// largest cluster that such pairs join among marked points.
#pragma once

#include <cstdint>
#include <vector>

#include "core/box.h"
#include "core/dvec3.h"
#include "core/neighbours.h"
#include "core/offsets.h"
#include "core/vec3.h"

namespace kavet {

struct NeighbourPair {
    int32_t i = 0, j = 0; // i < j (for crossPairs: an index into each set)
    DVec3 d;              // position of j less position of i, at the minimum image (angstrom)
};

// Every pair of points of `pos` at most `cutoff` apart, once each (i < j),
// in no particular order (but the same for the same input), found with a
// core neighbour list (core/neighbours.h). The vector is the double-precision
// difference at the image that minimumImage picks (the shortest, in a
// triclinic cell), so only one image of a pair counts: the cell should be at
// least twice the cut-off wide across every pair of faces.
std::vector<NeighbourPair> neighbourPairs(const std::vector<Vec3>& pos, const Box& box, double cutoff);

// The cut-off of the single-precision neighbour list that neighbourPairs
// searches for `cutoff`: a little beyond it, so that the double-precision
// test decides.
float pairSearchCutoff(double cutoff);

// neighbourPairs(pos, box, cutoff) taken from `list`, a neighbour list over
// the points `items` of `atomPositions` (pos[k] == atomPositions[items[k]],
// items strictly ascending) built with the cut-off pairSearchCutoff(cutoff):
// the same pairs in the same order, numbered by their place in `items`.
std::vector<NeighbourPair> neighbourPairs(const std::vector<Vec3>& atomPositions, const std::vector<int32_t>& items,
                                          const NeighbourList& list, const Box& box, double cutoff);

// The same between two sets of points: every point a[i] and b[j] at most
// `cutoff` apart, as i, j and the vector b[j] - a[i].
std::vector<NeighbourPair> crossPairs(const std::vector<Vec3>& a, const std::vector<Vec3>& b, const Box& box,
                                      double cutoff);

// The distance between the closest pair of opposite faces of the cell, over
// its periodic axes (infinity when none is periodic). A pair search with a
// cut-off above half of it can miss pairs that reach across the cell twice.
double narrowestWidth(const Box& box);

// The size of the largest set of points with member[k] != 0 that the pairs
// join (both ends members), by union-find; 0 when there is no member.
int32_t largestCluster(const std::vector<uint8_t>& member, const std::vector<NeighbourPair>& pairs);

// The pairs as each point's list of neighbours: row k of `other` holds point
// k's neighbours, in the order of `pairs`, and d[e] is the vector from point
// k to the neighbour at other.item[e]. Pairs with an end outside
// 0 .. numPoints-1 are left out.
struct NeighbourVectors {
    OffsetArray other;
    std::vector<DVec3> d;
    int32_t count(int32_t k) const { return other.size(static_cast<std::size_t>(k)); }
};
NeighbourVectors neighbourVectors(int32_t numPoints, const std::vector<NeighbourPair>& pairs);

} // namespace kavet
