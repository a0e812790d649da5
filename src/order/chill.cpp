#include "order/chill.h"

#include <algorithm>
#include <cmath>

namespace kavet {

std::array<double, 7> realY3(DVec3 u)
{
    // Standard real spherical harmonics of degree 3 (times sqrt(pi)), with
    // x^2 + y^2 + z^2 = 1.
    const double x = u.x, y = u.y, z = u.z;
    const double c3 = 0.25 * std::sqrt(35.0 / 2.0);
    const double c2 = 0.5 * std::sqrt(105.0);
    const double c1 = 0.25 * std::sqrt(21.0 / 2.0);
    const double c0 = 0.25 * std::sqrt(7.0);
    const double zz = 5.0 * z * z - 1.0;
    return {c3 * y * (3.0 * x * x - y * y),
            c2 * x * y * z,
            c1 * y * zz,
            c0 * z * (zz - 2.0),
            c1 * x * zz,
            0.5 * c2 * z * (x * x - y * y),
            c3 * x * (x * x - 3.0 * y * y)};
}

Chill chillPlus(int32_t waterCount, const std::vector<NeighbourPair>& pairs)
{
    const std::size_t n = static_cast<std::size_t>(waterCount > 0 ? waterCount : 0);
    // Sums of Y3m over each water's neighbours. The 1/N_i of q3m cancels in
    // the normalised correlation and is left out. Y3m is odd, so the bond
    // seen from j adds the negative.
    std::vector<std::array<double, 7>> q(n, std::array<double, 7>{});
    std::vector<int32_t> neighbours(n, 0);
    for (const NeighbourPair& p : pairs) {
        const double r = norm(p.d);
        if (!(r > 0.0))
            continue;
        const std::array<double, 7> y = realY3(p.d * (1.0 / r));
        for (int m = 0; m < 7; ++m) {
            q[p.i][m] += y[m];
            q[p.j][m] -= y[m];
        }
        ++neighbours[p.i];
        ++neighbours[p.j];
    }
    std::vector<double> inverseNorm(n, 0.0);
    for (std::size_t k = 0; k < n; ++k) {
        double s = 0.0;
        for (int m = 0; m < 7; ++m)
            s += q[k][m] * q[k][m];
        // Below this the direction of q3 is rounding noise (a sum of unit
        // harmonics that cancels).
        inverseNorm[k] = s > 1e-20 ? 1.0 / std::sqrt(s) : 0.0;
    }

    std::vector<int32_t> staggered(n, 0), eclipsed(n, 0);
    for (const NeighbourPair& p : pairs) {
        if (inverseNorm[p.i] == 0.0 || inverseNorm[p.j] == 0.0 || !(norm(p.d) > 0.0))
            continue;
        double s = 0.0;
        for (int m = 0; m < 7; ++m)
            s += q[p.i][m] * q[p.j][m];
        const double c = s * inverseNorm[p.i] * inverseNorm[p.j];
        if (c <= -0.8) {
            ++staggered[p.i];
            ++staggered[p.j];
        } else if (c >= -0.35 && c <= 0.25) {
            ++eclipsed[p.i];
            ++eclipsed[p.j];
        }
    }

    // The most staggered bonds among each water's neighbours, for the
    // interfacial ice rule.
    std::vector<int32_t> mostStaggered(n, 0);
    for (const NeighbourPair& p : pairs) {
        if (!(norm(p.d) > 0.0))
            continue;
        mostStaggered[p.i] = std::max(mostStaggered[p.i], staggered[p.j]);
        mostStaggered[p.j] = std::max(mostStaggered[p.j], staggered[p.i]);
    }

    Chill out;
    out.label.assign(n, ChillLabel::Liquid);
    std::vector<uint8_t> ice(n, 0), clathrate(n, 0);
    for (std::size_t k = 0; k < n; ++k) {
        ChillLabel l = ChillLabel::Liquid;
        if (neighbours[k] == 4) {
            const int s = staggered[k], e = eclipsed[k];
            if (s == 4)
                l = ChillLabel::Cubic;
            else if (s == 3 && e == 1)
                l = ChillLabel::Hexagonal;
            else if ((s == 2 && mostStaggered[k] > 2) || (s == 3 && e == 0 && mostStaggered[k] > 1))
                l = ChillLabel::InterfacialIce;
            else if (e == 4)
                l = ChillLabel::Clathrate;
            else if (e == 3)
                l = ChillLabel::InterfacialClathrate;
        }
        out.label[k] = l;
        ++out.count[static_cast<int>(l)];
        ice[k] = l == ChillLabel::Cubic || l == ChillLabel::Hexagonal || l == ChillLabel::InterfacialIce;
        clathrate[k] = l == ChillLabel::Clathrate || l == ChillLabel::InterfacialClathrate;
    }
    out.largestIce = largestCluster(ice, pairs);
    out.largestClathrate = largestCluster(clathrate, pairs);
    return out;
}

Chill chillPlus(const std::vector<Vec3>& oxygens, const Box& box)
{
    return chillPlus(static_cast<int32_t>(oxygens.size()), neighbourPairs(oxygens, box, kChillCutoff));
}

} // namespace kavet
