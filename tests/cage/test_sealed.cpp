// The sealed line of sight: a triangle holds its outer edge, so a segment
// through the edge shared by two faces is blocked, and an undisplaced lattice,
// whose lines of sight run exactly along such edges, gives its crystal's cages.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <vector>
#include <string>

#include "cage/analysis.h"
#include "cage/occlusion.h"
#include "cage/polyhedron.h"
#include "io/gro_reader.h"
#include "support/support.h"

namespace kavet {
namespace {

TEST(SealedSegment, OuterEdgesCountAndTwoFacesSharingAnEdgeLeaveNoGap)
{
    // The square (1,0,0) (0,1,0) (-1,0,0) (0,-1,0) around the origin, and a
    // segment falling straight down on (x, y).
    const DVec3 square[4] = {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}};
    auto hits = [&](double x, double y) { return segmentHitsRingSealed(square, 4, {x, y, 1}, {0, 0, -2}); };
    EXPECT_EQ(hits(0.5, 0.5), 0);          // on the outer edge of triangle 0
    EXPECT_EQ(hits(1.0, 0.0), 0);          // through a member
    EXPECT_EQ(hits(0.5 + 1e-12, 0.5), 0);  // within the tolerance
    EXPECT_EQ(hits(0.5 + 1e-6, 0.5), -1);  // beyond it
    EXPECT_EQ(hits(-0.25, 0.0), 1);        // along the spoke between triangles 1 and 2
    Transform t;
    ASSERT_TRUE(triangleTransform(Vec3{1, 0, 0}, Vec3{0, 1, 0}, t));
    EXPECT_EQ(segmentHitsRing(&t, 1, Vec3{0.5f, 0.5f, 1}, Vec3{0, 0, -2}), -1); // the classic test misses it

    // Two faces folded along their shared edge from (0,0,0) to (0,2,0), each
    // a triangle fan around its own centre: a segment crossing that edge
    // obliquely is blocked by one of them.
    const DVec3 left[3] = {{1, -1, 0}, {1, 1, 0}, {-2, 0, 0}};   // centre (-1, 1, 0)
    const DVec3 right[3] = {{-1, 1, 0.5}, {-1, -1, 0.5}, {2, 0, -0.5}}; // centre (1, 1, -0.5)
    const DVec3 o{-0.3, 0.7, 2}, d{0.6, 0.4, -4}; // crosses x = 0 at z = 0, y = 0.9
    const bool blocked = segmentHitsRingSealed(left, 3, o - DVec3{-1, 1, 0}, d) >= 0 ||
                         segmentHitsRingSealed(right, 3, o - DVec3{1, 1, -0.5}, d) >= 0;
    EXPECT_TRUE(blocked);
}

TEST(SealedSegment, FourLaneFormFindsTheFirstHitOfThePairForm)
{
    // Random fans of 3 to 70 triangles (past the blocks of 32 and 64), and
    // segments aimed at members, edge points and random points of the fan.
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    int hits = 0;
    for (int round = 0; round < 4000; ++round) {
        const int32_t count = 3 + static_cast<int32_t>(random() % 68);
        const int32_t stride = sealedStride(count);
        std::vector<DVec3> member(static_cast<std::size_t>(count));
        for (int32_t k = 0; k < count; ++k) {
            const double angle = 6.283185307179586 * k / count;
            member[k] = {2.0 * std::cos(angle), 2.0 * std::sin(angle), 0.3 * unit(random)};
        }
        std::vector<double> fan(sealedColumns * static_cast<std::size_t>(stride), 0.0);
        for (int32_t t = 0; t < count; ++t) {
            const SealedTriangle T = sealedTriangle(member[t], member[(t + 1) % count]);
            const double v[sealedColumns] = {T.n.x, T.n.y, T.n.z, T.u.x, T.u.y, T.u.z, T.w.x, T.w.y, T.w.z};
            for (std::size_t c = 0; c < sealedColumns; ++c)
                fan[c * static_cast<std::size_t>(stride) + static_cast<std::size_t>(t)] = v[c];
        }
        const DVec3 m = member[random() % member.size()], n = member[random() % member.size()];
        const double f = (random() % 3 == 0) ? 0.5 * (unit(random) + 1.0) : 0.0;
        DVec3 target = random() % 4 == 0 ? DVec3{unit(random), unit(random), 0.0} : m * (1.0 - f) + n * f;
        const DVec3 o{unit(random), unit(random), 1.0 + unit(random)};
        const DVec3 d = (target - o) * (random() % 2 == 0 ? 2.0 : 0.999999999);
        const int wide = segmentHitsSealed(fan.data(), stride, count, o, d);
        ASSERT_EQ(wide, segmentHitsSealedPairs(fan.data(), stride, count, o, d)) << round;
        hits += wide >= 0;
    }
    EXPECT_GT(hits, 1000);
}

struct Census {
    int closed = 0, open = 0;
    std::map<std::string, int> types;
};

Census closedCensus(const std::string& gro, bool sealed)
{
    const Frame frame = parseConfiguration(gro, "lattice.gro", "SOL", "OW");
    Criteria criteria;
    criteria.sealed = sealed;
    const Analysis a = analyse(frame, criteria);
    Census c;
    for (std::size_t k = 0; k < a.cages.cageList.size(); ++k) {
        if (polyhedronOf(a.cages.cageList[k], a.rings).shape == CageShape::Closed) {
            ++c.closed;
            ++c.types[a.classes.cageType[k]];
        } else {
            ++c.open;
        }
    }
    return c;
}

TEST(SealedLattices, PerfectAndDisplacedCrystalsGiveTheirCages)
{
    const std::map<std::string, int> sI{{"5^12", 16}, {"5^12-6^2", 48}};
    for (const char* displace : {"0", "0.1"}) {
        const std::string gro = test::latticeGro(
            {"--structure", "sI", "--cells", "2", "2", "2", "--displace", displace, "--seed", "3"});
        EXPECT_EQ(closedCensus(gro, true).types, sI) << "displacement " << displace;
        if (std::string(displace) == "0") { // the classic test lets rings in through the edges
            EXPECT_NE(closedCensus(gro, false).types, sI);
        }
        const Census ice = closedCensus(
            test::latticeGro({"--structure", "ice", "--cells", "4", "3", "3", "--displace", displace}), true);
        EXPECT_EQ(ice.closed, 0) << "displacement " << displace;
        EXPECT_EQ(ice.open, 288) << "displacement " << displace;
    }
}

} // namespace
} // namespace kavet
