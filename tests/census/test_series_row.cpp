// A frame analysed through the library with the series preset gives, column
// for column, the row the command line's series mode writes for it; liquid
// water and disordered ice give no closed cage, crystals all of theirs.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(SeriesRow, NoClosedCageInLiquidOrIceAndEveryCageOfACrystal)
{
    std::vector<std::pair<Frame, int64_t>> cases; // each frame with the closed cages of its crystal
    auto lattice = [&](const char* structure, std::vector<std::string> args, int64_t closed) {
        args.insert(args.begin(), {"--structure", structure, "--cells"});
        cases.emplace_back(parseConfiguration(test::latticeGro(args), "c.gro", "SOL", "OW"), closed);
    };
    for (const char* displace : {"0.2", "0.3"})
        lattice("ice", {"8", "5", "5", "--displace", displace, "--seed", "2"}, 0);
    for (const char* liquid : {"spc216.gro", "tip4p.gro"})
        if (const std::string path = std::string("/usr/share/gromacs/top/") + liquid; std::filesystem::exists(path))
            cases.emplace_back(readConfiguration(path, "SOL", "OW"), 0);
    lattice("sI", {"2", "2", "2", "--displace", "0"}, 64);
    lattice("sI", {"2", "2", "2", "--shear", "xy", "xz", "yz", "--displace", "0.1"}, 64);
    lattice("sII", {"1", "1", "1", "--displace", "0.1"}, 24);
    lattice("sH", {"2", "1", "2", "--displace", "0.1"}, 48);

    const Criteria criteria = seriesCriteria();
    const SeriesColumns columns = seriesColumns(criteria, false);
    EXPECT_TRUE(std::none_of(columns.begin(), columns.end(), [](const SeriesColumn& c) { return c.name == "open"; }));
    for (const auto& [frame, closed] : cases) {
        const SeriesRow row = analyseRow(frame, criteria, 0, 0.0);
        std::map<std::string, double> v;
        for (const SeriesColumn& c : columns)
            v[c.name] = c.value(row);
        EXPECT_EQ(v["closed"], closed) << frame.numWater;
        EXPECT_EQ(v["clusters"], closed > 0 ? 1 : 0) << frame.numWater;
        if (closed > 0) { // defective and free cups in crystals: none
            EXPECT_EQ(v["defective"] + v["free_cups"], 0) << frame.numWater;
        }
    }
}

} // namespace
} // namespace kavet
