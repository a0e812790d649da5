// CHILL+ against a brute-force twin (complex spherical harmonics from the
// standard library, every pair tried over the periodic images) and on
// crystals and liquid water; MCG on a hydrate and on dissolved guests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <iterator>
#include <numeric>
#include <random>
#include <sstream>

#include "io/gro_reader.h"
#include "order/chill.h"
#include "order/mcg.h"
#include "support/support.h"

namespace kavet {
namespace {

using L = ChillLabel;

// Water oxygens and other atoms of a frame from the lattice tool (its
// arguments separated by spaces) or of a file.
struct Points {
    std::vector<Vec3> water, other;
    Box box;
};
Points pointsOf(const std::string& words, const std::string& path = "")
{
    std::istringstream in(words);
    const Frame f = path.empty() ? parseConfiguration(test::latticeGro({std::istream_iterator<std::string>(in), {}}),
                                                      "c.gro", "SOL", "OW")
                                 : readConfiguration(path, "SOL", "OW");
    Points p{{}, {}, f.box};
    for (int32_t k = 0; k < f.topology().atomCount; ++k)
        (f.topology().isWaterOxygen[k] ? p.water : p.other).push_back(f.positions[k]);
    return p;
}

std::vector<ChillLabel> bruteForceLabels(const std::vector<Vec3>& pos, const Box& box)
{
    const std::size_t n = pos.size();
    const DVec3 a{box.x, 0, 0}, b{box.yx, box.y, 0}, c{box.zx, box.zy, box.z};
    std::vector<std::vector<std::size_t>> nb(n);
    std::vector<std::array<std::complex<double>, 7>> q(n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            for (int s = 0; s < 27; ++s) {
                const DVec3 d = toDouble(pos[j]) - toDouble(pos[i]) + a * (s % 3 - 1) + b * (s / 3 % 3 - 1) +
                                c * (s / 9 - 1);
                if (i == j || dot(d, d) > 3.5 * 3.5)
                    continue;
                nb[i].push_back(j);
                const double theta = std::acos(d.z / norm(d)), phi = std::atan2(d.y, d.x);
                for (int m = 0; m <= 3; ++m) {
                    const std::complex<double> y = std::sph_legendre(3, m, theta) * std::polar(1.0, m * phi);
                    q[i][3 + m] += y;
                    if (m > 0) // Y3,-m = (-1)^m Y3m*
                        q[i][3 - m] += m % 2 ? -std::conj(y) : std::conj(y);
                }
            }
    std::vector<int> st(n, 0), ec(n, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j : nb[i]) {
            std::complex<double> s = 0;
            double ni = 0, nj = 0;
            for (int m = 0; m < 7; ++m) {
                s += q[i][m] * std::conj(q[j][m]);
                ni += std::norm(q[i][m]);
                nj += std::norm(q[j][m]);
            }
            const double cij = s.real() / std::sqrt(ni * nj);
            st[i] += cij <= -0.8;
            ec[i] += cij >= -0.35 && cij <= 0.25;
        }
    std::vector<ChillLabel> label(n, L::Liquid);
    for (std::size_t i = 0; i < n; ++i) {
        int s = st[i], e = ec[i], most = 0;
        for (std::size_t j : nb[i])
            most = std::max(most, st[j]);
        if (nb[i].size() == 4)
            label[i] = s == 4                                         ? L::Cubic
                       : s == 3 && e == 1                             ? L::Hexagonal
                       : (s == 2 && most > 2) || (s == 3 && most > 1) ? L::InterfacialIce
                       : e == 4                                       ? L::Clathrate
                       : e == 3                                       ? L::InterfacialClathrate
                                                                      : L::Liquid;
    }
    return label;
}

TEST(Chill, AgreesWithTheBruteForceTwinOnDisorderedFramesAndLabelsLiquidWater)
{
    std::vector<Points> frames;
    for (const char* sigma : {"0.3", "0.5", "0.8"})
        for (const char* cells : {"ice --cells 4 3 3", "iceIc --cells 3 3 3", "sI --cells 2 2 2 --shear xy yz"})
            frames.push_back(pointsOf(std::string("--structure ") + cells + " --displace " + sigma));
    for (const char* liquid : {"spc216.gro", "tip4p.gro"})
        if (std::filesystem::exists(std::string("/usr/share/gromacs/top/") + liquid))
            frames.push_back(pointsOf("", std::string("/usr/share/gromacs/top/") + liquid));
    std::array<int32_t, kChillLabels> seen{};
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const Chill fast = chillPlus(frames[k].water, frames[k].box);
        EXPECT_EQ(fast.label, bruteForceLabels(frames[k].water, frames[k].box)) << k;
        for (int l = 0; l < kChillLabels; ++l)
            seen[l] += fast.count[l];
        if (k >= 9) { // liquid water: at least 90 % liquid, at most 2 % clathrate
            EXPECT_GE(fast.of(L::Liquid), 0.9 * frames[k].water.size()) << k;
            EXPECT_LE(fast.of(L::Clathrate), 0.02 * frames[k].water.size()) << k;
        }
    }
    for (int l = 0; l < kChillLabels; ++l) // every label drawn
        EXPECT_GT(seen[l], 0) << l;
}

TEST(Chill, LabelsCrystals)
{
    const std::vector<ChillLabel> clathrate = {L::Clathrate, L::InterfacialClathrate};
    const std::vector<std::pair<std::string, std::vector<ChillLabel>>> crystals = {
        {"ice --cells 4 3 3", {L::Hexagonal}}, {"iceIc --cells 3 3 3", {L::Cubic}},
        {"sI --cells 2 2 2", clathrate},      {"sII", clathrate}, {"sH --cells 2 1 2", clathrate}};
    for (const auto& [structure, labels] : crystals)
        for (const char* sigma : {"0", "0.1"}) {
            const Points f = pointsOf("--one-site --seed 3 --structure " + structure + " --displace " + sigma);
            const Chill c = chillPlus(f.water, f.box);
            const int32_t n = static_cast<int32_t>(f.water.size());
            if (sigma[1]) // displaced: 99 % of the labels
                EXPECT_GE(c.of(labels[0]) + (labels.size() > 1 ? c.of(labels[1]) : 0), 0.99 * n) << structure;
            else // ideal: all of the first label, in one cluster
                EXPECT_EQ(c.of(labels[0]) + std::max(c.largestIce, c.largestClathrate), 2 * n) << structure;
        }
}

// A structure-I slab (the middle half of the box along z) between layers of
// its own melt, from a TIP4P/2005 run (examples/thermal/in.interface): the
// slab is clathrate, the melt liquid, and interfacial clathrate lies at the
// two boundary planes z = Lz/4 and 3Lz/4.
TEST(Chill, FindsBothPhasesOfAHydrateLiquidInterfaceAndItsBoundary)
{
    const Points f = pointsOf("", test::sourcePath("tests/data/sI-interface.gro"));
    const Chill c = chillPlus(f.water, f.box);
    // Per label: waters in the slab, their summed distance from the nearer
    // plane (A), those more than 6 A inside it, and those within 4 A of a plane.
    std::array<int32_t, kChillLabels> inSlab{}, deep{}, near{}, all{};
    std::array<double, kChillLabels> depth{};
    int32_t liquidFar = 0, far = 0; // waters more than 6 A inside the melt
    for (std::size_t i = 0; i < f.water.size(); ++i) {
        const double z = std::fmod(f.water[i].z + f.box.z, f.box.z),
                     d = std::min(std::abs(z - f.box.z / 4), std::abs(z - 3 * f.box.z / 4));
        const bool slab = z > f.box.z / 4 && z < 3 * f.box.z / 4;
        const int l = static_cast<int>(c.label[i]);
        ++all[l];
        near[l] += d < 4;
        inSlab[l] += slab;
        depth[l] += slab ? d : 0;
        deep[l] += slab && d > 6;
        far += !slab && d > 6;
        liquidFar += !slab && d > 6 && c.label[i] == L::Liquid;
    }
    const int cl = static_cast<int>(L::Clathrate), icl = static_cast<int>(L::InterfacialClathrate);
    EXPECT_GE(deep[cl] + deep[icl], 0.95 * std::accumulate(deep.begin(), deep.end(), 0)); // 98.9 %
    EXPECT_GE(liquidFar, 0.8 * far);                                                         // 86.7 %
    ASSERT_GT(inSlab[cl] * inSlab[icl], 0);
    // In the slab, interfacial clathrate lies at the boundary: 2.5 A deep on
    // average, against 6.7 A for clathrate; two thirds of it within 4 A.
    EXPECT_LT(depth[icl] / inSlab[icl], 0.5 * depth[cl] / inSlab[cl]);
    EXPECT_GE(near[icl], all[icl] / 2);
}

TEST(Mcg, EveryGuestOfAFullStructureIAndFewInLiquidWater)
{
    const Points crystal = pointsOf("--one-site --structure sI --cells 2 2 2 --guests 1");
    Mcg m = mcgOf(crystal.other, crystal.water, crystal.box);
    EXPECT_EQ(m.mcg1 + m.mcg3, 2 * 64);
    // A 5^12 cage shares its 12 pentagons with 5^12-6^2 cages; a 5^12-6^2 cage
    // shares its 12 pentagons and its 2 hexagons (two of whose waters lie on
    // the edges of the cones).
    EXPECT_EQ(std::count(m.links.begin(), m.links.end(), 12), 16);
    EXPECT_EQ(std::count(m.links.begin(), m.links.end(), 14), 48);
    // Every water lies on a face two occupied cages share.
    EXPECT_EQ(m.mcg1Waters, 368);
    EXPECT_EQ(m.mcg3Waters, 368);
    // 8 guests placed at random in liquid water.
    if (!std::filesystem::exists("/usr/share/gromacs/top/spc216.gro"))
        return;
    const Points f = pointsOf("", "/usr/share/gromacs/top/spc216.gro");
    std::vector<Vec3> guests;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    while (guests.size() < 8)
        guests.push_back({u(rng) * f.box.x, u(rng) * f.box.y, u(rng) * f.box.z});
    m = mcgOf(guests, f.water, f.box);
    EXPECT_LE(m.mcg1, 3);
    EXPECT_EQ(m.mcg3, 0);
    EXPECT_EQ(m.mcg3Waters, 0);
    EXPECT_EQ(m.mcg1Waters > 0, m.mcg1 > 0);
}

} // namespace
} // namespace kavet
