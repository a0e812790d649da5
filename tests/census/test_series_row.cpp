// A frame analysed through the library with the series preset gives, column
// for column, the row the command line's series mode writes for it.
#include <gtest/gtest.h>

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
    const std::vector<SeriesColumn> columns = seriesColumns(criteria, true);
    // born and died come from following the cages, frame after frame.
    CageTracker tracker;
    const FrameIds ids = tracker.add(0, 0.0, library.cages);
    setTracked(columns, library.values, ids.born, ids.died);
    std::string names, values;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c > 0) {
            names += ',';
            values += ',';
        }
        names += columns[c].name;
        values += formatValue(columns[c], library.values[c]);
    }
    EXPECT_EQ(names, head);
    EXPECT_EQ(values, row);
    EXPECT_GT(library.closed.at("5^12"), 0);
}

} // namespace
} // namespace kavet
