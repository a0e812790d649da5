// A frame analysed through the library with the series preset gives, column
// for column, the row the command line's series mode writes for it; liquid
// water and disordered ice give no closed cage, crystals all of theirs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "census/cage_tracker.h"
#include "census/series_row.h"
#include "io/gro_reader.h"
#include "support/support.h"

namespace kavet {
namespace {

TEST(SeriesRow, LibraryWithTheSeriesPresetEqualsTheRowTheCommandLineWrites)
{
    const std::string dir = test::freshDirectory("seriesrow");
    test::writeFile(dir + "/conf.gro", test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace",
                                                         "0.05", "--guests", "0.5", "--seed", "11"}));
    const test::RunResult r = test::runKavetBinary({"-t", "conf.gro", "-ot", "s.csv", "-guest", "CH4"}, dir);
    ASSERT_EQ(r.status, 0) << r.out;
    std::istringstream written(test::readFile(dir + "/s.csv"));
    std::string head, row;
    std::getline(written, head);
    std::getline(written, row);

    const Frame frame = readConfiguration(dir + "/conf.gro", "SOL", "OW");
    const GuestMolecules guests = selectGuests(frame, "CH4");
    CensusOptions options;
    options.guests = &guests;
    options.cageMembers = CensusOptions::Members::Closed;
    const Criteria criteria = seriesCriteria();
    SeriesRow library = analyseRow(frame, criteria, 0, 0.0, options);
    const SeriesColumns columns = seriesColumns(criteria, true);
    // born and died come from following the cages, frame after frame.
    CageTracker tracker;
    const FrameIds ids = tracker.add(0, 0.0, library.cages);
    library.born = ids.born;
    library.died = ids.died;
    std::string names, values;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c > 0) {
            names += ',';
            values += ',';
        }
        names += columns[c].name;
        values += formatValue(columns[c], columns[c].value(library));
    }
    EXPECT_EQ(names, head);
    EXPECT_EQ(values, row);
    EXPECT_GT(library.closedTypes.at("5^12"), 0);
}

