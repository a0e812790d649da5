#include "network/f4.h"

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
    // The hydrogen of water `o` farthest from the point p (relative to o).
    auto outerHydrogen = [&](int32_t o, DVec3 p) {
        const DVec3 h1 = minimumImageD(xyz[o + 1], xyz[o], box);
        const DVec3 h2 = minimumImageD(xyz[o + 2], xyz[o], box);
        const DVec3 d1 = h1 - p, d2 = h2 - p;
        return dot(d2, d2) > dot(d1, d1) ? h2 : h1;
    };

    double sum = 0.0;
    F4 f;
    const int32_t nodes = std::min(numAtom, static_cast<int32_t>(net.adjStart.size()) - 1);
    for (int32_t i = 0; i < nodes; ++i) {
        if (i + 2 >= numAtom)
            break;
        for (int32_t e = net.adjStart[i]; e < net.adjStart[i + 1]; ++e) {
            const int32_t j = net.adjNode[e];
            if (j <= i || j + 2 >= numAtom)
                continue;
            // Everything relative to oxygen i.
            const DVec3 oj = minimumImageD(xyz[j], xyz[i], box);
            const DVec3 hi = outerHydrogen(i, oj);
            const DVec3 hj = oj + outerHydrogen(j, -oj);
            const DVec3 n1 = cross(-hi, oj);
            const DVec3 n2 = cross(oj, hj - oj);
            const double scale = std::sqrt(dot(n1, n1) * dot(n2, n2));
            if (!(scale > 0.0))
                continue;
            const double c = std::clamp(dot(n1, n2) / scale, -1.0, 1.0);
            sum += (4.0 * c * c - 3.0) * c; // cos 3 phi
            ++f.pairs;
        }
    }
    f.value = f.pairs > 0 ? sum / static_cast<double>(f.pairs) : std::numeric_limits<double>::quiet_NaN();
    return f;
}

} // namespace kavet
