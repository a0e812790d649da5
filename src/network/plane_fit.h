// Ring plane fit: the centre of each ring (the mean of its members unwrapped
// around member 0), the unit normal of its best-fit plane (the right singular
// vector of the smallest singular value of the centred member matrix), the
// largest distance of a member from that plane, and one triangle transform
// per ring edge for fast segment-triangle tests (the coordinate-transformation
// method of Baldwin and Weber).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/default_init.h"
#include "core/frame.h"
#include "core/offsets.h"
#include "network/ring_search.h"

namespace kavet {

// Maps a point given relative to the ring centre into the frame of one
// triangle (centre, member j, member j+1): rows 0 and 1 give the barycentric
// weights of member j and member j+1, row 2 is proportional to the signed
// distance from the triangle's plane. Stored row by row, 3 x 3: the triangle
// has a corner at the centre, so the map has no translation.
using Transform = std::array<float, 9>;

struct RingGeometry {
    std::vector<int8_t> numNode;  // members per ring
    std::vector<float> distRing;  // largest member distance from the plane
    std::vector<Vec3> centRing;   // centre, next to member 0 (not wrapped into the box)
    std::vector<Vec3> normRing;   // normal tip: centre plus unit normal
    // Row r: the transforms of ring r, one per member, triangle j spanning
    // members j and j + 1. No rows when fitted without transforms.
    Rows<Transform, DefaultInit<Transform>> tangRing;
    // The triangles of ring r (one per member, transforms or not).
    int32_t tangCount(std::size_t r) const { return numNode[r]; }
    const Transform* tang(std::size_t r) const { return tangRing.begin(r); }
    // Triangles of the fitted rings too thin to transform (their transforms
    // are all zeros, which no ray can hit).
    int64_t degenerateTriangles = 0;
};

// The transform of the triangle (origin, b, c); all zeros, which no ray can
// hit, when the triangle is degenerate. Returns false in that case.
bool triangleTransform(Vec3 b, Vec3 c, Transform& t);

// Fits every ring of `rings`, then drops the rings whose deviation exceeds
// `ringDeviation` from ringList and from every per-ring table, keeping the
// order of the others. Without `transforms`, tangRing is left empty (the
// sealed line of sight does not read it; the count of degenerate triangles
// is taken all the same).
void fitRings(const Frame& atoms, float ringDeviation, RingSearch& rings, RingGeometry& geo,
              bool transforms = true);

} // namespace kavet
