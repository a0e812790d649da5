#include "order/mcg.h"

#include <cmath>
#include <numeric>

#include "network/cell_grid.h"

namespace kavet {
namespace {

struct NearWater {
    DVec3 d; // oxygen less guest, angstrom
};

// Per guest, the vectors to the water oxygens within `radius`.
std::vector<std::vector<NearWater>> watersNear(const std::vector<Vec3>& guests, const std::vector<Vec3>& oxygens,
                                               const Box& box, double radius)
{
    const int32_t numWater = static_cast<int32_t>(oxygens.size());
    std::vector<Vec3> all(oxygens);
    all.insert(all.end(), guests.begin(), guests.end());
    std::vector<int32_t> items(all.size());
    std::iota(items.begin(), items.end(), 0);
    const CellGrid grid = buildCellGrid(all, items, box, static_cast<float>(radius), 2);
    const double r2 = radius * radius;
    std::vector<std::vector<NearWater>> near(guests.size());
    std::vector<int32_t> cells;
    for (std::size_t g = 0; g < guests.size(); ++g) {
        const int32_t self = numWater + static_cast<int32_t>(g);
        forEachNear(grid, self, cells, [&](int32_t k) {
            if (k >= numWater)
                return;
            const DVec3 d = sameImageD(all[k], all[self], box);
            if (dot(d, d) <= r2)
                near[g].push_back({d});
        });
    }
    return near;
}

} // namespace

Mcg mcgOf(const std::vector<Vec3>& guests, const std::vector<Vec3>& oxygens, const Box& box, const McgRule& rule)
{
    Mcg out;
    const std::size_t n = guests.size();
    out.links.assign(n, 0);
    if (n < 2)
        return out;
    const std::vector<NeighbourPair> close = neighbourPairs(guests, box, rule.guestDistance);
    const std::vector<std::vector<NearWater>> near = watersNear(guests, oxygens, box, rule.waterDistance);
    const double w2 = rule.waterDistance * rule.waterDistance;
    const double cosCone = std::cos(rule.coneAngle * 3.14159265358979323846 / 180.0);

    std::vector<NeighbourPair> linked;
    for (const NeighbourPair& p : close) {
        const double axis = norm(p.d);
        if (!(axis > 0.0))
            continue;
        int32_t shared = 0;
        for (const NearWater& w : near[p.i]) {
            // The water seen from guest j, at the image consistent with the pair.
            const DVec3 fromJ = w.d - p.d;
            if (!(dot(fromJ, fromJ) <= w2))
                continue;
            // Inside the cone at i (towards j) and the cone at j (towards i).
            if (dot(w.d, p.d) >= cosCone * norm(w.d) * axis && -dot(fromJ, p.d) >= cosCone * norm(fromJ) * axis)
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
