// The same crystal in a rectangular cell and in equivalent triclinic cells
// (the lattice tool's --shear and --hexagonal, protons arranged for each
// cell's own periodicity): a structure-I hydrate sheared along xy, xz and yz
// has the bonds, rings and census of its rectangular twin, and hexagonal ice
// in its native cell (a = b, gamma = 120 degrees, at GROMACS's shear limit)
// has two rings per water, as its orthorhombic twin does, with the cell in
// the CRYST1 record. Read as rectangular, the sheared hydrate loses bonds at
// the cell faces and shows dozens of spurious cage types.
#include <gtest/gtest.h>

#include "cage/analysis.h"
#include "support/support.h"

namespace kavet::test {
namespace {

TEST(TriclinicCell, ShearedHydrateHasTheBondsRingsAndCensusOfItsRectangularTwin)
{
    std::size_t bonds = 0, rings = 0;
    std::map<std::string, int32_t> census;
    const std::vector<std::vector<std::string>> shears{{}, {"xy"}, {"xz"}, {"yz"}, {"xy", "xz", "yz"}};
    for (const auto& shear : shears) {
        std::vector<std::string> args{"--structure", "sI", "--cells", "3", "3", "3", "--displace", "0.1", "--seed", "3"};
        if (!shear.empty()) {
            args.push_back("--shear");
            args.insert(args.end(), shear.begin(), shear.end());
        }
        const Analysis a = analyse(parseConfiguration(latticeGro(args), "sI.gro", "SOL", "OW"), Criteria{});
        if (shear.empty()) {
            bonds = a.net.edgeList.size() / 2;
            rings = a.rings.ringList.size();
            census = a.classes.cageCensus;
            EXPECT_EQ(bonds, 2u * 46 * 27);
            EXPECT_EQ(rings, 54u * 27);
            EXPECT_EQ(census, (std::map<std::string, int32_t>{{"5^12", 2 * 27}, {"5^12-6^2", 6 * 27}}));
            continue;
        }
        EXPECT_EQ(a.net.edgeList.size() / 2, bonds) << "shear " << shear.size() << " " << shear[0];
        EXPECT_EQ(a.rings.ringList.size(), rings) << "shear " << shear.size() << " " << shear[0];
        EXPECT_EQ(a.classes.cageCensus, census) << "shear " << shear.size() << " " << shear[0];
    }
}

TEST(TriclinicCell, NativeHexagonalIceHasTwoRingsPerWaterAndItsCellInCryst1)
{
    // 6 x 3 x 3 orthorhombic cells (8 waters each) and 6 x 6 x 3 hexagonal
    // cells (4 waters each) hold 432 waters in the same volume.
    const std::string dir = freshDirectory("hexagonal");
    std::string cryst1;
    for (const bool hexagonal : {false, true}) {
        std::vector<std::string> args{"--structure", "ice", "--cells", "6", hexagonal ? "6" : "3", "3",
                                      "--displace", "0.1", "--seed", "2"};
        if (hexagonal)
            args.push_back("--hexagonal");
        writeFile(dir + "/ice.gro", latticeGro(args));
        const RunResult r = runKavetBinary({"-f", "ice.gro", "-or", "r.pdb"}, dir);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("     OW:       432\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("     Ring: 864\n"), std::string::npos) << r.out;
        const std::string ringFile = readFile(dir + "/r.pdb");
        cryst1 += ringFile.substr(ringFile.rfind("CRYST1"), 72);
    }
    EXPECT_EQ(cryst1, "CRYST1   27.120   23.487   22.080  90.00  90.00  90.00  P 1           1\n"
                      "CRYST1   27.120   27.120   22.080  90.00  90.00 120.00  P 1           1\n");
}

} // namespace
} // namespace kavet::test
