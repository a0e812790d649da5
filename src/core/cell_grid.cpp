#include "core/cell_grid.h"

#include <algorithm>
#include <cmath>

#include "core/offsets.h"

namespace kavet {
namespace {

int cellIndex(const CellGrid& g, int axis, float coordinate)
{
    double c = coordinate;
    double t;
    if (g.periodic[axis]) {
        double f = c / g.length[axis];
        t = (f - std::floor(f)) * g.n[axis];
    } else {
        t = (c - g.origin[axis]) / g.width[axis];
    }
    if (!std::isfinite(t) || t < 0)
        return 0;
    int i = static_cast<int>(std::min(t, static_cast<double>(g.n[axis] - 1)));
    return std::clamp(i, 0, g.n[axis] - 1);
}

// A triclinic cell is binned in its fractional coordinates s_a, s_b, s_c,
// each scaled by the cell's width across the matching pair of planes: the
// point maps to (s_a w_a, s_b w_b, s_c w_c), where w_a is the distance
// between the planes spanned by b and c, and so on. s_a w_a is the component
// of the position along the unit normal of the (b, c) planes, so two points
// closer than the radius differ by less than the radius in every mapped
// coordinate, and a lattice translation moves the mapped coordinates by
// whole widths. The rectangular grid over the mapped points, periodic in the
// widths, therefore holds every close pair of the cell in the same or in
// adjacent cells; the caller's exact test uses the real positions.
CellGrid buildTriclinicGrid(const std::vector<Vec3>& pos, const std::vector<int32_t>& items, const Box& box,
                            float radius, int reach)
{
    std::vector<Vec3> mapped(pos.size());
    // A cell vector whose axis length is not positive is not periodic, and
    // the cell has no widths to bin in: all points share one cell.
    if (!(box.x > 0.0f && box.y > 0.0f && box.z > 0.0f))
        return buildCellGrid(mapped, items, Box{}, radius, reach);
    const double X = box.x, Y = box.y, Z = box.z, YX = box.yx, ZX = box.zx, ZY = box.zy;
    // b x c = (Y Z, -YX Z, YX ZY - Y ZX) and c x a = (0, X Z, -X ZY).
    const double cross = YX * ZY - Y * ZX;
    const double wa = X * Y * Z / std::sqrt(Y * Z * Y * Z + YX * Z * YX * Z + cross * cross);
    const double wb = Y * Z / std::sqrt(Z * Z + ZY * ZY);
    const double wc = Z;
    for (int32_t i : items) {
        const double sc = pos[i].z / Z;
        const double sb = (pos[i].y - sc * ZY) / Y;
        const double sa = (pos[i].x - sb * YX - sc * ZX) / X;
        mapped[i] = {static_cast<float>(sa * wa), static_cast<float>(sb * wb), static_cast<float>(sc * wc)};
    }
    const Box widths{static_cast<float>(wa), static_cast<float>(wb), static_cast<float>(wc)};
    return buildCellGrid(mapped, items, widths, radius, reach);
}

} // namespace

CellGrid buildCellGrid(const std::vector<Vec3>& pos, const std::vector<int32_t>& items, const Box& box,
                       float radius, int reach)
{
    if (box.triclinic())
        return buildTriclinicGrid(pos, items, box, radius, reach);
    CellGrid g;
    g.reach = std::max(reach, 1);
    const float lengths[3] = {box.x, box.y, box.z};
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    for (int a = 0; a < 3; ++a) {
        g.periodic[a] = lengths[a] > 0.0f;
        g.length[a] = lengths[a];
        lo[a] = HUGE_VAL;
        hi[a] = -HUGE_VAL;
    }
    for (int32_t i : items) {
        const float c[3] = {pos[i].x, pos[i].y, pos[i].z};
        for (int a = 0; a < 3; ++a) {
            if (std::isfinite(c[a])) {
                lo[a] = std::min(lo[a], static_cast<double>(c[a]));
                hi[a] = std::max(hi[a], static_cast<double>(c[a]));
            }
        }
    }
    // Cells are a little wider than the radius, so rounding in the binning can
    // never separate a close pair by more than one cell.
    double w = static_cast<double>(radius) * 1.01 / g.reach + 1e-3;
    if (!(w > 0) || !std::isfinite(w))
        w = HUGE_VAL;
    const double cap = std::max<double>(64.0, 2.0 * static_cast<double>(items.size()));
    for (;;) {
        double total = 1;
        for (int a = 0; a < 3; ++a) {
            double extent = g.periodic[a] ? g.length[a] : (hi[a] >= lo[a] ? hi[a] - lo[a] : 0.0);
            double cells = std::floor(extent / w);
            if (g.periodic[a]) {
                g.n[a] = cells >= 2 * g.reach + 1 ? static_cast<int>(std::min(cells, 1e6)) : 1;
                g.width[a] = g.length[a] / g.n[a];
                g.origin[a] = 0;
            } else {
                g.n[a] = static_cast<int>(std::min(cells, 1e6)) + 1;
                g.width[a] = std::isfinite(w) ? w : 1.0;
                g.origin[a] = hi[a] >= lo[a] ? lo[a] : 0.0;
                if (g.n[a] == 1)
                    g.width[a] = std::max(extent, 1.0) * 2 + 1;
            }
            total *= g.n[a];
        }
        if (total <= cap)
            break;
        w *= 1.25;
    }

    const int32_t numCells = g.n[0] * g.n[1] * g.n[2];
    g.itemCell.assign(pos.size(), -1);
    for (int32_t i : items)
        g.itemCell[i] = (cellIndex(g, 0, pos[i].x) * g.n[1] + cellIndex(g, 1, pos[i].y)) * g.n[2] +
                        cellIndex(g, 2, pos[i].z);
    // Callers mostly pass their points in ascending order already.
    std::vector<int32_t> sorted;
    const bool ascending = std::is_sorted(items.begin(), items.end());
    if (!ascending) {
        sorted = items;
        std::sort(sorted.begin(), sorted.end());
    }
    const std::vector<int32_t>& order = ascending ? items : sorted;
    g.cells = buildOffsets(static_cast<std::size_t>(numCells), [&](auto emit) {
        for (int32_t i : order)
            emit(g.itemCell[i], i);
    });
    return g;
}

void adjacentCells(const CellGrid& g, int32_t cell, std::vector<int32_t>& out)
{
    const int idx[3] = {cell / (g.n[1] * g.n[2]), (cell / g.n[2]) % g.n[1], cell % g.n[2]};
    // The distinct cell numbers along each axis, in the order of d = -reach
    // .. reach; on the stack for the usual reach.
    constexpr int inlineReach = 8;
    int inlineAlong[3][2 * inlineReach + 1];
    std::vector<int> heapAlong[3];
    int* along[3];
    int count[3] = {0, 0, 0};
    for (int a = 0; a < 3; ++a) {
        if (g.reach > inlineReach) {
            heapAlong[a].resize(2 * static_cast<std::size_t>(g.reach) + 1);
            along[a] = heapAlong[a].data();
        } else {
            along[a] = inlineAlong[a];
        }
        const int n = g.n[a];
        if (!g.periodic[a]) {
            for (int j = std::max(idx[a] - g.reach, 0); j <= std::min(idx[a] + g.reach, n - 1); ++j)
                along[a][count[a]++] = j;
        } else if (n >= 2 * g.reach + 1) { // a wrap at most once, and no cell twice
            for (int d = -g.reach; d <= g.reach; ++d) {
                const int j = idx[a] + d;
                along[a][count[a]++] = j < 0 ? j + n : j >= n ? j - n : j;
            }
        } else {
            for (int d = -g.reach; d <= g.reach; ++d) {
                const int j = ((idx[a] + d) % n + n) % n;
                if (std::find(along[a], along[a] + count[a], j) == along[a] + count[a])
                    along[a][count[a]++] = j;
            }
        }
    }
    out.resize(static_cast<std::size_t>(count[0]) * count[1] * count[2]);
    int32_t* o = out.data();
    for (int x = 0; x < count[0]; ++x)
        for (int y = 0; y < count[1]; ++y) {
            const int32_t row = (along[0][x] * g.n[1] + along[1][y]) * g.n[2];
            for (int z = 0; z < count[2]; ++z)
                *o++ = row + along[2][z];
        }
}

} // namespace kavet
