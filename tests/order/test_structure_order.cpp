// F3, the tetrahedral q and the averaged q̄_l against brute-force twins (every
// pair over the 27 nearest images, complex harmonics from the standard
// library) on crystals and liquid water, and their values against the
// literature's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "io/gro_reader.h"
#include "order/f3.h"
#include "order/steinhardt.h"
#include "order/tetrahedral.h"
#include "support/support.h"

namespace kavet {
namespace {

struct Oxygens {
    std::string name;
    std::vector<Vec3> pos;
    Box box;
};

Oxygens oxygensOf(const std::string& words)
{
    std::istringstream in(words);
    const bool file = words.rfind("/", 0) == 0;
    const Frame f = file ? readConfiguration(words, "SOL", "OW")
                         : parseConfiguration(test::latticeGro({std::istream_iterator<std::string>(in), {}}), "c.gro",
                                              "SOL", "OW");
    Oxygens o{words, {}, f.box};
    for (int32_t k = 0; k < f.topology().atomCount; ++k)
        if (f.topology().isWaterOxygen[k])
            o.pos.push_back(f.positions[k]);
    return o;
}

struct Near {
    std::size_t j;
    DVec3 d;
};

// Every other oxygen within `reach` of each, over the 27 images, nearest
// first (ties by number).
std::vector<std::vector<Near>> bruteNeighbours(const Oxygens& o, double reach)
{
    const Box& box = o.box;
    const DVec3 a{box.x, 0, 0}, b{box.yx, box.y, 0}, c{box.zx, box.zy, box.z};
    std::vector<std::vector<Near>> nb(o.pos.size());
    for (std::size_t i = 0; i < o.pos.size(); ++i) {
        std::vector<std::pair<std::pair<double, std::size_t>, DVec3>> found;
        for (std::size_t j = 0; j < o.pos.size(); ++j)
            for (int s = 0; s < 27; ++s) {
                const DVec3 d = toDouble(o.pos[j]) - toDouble(o.pos[i]) + a * (s % 3 - 1) + b * (s / 3 % 3 - 1) +
                                c * (s / 9 - 1);
                if (j != i && dot(d, d) <= reach * reach)
                    found.push_back({{dot(d, d), j}, d});
            }
        std::sort(found.begin(), found.end(), [](auto& x, auto& y) { return x.first < y.first; });
        for (auto& f : found)
            nb[i].push_back({f.first.second, f.second});
    }
    return nb;
}

double angleCos(DVec3 u, DVec3 v) { return dot(u, v) / (norm(u) * norm(v)); }

void expectSame(const std::vector<double>& fast, const std::vector<double>& brute, const std::string& what)
{
    ASSERT_EQ(fast.size(), brute.size()) << what;
    for (std::size_t i = 0; i < fast.size(); ++i)
        if (std::isnan(brute[i]))
            EXPECT_TRUE(std::isnan(fast[i])) << what << " water " << i;
        else
            EXPECT_NEAR(fast[i], brute[i], 1e-9) << what << " water " << i;
}

double meanOf(const std::vector<double>& v)
{
    double s = 0;
    int n = 0;
    for (double x : v)
        if (!std::isnan(x)) {
            s += x;
            ++n;
        }
    return s / n;
}

TEST(StructureOrder, F3TetrahedralAndAveragedBondOrderAgreeWithTwinsAndTheLiterature)
{
    std::vector<Oxygens> frames;
    for (const char* cells : {"ice --cells 4 3 3", "iceIc --cells 3 3 3", "sI --cells 2 2 2 --shear xy yz",
                              "sII --cells 1 1 1", "sH --cells 2 1 2"})
        for (const char* sigma : {"0", "0.15"})
            frames.push_back(oxygensOf(std::string("--structure ") + cells + " --displace " + sigma));
    const std::size_t crystals = frames.size();
    for (const char* liquid : {"/usr/share/gromacs/top/spc216.gro", "/usr/share/gromacs/top/tip4p.gro"})
        if (std::filesystem::exists(liquid))
            frames.push_back(oxygensOf(liquid));
    ASSERT_GT(frames.size(), crystals) << "GROMACS's liquids are missing";
    const std::vector<int32_t> degrees = {3, 4, 6, 12, 1, 8};
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const Oxygens& o = frames[k];
        const std::size_t n = o.pos.size();
        const auto near = bruteNeighbours(o, kTetrahedralReach);
        std::vector<std::vector<Near>> nb(n);
        for (std::size_t i = 0; i < n; ++i)
            for (const Near& v : near[i])
                if (dot(v.d, v.d) <= 3.5 * 3.5)
                    nb[i].push_back(v);
        std::vector<double> f3(n, NAN), q(n, NAN);
        std::vector<std::vector<std::complex<double>>> qlm(n);
        for (std::size_t i = 0; i < n; ++i) {
            const auto& v = nb[i];
            double s = 0;
            for (std::size_t j = 0; j < v.size(); ++j)
                for (std::size_t l = j + 1; l < v.size(); ++l) {
                    const double c = angleCos(v[j].d, v[l].d);
                    s += std::pow(std::fabs(c) * c + std::pow(std::cos(109.4712206 * M_PI / 180), 2), 2);
                }
            if (v.size() >= 2)
                f3[i] = s / (v.size() * (v.size() - 1) / 2.0);
            if (near[i].size() >= 4) {
                double t = 0;
                for (int j = 0; j < 3; ++j)
                    for (int l = j + 1; l < 4; ++l)
                        t += std::pow(angleCos(near[i][j].d, near[i][l].d) + 1.0 / 3, 2);
                q[i] = 1 - 3.0 / 8 * t;
            }
            for (int32_t l : degrees) {
                std::vector<std::complex<double>> sum(2 * l + 1); // m = -l .. l
                for (const auto& [j, d] : v)
                    for (int m = 0; m <= l; ++m) {
                        const std::complex<double> y = std::sph_legendre(l, m, std::acos(d.z / norm(d))) *
                                                       std::polar(1.0, m * std::atan2(d.y, d.x));
                        sum[l + m] += y;
                        if (m > 0) // Y_l,-m = (-1)^m Y_lm*
                            sum[l - m] += m % 2 ? -std::conj(y) : std::conj(y);
                    }
                for (auto& x : sum)
                    qlm[i].push_back(v.empty() ? 0.0 : x / double(v.size()));
            }
        }
        const F3 fastF3 = f3Of(o.pos, o.box);
        const Tetrahedral fastQ = tetrahedralOf(o.pos, o.box);
        const Steinhardt fastBar = averagedBondOrder(o.pos, o.box, degrees);
        expectSame(fastF3.perWater, f3, o.name + " F3");
        expectSame(fastQ.perWater, q, o.name + " q");
        // q̄_l over the water and its neighbours.
        std::size_t at = 0;
        for (std::size_t d = 0; d < degrees.size(); ++d) {
            const int32_t l = degrees[d];
            std::vector<double> bar(n, NAN);
            for (std::size_t i = 0; i < n; ++i) {
                if (nb[i].empty())
                    continue;
                double t = 0;
                for (int m = 0; m <= 2 * l; ++m) {
                    std::complex<double> s = qlm[i][at + m];
                    for (const Near& v : nb[i])
                        s += qlm[v.j][at + m];
                    t += std::norm(s / (nb[i].size() + 1.0));
                }
                bar[i] = std::sqrt(4 * M_PI / (2 * l + 1) * t);
            }
            expectSame(fastBar.perWater[d], bar, o.name + " qbar_" + std::to_string(l));
            EXPECT_NEAR(fastBar.value[d], meanOf(bar), 1e-9) << o.name;
            at += 2 * l + 1;
        }
        EXPECT_NEAR(fastF3.value, meanOf(f3), 1e-9) << o.name;
        EXPECT_NEAR(fastQ.value, meanOf(q), 1e-9) << o.name;

        // The literature's values: F3 about 0 in ice and hydrate and about
        // 0.1 in liquid water; q about 1 in ice and 0.6-0.7 in the liquid.
        const bool liquid = k >= crystals, ice = !liquid && o.name.find("ice") != std::string::npos;
        if (liquid) {
            EXPECT_NEAR(fastF3.value, 0.1, 0.03) << o.name;
            EXPECT_GT(fastQ.value, 0.55) << o.name;
            EXPECT_LT(fastQ.value, 0.75) << o.name;
        } else {
            EXPECT_LT(fastF3.value, 0.01) << o.name;
            EXPECT_GT(fastQ.value, ice ? 0.95 : 0.9) << o.name;
        }
    }
}

} // namespace
} // namespace kavet
