#include "cage/assembly.h"

#include <algorithm>

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

namespace kavet {

void assembleCages(const OcclusionContext& ctx, int32_t numRing, CageSearch& cages, SeedTrace* trace,
                   const std::vector<int32_t>* seeds)
{
    const RingNeighbours& nb = *ctx.nb;
    // Each side's rings, packed into cageList once every side is grown.
    std::vector<std::vector<int32_t>> sides(2 * static_cast<std::size_t>(numRing));
    cages.cageNorm.assign(2 * static_cast<std::size_t>(numRing), 0);

    // Seeds are grown in parallel, each writing its own two entries; every
    // thread keeps, per ring, its position in the current seed's near list
    // (or -1) and the last side that decided it.
    struct Scratch {
        std::vector<int32_t> nearPos;
        std::vector<int64_t> decided;
        std::vector<int32_t> queue, joined;
        SeedView seed;
        SideView side;
    };
    tbb::enumerable_thread_specific<Scratch> scratch([numRing] {
        Scratch s;
        s.nearPos.assign(static_cast<std::size_t>(numRing), -1);
        s.decided.assign(static_cast<std::size_t>(numRing), -1);
        return s;
    });

    // Seeds are taken cell by cell of the ring grid, so that the rings around
    // a cell are gathered once for its seeds; a crowded cell is split.
    const CellGrid& grid = nb.grid;
    std::vector<std::pair<int32_t, int32_t>> runs;
    for (std::size_t c = 0; c + 1 < grid.cellStart.size(); ++c)
        for (int32_t i = grid.cellStart[c]; i < grid.cellStart[c + 1]; i += 16)
            runs.emplace_back(i, std::min(i + 16, grid.cellStart[c + 1]));
    auto grow = [&](int32_t r) {
        Scratch& t = scratch.local();
        std::vector<int32_t>& nearPos = t.nearPos;
        std::vector<int64_t>& decided = t.decided;
        std::vector<int32_t>& queue = t.queue;
        std::vector<int32_t>& joined = t.joined;
        SeedView& seed = t.seed;
        SideView& side = t.side;
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
                    visibleFromSide(ctx, seed, side, nearPos[k], trace);
            }

            // Grow the cage from the seed through shared edges.
            joined.clear();
            queue.assign(1, r);
            decided[r] = f;
            for (std::size_t head = 0; head < queue.size(); ++head) {
                const int32_t u = queue[head];
                for (int32_t e = nb.edgeStart[u]; e < nb.edgeStart[u + 1]; ++e) {
                    const int32_t k = nb.edgeRing[e];
                    if (decided[k] == f)
                        continue;
                    decided[k] = f;
                    if (nearPos[k] < 0 || !visibleFromSide(ctx, seed, side, nearPos[k], nullptr,
                                                           u == r ? -1 : nearPos[u]))
                        continue;
                    joined.push_back(k);
                    queue.push_back(k);
                }
            }
            std::sort(joined.begin(), joined.end());
            std::vector<int32_t>& entry = sides[f];
            entry.clear();
            entry.push_back(r);
            entry.insert(entry.end(), joined.begin(), joined.end());
            cages.cageNorm[f] = sign;
        }

        for (int32_t k : seed.near)
            nearPos[k] = -1;
    };
    if (seeds) {
        tbb::parallel_for(std::size_t(0), seeds->size(), [&](std::size_t i) { grow((*seeds)[i]); });
    } else {
        tbb::parallel_for(std::size_t(0), runs.size(), [&](std::size_t run) {
            for (int32_t i = runs[run].first; i < runs[run].second; ++i)
                grow(grid.cellItem[i]);
        });
    }
    cages.cageList.pack(sides);
}

} // namespace kavet
