// Cups on hydrate crystals, where every cup is half of a cage, and on liquid
// water and ice, which have no closed cage and no cup.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "cage/analysis.h"
#include "cage/cups.h"
#include "cage/polyhedron.h"
#include "io/gro_reader.h"
#include "support/support.h"

namespace kavet {
namespace {

TEST(Cups, HalvesOfEveryCageInHydratesAndNoneInWaterOrIce)
{
    // Each frame with its closed cages per water: sI 8 in 46, sII 24 in 136,
    // sH 6 in 34; none in ice and liquid water.
    std::vector<std::pair<Frame, double>> frames;
    auto lattice = [&](std::vector<std::string> args, double cages) {
        args.insert(args.begin() + 2, "--cells");
        frames.emplace_back(parseConfiguration(test::latticeGro(args), "c.gro", "SOL", "OW"), cages);
    };
    lattice({"--structure", "sI", "2", "2", "2"}, 8.0 / 46);
    lattice({"--structure", "sI", "2", "2", "2", "--displace", "0.1", "--seed", "5"}, 8.0 / 46);
    lattice({"--structure", "sI", "2", "2", "2", "--shear", "xy", "xz", "yz", "--displace", "0.1"}, 8.0 / 46);
    lattice({"--structure", "sII", "1", "1", "1"}, 24.0 / 136);
    lattice({"--structure", "sII", "2", "1", "1", "--shear", "xy", "--displace", "0.1"}, 24.0 / 136);
    lattice({"--structure", "sH", "2", "1", "2", "--displace", "0.1"}, 6.0 / 34);
    lattice({"--structure", "sH", "2", "2", "2", "--hexagonal"}, 6.0 / 34);
    for (const char* displace : {"0.2", "0.3"})
        lattice({"--structure", "ice", "8", "5", "5", "--displace", displace, "--seed", "2"}, 0.0);
    for (const char* liquid : {"spc216.gro", "tip4p.gro"})
        if (const std::string path = std::string("/usr/share/gromacs/top/") + liquid; std::filesystem::exists(path))
            frames.emplace_back(readConfiguration(path, "SOL", "OW"), 0.0);

    const Criteria series = seriesCriteria();
    for (const auto& [frame, perWater] : frames) {
        const Analysis a = analyse(frame, series);
        const OffsetArray& cages = a.cages.cageList;
        std::vector<uint8_t> closed;
        std::map<std::string, int64_t> n; // closed cages by label
        for (std::size_t c = 0; c < cages.size(); ++c) {
            closed.push_back(censusShape(cages[c], a.rings, a.geo, frame) == CageShape::Closed ? 1 : 0);
            // In a crystal every cage is closed (none defective), labelled as
            // the classic census labels it.
            EXPECT_TRUE(closed[c] || perWater == 0.0) << frame.waterCount;
            if (closed[c]) {
                ++n[cageLabel(cages[c], a.rings)];
                EXPECT_EQ(cageLabel(cages[c], a.rings), a.classes.cageType[c]);
            }
        }
        EXPECT_EQ(std::count(closed.begin(), closed.end(), 1), std::lround(frame.waterCount * perWater));
        // A 5^12 is twelve pentagons each ringed by five; the hexagons ringed
        // by pentagons are the two of a 5^12-6^2, the four of a 5^12-6^4 and
        // the two polar ones of a 5^12-6^8.
        const std::vector<Cup> found = findCups(a.rings);
        const CupCounts cups = countCups(found, cages, closed);
        EXPECT_EQ(cups.pentagonBase, 12 * n["5^12"]) << frame.waterCount;
        EXPECT_EQ(cups.hexagonBase, 2 * n["5^12-6^2"] + 4 * n["5^12-6^4"] + 2 * n["5^12-6^8"]) << frame.waterCount;
        EXPECT_EQ(cups.free, 0) << frame.waterCount;
        EXPECT_EQ(countCups(found, cages, {}).free, cups.pentagonBase + cups.hexagonBase); // no closed cage
    }
}

} // namespace
} // namespace kavet
