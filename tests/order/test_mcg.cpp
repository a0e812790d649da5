// MCG: every guest of a fully occupied structure-I crystal is linked into one
// cluster; guests dissolved at random in liquid water form small clusters.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "io/gro_reader.h"
#include "order/mcg.h"
#include "support/support.h"

namespace kavet {
namespace {

void split(const Frame& f, std::vector<Vec3>& guests, std::vector<Vec3>& oxygens)
{
    for (int32_t k = 0; k < f.numAtom; ++k) {
        if (f.isOW[k])
            oxygens.push_back(f.atmXYZ[k]);
        else if (f.atmName[k] == "C")
            guests.push_back(f.atmXYZ[k]);
    }
}

TEST(Mcg, EveryGuestOfAFullStructureIAndFewInLiquidWater)
{
    for (const char* displace : {"0", "0.1"}) {
        const Frame f = parseConfiguration(test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--guests",
                                                             "1", "--displace", displace}),
                                           "c.gro", "SOL", "OW");
        std::vector<Vec3> guests, oxygens;
        split(f, guests, oxygens);
        ASSERT_EQ(guests.size(), 64u);
        const Mcg m = mcgOf(guests, oxygens, f.box);
        EXPECT_EQ(m.mcg1, 64) << displace;
        EXPECT_EQ(m.mcg3, 64) << displace;
        // A 5^12 cage shares its 12 pentagons with 5^12-6^2 cages; a
        // 5^12-6^2 cage shares its 12 pentagons and its 2 hexagons (two of
        // whose waters lie on the edges of the cones). Displaced, a water may
        // leave a cone and its link be lost.
        if (std::string(displace) == "0") {
            EXPECT_EQ(std::count(m.links.begin(), m.links.end(), 12), 16);
            EXPECT_EQ(std::count(m.links.begin(), m.links.end(), 14), 48);
        }
    }

    const std::string spc = "/usr/share/gromacs/top/spc216.gro";
    if (!std::filesystem::exists(spc))
        GTEST_SKIP() << spc << " is not installed";
    // Liquid water tiled 2 x 2 x 2 with 40 guests placed at random.
    const Frame liquid = readConfiguration(spc, "SOL", "OW");
    std::vector<Vec3> guests, one, oxygens;
    split(liquid, guests, one);
    const Box& b = liquid.box;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            for (int k = 0; k < 2; ++k)
                for (Vec3 o : one)
                    oxygens.push_back(o + Vec3{i * b.x, j * b.y, k * b.z});
    const Box box{2 * b.x, 2 * b.y, 2 * b.z};
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    while (guests.size() < 40)
        guests.push_back({u(rng) * box.x, u(rng) * box.y, u(rng) * box.z});
    const Mcg m = mcgOf(guests, oxygens, box);
    EXPECT_LE(m.mcg1, 4);
    EXPECT_LE(m.mcg3, 1);
}

} // namespace
} // namespace kavet
