// Cups on hydrate crystals, where every cup is a half of a cage, and on
// liquid water and ice, which have no closed cage.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "cage/analysis.h"
#include "cage/cups.h"
#include "cage/polyhedron.h"
#include "io/gro_reader.h"
#include "support/support.h"

namespace kavet {
namespace {

struct Tally {
    std::map<std::string, int64_t> closed; // closed cages by label
    int64_t cages = 0, defective = 0;
    CupCounts cups;
};

// The census of one frame with the series' criteria (sealed line of sight).
Tally tally(const Frame& frame)
{
    Criteria series;
    series.sealed = true;
    const Analysis a = analyse(frame, series, nullptr, RingWalk::Once);
    Tally t;
    std::vector<uint8_t> closed;
    for (std::size_t c = 0; c < a.cages.cageList.size(); ++c) {
        const CageShape shape = censusShape(a.cages.cageList[c], a.rings, a.geo, frame);
        closed.push_back(shape == CageShape::Closed ? 1 : 0);
        t.defective += shape == CageShape::Defective ? 1 : 0;
        if (shape == CageShape::Closed) {
            ++t.closed[cageLabel(a.cages.cageList[c], a.rings)];
            EXPECT_EQ(cageLabel(a.cages.cageList[c], a.rings), a.classes.cageType[c]);
        }
    }
    t.cages = static_cast<int64_t>(closed.size());
    t.cups = countCups(findCups(a.rings), a.cages.cageList, closed);
    return t;
}

TEST(Cups, HalvesOfEveryCageInHydratesAndNoneInWaterOrIce)
{
    // Cages per water of each structure: sI 8 in 46, sII 24 in 136, sH 6 in 34.
    const std::map<std::string, std::pair<int, int>> perWater = {{"sI", {8, 46}}, {"sII", {24, 136}}, {"sH", {6, 34}}};
    const std::vector<std::vector<std::string>> crystals = {
        {"sI", "2", "2", "2"},
        {"sI", "2", "2", "2", "--displace", "0.1", "--seed", "5"},
        {"sI", "2", "2", "2", "--shear", "xy", "xz", "yz", "--displace", "0.1"},
        {"sII", "1", "1", "1"},
        {"sII", "2", "1", "1", "--shear", "xy", "--displace", "0.1"},
        {"sH", "2", "1", "2", "--displace", "0.1"},
        {"sH", "2", "2", "2", "--hexagonal"}};
    for (const std::vector<std::string>& args : crystals) {
        std::vector<std::string> tool = {"--structure", args[0], "--cells"};
        tool.insert(tool.end(), args.begin() + 1, args.end());
        const Frame frame = parseConfiguration(test::latticeGro(tool), "c.gro", "SOL", "OW");
        const Tally t = tally(frame);
        auto n = [&](const char* type) { return t.closed.count(type) ? t.closed.at(type) : 0; };
        const std::string what = args[0] + " " + args[1] + args[2] + args[3] + (args.size() > 4 ? " " + args[4] : "");
        EXPECT_EQ(t.cages, frame.numWater / perWater.at(args[0]).second * perWater.at(args[0]).first) << what;
        int64_t closed = 0;
        for (const auto& [type, count] : t.closed)
            closed += count;
        EXPECT_EQ(closed, t.cages) << what;
        EXPECT_EQ(t.defective, 0) << what;
        // A 5^12 is twelve pentagons each ringed by five; the hexagons ringed
        // by pentagons are the two of a 5^12-6^2, the four of a 5^12-6^4 and
        // the two polar ones of a 5^12-6^8.
        EXPECT_EQ(t.cups.pentagonBase, 12 * n("5^12")) << what;
        EXPECT_EQ(t.cups.hexagonBase, 2 * n("5^12-6^2") + 4 * n("5^12-6^4") + 2 * n("5^12-6^8")) << what;
        EXPECT_EQ(t.cups.free, 0) << what;
    }

    std::vector<Frame> noCages;
    for (const char* displace : {"0.2", "0.3"})
        noCages.push_back(parseConfiguration(test::latticeGro({"--structure", "ice", "--cells", "8", "5", "5",
                                                                "--displace", displace, "--seed", "2"}),
                                             "ice.gro", "SOL", "OW"));
    for (const char* liquid : {"spc216.gro", "tip4p.gro"})
        if (const std::string path = std::string("/usr/share/gromacs/top/") + liquid; std::filesystem::exists(path))
            noCages.push_back(readConfiguration(path, "SOL", "OW"));
    for (const Frame& frame : noCages) {
        const Tally t = tally(frame);
        EXPECT_EQ(t.closed, (std::map<std::string, int64_t>{})) << frame.numWater;
        EXPECT_EQ(t.cups.pentagonBase + t.cups.hexagonBase, 0) << frame.numWater;
    }
}

} // namespace
} // namespace kavet
