// Closed polyhedra against open sheets of the same rings.
#include <gtest/gtest.h>

#include "cage/analysis.h"
#include "cage/polyhedron.h"
#include "io/gro_reader.h"
#include "support/support.h"

namespace kavet {
namespace {

TEST(Polyhedron, LatticeCagesAreClosedAndLoseClosureWithAnyFace)
{
    const Frame frame = parseConfiguration(
        test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1", "--seed", "1"}),
        "si.gro", "SOL", "OW");
    const Analysis a = analyse(frame, Criteria{});
    ASSERT_EQ(a.cages.cageList.size(), 64u);
    for (const auto& cage : a.cages.cageList) {
        const Polyhedron p = polyhedronOf(cage, a.rings);
        EXPECT_TRUE(p.closed);
        EXPECT_EQ(p.vertices - p.edges + p.faces, 2);
        EXPECT_EQ(p.vertices, p.faces == 12 ? 20 : 24);
        // Without one face the cage is an open sheet (a bowl): the edges of
        // the missing face belong to one face only.
        std::vector<int32_t> bowl(cage.begin() + 1, cage.end());
        EXPECT_FALSE(polyhedronOf(bowl, a.rings).closed);
    }
}

} // namespace
} // namespace kavet
