// The cell list's contract: every pair of binned points closer than the
// search radius (by the minimum image on periodic axes) is visited by
// forEachNear, for random points, periodic and open axes, triclinic cells
// (sheared to GROMACS's limits, and one whose b has no periodic axis), radii
// just under and at the cell width, and both reaches. A brute-force scan is
// the twin.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>

#include "core/cell_grid.h"
#include "core/neighbours.h"

namespace kavet {
namespace {

TEST(CellGrid, VisitsEveryPairCloserThanTheRadius)
{
    const Box boxes[] = {{20.0f, 17.0f, 23.0f},
                         {20.0f, 0.0f, 12.0f},
                         {0.0f, 0.0f, 0.0f},
                         {7.5f, 30.0f, 9.0f},
                         {20.0f, 17.0f, 23.0f, 10.0f, -10.0f, 8.5f},
                         {30.0f, 12.0f, 25.0f, -6.0f, 15.0f, 6.0f},
                         {20.0f, 0.0f, 12.0f, 5.0f, 0.0f, 0.0f}};
    long long pairs = 0;
    for (unsigned seed = 1; seed <= 14; ++seed) {
        std::mt19937 rng(seed);
        const Box box = boxes[seed % 7];
        const int reach = 1 + static_cast<int>(seed % 2);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        auto coord = [&](float length) { return length > 0.0f ? (unit(rng) * 1.2f - 0.1f) * length : unit(rng) * 25.0f; };
        std::vector<Vec3> pos(1500);
        for (Vec3& p : pos)
            p = {coord(box.x), coord(box.y), coord(box.z)};
        std::vector<int32_t> items;
        for (int32_t i = 0; i < static_cast<int32_t>(pos.size()); i += 1 + static_cast<int32_t>(seed % 3))
            items.push_back(i);
        // Radii at the cell width a periodic axis gets, and just under it.
        for (const float radius : {3.5f, 2.2f, std::nextafter(3.0f, 0.0f)}) {
            const CellGrid grid = buildCellGrid(pos, items, box, radius, reach);
            std::vector<int32_t> cells, seen;
            for (int32_t i : items) {
                seen.clear();
                forEachNear(grid, i, cells, [&](int32_t j) { seen.push_back(j); });
                std::sort(seen.begin(), seen.end());
                ASSERT_TRUE(std::adjacent_find(seen.begin(), seen.end()) == seen.end()) << "a point visited twice";
                for (int32_t j : items) {
                    if (!(norm(minimumImage(pos[j], pos[i], box)) < radius))
                        continue;
                    ++pairs;
                    ASSERT_TRUE(std::binary_search(seen.begin(), seen.end(), j))
                        << "seed " << seed << " radius " << radius << ": pair " << i << "-" << j << " missed";
                }
            }
        }
    }
    EXPECT_GT(pairs, 100000);
}

} // namespace
} // namespace kavet

namespace kavet {
namespace {

// The neighbour list against an all-pairs scan: the same pairs i < j, each
// with the same vector and distance, for periodic, open and triclinic cells.
TEST(NeighbourList, HoldsEveryPairBelowTheCutOffWithItsVectorAndDistance)
{
    const Box boxes[] = {{20.0f, 17.0f, 23.0f}, {20.0f, 0.0f, 12.0f}, {30.0f, 12.0f, 25.0f, -6.0f, 15.0f, 6.0f}};
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 rng(seed);
        const Box box = boxes[seed % 3];
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        auto coord = [&](float length) { return length > 0.0f ? (unit(rng) * 1.2f - 0.1f) * length : unit(rng) * 25.0f; };
        std::vector<Vec3> pos(3000);
        for (Vec3& p : pos)
            p = {coord(box.x), coord(box.y), coord(box.z)};
        std::vector<int32_t> items;
        for (int32_t i = 0; i < static_cast<int32_t>(pos.size()); i += 1 + static_cast<int32_t>(seed % 2))
            items.push_back(i);
        const float cutoff = 3.5f;
        const NeighbourList nl = buildNeighbourList(pos, items, box, cutoff);
        ASSERT_EQ(nl.other.rows(), items.size());
        ASSERT_EQ(nl.vec.size(), nl.other.item.size());
        ASSERT_EQ(nl.dist.size(), nl.other.item.size());
        for (std::size_t k = 0; k < items.size(); ++k) {
            const int32_t i = items[k];
            std::vector<int32_t> listed(nl.other[k].begin(), nl.other[k].end());
            std::vector<int32_t> expected;
            for (int32_t j : items)
                if (j > i && norm(minimumImage(pos[j], pos[i], box)) < cutoff)
                    expected.push_back(j);
            std::sort(listed.begin(), listed.end());
            ASSERT_EQ(listed, expected) << "seed " << seed << " point " << i;
            for (int64_t p = nl.other.start[k]; p < nl.other.start[k + 1]; ++p) {
                const Vec3 d = minimumImage(pos[nl.other.item[p]], pos[i], box);
                ASSERT_TRUE(d.x == nl.vec[p].x && d.y == nl.vec[p].y && d.z == nl.vec[p].z);
                ASSERT_EQ(nl.dist[p], norm(d));
            }
        }
        // Searched from the first items only (across a run boundary): their
        // rows as before, the rest empty.
        const std::size_t queries = 1100 + seed;
        const NeighbourList some = buildNeighbourList(pos, items, box, cutoff, queries);
        ASSERT_EQ(some.other.rows(), items.size());
        for (std::size_t k = 0; k < items.size(); ++k)
            ASSERT_TRUE(std::ranges::equal(some.other[k], k < queries ? nl.other[k] : std::span<const int32_t>()))
                << "seed " << seed << " item " << k;
        ASSERT_EQ(some.dist.size(), static_cast<std::size_t>(nl.other.start[queries]));
    }
    EXPECT_TRUE(buildNeighbourList({}, {}, Box{10, 10, 10}, 3.5f).other.item.empty());
}

} // namespace
} // namespace kavet
