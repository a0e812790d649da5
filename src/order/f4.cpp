#include "order/f4.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/dvec3.h"

namespace kavet {

F4 f4Of(const Frame& frame, const Network& net)
{
    const std::vector<Vec3>& xyz = frame.atmXYZ;
    const int32_t numAtom = static_cast<int32_t>(xyz.size());
    const Box& box = frame.box;
    // The water of each atom that is an oxygen with both hydrogens, or -1.
    std::vector<int32_t> waterOf(static_cast<std::size_t>(numAtom), -1);
    for (std::size_t w = 0; w < frame.water.size(); ++w)
        if (frame.water[w].hasHydrogens() && frame.water[w].oxygen < numAtom)
            waterOf[frame.water[w].oxygen] = static_cast<int32_t>(w);
    // The hydrogen of water w farthest from the point p (relative to its oxygen).
    auto outerHydrogen = [&](int32_t w, DVec3 p) {
        const Water& water = frame.water[w];
        const Vec3 o = xyz[water.oxygen];
        const DVec3 h1 = minimumImageD(xyz[water.hydrogen[0]], o, box);
        const DVec3 h2 = minimumImageD(xyz[water.hydrogen[1]], o, box);
        const DVec3 d1 = h1 - p, d2 = h2 - p;
        return dot(d2, d2) > dot(d1, d1) ? h2 : h1;
    };

    double sum = 0.0;
    F4 f;
    std::vector<double> waterSum(frame.water.size(), 0.0);
    std::vector<int32_t> waterPairs(frame.water.size(), 0);
    const int32_t nodes = std::min(numAtom, static_cast<int32_t>(net.adjStart.size()) - 1);
    for (int32_t i = 0; i < nodes; ++i) {
        const int32_t wi = waterOf[i];
        if (wi < 0)
            continue;
        for (int32_t e = net.adjStart[i]; e < net.adjStart[i + 1]; ++e) {
            const int32_t j = net.adjNode[e];
            const int32_t wj = j < numAtom ? waterOf[j] : -1;
            if (j <= i || wj < 0)
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
    f.perWater.resize(frame.water.size());
    for (std::size_t w = 0; w < frame.water.size(); ++w)
        f.perWater[w] = waterPairs[w] > 0 ? waterSum[w] / static_cast<double>(waterPairs[w]) : nan;
    return f;
}

} // namespace kavet
