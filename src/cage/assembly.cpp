#include "cage/assembly.h"

#include <algorithm>

namespace kavet {

void assembleCages(const OcclusionContext& ctx, int32_t numRing, CageSearch& cages, SeedTrace* trace)
{
    const RingNeighbours& nb = *ctx.nb;
    cages.cageList.resize(2 * static_cast<std::size_t>(numRing));
    cages.cageNorm.assign(2 * static_cast<std::size_t>(numRing), 0);

    // Per ring: its position in the current seed's near list (or -1), and the
    // last side that decided it.
    std::vector<int32_t> nearPos(numRing, -1);
    std::vector<int64_t> decided(numRing, -1);
    std::vector<int32_t> queue, joined, joinedPos;
    SeedView seed;
    SideView side;

    for (int32_t r = 0; r < numRing; ++r) {
        viewFromSeed(ctx, r, seed);
        for (std::size_t p = 0; p < seed.near.size(); ++p)
            nearPos[seed.near[p]] = static_cast<int32_t>(p);

        for (int32_t sign : {1, -1}) {
            const int64_t f = sign > 0 ? r : static_cast<int64_t>(r) + numRing;
            viewFromSide(ctx, seed, sign, side);

            if (trace && r == trace->seed) {
                trace->side(seed.c, side.v);
                const int32_t k = trace->candidate;
                if (k >= 0 && k < numRing && nearPos[k] >= 0)
                    visibleFromSide(ctx, seed, side, nearPos[k], {}, trace);
            }

            // Grow the cage from the seed through shared edges.
            joined.clear();
            joinedPos.clear();
            queue.assign(1, r);
            decided[r] = f;
            for (std::size_t head = 0; head < queue.size(); ++head) {
                const int32_t u = queue[head];
                for (int32_t e = nb.edgeStart[u]; e < nb.edgeStart[u + 1]; ++e) {
                    const int32_t k = nb.edgeRing[e];
                    if (decided[k] == f)
                        continue;
                    decided[k] = f;
                    if (nearPos[k] < 0 || !visibleFromSide(ctx, seed, side, nearPos[k], joinedPos))
                        continue;
                    joined.push_back(k);
                    joinedPos.push_back(nearPos[k]);
                    queue.push_back(k);
                }
            }
            std::sort(joined.begin(), joined.end());
            std::vector<int32_t>& entry = cages.cageList[f];
            entry.clear();
            entry.push_back(r);
            entry.insert(entry.end(), joined.begin(), joined.end());
            cages.cageNorm[f] = sign;
        }

        for (int32_t k : seed.near)
            nearPos[k] = -1;
    }
}

} // namespace kavet
