#include "order/mcg.h"

#include <cmath>

namespace kavet {

Mcg mcgOf(const std::vector<Vec3>& guests, const std::vector<Vec3>& oxygens, const Box& box, const McgRule& rule)
{
    Mcg out;
    const std::size_t n = guests.size();
    out.links.assign(n, 0);
    if (n < 2)
        return out;
    const std::vector<NeighbourPair> close = neighbourPairs(guests, box, rule.guestDistance);
    // Per guest, the vectors to the water oxygens within the water distance:
    // those of guest g are near[start[g] .. start[g + 1]).
    const std::vector<NeighbourPair> reach = crossPairs(guests, oxygens, box, rule.waterDistance);
    std::vector<int32_t> start(n + 1, 0);
    for (const NeighbourPair& p : reach)
        ++start[p.i + 1];
    for (std::size_t g = 0; g < n; ++g)
        start[g + 1] += start[g];
    std::vector<DVec3> near(reach.size());
    std::vector<int32_t> fill(start.begin(), start.end() - 1);
    for (const NeighbourPair& p : reach)
        near[fill[p.i]++] = p.d;
    const double w2 = rule.waterDistance * rule.waterDistance;
    const double cosCone = std::cos(rule.coneAngle * 3.14159265358979323846 / 180.0);
    // Positions come in single precision; a water on the edge of a cone (as
    // in an ideal structure-I crystal, where some hexagon waters lie at
    // exactly 45 degrees from the axis between two large cages) counts as
    // inside when it is within that precision (1e-6 of cos^2) of the edge.
    const double cos2 = cosCone * cosCone * (1.0 - 1e-6);
    // Whether the angle between u and v is at most the cone angle (below 90
    // degrees): u.v >= cos |u| |v|, squared.
    auto inCone = [&](DVec3 u, DVec3 v) {
        const double uv = dot(u, v);
        return uv > 0.0 && uv * uv >= cos2 * dot(u, u) * dot(v, v);
    };

    std::vector<NeighbourPair> linked;
    for (const NeighbourPair& p : close) {
        int32_t shared = 0;
        for (int32_t k = start[p.i]; k < start[p.i + 1]; ++k) {
            // The water seen from guest j, at the image consistent with the pair.
            const DVec3 fromI = near[k];
            const DVec3 fromJ = fromI - p.d;
            if (!(dot(fromJ, fromJ) <= w2))
                continue;
            // Inside the cone at i (towards j) and the cone at j (towards i).
            if (inCone(fromI, p.d) && inCone(fromJ, -p.d))
                ++shared;
        }
        if (shared >= rule.minWaters) {
            linked.push_back(p);
            ++out.links[p.i];
            ++out.links[p.j];
        }
    }
    std::vector<uint8_t> member(n);
    for (std::size_t g = 0; g < n; ++g)
        member[g] = out.links[g] >= 1;
    out.mcg1 = largestCluster(member, linked);
    for (std::size_t g = 0; g < n; ++g)
        member[g] = out.links[g] >= 3;
    out.mcg3 = largestCluster(member, linked);
    return out;
}

} // namespace kavet
