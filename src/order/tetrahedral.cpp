#include "order/tetrahedral.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace kavet {
namespace {

// The cut-off of the pairs the standalone form starts from, angstrom.
constexpr double kTetrahedralPairs = 3.5;

struct Candidate {
    double r2;
    int32_t j;
    DVec3 d;
};

// q from the candidates of one water (at least four), of which the four
// nearest count.
double qOf(std::vector<Candidate>& c)
{
    std::partial_sort(c.begin(), c.begin() + 4, c.end(), [](const Candidate& a, const Candidate& b) {
        return a.r2 < b.r2 || (a.r2 == b.r2 && a.j < b.j);
    });
    std::array<DVec3, 4> u;
    for (int k = 0; k < 4; ++k)
        u[k] = c[k].d * (1.0 / std::sqrt(c[k].r2));
    double s = 0.0;
    for (int j = 0; j < 3; ++j)
        for (int k = j + 1; k < 4; ++k) {
            const double t = dot(u[j], u[k]) + 1.0 / 3.0;
            s += t * t;
        }
    return 1.0 - 0.375 * s;
}

} // namespace

Tetrahedral tetrahedralOf(const std::vector<Vec3>& oxygens, const Box& box, const std::vector<NeighbourPair>& pairs,
                          double pairsCutoff)
{
    const int32_t n = static_cast<int32_t>(oxygens.size());
    const NeighbourVectors nb = neighbourVectors(n, pairs);
    Tetrahedral t;
    t.perWater.assign(static_cast<std::size_t>(n), std::numeric_limits<double>::quiet_NaN());
    std::vector<Candidate> c;
    // Waters with fewer than four neighbours within the pairs' cut-off.
    std::vector<int32_t> few;
    for (int32_t i = 0; i < n; ++i) {
        c.clear();
        for (int64_t e = nb.other.start[i]; e < nb.other.start[i + 1]; ++e) {
            const double r2 = dot(nb.d[e], nb.d[e]);
            if (r2 > 0.0)
                c.push_back({r2, nb.other.item[e], nb.d[e]});
        }
        if (c.size() >= 4)
            t.perWater[i] = qOf(c);
        else
            few.push_back(i);
    }
    if (!few.empty() && kTetrahedralReach > pairsCutoff) {
        std::vector<Vec3> from;
        from.reserve(few.size());
        for (int32_t i : few)
            from.push_back(oxygens[i]);
        // The candidates of each short water, from the pairs (short water,
        // oxygen) within the reach; its own oxygen is among them.
        std::vector<std::vector<Candidate>> far(few.size());
        for (const NeighbourPair& p : crossPairs(from, oxygens, box, kTetrahedralReach)) {
            const double r2 = dot(p.d, p.d);
            if (p.j != few[p.i] && r2 > 0.0)
                far[p.i].push_back({r2, p.j, p.d});
        }
        for (std::size_t k = 0; k < few.size(); ++k)
            if (far[k].size() >= 4)
                t.perWater[few[k]] = qOf(far[k]);
    }
    double sum = 0.0;
    for (double q : t.perWater)
        if (q == q) {
            sum += q;
            ++t.waters;
        }
    t.value = t.waters > 0 ? sum / static_cast<double>(t.waters) : std::numeric_limits<double>::quiet_NaN();
    return t;
}

Tetrahedral tetrahedralOf(const std::vector<Vec3>& oxygens, const Box& box)
{
    return tetrahedralOf(oxygens, box, neighbourPairs(oxygens, box, kTetrahedralPairs), kTetrahedralPairs);
}

} // namespace kavet
