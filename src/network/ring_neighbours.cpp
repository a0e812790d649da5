#include "network/ring_neighbours.h"

#include <algorithm>
#include <cmath>

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include "core/offsets.h"

namespace kavet {
namespace {

// Whether rings i and j share exactly one bond: walking ring j in ring order,
// exactly two of its nodes occur in ring i, and these two are bonded.
int commonNodeCode(std::span<const int32_t> ringI, std::span<const int32_t> ringJ, const Network& net)
{
    int32_t common[2] = {-1, -1};
    int count = 0;
    for (int32_t a : ringJ) {
        if (std::find(ringI.begin(), ringI.end(), a) != ringI.end()) {
            if (count < 2)
                common[count] = a;
            ++count;
        }
    }
    if (count == 0)
        return 1;
    return count == 2 && net.isEdge(common[0], common[1]) ? 3 : 2;
}

} // namespace

float nearDistance(int32_t ringMax, float hbDistance)
{
    return static_cast<float>(ringMax) * (hbDistance * 0.5f);
}

bool ringsNear(const RingGeometry& geo, const Box& box, float d, int32_t i, int32_t j)
{
    if (i > j)
        std::swap(i, j);
    const Vec3 diff = minimumImage(geo.centRing[j], geo.centRing[i], box);
    return d > norm(diff);
}

void findRingNeighbours(const RingSearch& rings, const RingGeometry& geo, const Network& net, const Box& box,
                        int32_t ringMax, float hbDistance, RingNeighbours& nb)
{
    const int32_t numRing = static_cast<int32_t>(rings.ringList.size());
    nb.nearDistance = nearDistance(ringMax, hbDistance);
    nb.box = box;
    std::vector<int32_t> all(numRing);
    for (int32_t r = 0; r < numRing; ++r)
        all[r] = r;
    nb.cx.resize(numRing);
    nb.cy.resize(numRing);
    nb.cz.resize(numRing);
    for (int32_t r = 0; r < numRing; ++r) {
        nb.cx[r] = geo.centRing[r].x;
        nb.cy[r] = geo.centRing[r].y;
        nb.cz[r] = geo.centRing[r].z;
    }
    // Whether every ring centre lies within [-0.2, 1.2) box lengths on each
    // periodic axis of a rectangular cell, with finite coordinates.
    nb.shiftOnce = !box.triclinic();
    for (int32_t r = 0; r < numRing && nb.shiftOnce; ++r) {
        const Vec3 c = geo.centRing[r];
        for (const auto& [x, length] : {std::pair{c.x, box.x}, std::pair{c.y, box.y}, std::pair{c.z, box.z}})
            if (!std::isfinite(x) || (length > 0.0f && !(x >= -0.2f * length && x < 1.2f * length)))
                nb.shiftOnce = false;
    }
    nb.grid = buildCellGrid(geo.centRing, all, box, nb.nearDistance > 0.0f ? nb.nearDistance : 0.0f, 2);

    // Rings that share a bond share its nodes: pair rings through an index
    // from node to the rings that hold it.
    const std::size_t atomCount = net.degree.size();
    const OffsetArray holders = buildOffsets(atomCount, [&](auto emit) {
        for (int32_t r = 0; r < numRing; ++r)
            for (int32_t a : rings.ringList[r])
                emit(a, r);
    });

    // Runs of rings are paired in parallel, each thread with its own marks.
    constexpr int32_t run = 512;
    std::vector<std::vector<std::pair<int32_t, int32_t>>> found((numRing + run - 1) / run);
    tbb::enumerable_thread_specific<std::vector<int32_t>> marks(std::vector<int32_t>(numRing, -1));
    tbb::parallel_for(std::size_t(0), found.size(), [&](std::size_t part) {
        std::vector<int32_t>& seen = marks.local();
        const int32_t first = static_cast<int32_t>(part) * run;
        for (int32_t i = first; i < std::min(numRing, first + run); ++i) {
            for (int32_t a : rings.ringList[i]) {
                for (int32_t j : holders[static_cast<std::size_t>(a)]) {
                    if (j <= i || seen[j] == i)
                        continue;
                    seen[j] = i;
                    if (!ringsNear(geo, box, nb.nearDistance, i, j))
                        continue;
                    if (commonNodeCode(rings.ringList[i], rings.ringList[j], net) == 3) {
                        found[part].emplace_back(i, j);
                        found[part].emplace_back(j, i);
                    }
                }
            }
        }
    });
    nb.edge = buildOffsets(static_cast<std::size_t>(numRing), [&](auto emit) {
        for (const auto& pairs : found)
            for (const auto& [i, j] : pairs)
                emit(i, j);
    });
    // Each ring's list, ascending.
    tbb::parallel_for(std::size_t(0), nb.edge.rows(), [&](std::size_t r) {
        const std::span<int32_t> row = nb.edge.row(r);
        std::sort(row.begin(), row.end());
    });
}

namespace {

// The rings of the cells around `cell`, copied cell by cell (the order of
// forEachNear), and their centres.
void gatherBlock(const RingNeighbours& nb, int32_t cell, NearScratch& scratch)
{
    if (scratch.blockOf == &nb && scratch.blockCell == cell)
        return;
    std::vector<int32_t>& candidates = scratch.candidates;
    adjacentCells(nb.grid, cell, scratch.cells);
    std::size_t total = 0;
    for (int32_t c : scratch.cells)
        total += nb.grid.cells[c].size();
    candidates.resize(total);
    total = 0;
    for (int32_t c : scratch.cells) {
        const std::span<const int32_t> from = nb.grid.cells[c];
        std::copy(from.begin(), from.end(), candidates.begin() + static_cast<std::ptrdiff_t>(total));
        total += from.size();
    }
    scratch.cx.resize(total);
    scratch.cy.resize(total);
    scratch.cz.resize(total);
    for (std::size_t i = 0; i < total; ++i) {
        const int32_t k = candidates[i];
        scratch.cx[i] = nb.cx[k];
        scratch.cy[i] = nb.cy[k];
        scratch.cz[i] = nb.cz[k];
    }
    // A ring near one in this cell lies within the near distance plus half
    // the cell's diagonal of the cell's centre (by the triangle inequality,
    // with a margin far above rounding): the others of the block, about a
    // third of it, are dropped here once instead of for every seed of the
    // cell. The order of the rest is kept. Only where every offset needs at
    // most one shift (see collectNearRings), in a rectangular cell, whose
    // grid cells are boxes in space.
    if (nb.shiftOnce) {
        const CellGrid& g = nb.grid;
        const int32_t at[3] = {cell / (g.n[1] * g.n[2]), cell / g.n[2] % g.n[1], cell % g.n[2]};
        float centre[3], length[3], half[3], periodic[3];
        double diagonal = 0.0;
        for (int a = 0; a < 3; ++a) {
            centre[a] = static_cast<float>(g.origin[a] + (at[a] + 0.5) * g.width[a]);
            length[a] = g.periodic[a] ? static_cast<float>(g.length[a]) : 1.0f;
            half[a] = 0.5f * length[a];
            periodic[a] = g.periodic[a] ? 1.0f : 0.0f;
            diagonal += g.width[a] * g.width[a];
        }
        const double limit = (static_cast<double>(nb.nearDistance) + 0.5 * std::sqrt(diagonal)) * (1.0 + 1e-5) + 0.05;
        const float bound = static_cast<float>(limit * limit);
        std::vector<float>& distance = scratch.distance;
        distance.resize(total);
        const float* cx = scratch.cx.data();
        const float* cy = scratch.cy.data();
        const float* cz = scratch.cz.data();
        auto away = [&](float c, int a) {
            const float u = c - centre[a];
            return u - (length[a] * (static_cast<float>(u >= half[a]) - static_cast<float>(u <= -half[a]))) *
                           periodic[a];
        };
        for (std::size_t i = 0; i < total; ++i) {
            const float x = away(cx[i], 0), y = away(cy[i], 1), z = away(cz[i], 2);
            distance[i] = x * x + y * y + z * z;
        }
        std::size_t kept = 0;
        for (std::size_t i = 0; i < total; ++i) {
            candidates[kept] = candidates[i];
            scratch.cx[kept] = cx[i];
            scratch.cy[kept] = cy[i];
            scratch.cz[kept] = cz[i];
            kept += static_cast<std::size_t>(distance[i] < bound);
        }
        candidates.resize(kept);
        scratch.cx.resize(kept);
        scratch.cy.resize(kept);
        scratch.cz.resize(kept);
    }
    scratch.blockOf = &nb;
    scratch.blockCell = cell;
}

// to[i] = from[i] - origin (a loop the compiler vectorises).
void subtract(const float* __restrict from, float origin, float* __restrict to, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        to[i] = from[i] - origin;
}

// A difference under 0.49 box lengths is its own minimum image. In a
// triclinic cell, a difference shorter than 0.49 times its shortest
// periodic axis length is (core/box.cpp).
struct OwnImageBounds {
    float hx = HUGE_VALF, hy = HUGE_VALF, hz = HUGE_VALF, h2 = HUGE_VALF;

