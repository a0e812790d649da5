// CHILL+ against a brute-force twin (complex spherical harmonics from the
// standard library, all pairs searched over the periodic images), and its
// labels on ideal and displaced crystals and on liquid water.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <functional>

#include "io/gro_reader.h"
#include "order/chill.h"
#include "support/support.h"

namespace kavet {
namespace {

struct Oxygens {
    std::vector<Vec3> pos;
    Box box;
};

Oxygens oxygensOf(const std::string& groText)
{
    const Frame f = parseConfiguration(groText, "c.gro", "SOL", "OW");
    Oxygens o{{}, f.box};
    for (int32_t k = 0; k < f.numAtom; ++k)
        if (f.isOW[k])
            o.pos.push_back(f.atmXYZ[k]);
    return o;
}

// The labels and largest clusters computed the slow way.
Chill bruteForceChill(const Oxygens& o)
{
    const std::size_t n = o.pos.size();
    const DVec3 a{o.box.x, 0, 0}, b{o.box.yx, o.box.y, 0}, c{o.box.zx, o.box.zy, o.box.z};
    std::vector<std::vector<std::pair<std::size_t, DVec3>>> nb(n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            for (int u = -1; u <= 1; ++u)
                for (int v = -1; v <= 1; ++v)
                    for (int w = -1; w <= 1; ++w) {
                        const DVec3 d = toDouble(o.pos[j]) - toDouble(o.pos[i]) + a * u + b * v + c * w;
                        if (i != j && dot(d, d) <= 3.5 * 3.5)
                            nb[i].push_back({j, d});
                    }
    using Q = std::array<std::complex<double>, 7>;
    std::vector<Q> q(n, Q{});
    for (std::size_t i = 0; i < n; ++i)
        for (const auto& [j, d] : nb[i]) {
            const double theta = std::acos(d.z / norm(d)), phi = std::atan2(d.y, d.x);
            for (int m = -3; m <= 3; ++m) {
                const std::complex<double> y =
                    std::sph_legendre(3, std::abs(m), theta) * std::polar(1.0, std::abs(m) * phi);
                q[i][m + 3] += (m < 0 ? (m % 2 ? -1.0 : 1.0) * std::conj(y) : y) / double(nb[i].size());
            }
        }
    auto length = [](const Q& x) {
        double s = 0;
        for (auto v : x)
            s += std::norm(v);
        return std::sqrt(s);
    };
    std::vector<int> st(n, 0), ec(n, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (const auto& [j, d] : nb[i]) {
            std::complex<double> s = 0;
            for (int m = 0; m < 7; ++m)
                s += q[i][m] * std::conj(q[j][m]);
            const double cij = s.real() / (length(q[i]) * length(q[j]));
            st[i] += cij <= -0.8;
            ec[i] += cij >= -0.35 && cij <= 0.25;
        }
    Chill r;
    for (std::size_t i = 0; i < n; ++i) {
        int most = 0;
        for (const auto& [j, d] : nb[i])
            most = std::max(most, st[j]);
        ChillLabel l = ChillLabel::Liquid;
        if (nb[i].size() == 4) {
            if (st[i] == 4)
                l = ChillLabel::Cubic;
            else if (st[i] == 3 && ec[i] == 1)
                l = ChillLabel::Hexagonal;
            else if ((st[i] == 2 && most > 2) || (st[i] == 3 && ec[i] == 0 && most > 1))
                l = ChillLabel::InterfacialIce;
            else if (ec[i] == 4)
                l = ChillLabel::Clathrate;
            else if (ec[i] == 3)
                l = ChillLabel::InterfacialClathrate;
        }
        r.label.push_back(l);
        ++r.count[static_cast<int>(l)];
    }
    // Largest clusters by flood fill over the neighbour lists.
    auto largest = [&](std::function<bool(ChillLabel)> in) {
        std::vector<uint8_t> seen(n, 0);
        int32_t best = 0;
        for (std::size_t s = 0; s < n; ++s) {
            if (seen[s] || !in(r.label[s]))
                continue;
            std::vector<std::size_t> todo{s};
            seen[s] = 1;
            int32_t size = 0;
            while (!todo.empty()) {
                const std::size_t k = todo.back();
                todo.pop_back();
                ++size;
                for (const auto& [j, d] : nb[k])
                    if (!seen[j] && in(r.label[j]))
                        seen[j] = 1, todo.push_back(j);
            }
            best = std::max(best, size);
        }
        return best;
    };
    r.largestIce = largest([](ChillLabel l) { return l >= ChillLabel::Cubic && l <= ChillLabel::InterfacialIce; });
    r.largestClathrate = largest([](ChillLabel l) { return l >= ChillLabel::Clathrate; });
    return r;
}

TEST(Chill, AgreesWithTheBruteForceTwinOnDisorderedFrames)
{
    std::vector<std::string> frames;
    for (const char* sigma : {"0.3", "0.5", "0.8"}) {
        frames.push_back(test::latticeGro({"--structure", "ice", "--cells", "4", "3", "3", "--displace", sigma}));
        frames.push_back(test::latticeGro({"--structure", "iceIc", "--cells", "3", "3", "3", "--displace", sigma}));
        frames.push_back(test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", sigma,
                                           "--shear", "xy", "yz"}));
    }
    if (std::filesystem::exists("/usr/share/gromacs/top/spc216.gro"))
        frames.push_back(test::readFile("/usr/share/gromacs/top/spc216.gro"));
    std::array<int32_t, kChillLabels> seen{};
    for (const std::string& text : frames) {
        const Oxygens o = oxygensOf(text);
        const Chill fast = chillPlus(o.pos, o.box), slow = bruteForceChill(o);
        EXPECT_EQ(fast.label, slow.label) << text.substr(0, 60);
        EXPECT_EQ(fast.count, slow.count);
        EXPECT_EQ(fast.largestIce, slow.largestIce);
        EXPECT_EQ(fast.largestClathrate, slow.largestClathrate);
        for (int l = 0; l < kChillLabels; ++l)
            seen[l] += fast.count[l];
    }
    // The frames exercise every label.
    for (int l = 0; l < kChillLabels; ++l)
        EXPECT_GT(seen[l], 0) << l;
}

// Percent of the waters with one of the labels.
double percent(const Chill& c, const std::vector<ChillLabel>& labels)
{
    int32_t k = 0;
    for (ChillLabel l : labels)
        k += c.of(l);
    return 100.0 * k / static_cast<double>(c.label.size());
}

TEST(Chill, LabelsCrystalsAndLiquidWater)
{
    using L = ChillLabel;
    struct Case {
        std::vector<std::string> args;
        std::vector<ChillLabel> labels;
    };
    const std::vector<Case> crystals = {
        {{"--structure", "ice", "--cells", "4", "3", "3"}, {L::Hexagonal}},
        {{"--structure", "iceIc", "--cells", "3", "3", "3"}, {L::Cubic}},
        {{"--structure", "sI", "--cells", "2", "2", "2"}, {L::Clathrate, L::InterfacialClathrate}},
        {{"--structure", "sII", "--cells", "1", "1", "1"}, {L::Clathrate, L::InterfacialClathrate}},
        {{"--structure", "sH", "--cells", "2", "1", "2"}, {L::Clathrate, L::InterfacialClathrate}},
    };
    for (const Case& crystal : crystals) {
        std::vector<std::string> args = crystal.args;
        const Oxygens ideal = oxygensOf(test::latticeGro(args));
        const Chill c = chillPlus(ideal.pos, ideal.box);
        // The ideal lattice is all of its first label, in one cluster.
        EXPECT_EQ(c.of(*crystal.labels.begin()), static_cast<int32_t>(ideal.pos.size())) << args[1];
        EXPECT_EQ(std::max(c.largestIce, c.largestClathrate), static_cast<int32_t>(ideal.pos.size()));
        args.insert(args.end(), {"--displace", "0.1", "--seed", "3"});
        const Oxygens o = oxygensOf(test::latticeGro(args));
        EXPECT_GE(percent(chillPlus(o.pos, o.box), crystal.labels), 99.0) << args[1];
    }
    for (const char* liquid : {"spc216.gro", "tip4p.gro"}) {
        const std::string path = std::string("/usr/share/gromacs/top/") + liquid;
        if (!std::filesystem::exists(path))
            continue;
        const Oxygens o = oxygensOf(test::readFile(path));
        const Chill c = chillPlus(o.pos, o.box);
        EXPECT_GE(percent(c, {L::Liquid}), 90.0) << liquid;
        EXPECT_LE(percent(c, {L::Clathrate}), 2.0) << liquid;
    }
}

} // namespace
} // namespace kavet
