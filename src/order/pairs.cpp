#include "order/pairs.h"

#include <algorithm>
#include <numeric>

#include "network/cell_grid.h"

namespace kavet {

std::vector<NeighbourPair> neighbourPairs(const std::vector<Vec3>& pos, const Box& box, double cutoff)
{
    std::vector<NeighbourPair> pairs;
    const int32_t n = static_cast<int32_t>(pos.size());
    if (n < 2 || !(cutoff > 0.0))
        return pairs;
    std::vector<int32_t> items(static_cast<std::size_t>(n));
    std::iota(items.begin(), items.end(), 0);
    // Cells of half the cut-off, searched two cells to each side, test fewer
    // points in vain than cells of the whole cut-off.
    const CellGrid grid = buildCellGrid(pos, items, box, static_cast<float>(cutoff), 2);
    const double cut2 = cutoff * cutoff;
    // A single-precision pre-test, a little generous, rejects most candidates
    // before the exact test in double precision.
    const float loose = static_cast<float>(cutoff) * 1.001f + 1e-4f;
    const float loose2 = loose * loose;
    std::vector<int32_t> cells;
    for (int32_t i = 0; i < n; ++i) {
        forEachNear(grid, i, cells, [&](int32_t j) {
            if (j <= i)
                return;
            const Vec3 image = minimumImage(pos[j], pos[i], box);
            if (!(dot(image, image) <= loose2))
                return;
            const DVec3 d = sameImageD(pos[j], pos[i], box, image);
            if (dot(d, d) <= cut2)
                pairs.push_back({i, j, d});
        });
    }
    // Cells visit their points in their own order; sort by (i, j) so the
    // result does not depend on the binning.
    std::sort(pairs.begin(), pairs.end(),
              [](const NeighbourPair& a, const NeighbourPair& b) { return a.i != b.i ? a.i < b.i : a.j < b.j; });
    return pairs;
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