    explicit OwnImageBounds(const Box& box)
    {
        const bool triclinic = box.triclinic();
        if (!triclinic) {
            hx = box.x > 0.0f ? 0.49f * box.x : HUGE_VALF;
            hy = box.y > 0.0f ? 0.49f * box.y : HUGE_VALF;
            hz = box.z > 0.0f ? 0.49f * box.z : HUGE_VALF;
            return;
        }
        float shortest = HUGE_VALF;
        for (const float length : {box.x, box.y, box.z})
            if (length > 0.0f)
                shortest = std::min(shortest, 0.49f * length);
        h2 = shortest < HUGE_VALF ? shortest * shortest : HUGE_VALF;
    }
    // The length of the difference (x, y, z), of squared length s, when it
    // is its own minimum image, else -1.
    float distance(float x, float y, float z, float s) const
    {
        const bool wraps = (static_cast<int>(std::fabs(x) >= hx) | static_cast<int>(std::fabs(y) >= hy) |
                            static_cast<int>(std::fabs(z) >= hz) | static_cast<int>(!(s < h2))) != 0;
        return wraps ? -1.0f : std::sqrt(s);
    }
};

// Whether rings r and k are near, given their difference's own-image length
// (or -1 when only a search of the images settles it).
bool nearAtImage(const RingNeighbours& nb, const RingGeometry& geo, float d, int32_t r, int32_t k, float distance)
{
    if (distance >= 0.0f)
        return d > distance;
    if (nb.box.triclinic() && !(d > triclinicImageLowerBound(geo.centRing[k], geo.centRing[r], nb.box)))
        return false; // no image comes closer than d: no search for the shortest
    return ringsNear(geo, nb.box, d, r, k);
}

} // namespace

void collectNearRings(const RingNeighbours& nb, const RingGeometry& geo, int32_t r, std::vector<int32_t>& out,
                      NearScratch& scratch, std::vector<Vec3>* offsets, std::vector<float>* lengths)
{
    out.clear();
    if (offsets)
        offsets->clear();
    if (lengths)
        lengths->clear();
    if (!(nb.nearDistance > 0.0f))
        return;
    gatherBlock(nb, nb.grid.itemCell[r], scratch);
    const std::vector<int32_t>& candidates = scratch.candidates;
    const std::size_t n = candidates.size();
    scratch.dx.resize(n);
    scratch.dy.resize(n);
    scratch.dz.resize(n);
    scratch.distance.resize(n);
    float* __restrict dx = scratch.dx.data();
    float* __restrict dy = scratch.dy.data();
    float* __restrict dz = scratch.dz.data();
    float* __restrict distance = scratch.distance.data();
    const float* cx = scratch.cx.data();
    const float* cy = scratch.cy.data();
    const float* cz = scratch.cz.data();
    const float rx = nb.cx[r], ry = nb.cy[r], rz = nb.cz[r];
    const float d = nb.nearDistance;
    // Each pair's distance at its minimum image; a pair whose image these
    // loops do not settle is marked -1 and takes the full test below.
    if (nb.shiftOnce) {
        // Every difference is within 1.4 box lengths, so its image is at
        // most one box length away: the shift of minimumImage, without
        // branches. A non-periodic axis keeps its difference (its shift is
        // multiplied by 0; a periodic one's by 1, which is exact).
        const float lx = nb.box.x > 0.0f ? nb.box.x : 1.0f, mx = nb.box.x > 0.0f ? 1.0f : 0.0f;
        const float ly = nb.box.y > 0.0f ? nb.box.y : 1.0f, my = nb.box.y > 0.0f ? 1.0f : 0.0f;
        const float lz = nb.box.z > 0.0f ? nb.box.z : 1.0f, mz = nb.box.z > 0.0f ? 1.0f : 0.0f;
        // The rounded quotient u / L reaches 1/2 exactly when u reaches L / 2
        // (which is exact): the float below L / 2 is at least 2^-25 L below
        // it, and so its quotient at most the float below 1/2. The shift is
        // taken from that comparison, without a division.
        const float hx = 0.5f * lx, hy = 0.5f * ly, hz = 0.5f * lz;
        auto shift = [](float u, float h) { return static_cast<float>(u >= h) - static_cast<float>(u <= -h); };
        subtract(cx, rx, dx, n);
        subtract(cy, ry, dy, n);
        subtract(cz, rz, dz, n);
        // Squared distances (in `distance` here); a ring is near when
        // d > sqrt(s), which needs s < d * d: the bound below lets through
        // every near ring, and the square root is taken only for those.
        const float bound = d * d * (1.0f + 0x1p-20f);
        std::vector<int32_t>& pick = scratch.pick;
        pick.resize(n);
        int32_t* __restrict picked = pick.data();
        std::size_t picks = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const float ux = dx[i], uy = dy[i], uz = dz[i];
            const float x = ux - (lx * shift(ux, hx)) * mx;
            const float y = uy - (ly * shift(uy, hy)) * my;
            const float z = uz - (lz * shift(uz, hz)) * mz;
            dx[i] = x;
            dy[i] = y;
            dz[i] = z;
            float s = x * x;
            s += y * y;
            s += z * z;
            distance[i] = s;
        }
        for (std::size_t i = 0; i < n; ++i) {
            picked[picks] = static_cast<int32_t>(i);
            picks += static_cast<std::size_t>(distance[i] < bound);
        }
        // Keep the near ones without branches.
        out.resize(picks);
        if (offsets)
            offsets->resize(picks);
        if (lengths)
            lengths->resize(picks);
        std::size_t kept = 0;
        for (std::size_t j = 0; j < picks; ++j) {
            const std::size_t i = static_cast<std::size_t>(picked[j]);
            const int32_t k = candidates[i];
            const float length = std::sqrt(distance[i]);
            out[kept] = k;
            if (offsets)
                (*offsets)[kept] = Vec3{dx[i], dy[i], dz[i]};
            if (lengths)
                (*lengths)[kept] = length;
            kept += static_cast<std::size_t>((k != r) & (d > length));
        }
        out.resize(kept);
        if (offsets)
            offsets->resize(kept);
        if (lengths)
            lengths->resize(kept);
        return;
    }
    const OwnImageBounds own(nb.box);
    for (std::size_t i = 0; i < n; ++i) {
        const float x = cx[i] - rx, y = cy[i] - ry, z = cz[i] - rz;
        float s = x * x;
        s += y * y;
        s += z * z;
        distance[i] = own.distance(x, y, z, s);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t k = candidates[i];
        if (k == r)
            continue;
        if (!nearAtImage(nb, geo, d, r, k, distance[i]))
            continue;
        out.push_back(k);
        if (offsets || lengths) {
            const Vec3 offset = minimumImage(geo.centRing[k], geo.centRing[r], nb.box);
            if (offsets)
                offsets->push_back(offset);
            if (lengths)
                lengths->push_back(norm(offset));
        }
    }
}

