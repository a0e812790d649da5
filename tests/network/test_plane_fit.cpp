// Ring plane fit: centre, unit normal, deviation and triangle transforms,
// across periodic boundaries, at the deviation limit, for degenerate
// triangles, and the compaction of the per-ring tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "network/plane_fit.h"
#include "support/support.h"

namespace kavet {
namespace {

using Rings = std::vector<std::vector<int32_t>>;

struct Fit {
    RingSearch rings;
    RingGeometry geo;
    Transform tang(std::size_t r, std::size_t j) const { return geo.tangRing[r][j]; }
};

Fit fit(const Frame& atoms, const Rings& rings, float ringDeviation)
{
    Fit f{{rings, 0}, {}};
    f.geo.numNode.assign(rings.size(), 0);
    f.geo.distRing.assign(rings.size(), 0.0f);
    f.geo.centRing.assign(rings.size(), Vec3{});
    f.geo.normRing.assign(rings.size(), Vec3{});
    fitRings(atoms, ringDeviation, f.rings, f.geo);
    return f;
}

Frame atomsAt(const std::vector<Vec3>& pos, Box box)
{
    Frame t;
    t.positions = pos;
    t.editTopology().atomCount = static_cast<int32_t>(pos.size());
    t.editTopology().isWaterOxygen.assign(pos.size(), 1);
    t.box = box;
    indexWaters(t.editTopology());
    return t;
}

// A hexagon of radius 2.7 around `c` in the plane of the orthonormal e1, e2,
// members lifted alternately by -+pucker along e1 x e2.
std::vector<Vec3> hexagon(Vec3 c, Vec3 e1, Vec3 e2, float pucker)
{
    const Vec3 n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
    std::vector<Vec3> p;
    for (int k = 0; k < 6; ++k)
        p.push_back(c + e1 * (2.7f * std::cos(k * 1.0471976f)) + e2 * (2.7f * std::sin(k * 1.0471976f)) + n * (k % 2 ? pucker : -pucker));
    return p;
}

TEST(RingPlaneFit, RingAcrossThePeriodicBoundaryFitsLikeTheSameRingInsideTheBox)
{
    const Box box{20.0f, 18.0f, 22.0f};
    const Vec3 e1{0.8f, -0.6f, 0.0f}, e2{0.36f, 0.48f, -0.8f};
    const std::vector<Vec3> inside = hexagon({10, 9, 11}, e1, e2, 0.2f);
    std::vector<Vec3> across; // around a corner of the box, wrapped into it but for atom 2
    for (const Vec3& p : hexagon({0.4f, 17.6f, 0.3f}, e1, e2, 0.2f))
        across.push_back(across.size() == 2 ? p : Vec3{std::fmod(p.x + 20, 20.0f), std::fmod(p.y, 18.0f), std::fmod(p.z + 22, 22.0f)});
    // Member 0 (atom 3) is wrapped to the far side: the centre lies next to it, outside the box.
    const Fit a = fit(atomsAt(inside, box), {{3, 4, 5, 0, 1, 2}}, 100.0f);
    const Fit b = fit(atomsAt(across, box), {{3, 4, 5, 0, 1, 2}}, 100.0f);
    ASSERT_EQ(b.rings.ringList.size(), 1u);
    EXPECT_GT(b.geo.centRing[0].x, box.x);
    const Vec3 na = a.geo.normRing[0] - a.geo.centRing[0], nb = b.geo.normRing[0] - b.geo.centRing[0];
    EXPECT_NEAR(std::fabs(dot(na, nb)), 1.0f, 1e-5f);
    EXPECT_NEAR(b.geo.distRing[0], 0.2f, 1e-4f);
    EXPECT_NEAR(a.geo.distRing[0], b.geo.distRing[0], 1e-5f);
    const Vec3 offA = a.geo.centRing[0] - inside[3], offB = b.geo.centRing[0] - across[3];
    EXPECT_NEAR(norm(offA - offB), 0.0f, 1e-4f);
    for (int j = 0; j < 6; ++j)
        for (int k = 0; k < 9; ++k)
            EXPECT_NEAR(a.tang(0, j)[k], b.tang(0, j)[k], 1e-4f) << j << " " << k;
}

TEST(RingPlaneFit, DeviationLimitKeepsRingsAtOrBelowIt)
{
    std::vector<Vec3> pos{{4, 4, 5}, {6, 4, 5}, {6, 6, 5}, {4, 6, 5}, {9, 8.5f, 7}, {11, 7, 6.5f}, {8, 6, 9}};
    for (const Vec3& p : hexagon({15, 15, 15}, {1, 0, 0}, {0, 0.6f, 0.8f}, 0.25f)) // chair
        pos.push_back(p);
    const Frame atoms = atomsAt(pos, {30, 30, 30});
    const Rings flat{{0, 1, 2, 3}}, chair{{7, 8, 9, 10, 11, 12}}, triangle{{4, 5, 6}};

    const Fit all = fit(atoms, {flat[0], chair[0], triangle[0]}, 100.0f);
    EXPECT_EQ(all.geo.distRing[0], 0.0f);
    EXPECT_NEAR(all.geo.distRing[1], 0.25f, 1e-4f);
    EXPECT_LT(all.geo.distRing[2], 1e-6f); // three points are always coplanar
    EXPECT_EQ(all.geo.tangRing.start[3], 13);
    const float limit = all.geo.distRing[1];
    EXPECT_EQ(fit(atoms, {flat[0], chair[0]}, 0.0f).rings.ringList, flat);
    EXPECT_EQ(fit(atoms, {chair[0], flat[0]}, limit).rings.ringList, (Rings{chair[0], flat[0]}));
    EXPECT_EQ(fit(atoms, {chair[0], flat[0]}, std::nextafter(limit, 0.0f)).rings.ringList, flat);
}

TEST(RingPlaneFit, DegenerateTriangleIsCountedQuietlyAndGetsZeroTransform)
{
    // The centre (5, 5, 5) lies on the line of members 0 and 1, and of members 2 and 3.
    const Frame atoms = atomsAt({{4, 5, 5}, {6, 5, 5}, {6, 6, 5}, {4, 4, 5}}, {20, 20, 20});
    testing::internal::CaptureStderr();
    const Fit f = fit(atoms, {{0, 1, 2, 3}}, 0.0f);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(f.geo.degenerateTriangles, 2);
    ASSERT_EQ(f.rings.ringList.size(), 1u);
    EXPECT_EQ(f.tang(0, 0), Transform{});
    EXPECT_NE(f.tang(0, 1), Transform{});
    EXPECT_EQ(f.tang(0, 2), Transform{});
}

TEST(RingPlaneFit, LatticeRingsGetUnitNormalsAndBarycentricTransformsAndStayAlignedWhenDropped)
{
    const Frame atoms = parseConfiguration(
        test::latticeGro({"--structure", "sI", "--displace", "0.3", "--seed", "7"}), "sI.gro", "SOL", "OW");
    Network net;
    initNetwork(atoms, net);
    findBonds(atoms, 3.5f, 30.0f, net);
    pruneEdges(net);
    RingSearch found;
    findAllRings(net, 4, 7, found);
    const Fit all = fit(atoms, found.ringList.toVectors(), 100.0f);
    ASSERT_EQ(all.rings.ringList, found.ringList);
    ASSERT_EQ(all.geo.tangRing.rows(), found.ringList.size());
    for (std::size_t r = 0; r < found.ringList.size(); ++r) {
        const std::span<const int32_t> ring = found.ringList[r];
        const std::size_t n = ring.size();
        ASSERT_EQ(static_cast<std::size_t>(all.geo.numNode[r]), n);
        ASSERT_EQ(all.geo.tangRing[r].size(), n);
        const Vec3 c = all.geo.centRing[r];
        EXPECT_NEAR(norm(all.geo.normRing[r] - c), 1.0f, 2e-6f) << r;
        for (std::size_t j = 0; j < n; ++j) { // rows 0 and 1 weigh members j and j+1; row 2 vanishes on them
            const Transform t = all.tang(r, j);
            for (std::size_t m : {j, (j + 1) % n}) {
                const Vec3 p = minimumImage(atoms.positions[ring[m]], c, atoms.box);
                const float expected[3] = {m == j ? 1.0f : 0.0f, m == j ? 0.0f : 1.0f, 0.0f};
                for (int row = 0; row < 3; ++row)
                    EXPECT_NEAR(t[3 * row] * p.x + t[3 * row + 1] * p.y + t[3 * row + 2] * p.z, expected[row], 1e-4f) << r;
            }
        }
    }

    std::vector<float> sorted = all.geo.distRing;
    std::sort(sorted.begin(), sorted.end());
    const float limit = sorted[sorted.size() / 2];
    const Fit kept = fit(atoms, found.ringList.toVectors(), limit);
    std::size_t k = 0;
    for (std::size_t r = 0; r < found.ringList.size(); ++r) {
        if (all.geo.distRing[r] > limit)
            continue;
        ASSERT_LT(k, kept.rings.ringList.size());
        EXPECT_TRUE(std::ranges::equal(kept.rings.ringList[k], found.ringList[r]));
        EXPECT_EQ(kept.geo.numNode[k], all.geo.numNode[r]);
        EXPECT_EQ(kept.geo.distRing[k], all.geo.distRing[r]);
        EXPECT_EQ(kept.geo.centRing[k].x, all.geo.centRing[r].x);
        EXPECT_EQ(kept.geo.normRing[k].z, all.geo.normRing[r].z);
        for (int j = 0; j < all.geo.numNode[r]; ++j)
            EXPECT_EQ(kept.tang(k, j), all.tang(r, j));
        ++k;
    }
    EXPECT_TRUE(k > 0 && k < found.ringList.size());
    EXPECT_EQ(kept.rings.ringList.size(), k);
    EXPECT_EQ(kept.geo.centRing.size(), k);
    EXPECT_EQ(kept.geo.tangRing.rows(), k);
    EXPECT_EQ(static_cast<std::size_t>(kept.geo.tangRing.start[k]), kept.geo.tangRing.item.size());
}

} // namespace
} // namespace kavet
