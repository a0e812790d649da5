#include "order/mcg.h"

#include <algorithm>
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
    // row g of nearWater holds the waters of guest g, and near[e] the vector
    // to the water at nearWater.item[e].
    const std::vector<NeighbourPair> reach = crossPairs(guests, oxygens, box, rule.waterDistance);
    OffsetArray nearWater;
    std::vector<int64_t>& start = nearWater.start;
    start.assign(n + 1, 0);
    for (const NeighbourPair& p : reach)
        ++start[p.i + 1];
    for (std::size_t g = 0; g < n; ++g)
        start[g + 1] += start[g];
    std::vector<DVec3> near(reach.size());
    nearWater.item.resize(reach.size());
    std::vector<int64_t> fill(start.begin(), start.end() - 1);
    for (const NeighbourPair& p : reach) {
        nearWater.item[fill[p.i]] = p.j;
        near[fill[p.i]++] = p.d;
    }
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
    OffsetArray shared; // row k: the waters of link k
    std::vector<int32_t> shares;
    for (const NeighbourPair& p : close) {
        shares.clear();
        for (int64_t k = start[p.i]; k < start[p.i + 1]; ++k) {
            // The water seen from guest j, at the image consistent with the pair.
            const DVec3 fromI = near[k];
            const DVec3 fromJ = fromI - p.d;
            if (!(dot(fromJ, fromJ) <= w2))
                continue;
            // Inside the cone at i (towards j) and the cone at j (towards i).
            if (inCone(fromI, p.d) && inCone(fromJ, -p.d)) {
                shares.push_back(nearWater.item[k]);
            }
        }
        if (static_cast<int32_t>(shares.size()) >= rule.minWaters) {
            linked.push_back(p);
            shared.append(shares);
            ++out.links[p.i];
            ++out.links[p.j];
        }
    }
    // The largest cluster of guests with at least `least` links, and the
    // distinct waters of the links between its guests.
    auto cluster = [&](int32_t least, int32_t& guestsOut, int32_t& watersOut) {
        std::vector<int32_t> parent(n);
        for (std::size_t g = 0; g < n; ++g)
            parent[g] = static_cast<int32_t>(g);
        auto root = [&](int32_t c) {
            while (parent[c] != c)
                c = parent[c] = parent[parent[c]];
            return c;
        };
        auto member = [&](int32_t g) { return out.links[g] >= least; };
        for (const NeighbourPair& p : linked)
            if (member(p.i) && member(p.j)) {
                const int32_t a = root(p.i), b = root(p.j);
                if (a != b)
                    parent[std::max(a, b)] = std::min(a, b);
            }
        std::vector<int32_t> size(n, 0);
        int32_t best = -1;
        for (std::size_t g = 0; g < n; ++g)
            if (member(static_cast<int32_t>(g))) {
                const int32_t r = root(static_cast<int32_t>(g));
                if (++size[r] > (best < 0 ? 0 : size[best]) || (size[r] == size[best] && r < best))
                    best = r;
            }
        guestsOut = best < 0 ? 0 : size[best];
        std::vector<int32_t> waters;
        for (std::size_t k = 0; k < linked.size() && best >= 0; ++k)
            if (member(linked[k].i) && member(linked[k].j) && root(linked[k].i) == best)
                waters.insert(waters.end(), shared.begin(k), shared.end(k));
        std::sort(waters.begin(), waters.end());
        watersOut = static_cast<int32_t>(std::unique(waters.begin(), waters.end()) - waters.begin());
    };
    cluster(1, out.mcg1, out.mcg1Waters);
    cluster(3, out.mcg3, out.mcg3Waters);
    return out;
}

} // namespace kavet
