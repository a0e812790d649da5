// F4 on ideal lattices against the values the literature gives for them, its
// torsion convention on one pair, and liquid water against a brute-force twin.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "core/dvec3.h"
#include "io/gro_reader.h"
#include "order/f4.h"
#include "support/support.h"

namespace kavet {
namespace {

F4 latticeF4(const std::vector<std::string>& args)
{
    return f4Of(parseConfiguration(test::latticeGro(args), "lattice.gro", "SOL", "OW"));
}

TEST(F4, TheTorsionTakesEachWatersHydrogenFarthestFromTheOtherOxygen)
{
    // Water 0 donates along x to water 1 across the periodic boundary; its
    // other hydrogen points along y. Water 1's farther hydrogen sits at a
    // torsion of 60 degrees (cos 3 phi = -1), its nearer one at 200 degrees
    // (cos 3 phi = -0.5). Water 0's nearer hydrogen lies on the O...O axis,
    // where the torsion is undefined.
    const double r = 0.96, s = 0.905;
    const Vec3 o0{0.5f, 5, 5}, o1{7.7f, 5, 5}; // 2.8 apart through the boundary of a 10 box
    auto at = [](Vec3 o, double dx, double dy, double dz) {
        return Vec3{static_cast<float>(o.x + dx), static_cast<float>(o.y + dy), static_cast<float>(o.z + dz)};
    };
    const double deg = 3.14159265358979323846 / 180.0;
    const test::Water w0{o0, at(o0, -r, 0, 0), at(o0, 0.32, s, 0)};
    const test::Water w1{o1, at(o1, 0.1, 0.9 * std::cos(200 * deg), 0.9 * std::sin(200 * deg)),
                         at(o1, -0.32, s * std::cos(60 * deg), s * std::sin(60 * deg))};
    Frame frame = test::atomsFromWaters({w0, w1}, Box{10, 10, 10});
    const F4 f = f4Of(frame);
    EXPECT_EQ(f.pairs, 1);
    EXPECT_NEAR(f.value, -1.0, 1e-5);
    ASSERT_EQ(f.perWater.size(), 2u);
    EXPECT_EQ(f.perWater[0], f.value);
    EXPECT_EQ(f.perWater[1], f.value);
    EXPECT_TRUE(std::isnan(f4Of(frame, NeighbourList{}).value));

    // Water 1's hydrogens equally far from oxygen 0 (the same x and radius),
    // at torsions of 60 degrees (cos 3 phi = -1) and 100 (0.5): the one first
    // in the input counts, whichever single-precision rounding makes farther.
    const Vec3 h60 = at(o1, -0.32, s * std::cos(60 * deg), s * std::sin(60 * deg));
    const Vec3 h100 = at(o1, -0.32, s * std::cos(100 * deg), s * std::sin(100 * deg));
    EXPECT_NEAR(f4Of(test::atomsFromWaters({w0, {o1, h60, h100}}, Box{10, 10, 10})).value, -1.0, 1e-5);
    EXPECT_NEAR(f4Of(test::atomsFromWaters({w0, {o1, h100, h60}}, Box{10, 10, 10})).value, 0.5, 1e-5);
}

TEST(F4, IdealLattices)
{
    for (const char* displace : {"0", "0.1"}) {
        const F4 hydrate = latticeF4({"--structure", "sI", "--cells", "2", "2", "2", "--displace", displace});
        EXPECT_EQ(hydrate.pairs, 736); // 368 waters, 4 bonds each
        EXPECT_NEAR(hydrate.value, 0.9, 0.05) << displace;
        // Every water has four bonds, so the per-water values average to F4.
        double mean = 0.0;
        for (double v : hydrate.perWater)
            mean += v / static_cast<double>(hydrate.perWater.size());
        EXPECT_NEAR(mean, hydrate.value, 1e-12) << displace;
        const F4 ice = latticeF4({"--structure", "ice", "--cells", "4", "3", "3", "--displace", displace});
        EXPECT_EQ(ice.pairs, 576);
        EXPECT_NEAR(ice.value, -0.5, 0.05) << displace;
    }
}

// F4 written apart: every pair of waters, the minimum image of a rectangular
// box by rounding, the torsion from atan2.
double bruteForceF4(const Frame& f)
{
    auto vec = [&](int32_t to, int32_t from) {
        DVec3 d = toDouble(f.positions[to]) - toDouble(f.positions[from]);
        const DVec3 box = toDouble(Vec3{f.box.x, f.box.y, f.box.z});
        return d - DVec3{box.x * std::round(d.x / box.x), box.y * std::round(d.y / box.y), box.z * std::round(d.z / box.z)};
    };
    auto outer = [&](const Water& w, DVec3 other) { // the hydrogen farther from `other`
        const DVec3 h0 = vec(w.hydrogen[0], w.oxygen), h1 = vec(w.hydrogen[1], w.oxygen);
        return dot(h1 - other, h1 - other) > dot(h0 - other, h0 - other) ? h1 : h0;
    };
    double sum = 0.0;
    int pairs = 0;
    const std::vector<Water>& water = f.topology().water;
    for (std::size_t i = 0; i < water.size(); ++i)
        for (std::size_t j = i + 1; j < water.size(); ++j) {
            const DVec3 b2 = vec(water[j].oxygen, water[i].oxygen);
            if (dot(b2, b2) >= 3.5 * 3.5)
                continue;
            const DVec3 n1 = cross(-outer(water[i], b2), b2), n2 = cross(b2, outer(water[j], -b2));
            sum += std::cos(3 * std::atan2(dot(cross(n1, n2), b2) / norm(b2), dot(n1, n2)));
            ++pairs;
        }
    return sum / pairs;
}

TEST(F4, LiquidWaterAgreesWithABruteForceTwin)
{
    for (const char* name : {"spc216.gro", "tip4p.gro"}) {
        const std::string path = std::string("/usr/share/gromacs/top/") + name;
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << path << " is missing";
        const Frame frame = readConfiguration(path, "SOL", "OW");
        const F4 f = f4Of(frame);
        EXPECT_NEAR(f.value, bruteForceF4(frame), 1e-3) << name;
        EXPECT_GT(f.pairs, 2 * static_cast<int64_t>(frame.topology().water.size())) << name; // not just the bonded pairs
    }
}

} // namespace
} // namespace kavet
