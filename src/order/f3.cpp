#include "order/f3.h"

#include <cmath>
#include <limits>

namespace kavet {

F3 f3Of(int32_t waterCount, const std::vector<NeighbourPair>& pairs)
{
    const NeighbourVectors nb = neighbourVectors(waterCount, pairs);
    const std::size_t n = nb.other.rows();
    F3 f;
    f.perWater.assign(n, std::numeric_limits<double>::quiet_NaN());
    std::vector<DVec3> unit;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        unit.clear();
        for (int64_t e = nb.other.start[i]; e < nb.other.start[i + 1]; ++e) {
            const double r = norm(nb.d[e]);
            if (r > 0.0)
                unit.push_back(nb.d[e] * (1.0 / r));
        }
        if (unit.size() < 2)
            continue;
        double s = 0.0;
        for (std::size_t j = 0; j < unit.size(); ++j)
            for (std::size_t k = j + 1; k < unit.size(); ++k) {
                const double c = dot(unit[j], unit[k]);
                const double t = std::fabs(c) * c + 1.0 / 9.0;
                s += t * t;
            }
        const double m = static_cast<double>(unit.size());
        f.perWater[i] = s / (0.5 * m * (m - 1.0));
        sum += f.perWater[i];
        ++f.waters;
    }
    f.value = f.waters > 0 ? sum / static_cast<double>(f.waters) : std::numeric_limits<double>::quiet_NaN();
    return f;
}

F3 f3Of(const std::vector<Vec3>& oxygens, const Box& box)
{
    return f3Of(static_cast<int32_t>(oxygens.size()), neighbourPairs(oxygens, box, kF3Cutoff));
}

} // namespace kavet