// Times as the trajectory carries them: a float's value without its binary
// noise (also that of a float product), a double's as it was read, never
// with an exponent.
TEST(SeriesRow, TimesPrintTheShortestDecimalTheTrajectoryCarries)
{
    const SeriesColumn::Kind time = SeriesColumn::Time;
    const std::vector<std::pair<double, std::string>> cases = {
        {0.6f, "0.6"}, {3 * 0.6f, "1.8"}, {1234567.5f, "1234567.5"}, {1e7f, "10000000"}, {20.0, "20"},
        {0.1, "0.1"},  {2.5e-4f, "0.00025"}, {1234.5678, "1234.5678"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(formatValue(time, value), text) << value;
}

// Every case with all-atom and with one-site water (-nohyd): liquid water and
// ice displaced by up to 0.3 A hold no closed and no defective cage (the 3^4
// tetrahedra of touching one-site waters and the fused surfaces of displaced
// ice have no room for a guest); a crystal holds all its cages in one cluster
// that spans the three cell directions, with every guest and water; a hydrate
// slab in liquid spans two.
TEST(SeriesRow, CagesOnlyWhereThereAreCagesAndOneClusterPerCrystal)
{
    struct Case {
        Frame frame;
        int64_t closed; // closed cages of its crystal, -1 for the slab
    };
    std::vector<Case> cases;
    auto lattice = [&](const char* structure, std::vector<std::string> args, int64_t closed) {
        args.insert(args.begin(), {"--structure", structure, "--cells"});
        if (closed > 0)
            args.insert(args.end(), {"--guests", "1"});
        cases.push_back({parseConfiguration(test::latticeGro(args), "c.gro", "SOL", "OW"), closed});
    };
    for (const char* displace : {"0.2", "0.3"}) {
        lattice("ice", {"8", "5", "5", "--displace", displace, "--seed", "2"}, 0);
        lattice("iceIc", {"4", "4", "4", "--displace", displace, "--seed", "3"}, 0);
    }
    for (const char* liquid : {"spc216.gro", "tip4p.gro"})
        if (const std::string path = std::string("/usr/share/gromacs/top/") + liquid; std::filesystem::exists(path))
            cases.push_back({readConfiguration(path, "SOL", "OW"), 0});
    lattice("sI", {"2", "2", "2", "--displace", "0"}, 64);
    lattice("sI", {"2", "2", "2", "--shear", "xy", "xz", "yz", "--displace", "0.1"}, 64);
    lattice("sII", {"1", "1", "1", "--displace", "0.1"}, 24);
    lattice("sII", {"2", "2", "2", "--shear", "xy"}, 192);
    lattice("sH", {"2", "1", "2", "--displace", "0.1"}, 48);
    lattice("sH", {"2", "2", "2", "--shear", "xy"}, 96);
    cases.push_back({readConfiguration(test::sourcePath("tests/data/sI-interface.gro"), "SOL", "OW"), -1});

    for (bool oneSite : {false, true}) {
        Criteria criteria = seriesCriteria();
        criteria.distanceOnly = oneSite;
        const SeriesColumns columns = seriesColumns(criteria, true);
        for (Case& c : cases) {
            Frame frame = c.frame;
            if (oneSite)
                dropHydrogens(frame.editTopology());
            const GuestMolecules guests = selectGuests(frame, "CH4");
            CensusOptions options;
            options.guests = &guests;
            const SeriesRow row = analyseRow(frame, criteria, 0, 0.0, options);
            std::map<std::string, double> v;
            for (const SeriesColumn& col : columns)
                v[col.name] = col.value(row);
            const std::string where = std::to_string(frame.topology().waterCount) + (oneSite ? " one-site" : "");
            if (c.closed == 0) {
                EXPECT_EQ(v["closed"] + v["defective"] + v["hydrate_waters"], 0) << where;
                continue;
            }
            if (c.closed < 0) { // the slab: its closed cages in one cluster spanning two directions
                ASSERT_GE(row.clusterTable.size(), 1u) << where;
                EXPECT_EQ(v["largest_cluster_spans"], 2) << where;
                continue;
            }
            EXPECT_EQ(v["closed"], c.closed) << where;
            EXPECT_EQ(v["defective"] + v["free_cups"], 0) << where;
            ASSERT_EQ(row.clusterTable.size(), 1u) << where;
            const ClusterRecord& k = row.clusterTable[0];
            EXPECT_EQ(k.cages, c.closed) << where;
            EXPECT_EQ(k.types, row.closedTypes) << where;
            EXPECT_EQ(k.occupied, c.closed) << where;
            EXPECT_EQ(k.guests, c.closed) << where;
            EXPECT_EQ(k.waters, frame.topology().waterCount) << where;
            EXPECT_EQ(k.spans, 3) << where;
            EXPECT_GT(k.rg, 0.0) << where;
            EXPECT_EQ(v["largest_cluster_waters"], frame.topology().waterCount) << where;
            EXPECT_EQ(v["largest_cluster_guests"], c.closed) << where;
            EXPECT_EQ(v["largest_cluster_spans"], 3) << where;
            EXPECT_EQ(v["hydrate_waters"], frame.topology().waterCount) << where;
            EXPECT_EQ(v["largest_hydrate_waters"], frame.topology().waterCount) << where;
            // A crystal's water is a vertex of four cages at most (of 4 in sI's
            // and sII's 5^12 corners, of 3 in others), every one of at least one.
            for (uint8_t n : row.closedCagesOfWater)
                EXPECT_TRUE(n >= 1 && n <= 4) << where;
        }
    }
}

// One-site water: two waters of a crystal pentagon pulled within the bond
// distance (a 3.3 A diagonal) split it into a 3-ring and a 4-ring. Each of
// the two cages on that pentagon is still found and counted with its own
// type, pentagon after pentagon of the crystal.
TEST(SeriesRow, OneSiteCagesKeepTheirTypesAcrossASplitPentagon)
{
    Frame crystal = parseConfiguration(
        test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0", "--guests", "1"}),
        "c.gro", "SOL", "OW");
    dropHydrogens(crystal.editTopology());
    Criteria criteria = seriesCriteria();
    criteria.distanceOnly = true;
    const Analysis whole = analyse(crystal, criteria);
    const GuestMolecules guests = selectGuests(crystal, "CH4");
    CensusOptions options;
    options.guests = &guests;
    int tried = 0;
    for (std::size_t r = 0; r < whole.rings.ringList.size(); ++r) {
        const std::span<const int32_t> ring = whole.rings.ringList[r];
        if (ring.size() != 5 || tried == 10 || r % 29 != 0)
            continue;
        Frame frame = crystal;
        Vec3& a = frame.positions[ring[0]];
        Vec3& b = frame.positions[ring[2]];
        const Vec3 d = b - a;
        const float length = std::sqrt(dot(d, d));
        if (length > 5.0f) // across the cell boundary
            continue;
        ++tried;
        const Vec3 pull = d * ((length - 3.3f) / (2.0f * length));
        a = a + pull;
        b = b - pull;
        const SeriesRow row = analyseRow(frame, criteria, 0, 0.0, options);
        const std::string where = "pentagon " + std::to_string(ring[0]) + "-" + std::to_string(ring[2]);
        EXPECT_EQ(row.rings[3], 1) << where;
        EXPECT_EQ(row.closed, 64) << where;
        EXPECT_EQ(row.closedTypes, (std::map<std::string, int64_t>{{"5^12", 16}, {"5^12-6^2", 48}})) << where;
        EXPECT_EQ(row.occupiedCages, 64) << where;
    }
    EXPECT_EQ(tried, 10);
}

} // namespace
} // namespace kavet
