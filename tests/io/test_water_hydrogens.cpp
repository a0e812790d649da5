// Hydrogens checked: a virtual site written between a water's oxygen and its
// hydrogens (TIP4P as OW MW HW1 HW2) is passed over for the atoms named H*,
// with the bonds of the same waters written without it; a water without
// hydrogens where they belong is refused.
#include <gtest/gtest.h>

#include "support/support.h"

namespace kavet {
namespace {

TEST(WaterHydrogens, AVirtualSiteAfterTheOxygenIsPassedOverAndNoHydrogensAreRefused)
{
    const std::string dir = test::freshDirectory("hydrogens");
    const std::string gro =
        test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1", "--seed", "5"});
    // Every OW line again, named MW, after it: a site on the oxygen; then
    // the same without atoms named H*.
    std::vector<std::string> sites;
    for (const std::string& line : test::linesOf(gro)) {
        sites.push_back(line);
        if (sites.size() > 2 && line.substr(10, 5) == "   OW")
            sites.push_back(line.substr(0, 10) + "   MW" + line.substr(15));
    }
    sites[1] = std::to_string(sites.size() - 3);
    std::vector<std::string> noNames = sites;
    for (std::string& line : noNames)
        if (line.size() > 15 && line.substr(10, 4) == "  HW")
            line[12] = 'X';
    std::string withSites, unnamed;
    for (std::size_t k = 0; k < sites.size(); ++k)
        withSites += sites[k] + "\n", unnamed += noNames[k] + "\n";
    test::writeFile(dir + "/plain.gro", gro);
    test::writeFile(dir + "/sites.gro", withSites);
    test::writeFile(dir + "/nonames.gro", unnamed);
    auto bonds = [&](const std::string& file) {
        const test::RunResult r = test::runKavetBinary({"-f", file, "-nt", "1"}, dir);
        const std::size_t at = r.out.find(">>>> Edge Size: ");
        return r.status == 0 && at != std::string::npos ? r.out.substr(at, r.out.find('\n', at) - at) : r.out;
    };
    EXPECT_EQ(bonds("sites.gro"), bonds("plain.gro"));
    const test::RunResult r = test::runKavetBinary({"-f", "nonames.gro"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("nonames.gro: water oxygen atom 1 (1SOL OW, line 3) has no two hydrogens 0.8 to 1.3 A from "
                         "it: the atoms after it are atom 2 (1SOL MW, line 4) at 0.000 A and atom 3 (1SOL XW1, line 5) "
                         "at 0.9"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("of its residue's atoms named H*, there is none"), std::string::npos) << r.out;
}

} // namespace
} // namespace kavet
