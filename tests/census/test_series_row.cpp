// A frame analysed through the library with the series preset gives, column
// for column, the row the command line's series mode writes for it.
#include <gtest/gtest.h>

#include <sstream>

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
    const Criteria criteria = seriesCriteria();
    const SeriesRow library = analyseRow(frame, criteria, 0, 0.0, options);
    const std::vector<SeriesColumn> columns = seriesColumns(criteria, true);
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

// Times as the trajectory carries them: a float's value without its binary
// noise (also that of a float product), a double's as it was read, never
// with an exponent.
TEST(SeriesRow, TimesPrintTheShortestDecimalTheTrajectoryCarries)
{
    const SeriesColumn time{"time_ps", SeriesColumn::Time};
    const std::vector<std::pair<double, std::string>> cases = {
        {0.6f, "0.6"}, {3 * 0.6f, "1.8"}, {1234567.5f, "1234567.5"}, {1e7f, "10000000"}, {20.0, "20"},
        {0.1, "0.1"},  {2.5e-4f, "0.00025"}, {1234.5678, "1234.5678"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(formatValue(time, value), text) << value;
}

} // namespace
} // namespace kavet
