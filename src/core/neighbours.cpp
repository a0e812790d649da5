#include "core/neighbours.h"

#include <algorithm>

#include <tbb/parallel_for.h>

#include "core/cell_grid.h"

namespace kavet {

NeighbourList buildNeighbourList(const std::vector<Vec3>& pos, const std::vector<int32_t>& items, const Box& box,
                                 float cutoff, std::size_t queries)
{
    queries = std::min(queries, items.size());
    NeighbourList nl;
    std::vector<int64_t>& start = nl.other.start;
    start.assign(items.size() + 1, 0);
    if (!(cutoff > 0.0f) || items.empty())
        return nl;
    const CellGrid grid = buildCellGrid(pos, items, box, cutoff);

    // Runs of query points are searched in parallel and joined in order.
    struct Part {
        std::vector<int32_t> other;
        std::vector<Vec3> vec;
        std::vector<float> dist;
    };
    constexpr std::size_t run = 1024;
    std::vector<Part> parts((queries + run - 1) / run);
    tbb::parallel_for(std::size_t(0), parts.size(), [&](std::size_t p) {
        Part& out = parts[p];
        std::vector<int32_t> cells;
        int32_t cellsOf = -1; // the cell whose neighbourhood `cells` holds
        for (std::size_t k = p * run; k < std::min(queries, (p + 1) * run); ++k) {
            const int32_t i = items[k];
            const Vec3 o = pos[i];
            // As forEachNear visits them: cell by cell, ascending within a cell.
            if (grid.itemCell[i] != cellsOf) {
                cellsOf = grid.itemCell[i];
                adjacentCells(grid, cellsOf, cells);
            }
            for (int32_t cell : cells)
                for (const int32_t j : grid.cells[cell]) {
                    if (j <= i)
                        continue;
                    const Vec3 d = minimumImage(pos[j], o, box);
                    const float r = norm(d);
                    if (!(r < cutoff))
                        continue;
                    out.other.push_back(j);
                    out.vec.push_back(d);
                    out.dist.push_back(r);
                }
            start[k + 1] = static_cast<int64_t>(out.other.size()); // within the run, for now
        }
    });

    std::vector<std::size_t> offset(parts.size() + 1, 0);
    for (std::size_t p = 0; p < parts.size(); ++p)
        offset[p + 1] = offset[p] + parts[p].other.size();
    const std::size_t total = offset.back();
    // Each run's entries are copied to their place in parallel.
    nl.other.item.resize(total);
    nl.vec.resize(total);
    nl.dist.resize(total);
    tbb::parallel_for(std::size_t(0), parts.size(), [&](std::size_t p) {
        const auto at = static_cast<std::ptrdiff_t>(offset[p]);
        for (std::size_t k = p * run; k < std::min(queries, (p + 1) * run); ++k)
            start[k + 1] += at;
        Part& part = parts[p];
        std::copy(part.other.begin(), part.other.end(), nl.other.item.begin() + at);
        std::copy(part.vec.begin(), part.vec.end(), nl.vec.begin() + at);
        std::copy(part.dist.begin(), part.dist.end(), nl.dist.begin() + at);
        part = Part();
    });
    for (std::size_t k = queries; k < items.size(); ++k)
        start[k + 1] = static_cast<int64_t>(total);
    return nl;
}

} // namespace kavet
