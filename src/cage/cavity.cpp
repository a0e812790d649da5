#include "cage/cavity.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cage/occupancy.h"
#include "cage/polyhedron.h"

namespace kavet {
namespace {

double nearest(const std::vector<DVec3>& points, DVec3 p)
{
    double best = std::numeric_limits<double>::infinity();
    for (const DVec3& o : points) {
        const DVec3 d = o - p;
        best = std::min(best, dot(d, d));
    }
    return std::sqrt(best);
}

bool inside(const std::vector<DVec3>& corners, DVec3 p) { return std::fabs(windingNumber(corners, p)) > 0.5; }

} // namespace

double freeRadius(std::span<const int32_t> cage, const RingSearch& rings, const RingGeometry& geo,
                  const Frame& frame, const std::vector<int32_t>& oxygens)
{
    if (cage.empty())
        return 0.0;
    const Vec3 origin = geo.centRing[cage[0]];
    std::vector<DVec3> corners;
    if (!cageSurface(cage, rings, geo, frame.positions, frame.box, origin, corners))
        return 0.0;
    // The cage's waters, relative to the origin, and their mean.
    std::vector<int32_t> members;
    for (int32_t r : cage)
        members.insert(members.end(), rings.ringList[r].begin(), rings.ringList[r].end());
    std::sort(members.begin(), members.end());
    members.erase(std::unique(members.begin(), members.end()), members.end());
    DVec3 mean{0.0, 0.0, 0.0};
    double reach = 0.0;
    for (int32_t m : members)
        mean = mean + minimumImageD(frame.positions[m], origin, frame.box);
    mean = mean * (1.0 / static_cast<double>(members.size()));
    for (int32_t m : members)
        reach = std::max(reach, norm(minimumImageD(frame.positions[m], origin, frame.box) - mean));
    // Every oxygen that a sphere centred inside can reach: within twice the
    // farthest member of the mean.
    std::vector<DVec3> near;
    for (int32_t o : oxygens) {
        const DVec3 d = minimumImageD(frame.positions[o], origin, frame.box);
        if (norm(d - mean) <= 2.0 * reach + 0.5)
            near.push_back(d);
    }
    // The start: the mean of the waters, else the mean of the ring centres,
    // else (a surface pinched at a vertex) the roomiest point inside of a
    // grid 0.5 A apart over the waters' extent.
    DVec3 p = mean;
    double best = -1.0;
    if (!inside(corners, p))
        p = cageCentre(cage, geo, frame.box) - toDouble(origin);
    if (inside(corners, p)) {
        best = nearest(near, p);
    } else {
        const int n = static_cast<int>(std::ceil(reach / 0.5));
        for (int i = -n; i <= n; ++i)
            for (int j = -n; j <= n; ++j)
                for (int k = -n; k <= n; ++k) {
                    const DVec3 q = mean + DVec3{0.5 * i, 0.5 * j, 0.5 * k};
                    const double v = nearest(near, q);
                    if (v > best && inside(corners, q)) {
                        best = v;
                        p = q;
                    }
                }
        if (best < 0.0)
            return 0.0;
    }
    for (double step = 0.5; step > 0.005;) {
        DVec3 next = p;
        double value = best;
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                for (int dz = -1; dz <= 1; ++dz) {
                    if (dx == 0 && dy == 0 && dz == 0)
                        continue;
                    const double s = step / std::sqrt(static_cast<double>(dx * dx + dy * dy + dz * dz));
                    const DVec3 q = p + DVec3{dx * s, dy * s, dz * s};
                    const double v = nearest(near, q);
                    if (v > value) {
                        value = v;
                        next = q;
                    }
                }
        if (value > best && inside(corners, next)) {
            p = next;
            best = value;
        } else {
            step *= 0.5;
        }
    }
    return best;
}

} // namespace kavet
