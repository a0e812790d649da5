// Real structures end to end: a displaced structure-I hydrate has the network
// and rings of its crystal, and hexagonal ice gives the same result whatever
// the order of its waters in the file.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "cage/cups.h"
#include "cage/polyhedron.h"
#include "census/census.h"
#include "io/frame_checks.h"
#include "support/ring_stage.h"
#include "support/support.h"

namespace kavet::test {
namespace {

TEST(HydrateLattice, EveryWaterHasFourBondsAndTheRingsAreTheCrystalsFaces)
{
    const std::string gro = latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1",
                                        "--seed", "5"});
    const RingStage s = ringStage(parseConfiguration(gro, "sI.gro", "SOL", "OW"));
    for (int32_t a = 0; a < s.atoms.topology().atomCount; ++a)
        EXPECT_EQ(s.net.degree[a], s.atoms.topology().isWaterOxygen[a] ? 4 : 0) << "atom " << a;
    std::map<std::size_t, int> bySize;
    for (const auto& ring : s.rings.ringList)
        ++bySize[ring.size()];
    // Per unit cell 48 pentagons and 6 hexagons; 8 cells.
    EXPECT_EQ(bySize, (std::map<std::size_t, int>{{5, 384}, {6, 48}}));
}

TEST(IceLattice, CensusDoesNotDependOnTheOrderOfWaters)
{
    std::string census;
    for (const char* order : {"", "--shuffle"}) {
        std::vector<std::string> args{"--structure", "ice", "--cells", "4", "3", "3", "--displace", "0.1"};
        if (*order)
            args.push_back(order);
        const std::string dir = freshDirectory("ice");
        writeFile(dir + "/ice.gro", latticeGro(args));
        const RunResult r = runKavetBinary({"-f", "ice.gro"}, dir);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(">>>> Find all Rings"), std::string::npos);
        EXPECT_NE(r.out.find("     Ring: 576\n"), std::string::npos);
        const std::string data = readFile(dir + "/conf~cage.dat");
        // Hexagonal ice has no closed cage of rings up to seven members: its
        // cavities show as open patches of hexagons, and no model is written.
        EXPECT_EQ(data, "  6^1:144  6^3:144\n");
        EXPECT_EQ(readFile(dir + "/conf~cage.pdb").find("MODEL"), std::string::npos);
        if (census.empty())
            census = data;
        EXPECT_EQ(data, census);
    }
}

// One-site water (-nohyd): the oxygens alone, bonded by distance, give every
// crystal's closed cages and cups as the all-atom frame does, pass the frame
// checks, and leave F4 undefined.
TEST(OneSiteWater, DistanceOnlyNetworkGivesTheCrystalsCagesAndCups)
{
    for (const char* structure : {"sI", "sII", "sH", "ice", "iceIc"}) {
        const char* cells = std::string(structure) == "sII" ? "1" : "2";
        std::vector<std::map<std::string, int64_t>> closed;
        std::vector<std::array<int64_t, 3>> cups;
        for (bool oneSite : {false, true}) {
            std::vector<std::string> args{"--structure", structure, "--cells", cells, cells, cells,
                                          "--displace", "0.1", "--seed", "4"};
            if (oneSite)
                args.push_back("--one-site");
            Frame f = parseConfiguration(latticeGro(args), "c.gro", "SOL", "OW");
            Criteria c = seriesCriteria();
            if (oneSite) {
                dropHydrogens(f.editTopology());
                c.distanceOnly = true;
                EXPECT_NO_THROW(checkFrame(f, "c.gro")) << structure;
            }
            const Analysis a = analyse(f, c);
            const FrameCensus census = censusOf(f, a);
            EXPECT_EQ(std::isnan(census.f4), oneSite) << structure;
            closed.push_back(census.closedTypes);
            cups.push_back({census.cupsPentagon, census.cupsHexagon, census.freeCups});
        }
        EXPECT_EQ(closed[0], closed[1]) << structure;
        EXPECT_EQ(cups[0], cups[1]) << structure;
        EXPECT_FALSE(closed[0].empty() && structure[0] == 's') << structure;
    }
}

} // namespace
} // namespace kavet::test
