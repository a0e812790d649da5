// Series mode with guests and the per-cage table, end to end: the columns a
// hydrate study reads, a guest name that selects nothing, an empty one.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "support/support.h"

namespace kavet {
namespace {

TEST(SeriesCensus, GuestColumnsCageTableAndAWarningForAnUnknownName)
{
    const std::string dir = test::freshDirectory("seriescensus");
    test::writeFile(dir + "/conf.gro", test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace",
                                                         "0", "--guests", "0.5", "--seed", "6"}));
    test::RunResult r =
        test::runKavetBinary({"-t", "conf.gro", "-ot", "s.csv", "-guest", "CH4", "-ocages", "c.csv"}, dir);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.err, "");
    std::istringstream series(test::readFile(dir + "/s.csv"));
    std::string head, row;
    std::getline(series, head);
    std::getline(series, row);
    // The undisplaced crystal needs the sealed line of sight, on by default here.
    EXPECT_EQ(head.substr(head.find("closed,")),
              "closed,defective,5^12,5^12-6^2,5^12-6^3,5^12-6^4,4^3-5^6-6^3,5^12-6^8,other_closed,cups_5^6,"
              "cups_6^1-5^6,free_cups,born,died,guests,guests_caged,"
              "occupied_5^12,occupied_5^12-6^2,occupied_5^12-6^3,occupied_5^12-6^4,occupied_4^3-5^6-6^3,"
              "occupied_5^12-6^8,occupied_other,multiply_occupied,mcg1,mcg3,clusters,largest_cluster,chill_cubic,"
              "chill_hexagonal,chill_interfacial_ice,chill_clathrate,chill_interfacial_clathrate,chill_liquid,"
              "largest_ice,largest_clathrate,f4,volume");
    std::map<std::string, double> value;
    std::istringstream names(head), values(row);
    for (std::string name, v; std::getline(names, name, ',') && std::getline(values, v, ',');)
        value[name] = std::stod(v);
    EXPECT_EQ(value["5^12"], 16);
    EXPECT_EQ(value["5^12-6^2"], 48);
    EXPECT_EQ(value["guests"], 32);
    EXPECT_EQ(value["guests_caged"], 32);
    EXPECT_EQ(value["occupied_5^12"] + value["occupied_5^12-6^2"], 32);
    EXPECT_EQ(value["multiply_occupied"], 0);
    EXPECT_EQ(value["clusters"], 1);
    EXPECT_EQ(value["largest_cluster"], 64);
    EXPECT_NEAR(value["f4"], 0.9, 0.05);
    const std::string cages = test::readFile(dir + "/c.csv");
    EXPECT_EQ(std::count(cages.begin(), cages.end(), '\n'), 65);

    r = test::runKavetBinary({"-t", "conf.gro", "-ot", "t.csv", "-guest", "THF"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, " !!! Warning !!! -guest THF selects no molecule in conf.gro; its residue names are: SOL, CH4\n");
    r = test::runKavetBinary({"-t", "conf.gro", "-guest", ""}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("option -guest takes a residue name, not an empty one"), std::string::npos);
}

} // namespace
} // namespace kavet
