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

#include <cmath>
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

// Whether ring k is one of the rings collectNearRings lists for ring r, and
// then its offset and the offset's length as collectNearRings hands them on:
// the same decision and the same bits, for one pair.
bool nearRingOffsetByImage(const RingNeighbours& nb, const RingGeometry& geo, int32_t r, int32_t k, Vec3& offset,
                           float& length);
inline bool nearRingOffset(const RingNeighbours& nb, const RingGeometry& geo, int32_t r, int32_t k, Vec3& offset,
                           float& length)
{
    if (!nb.shiftOnce)
        return nearRingOffsetByImage(nb, geo, r, k, offset, length);
    // The operations of collectNearRings where every offset needs at most
    // one shift, for one pair.
    const float d = nb.nearDistance;
    if (k == r || !(d > 0.0f))
        return false;
    const float lx = nb.box.x > 0.0f ? nb.box.x : 1.0f, mx = nb.box.x > 0.0f ? 1.0f : 0.0f;
    const float ly = nb.box.y > 0.0f ? nb.box.y : 1.0f, my = nb.box.y > 0.0f ? 1.0f : 0.0f;
    const float lz = nb.box.z > 0.0f ? nb.box.z : 1.0f, mz = nb.box.z > 0.0f ? 1.0f : 0.0f;
    auto shift = [](float u, float h) { return static_cast<float>(u >= h) - static_cast<float>(u <= -h); };
    const float ux = nb.cx[k] - nb.cx[r], uy = nb.cy[k] - nb.cy[r], uz = nb.cz[k] - nb.cz[r];
    const float x = ux - (lx * shift(ux, 0.5f * lx)) * mx;
    const float y = uy - (ly * shift(uy, 0.5f * ly)) * my;
    const float z = uz - (lz * shift(uz, 0.5f * lz)) * mz;
    float s = x * x;
    s += y * y;
    s += z * z;
    if (!(s < d * d * (1.0f + 0x1p-20f)))
        return false;
    const float l = std::sqrt(s);
    if (!(d > l))
        return false;
    offset = Vec3{x, y, z};
    length = l;
    return true;
}

// The neighbour code of rings i and j (0 to 3).
int nearRingCode(const RingSearch& rings, const RingGeometry& geo, const Network& net, const RingNeighbours& nb,
                 int32_t i, int32_t j);

} // namespace kavet
