#include "order/pairs.h"

#include <algorithm>
#include <numeric>

#include "core/cell_grid.h"

namespace kavet {
namespace {

// The pairs of points of `pos` at most `cutoff` apart. With split < 0 every
// pair, as (smaller index, larger index); otherwise only the pairs of a
// point below `split` with one at or above it, as (lower, upper - split).
std::vector<NeighbourPair> closePairs(const std::vector<Vec3>& pos, const Box& box, double cutoff, int32_t split)
{
    std::vector<NeighbourPair> pairs;
    const int32_t n = static_cast<int32_t>(pos.size());
    if (n < 2 || !(cutoff > 0.0))
        return pairs;
    std::vector<int32_t> items(static_cast<std::size_t>(n));
    std::iota(items.begin(), items.end(), 0);
    const CellGrid grid = buildCellGrid(pos, items, box, static_cast<float>(cutoff));
    const double cut2 = cutoff * cutoff;
    // A single-precision pre-test, a little generous, rejects most candidates
    // before the exact test in double precision.
    const float loose = static_cast<float>(cutoff) * 1.001f + 1e-4f;
    const float loose2 = loose * loose;
    // In a rectangular cell a branch-free pre-test: each component less the
    // nearest whole number of box lengths (rounded by adding and taking away
    // 1.5 * 2^23; the quotients are far below 2^22). It may differ from the
    // minimum image only where a component is half a box length, far beyond
    // the cut-off in a cell twice as wide.
    const bool rectangular = !box.triclinic();
    const float inverse[3] = {box.x > 0.0f ? 1.0f / box.x : 0.0f, box.y > 0.0f ? 1.0f / box.y : 0.0f,
                              box.z > 0.0f ? 1.0f / box.z : 0.0f};
    auto nearInRectangle = [&](Vec3 d) {
        constexpr float toWhole = 0x1.8p23f;
        d.x -= box.x * ((d.x * inverse[0] + toWhole) - toWhole);
        d.y -= box.y * ((d.y * inverse[1] + toWhole) - toWhole);
        d.z -= box.z * ((d.z * inverse[2] + toWhole) - toWhole);
        return dot(d, d);
    };
    // The positions in the order of the grid's cells, so that the inner loop
    // reads memory in sequence. Cell by cell, the neighbouring cells are
    // listed once per cell; a pair is seen from both its points (the cells
    // list each other), and taken from the one earlier in that order (or
    // from its point in the first set).
    const std::size_t binned = grid.cellItem.size();
    std::vector<Vec3> ordered(binned);
    for (std::size_t p = 0; p < binned; ++p)
        ordered[p] = pos[grid.cellItem[p]];
    std::vector<int32_t> cells;
    const int32_t numCells = static_cast<int32_t>(grid.cellStart.size()) - 1;
    for (int32_t cell = 0; cell < numCells; ++cell) {
        if (grid.cellStart[cell] == grid.cellStart[cell + 1])
            continue;
        adjacentCells(grid, cell, cells);
        for (int32_t p = grid.cellStart[cell]; p < grid.cellStart[cell + 1]; ++p) {
            // Between two sets, each pair is taken from its point in the first.
            if (split >= 0 && grid.cellItem[p] >= split)
                continue;
            const Vec3 pp = ordered[p];
            for (int32_t other : cells) {
                for (int32_t q = split >= 0 ? grid.cellStart[other] : std::max(p + 1, grid.cellStart[other]);
                     q < grid.cellStart[other + 1]; ++q) {
                    if (split >= 0 && grid.cellItem[q] < split)
                        continue;
                    if (rectangular && !(nearInRectangle(ordered[q] - pp) <= loose2))
                        continue;
                    const Vec3 image = minimumImage(ordered[q], pp, box);
                    if (!(dot(image, image) <= loose2))
                        continue;
                    const int32_t i = grid.cellItem[p], j = grid.cellItem[q];
                    const DVec3 d = sameImageD(ordered[q], pp, box, image);
                    if (!(dot(d, d) <= cut2))
                        continue;
                    if (split >= 0)
                        pairs.push_back({i, j - split, d});
                    else
                        pairs.push_back(i < j ? NeighbourPair{i, j, d} : NeighbourPair{j, i, -d});
                }
            }
        }
    }
    return pairs;
}

} // namespace

std::vector<NeighbourPair> neighbourPairs(const std::vector<Vec3>& pos, const Box& box, double cutoff)
{
    return closePairs(pos, box, cutoff, -1);
}

std::vector<NeighbourPair> crossPairs(const std::vector<Vec3>& a, const std::vector<Vec3>& b, const Box& box,
                                      double cutoff)
{
    std::vector<Vec3> all(a);
    all.insert(all.end(), b.begin(), b.end());
    return closePairs(all, box, cutoff, static_cast<int32_t>(a.size()));
}

int32_t largestCluster(const std::vector<uint8_t>& member, const std::vector<NeighbourPair>& pairs)
{
    const int32_t n = static_cast<int32_t>(member.size());
    std::vector<int32_t> parent(static_cast<std::size_t>(n));
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&](int32_t c) {
        while (parent[c] != c) {
            parent[c] = parent[parent[c]];
            c = parent[c];
        }
        return c;
    };
    for (const NeighbourPair& p : pairs) {
        if (p.i >= n || p.j >= n || !member[p.i] || !member[p.j])
            continue;
        const int32_t a = root(p.i), b = root(p.j);
        if (a != b)
            parent[std::max(a, b)] = std::min(a, b);
    }
    std::vector<int32_t> size(static_cast<std::size_t>(n), 0);
    int32_t largest = 0;
    for (int32_t k = 0; k < n; ++k)
        if (member[k])
            largest = std::max(largest, ++size[root(k)]);
    return largest;
}

} // namespace kavet
