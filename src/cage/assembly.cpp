#include "cage/assembly.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

namespace kavet {

void assembleCages(const OcclusionContext& ctx, int32_t numRing, CageSearch& cages, SeedTrace* trace,
                   const std::vector<int32_t>* seeds, bool shareSides)
{
    const RingNeighbours& nb = *ctx.nb;
    // Each side's rings, packed into cageList once every side is grown.
    std::vector<std::vector<int32_t>> entries(2 * static_cast<std::size_t>(numRing));
    cages.cageNorm.assign(2 * static_cast<std::size_t>(numRing), 0);
    cages.sharedSides = 0;

    // Seeds are grown in parallel, each writing its own two entries; every
    // thread keeps, per ring, the last side that decided it (the seed view
    // keeps its place in the seed's near list).
    struct Scratch {
        std::vector<int64_t> decided, member;
        std::vector<int32_t> queue, joined;
        int64_t mark = 0; // the last mark taken by a check against a grown cage (past 2R)
        SeedView seed;
        SideView side;
    };
    const int64_t sides = 2 * static_cast<int64_t>(numRing);
    tbb::enumerable_thread_specific<Scratch> scratch([numRing, sides] {
        Scratch s;
        s.decided.assign(static_cast<std::size_t>(numRing), -1);
        s.member.assign(static_cast<std::size_t>(numRing), -1);
        s.mark = sides;
        return s;
    });

    // Sharing: a side g whose cage is known to lie within the cage already
    // grown from a side f < g leaves no entry of its own. Its cage is a ring
    // set that deduplication would drop (contained in f's, or equal to it at
    // a later position), so the deduplicated cages are the same. Per side,
    // `grownAs` holds, once the side is finished, the side whose entry holds
    // its cage (itself when grown), or -1 before.
    shareSides = shareSides && !seeds;
    std::unique_ptr<std::atomic<int64_t>[]> grownAs;
    if (shareSides) {
        grownAs.reset(new std::atomic<int64_t>[static_cast<std::size_t>(sides)]);
        for (int64_t f = 0; f < sides; ++f)
            grownAs[static_cast<std::size_t>(f)].store(-1, std::memory_order_relaxed);
    }

    // Seeds are taken cell by cell of the ring grid, so that the rings around
    // a cell are gathered once for its seeds; a crowded cell is split.
    const CellGrid& grid = nb.grid;
    std::vector<std::pair<int64_t, int64_t>> runs;
    for (std::size_t c = 0; c < grid.cells.rows(); ++c)
        for (int64_t i = grid.cells.start[c]; i < grid.cells.start[c + 1]; i += 16)
            runs.emplace_back(i, std::min(i + 16, grid.cells.start[c + 1]));
    auto grow = [&](int32_t r) {
        Scratch& t = scratch.local();
        std::vector<int64_t>& decided = t.decided;
        std::vector<int32_t>& queue = t.queue;
        std::vector<int32_t>& joined = t.joined;
        SeedView& seed = t.seed;
        SideView& side = t.side;
        // With sharing, most seeds need only the near rings around the cages
        // beside them: the near list is built as rings are asked for, and
        // completed when a side needs every blocker.
        const bool share = shareSides && !(trace && r == trace->seed);
        viewFromSeed(ctx, r, seed, !share);
        auto nearPos = [&](int32_t k) { return placeOf(ctx, seed, k); };

        // Whether every ring outside the grown cage S that shares an edge with
        // one of its rings is hidden from side f (or not near the seed): the
        // cage grown from f then cannot leave S.
        // The cage's rings are visited outwards from the seed, and a ring
        // outside is first tried against the two faces of the cage beside it.
        auto staysWithin = [&](const std::vector<int32_t>& cage) {
            std::vector<int64_t>& member = t.member;
            const int64_t mark = (t.mark += 2) - 1; // mark: in the cage; mark + 1: visited
            for (int32_t u : cage)
                member[u] = mark;
            queue.assign(1, r);
            member[r] = mark + 1;
            for (std::size_t head = 0; head < queue.size(); ++head) {
                const int32_t u = queue[head];
                const int32_t parent = u == r ? -1 : nearPos(u);
                for (int32_t k : nb.edge[static_cast<std::size_t>(u)]) {
                    if (member[k] == mark) {
                        member[k] = mark + 1;
                        queue.push_back(k);
                        continue;
                    }
                    if (member[k] == mark + 1 || decided[k] == mark)
                        continue;
                    decided[k] = mark;
                    const int32_t at = nearPos(k);
                    if (at < 0)
                        continue;
                    int32_t other = -1;
                    for (int32_t w : nb.edge[static_cast<std::size_t>(k)]) {
                        if (w != u && w != r && member[w] >= mark) {
                            other = nearPos(w);
                            break;
                        }
                    }
                    if (visibleFromSide(ctx, seed, side, static_cast<std::size_t>(at), nullptr, parent, other))
                        return false;
                }
            }
            return true;
        };
        // A grown cage before side f that holds the seed and, in the cone of
        // f, the ring beside the seed through which it was reached; the
        // side's cage lies within it when nothing outside can be seen.
        auto sharedCage = [&](int64_t f) -> int64_t {
            int64_t tried[2] = {-1, -1};
            int attempts = 0;
            for (int32_t s : nb.edge[static_cast<std::size_t>(r)]) {
                if (attempts >= 2)
                    break;
                const int32_t at = nearPos(s);
                if (at < 0)
                    continue;
                for (const int64_t h : {static_cast<int64_t>(s), static_cast<int64_t>(s) + numRing}) {
                    const int64_t g = grownAs[static_cast<std::size_t>(h)].load(std::memory_order_acquire);
                    if (g < 0 || g >= f || g == tried[0] || g == tried[1] || attempts >= 2)
                        continue;
                    const std::vector<int32_t>& cage = entries[static_cast<std::size_t>(g)];
                    if (cage[0] != r && !std::binary_search(cage.begin() + 1, cage.end(), r))
                        continue;
                    if (!(ctx.sealed ? insideCone(ctx, side, centreD(ctx, seed, static_cast<std::size_t>(at)))
                                     : insideCone(ctx, side, seed.dM[static_cast<std::size_t>(at)])))
                        continue;
                    tried[attempts++] = g;
                    if (staysWithin(cage))
                        return g;
                }
            }
            return -1;
        };

        for (int32_t sign : {1, -1}) {
            const int64_t f = sign > 0 ? r : static_cast<int64_t>(r) + numRing;
            viewFromSide(ctx, seed, sign, side);
            if (share) {
                if (const int64_t g = sharedCage(f); g >= 0) {
                    entries[static_cast<std::size_t>(f)].clear();
                    cages.cageNorm[f] = sign;
                    grownAs[static_cast<std::size_t>(f)].store(g, std::memory_order_release);
                    continue;
                }
            }

            if (trace && r == trace->seed) {
                trace->side(seed.c, side.v);
                const int32_t k = trace->candidate;
                if (k >= 0 && k < numRing && nearPos(k) >= 0)
                    visibleFromSide(ctx, seed, side, static_cast<std::size_t>(nearPos(k)), trace);
            }

            // Grow the cage from the seed through shared edges.
            joined.clear();
            queue.assign(1, r);
            decided[r] = f;
            for (std::size_t head = 0; head < queue.size(); ++head) {
                const int32_t u = queue[head];
                for (int32_t k : nb.edge[static_cast<std::size_t>(u)]) {
                    if (decided[k] == f)
                        continue;
                    decided[k] = f;
                    const int32_t at = nearPos(k);
                    if (at < 0 || !visibleFromSide(ctx, seed, side, static_cast<std::size_t>(at), nullptr,
                                                   u == r ? -1 : nearPos(u)))
                        continue;
                    joined.push_back(k);
                    queue.push_back(k);
                }
            }
            std::sort(joined.begin(), joined.end());
            std::vector<int32_t>& entry = entries[static_cast<std::size_t>(f)];
            entry.clear();
            entry.push_back(r);
            entry.insert(entry.end(), joined.begin(), joined.end());
            cages.cageNorm[f] = sign;
            if (shareSides)
                grownAs[static_cast<std::size_t>(f)].store(f, std::memory_order_release);
        }
    };
    if (seeds) {
        tbb::parallel_for(std::size_t(0), seeds->size(), [&](std::size_t i) { grow((*seeds)[i]); });
    } else {
        tbb::parallel_for(std::size_t(0), runs.size(), [&](std::size_t run) {
            for (int64_t i = runs[run].first; i < runs[run].second; ++i)
                grow(grid.cells.item[i]);
        });
    }
    if (shareSides) {
        // The entries of the shared sides go; the rest keep their order.
        std::size_t kept = 0;
        for (std::size_t f = 0; f < static_cast<std::size_t>(sides); ++f) {
            if (grownAs[f].load(std::memory_order_relaxed) != static_cast<int64_t>(f))
                continue;
            if (kept != f) {
                entries[kept] = std::move(entries[f]);
                cages.cageNorm[kept] = cages.cageNorm[f];
            }
            ++kept;
        }
        entries.resize(kept);
        cages.cageNorm.resize(kept);
        cages.sharedSides = sides - static_cast<int64_t>(kept);
    }
    cages.cageList.pack(entries);
}

} // namespace kavet
