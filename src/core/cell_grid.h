// Cell-linked lists (binning) for fixed-radius neighbour searches in a
// rectangular, possibly periodic box, or in a triclinic cell (binned in its
// fractional coordinates). Points are sorted into cells at least as wide as
// the search radius, so every pair closer than the radius lies in the same or
// in adjacent cells; the exact distance test stays with the caller.
#pragma once

#include <cstdint>
#include <vector>

#include "core/box.h"
#include "core/offsets.h"

namespace kavet {

struct CellGrid {
    int n[3] = {1, 1, 1};                 // cells along each axis
    int reach = 1;                        // cells searched on each side
    bool periodic[3] = {false, false, false};
    double origin[3] = {0, 0, 0};
    double width[3] = {1, 1, 1};
    double length[3] = {0, 0, 0};
    OffsetArray cells;                    // row c: the points of cell c, ascending
    std::vector<int32_t> itemCell;        // per point its cell (-1 for points not binned)
};

// Bins the points `items` (numbers into `pos`) for searches of radius `radius`,
// with cells at least radius / reach wide, so that a search looks `reach`
// cells to each side (finer cells test fewer points in vain). An axis with a
// non-positive box length is binned over the points' extent and not wrapped.
// Periodic axes too short for 2 reach + 1 cells get a single cell, so the
// search falls back to testing every point along them.
CellGrid buildCellGrid(const std::vector<Vec3>& pos, const std::vector<int32_t>& items, const Box& box,
                       float radius, int reach = 1);

// The distinct cells within `reach` of (and including) `cell`.
void adjacentCells(const CellGrid& grid, int32_t cell, std::vector<int32_t>& out);

// Calls visit(j) for every binned point j in the cells within reach of the
// cell of binned point i, i itself included: cell by cell in the order of
// adjacentCells, ascending within a cell. `cells` is scratch space.
template <class Visit>
void forEachNear(const CellGrid& grid, int32_t i, std::vector<int32_t>& cells, Visit visit)
{
    adjacentCells(grid, grid.itemCell[i], cells);
    for (int32_t cell : cells)
        for (int32_t j : grid.cells[cell])
            visit(j);
}

} // namespace kavet
