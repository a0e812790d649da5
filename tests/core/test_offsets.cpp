// OffsetArray against a vector of vectors kept beside it: random rows
// (empty ones among them) appended and packed, rows kept by random flags,
// rows rewritten in place, each step compared row by row and through the
// row iterator.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "core/offsets.h"

namespace kavet {
namespace {

void expectSame(const OffsetArray& a, const std::vector<std::vector<int32_t>>& twin)
{
    ASSERT_EQ(a.rows(), twin.size());
    ASSERT_EQ(a.start.front(), 0);
    ASSERT_EQ(static_cast<std::size_t>(a.start.back()), a.item.size());
    std::size_t r = 0;
    for (const std::span<const int32_t> row : a) {
        ASSERT_TRUE(std::ranges::equal(row, twin[r])) << "row " << r;
        ASSERT_EQ(a.size(r), static_cast<int32_t>(twin[r].size()));
        ++r;
    }
    ASSERT_EQ(r, twin.size());
    ASSERT_EQ(a.toVectors(), twin);
}

TEST(OffsetArray, FollowsAVectorOfVectors)
{
    std::mt19937 rng(5);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    for (int round = 0; round < 200; ++round) {
        std::vector<std::vector<int32_t>> twin(static_cast<std::size_t>(pick(round < 5 ? 2 : 700)));
        for (auto& row : twin) {
            row.resize(static_cast<std::size_t>(pick(4) == 0 ? 0 : pick(12)));
            for (int32_t& v : row)
                v = pick(1000) - 100;
        }
        OffsetArray packed, appended;
        packed.pack(twin);
        for (const auto& row : twin)
            appended.append(row);
        expectSame(packed, twin);
        ASSERT_EQ(packed, appended);
        ASSERT_EQ(OffsetArray(twin), packed);

        // Keep some rows, then rewrite the kept rows in place.
        std::vector<uint8_t> keep(twin.size());
        const int share = pick(5);
        for (auto& k : keep)
            k = pick(4) < share ? 1 : 0;
        std::vector<std::vector<int32_t>> kept;
        for (std::size_t r = 0; r < twin.size(); ++r)
            if (keep[r])
                kept.push_back(twin[r]);
        ASSERT_EQ(packed.keepRows(keep), kept.size());
        expectSame(packed, kept);
        for (std::size_t r = 0; r < kept.size(); ++r) {
            std::ranges::reverse(packed.row(r));
            std::ranges::reverse(kept[r]);
        }
        expectSame(packed, kept);
        packed.clear();
        expectSame(packed, {});
    }
}

} // namespace
} // namespace kavet
