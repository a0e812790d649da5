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
    nl.start.assign(items.size() + 1, 0);
    if (!(cutoff > 0.0f) || items.empty())
        return nl;
    const CellGrid grid = buildCellGrid(pos, items, box, cutoff);

    // Runs of query points are searched in parallel and joined in order.
    struct Part {
        std::vector<int32_t> second;
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
                for (int32_t c = grid.cellStart[cell]; c < grid.cellStart[cell + 1]; ++c) {
                    const int32_t j = grid.cellItem[c];
                    if (j <= i)
                        continue;
                    const Vec3 d = minimumImage(pos[j], o, box);
                    const float r = norm(d);
                    if (!(r < cutoff))
                        continue;
                    out.second.push_back(j);
                    out.vec.push_back(d);
                    out.dist.push_back(r);
                }
            nl.start[k + 1] = static_cast<int32_t>(out.second.size()); // within the run, for now
        }
    });

    std::size_t total = 0;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        for (std::size_t k = p * run; k < std::min(queries, (p + 1) * run); ++k)
            nl.start[k + 1] += static_cast<int32_t>(total);
        total += parts[p].second.size();
    }
    for (std::size_t k = queries; k < items.size(); ++k)
        nl.start[k + 1] = static_cast<int32_t>(total);
    nl.second.reserve(total);
    nl.vec.reserve(total);
    nl.dist.reserve(total);
    for (const Part& part : parts) {
        nl.second.insert(nl.second.end(), part.second.begin(), part.second.end());
        nl.vec.insert(nl.vec.end(), part.vec.begin(), part.vec.end());
        nl.dist.insert(nl.dist.end(), part.dist.begin(), part.dist.end());
    }
    return nl;
}

} // namespace kavet