bool nearRingOffsetByImage(const RingNeighbours& nb, const RingGeometry& geo, int32_t r, int32_t k, Vec3& offset,
                           float& length)
{
    const float d = nb.nearDistance;
    if (k == r || !(d > 0.0f))
        return false;
    const float x = nb.cx[k] - nb.cx[r], y = nb.cy[k] - nb.cy[r], z = nb.cz[k] - nb.cz[r];
    float s = x * x;
    s += y * y;
    s += z * z;
    if (!nearAtImage(nb, geo, d, r, k, OwnImageBounds(nb.box).distance(x, y, z, s)))
        return false;
    offset = minimumImage(geo.centRing[k], geo.centRing[r], nb.box);
    length = norm(offset);
    return true;
}

void nearRingsOf(const RingNeighbours& nb, const RingGeometry& geo, int32_t r, std::vector<int32_t>& out)
{
    NearScratch scratch;
    collectNearRings(nb, geo, r, out, scratch);
    std::sort(out.begin(), out.end());
}

int nearRingCode(const RingSearch& rings, const RingGeometry& geo, const Network& net, const RingNeighbours& nb,
                 int32_t i, int32_t j)
{
    if (i == j || !ringsNear(geo, nb.box, nb.nearDistance, i, j))
        return 0;
    if (i > j)
        std::swap(i, j);
    return commonNodeCode(rings.ringList[i], rings.ringList[j], net);
}

} // namespace kavet
