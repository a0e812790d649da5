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
    // Per guest, the vectors to the water oxygens within the water distance.
    std::vector<std::vector<DVec3>> near(n);
    for (const NeighbourPair& p : crossPairs(guests, oxygens, box, rule.waterDistance))
        near[p.i].push_back(p.d);
    const double w2 = rule.waterDistance * rule.waterDistance;
    const double cosCone = std::cos(rule.coneAngle * 3.14159265358979323846 / 180.0);

    std::vector<NeighbourPair> linked;
    for (const NeighbourPair& p : close) {
        const double axis = norm(p.d);
        if (!(axis > 0.0))
            continue;
        int32_t shared = 0;
        for (const DVec3& fromI : near[p.i]) {
            // The water seen from guest j, at the image consistent with the pair.
            const DVec3 fromJ = fromI - p.d;
            if (!(dot(fromJ, fromJ) <= w2))
                continue;
            // Inside the cone at i (towards j) and the cone at j (towards i).
            if (dot(fromI, p.d) >= cosCone * norm(fromI) * axis && -dot(fromJ, p.d) >= cosCone * norm(fromJ) * axis)
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
