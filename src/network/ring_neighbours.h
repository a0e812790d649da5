// Ring neighbours. Two rings are near when their centres are closer than
// D = ringMax * hbDistance / 2; near rings that share exactly one bond (two
// common nodes, bonded to each other) are faces meeting at an edge.
//
// Codes between rings i and j: 0 the same ring or not near; 1 near, no common
// node; 2 near, common nodes but not exactly one shared bond; 3 near and
// sharing one bond. Instead of a table over all pairs of rings, near rings are
// found on demand through a cell list over ring centres, and only the pairs
// sharing a bond (a few per ring) are stored.
#pragma once

#include <cstdint>
#include <vector>

#include "core/cell_grid.h"
#include "core/offsets.h"
#include "network/hbond.h"
#include "network/plane_fit.h"

namespace kavet {

struct RingNeighbours {
    float nearDistance = 0.0f; // D, angstrom
    Box box;
    CellGrid grid;             // ring centres
    std::vector<float> cx, cy, cz; // ring centres, one array per axis
    // Rectangular cell, every centre finite and within [-0.2, 1.2) box
    // lengths on each periodic axis: any two centres' image is at most one
    // box length away.
    bool shiftOnce = false;
    // Row r: the rings sharing one bond with ring r, ascending.
    OffsetArray edge;
};

float nearDistance(int32_t ringMax, float hbDistance);

// Whether the centres of rings i and j (i != j) are closer than `d`, by their
// minimum-image distance.
bool ringsNear(const RingGeometry& geo, const Box& box, float d, int32_t i, int32_t j);

void findRingNeighbours(const RingSearch& rings, const RingGeometry& geo, const Network& net, const Box& box,
                        int32_t ringMax, float hbDistance, RingNeighbours& nb);

// The rings near ring r (r itself excluded), in ascending order.
void nearRingsOf(const RingNeighbours& nb, const RingGeometry& geo, int32_t r, std::vector<int32_t>& out);

// Scratch space of collectNearRings, kept between calls. The rings of the
// cells around one cell and their centres are kept for the next ring of the
// same cell (of the same neighbour tables).
struct NearScratch {
    std::vector<int32_t> cells, candidates;
    std::vector<float> cx, cy, cz;
    const RingNeighbours* blockOf = nullptr;
    int32_t blockCell = -1;
    std::vector<float> dx, dy, dz, distance;
    std::vector<int32_t> pick;
};

// The same in no particular order. With `offsets`, also each near ring's
// centre seen from ring r's centre, minimumImage(centre k, centre r), and
// with `lengths` the offsets' lengths, norm(offset).
void collectNearRings(const RingNeighbours& nb, const RingGeometry& geo, int32_t r, std::vector<int32_t>& out,
                      NearScratch& scratch, std::vector<Vec3>* offsets = nullptr,
                      std::vector<float>* lengths = nullptr);

// The neighbour code of rings i and j (0 to 3).
int nearRingCode(const RingSearch& rings, const RingGeometry& geo, const Network& net, const RingNeighbours& nb,
                 int32_t i, int32_t j);

} // namespace kavet
