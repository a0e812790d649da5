// The sealed line of sight: a triangle holds its outer edge, so a segment
// through the edge shared by two faces is blocked, and an undisplaced lattice,
// whose lines of sight run exactly along such edges, gives its crystal's cages.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "cage/analysis.h"
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
