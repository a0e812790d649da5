#include "order/f4.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/dvec3.h"

namespace kavet {

F4 f4Of(const Frame& frame, const NeighbourList& list, float below)
{
    const std::vector<Vec3>& xyz = frame.positions;
    const int32_t atomCount = static_cast<int32_t>(xyz.size());
    const Box& box = frame.box;
    const std::size_t waterCount = frame.topology().water.size();
    // The water of each atom that is an oxygen with both hydrogens, or -1.
    std::vector<int32_t> waterOf(static_cast<std::size_t>(atomCount), -1);
    for (std::size_t w = 0; w < waterCount; ++w) {
        const Water& water = frame.topology().water[w];
        if (water.hasHydrogens() && water.oxygen < atomCount && water.hydrogen[0] < atomCount &&
            water.hydrogen[1] < atomCount)
            waterOf[water.oxygen] = static_cast<int32_t>(w);
    }
    // The hydrogen of water w farthest from the point p, both relative to its
    // oxygen; of two equally far within f4TieTolerance, the one first in the
    // input.
    auto outerHydrogen = [&](int32_t w, DVec3 p) {
        const Water& water = frame.topology().water[w];
        const Vec3 o = xyz[water.oxygen];
        const bool inOrder = water.hydrogen[0] < water.hydrogen[1];
        const DVec3 first = minimumImageD(xyz[water.hydrogen[inOrder ? 0 : 1]], o, box);
        const DVec3 second = minimumImageD(xyz[water.hydrogen[inOrder ? 1 : 0]], o, box);
        const DVec3 d1 = first - p, d2 = second - p;
        const double r1 = dot(d1, d1), r2 = dot(d2, d2);
        return r2 - r1 > f4TieTolerance * (r1 + r2) ? second : first;
    };

    double sum = 0.0;
    F4 f;
    std::vector<double> waterSum(waterCount, 0.0);
    std::vector<int32_t> waterPairs(waterCount, 0);
    const std::size_t queries = std::min(waterCount, list.other.rows());
    for (std::size_t k = 0; k < queries; ++k) {
        const int32_t i = frame.topology().water[k].oxygen;
        const int32_t wi = i >= 0 && i < atomCount ? waterOf[i] : -1;
        if (wi < 0)
            continue;
        for (int64_t e = list.other.start[k]; e < list.other.start[k + 1]; ++e) {
            if (!(list.dist[e] < below))
                continue;
            const int32_t j = list.other.item[e];
            const int32_t wj = j >= 0 && j < atomCount ? waterOf[j] : -1;
            if (wj < 0 || wj == wi)
                continue;
            // Everything relative to oxygen i.
            const DVec3 oj = minimumImageD(xyz[j], xyz[i], box);
            const DVec3 hi = outerHydrogen(wi, oj);
            const DVec3 hj = oj + outerHydrogen(wj, -oj);
            const DVec3 n1 = cross(-hi, oj);
            const DVec3 n2 = cross(oj, hj - oj);
            const double scale = std::sqrt(dot(n1, n1) * dot(n2, n2));
            if (!(scale > 0.0))
                continue;
            const double c = std::clamp(dot(n1, n2) / scale, -1.0, 1.0);
            const double cos3 = (4.0 * c * c - 3.0) * c; // cos 3 phi
            sum += cos3;
            ++f.pairs;
            for (int32_t w : {wi, wj}) {
                waterSum[w] += cos3;
                ++waterPairs[w];
            }
        }
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    f.value = f.pairs > 0 ? sum / static_cast<double>(f.pairs) : nan;
    f.perWater.resize(waterCount);
    for (std::size_t w = 0; w < waterCount; ++w)
        f.perWater[w] = waterPairs[w] > 0 ? waterSum[w] / static_cast<double>(waterPairs[w]) : nan;
    return f;
}

F4 f4Of(const Frame& frame)
{
    return f4Of(frame, buildNeighbourList(frame.positions, waterOxygens(frame), frame.box, f4Cutoff));
}

} // namespace kavet
