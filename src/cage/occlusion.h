// Ring occlusion: which neighbouring rings can be seen from one side of a
// ring. A ring k is visible from side s of seed ring r when k is near r, its
// centre lies strictly inside the cone of half-angle cageAngle around the side
// normal, and the segment from the ray start point (the seed centre moved
// cageDistance along the side normal) to k's centre passes through the
// triangle fan of no other ring near r.
//
// A segment can only meet a ring's triangles inside the sphere that holds
// them, so the exact segment-triangle tests are made only for the rings whose
// sphere comes near the segment; the answer is that of testing them all.
//
// Two variants of the test. The classic one works in single precision on the
// stored triangle transforms and leaves out each triangle's outer edge (the
// ring's own edge), so a line of sight that crosses exactly the edge shared
// by two faces passes between them. The sealed one works in double precision
// on the ring members and counts the outer edge as part of the triangle,
// within a relative tolerance: two faces sharing an edge then leave no gap.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/dvec3.h"
#include "network/plane_fit.h"
#include "network/ring_neighbours.h"

namespace kavet {

// How far the sealed test widens a triangle, in its barycentric coordinates
// (a fraction of the triangle's size). The coordinates are computed in double
// precision from the members' exact offsets; their rounding error is a few
// units of 2^-53 (1e-16) times the conditioning of the triangle (a ring's
// fan triangles have angles of 51 to 90 degrees at the centre) and of the
// crossing (1 / cosine of the angle between the segment and the triangle's
// normal), so 1e-9 covers every crossing steeper than about 1e-5 radians
// from the plane. It widens a 2.5 angstrom triangle by 2.5e-9 angstrom, far
// below the resolution of the positions themselves (single precision: 3e-5
// angstrom at 300 angstrom; a .gro file: 0.01 angstrom), so it decides only
// crossings that lie on an edge as far as the input can tell. (On an
// undisplaced structure-I lattice, whose lines of sight cross shared edges
// exactly, 1e-15 already seals every cage; 0 does not.)
inline constexpr double sealedTolerance = 1e-9;

// A sealed triangle (the ring centre at the origin, members b and c), ready
// for the test: its normal n, and the vectors that give the barycentric
// weights of b and c for a point p in its plane as p . u and p . w. A
// degenerate triangle, which no ray can hit, has n = 0: every crossing
// parameter is then not a number.
struct SealedTriangle {
    DVec3 n, u, w;
    bool valid() const { return n.x != 0.0 || n.y != 0.0 || n.z != 0.0; }
};
SealedTriangle sealedTriangle(DVec3 b, DVec3 c);

struct OcclusionContext {
    const RingGeometry* geo = nullptr;
    const RingNeighbours* nb = nullptr;
    Box box;
    float cageDistance = 1.0f;
    float cosA = 0.0f;             // cos(cageAngle), in single precision
    std::vector<float> ringRadius; // per ring, the largest member distance from its centre
    double inverseLength[3] = {0, 0, 0}; // 1 / box length per axis, 0 where not periodic
    // The sealed test, and what it reads: cos(cageAngle) in double, the ring
    // members and their positions.
    bool sealed = false;
    double cosAD = 0.0;
    const RingSearch* rings = nullptr;
    const std::vector<Vec3>* positions = nullptr;
    // Per ring, a slab that holds its whole triangle fan: a unit normal n and
    // the range [lo, hi] of n . x over the centre and the members (offsets
    // from the centre), and the members' largest distance from the centre. A
    // segment whose two ends lie beyond the slab on one side misses the fan.
    struct Slab {
        DVec3 n;
        double lo = -HUGE_VAL, hi = HUGE_VAL, extent = 0.0;
    };
    int32_t maxMembers = 0; // the largest ring
    // Sealed: the slots of each thread's SealedCache; 0 sizes it by the
    // frame (about 10^5 triangles, or every ring of a small frame).
    std::size_t sealedCacheSlots = 0;
};

// Receives the line-of-sight decision for one candidate ring, step by step:
// the candidate (its centre dK seen from the seed centre and dK . v), each
// exact test of the blocker `blocker` (its centre dM, the segment start and
// span in its frame), the first blocker hit and its triangle, and the verdict
// once the candidate is inside the cone. Blockers are then tried in
// ascending ring order.
class OcclusionTrace {
public:
    virtual ~OcclusionTrace() = default;
    virtual void lineOfSight(int32_t seed, int32_t ring, Vec3 dK, float along) = 0;
    virtual void blockerRay(Vec3 dM, Vec3 start, Vec3 span) = 0;
    virtual void hit(int32_t blocker, int triangle) = 0;
    virtual void verdict(bool occluded) = 0;
    int32_t blocker = -1;
};

// The context keeps pointers to `rings`, `geo`, `nb` and (sealed) `frame`.
OcclusionContext makeOcclusionContext(const RingSearch& rings, const RingGeometry& geo, const RingNeighbours& nb,
                                      const Frame& frame, float cageDistance, float cageAngle, bool sealed = false);

// A ring's sealed triangles, prepared, as nine columns (n, u and w, x y z
// each) of `stride` entries: triangle t's normal is (fan[t], fan[stride + t],
// fan[2 stride + t]), and so on. The stride is even, and the entries past
// the ring's size are degenerate triangles (zero normal), so that the test
// can take two triangles at a time.
inline constexpr std::size_t sealedColumns = 9;
inline int32_t sealedStride(int32_t members) { return (std::max(members, 1) + 1) / 2 * 2; }

// The sealed triangles of ring r (members as exact offsets from the ring's
// centre, in ring order) into fan, and its slab.
void prepareSealedRing(const OcclusionContext& ctx, int32_t r, double* fan, int32_t stride,
                       OcclusionContext::Slab& slab);

// A thread's prepared sealed rings, a table indexed by ring number modulo
// its size, refilled on a miss. The rings a seed's lines of sight meet lie
// around it, and seeds are taken cell by cell, so few tests miss; preparing
// every ring at once instead would take most of a large frame's memory
// (72 bytes a triangle, over 400 bytes a water).
struct SealedCache {
    const OcclusionContext* of = nullptr;
    int32_t stride = 0;
    std::vector<int32_t> ring; // per slot: the ring held, or -1
    std::vector<double> fan; // per slot, sealedColumns * stride
    std::vector<OcclusionContext::Slab> slab;
};

// What the seed ring sees around it, shared by its two sides. The near list
// holds every ring near the seed, or, built piecemeal, the near rings asked
// for so far (see placeOf) until the blockers of a side need all of them.
struct SeedView {
    int32_t seed = -1;
    Vec3 c;                    // seed centre
    std::vector<int32_t> near; // rings near the seed
    bool complete = false;     // near holds every ring near the seed
    // Per ring of the frame, its place in near; -2 once asked for and found
    // not near, -1 otherwise. The rings found not near are kept in far.
    std::vector<int32_t> place;
    std::vector<int32_t> far;
    std::vector<Vec3> dM;      // their centres seen from the seed centre
    std::vector<float> dx, dy, dz; // the same by columns
    std::vector<float> length; // |dM|
    // The radius, and its square, around each near ring's centre within
    // which a segment can meet its triangles.
    std::vector<float> reach, reach2;
    // Sealed: the centres in double precision, worked out when first needed.
    std::vector<DVec3> dMD;
    std::vector<uint8_t> haveD;
    SealedCache sealedRings;
    NearScratch scratch;
    std::vector<int32_t> moreNear; // scratch of completeNearRings
    std::vector<Vec3> moreOffsets;
    std::vector<float> moreLengths;
};

// The view from `seed`; with `whole` false, the near list starts empty and
// grows as placeOf asks for rings.
void viewFromSeed(const OcclusionContext& ctx, int32_t seed, SeedView& view, bool whole = true);

// Adds ring k to the near list when it is near the seed; its place, or -1.
int32_t addNearRing(const OcclusionContext& ctx, SeedView& view, int32_t k);
// Adds the near rings not yet in the list, after those already there.
void completeNearRings(const OcclusionContext& ctx, SeedView& view);

// Ring k's place in the seed's near list, or -1 when it is not near.
inline int32_t placeOf(const OcclusionContext& ctx, SeedView& view, int32_t k)
{
    const int32_t p = view.place[static_cast<std::size_t>(k)];
    if (p >= 0)
        return p;
    if (p == -2 || view.complete)
        return -1;
    return addNearRing(ctx, view, k);
}

// Near ring p's centre seen from the seed centre in double precision, at the
// periodic image of the single-precision dM[p].
void computeCentreD(const OcclusionContext& ctx, SeedView& seed, std::size_t p);
inline const DVec3& centreD(const OcclusionContext& ctx, SeedView& seed, std::size_t p)
{
    if (!seed.haveD[p])
        computeCentreD(ctx, seed, p);
    return seed.dMD[p];
}

// One side of the seed: the side vector v (sign applied), and the blockers
// that a line of sight from the ray start point can meet. The blockers are
// sorted only when a line of sight first needs them: a candidate hidden by the
// face it was reached from needs none.
struct SideView {
    Vec3 v;
    float vv = 0.0f;
    DVec3 vD; // sealed: v in double precision
    double vvD = 0.0;
    // The blockers (positions in the seed's near list) whose reach comes in
    // front of the seed's plane on this side (with a cone narrower than a
    // half space, every line of sight stays there), by steps of a quarter
    // angstrom of |dM - v| - reach, the closest their reach comes to the ray
    // start point: step s ends at stepEnd[s]. A segment from the ray start
    // of length L can only meet the reach of blockers of step 4 L or closer
    // (one more step is taken for rounding).
    static constexpr int32_t steps = 128;
    static constexpr float stepsPerAngstrom = 4.0f;
    std::vector<int32_t> item, stepEnd;
    std::vector<int32_t> at; // per near ring, its place in item
    // Per blocker, o = v - dM, and o.o - reach^2 less an allowance for
    // rounding of 1e-5 (2 o.o + reach^2).
    std::vector<float> ox, oy, oz, gap;
    std::vector<uint64_t> inReach; // scratch: a bit per blocker, whether its reach meets the segment
    std::vector<int64_t> tried; // scratch, per near ring: the test that already tried it
    std::vector<int32_t> step;  // scratch, per near ring: its step
    std::vector<int32_t> front; // scratch: the near rings not behind the plane
    std::vector<uint8_t> behind; // scratch, per near ring
    int64_t test = 0;
    int32_t lastHider = -1; // the near ring that last hid a candidate
    bool haveBlockers = false; // item, stepEnd, at and the columns are filled
};

// The side vector and the scratch of one side; visibleFromSide fills the
// blocker tables (blockersOfSide, after completing the seed's near list)
// when first needed.
void viewFromSide(const OcclusionContext& ctx, const SeedView& seed, int32_t sign, SideView& side);
void blockersOfSide(const OcclusionContext& ctx, const SeedView& seed, SideView& side);

// The cone test of candidate centre dK (seen from the seed centre).
inline bool insideCone(const OcclusionContext& ctx, const SideView& side, Vec3 dK)
{
    return dot(dK, side.v) > std::sqrt(dot(dK, dK) * side.vv) * ctx.cosA;
}

inline bool insideCone(const OcclusionContext& ctx, const SideView& side, DVec3 dK)
{
    const double along = dot(dK, side.vD), b = dot(dK, dK) * side.vvD;
    // Away from the cone's surface (relative 1e-12, far above the rounding
    // of either form) the squares decide without a square root; with a cone
    // narrower than a half space, a centre behind the plane is outside.
    if (ctx.cosAD > 0.0 && b > 1e-200 && b < 1e200) {
        if (!(along > 0.0))
            return false;
        const double a2 = along * along, c2 = b * (ctx.cosAD * ctx.cosAD);
        if (a2 > c2 * (1.0 + 1e-12))
            return true;
        if (a2 < c2 * (1.0 - 1e-12))
            return false;
    }
    return along > std::sqrt(b) * ctx.cosAD;
}

// The exact segment test against the triangle fan of one ring: the segment
// starts at `o` and spans `d`, both in the frame of the ring's centre.
// Returns the first triangle hit, or -1.
int segmentHitsRing(const Transform* tang, int32_t count, Vec3 o, Vec3 d);

// The sealed test against the fan of the ring whose members lie at `member`
// (offsets from the ring's centre, in order): a triangle counts with its
// three edges, widened by sealedTolerance, for the open segment between
// parameters 1e-7 and 1. Returns the first triangle hit, or -1.
int segmentHitsRingSealed(const DVec3* member, int32_t count, DVec3 o, DVec3 d);
// The same with the triangles prepared (see prepareSealedRing).
int segmentHitsSealed(const double* fan, int32_t stride, int32_t count, DVec3 o, DVec3 d);
// The same two triangles at a time whatever the processor (segmentHitsSealed
// takes four at a time where it can, with the same answer).
int segmentHitsSealedPairs(const double* fan, int32_t stride, int32_t count, DVec3 o, DVec3 d);

// Whether the near ring at position `pos` of seed.near is visible from the
// side (cone test and line of sight). The near rings at positions `parent`
// (the face the candidate was reached from) and `other` (another face beside
// it), then the last one that hid a candidate, are tested first: a ring
// outside a cage is usually hidden by a face of the cage already grown. With
// a trace, blockers are tried in ascending ring order instead and every step
// is reported; the answer is the same.
bool visibleFromSide(const OcclusionContext& ctx, SeedView& seed, SideView& side, std::size_t pos,
                     OcclusionTrace* trace = nullptr, int32_t parent = -1, int32_t other = -1);

} // namespace kavet
