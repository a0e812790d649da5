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
        test::runKavetBinary({"-t", "conf.gro", "-ot", "s.csv", "-guest", "CH4", "-ocages", "c.csv", "-qbar", "8,4",
                              "-oclusters", "k.csv"}, dir);
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
              "largest_ice,largest_clathrate,f4,volume,f3,q_tet,qbar_3,qbar_4,qbar_6,qbar_12,qbar_8,mcg1_waters,"
              "mcg3_waters,largest_cluster_waters,largest_cluster_guests,largest_cluster_spans,hydrate_waters,"
              "largest_hydrate_waters");
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
    EXPECT_NEAR(value["q_tet"], 1.0, 0.05);
    EXPECT_GT(value["qbar_8"], 0.0);
    EXPECT_NE(r.out.find("     qbar  Degrees: 8 4\n"), std::string::npos);
    const std::string cages = test::readFile(dir + "/c.csv");
    EXPECT_EQ(std::count(cages.begin(), cages.end(), '\n'), 65);
    // The crystal is one cluster: id 1 (its oldest cage), every cage, half
    // of them filled, every water, spanning the cell three ways.
    const std::vector<std::string> clusters = test::linesOf(test::readFile(dir + "/k.csv"));
    ASSERT_EQ(clusters.size(), 2u);
    EXPECT_EQ(clusters[0], "frame,time_ps,cluster,cages,5^12,5^12-6^2,5^12-6^3,5^12-6^4,4^3-5^6-6^3,5^12-6^8,other,"
                           "occupied,guests,waters,x,y,z,rg,spans");
    EXPECT_EQ(clusters[1].substr(0, 35), "0,0,1,64,16,48,0,0,0,0,0,32,32,368,");
    EXPECT_EQ(clusters[1].substr(clusters[1].size() - 2), ",3");

    r = test::runKavetBinary({"-t", "conf.gro", "-ot", "t.csv", "-guest", "THF"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, " !!! Warning !!! -guest THF selects no molecule in conf.gro; its residue names are: SOL, CH4\n");
    r = test::runKavetBinary({"-t", "conf.gro", "-guest", ""}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("option -guest takes a residue name, not an empty one"), std::string::npos);
    r = test::runKavetBinary({"-t", "conf.gro", "-qbar", "6,65"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("option -qbar takes degrees l from 0 to 64"), std::string::npos);
}

} // namespace
} // namespace kavet
