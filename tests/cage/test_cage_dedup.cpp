// Removal of repeated and contained cages, and their classification by
// vertices, edges, faces and face sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/ring_stage.h"
#include "support/support.h"

namespace kavet::test {
namespace {

// The pairwise procedure on sorted copies with removal marks.
void plainDeduplicate(CageSearch& search)
{
    struct {
        std::vector<std::vector<int32_t>> cageList;
        std::vector<int32_t>& cageNorm;
    } c{search.cageList.toVectors(), search.cageNorm};
    const std::size_t n = c.cageList.size();
    auto mark = [&](std::size_t e) {
        c.cageList[e] = {-1};
        c.cageNorm[e] = 0;
    };
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<int32_t> S = c.cageList[i];
        if (S[0] < 0)
            continue;
        std::sort(S.begin(), S.end());
        for (std::size_t j = i + 1; j < n; ++j) {
            std::vector<int32_t> T = c.cageList[j];
            if (T[0] < 0)
                continue;
            std::sort(T.begin(), T.end());
            if (S.size() >= T.size()) {
                if (std::includes(S.begin(), S.end(), T.begin(), T.end()))
                    mark(j);
            } else if (std::includes(T.begin(), T.end(), S.begin(), S.end())) {
                mark(i);
            }
        }
    }
    std::erase(c.cageList, std::vector<int32_t>{-1});
    std::erase(c.cageNorm, 0);
    search.cageList = c.cageList;
}

// Entries over a few rings: fresh sets, reorderings, subsets and supersets
// of earlier entries.
CageSearch randomEntries(std::mt19937& random)
{
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    CageSearch c;
    const int count = 2 + pick(40);
    for (int e = 0; e < count; ++e) {
        std::vector<int32_t> entry;
        const int kind = e == 0 ? 0 : pick(4);
        if (kind == 0) {
            std::vector<int32_t> rings{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
            std::shuffle(rings.begin(), rings.end(), random);
            entry.assign(rings.begin(), rings.begin() + 1 + pick(6));
        } else {
            const std::span<const int32_t> earlier = c.cageList[pick(e)];
            entry.assign(earlier.begin(), earlier.end());
            std::shuffle(entry.begin(), entry.end(), random);
            if (kind == 2 && entry.size() > 1)
                entry.resize(1 + pick(static_cast<int>(entry.size()) - 1));
            for (int32_t r = 0; kind == 3 && r < 10; ++r)
                if (std::find(entry.begin(), entry.end(), r) == entry.end()) {
                    entry.push_back(r);
                    break;
                }
        }
        c.cageList.append(entry);
        c.cageNorm.push_back(pick(2) ? 1 : -1);
    }
    return c;
}

TEST(CageDeduplication, equalsThePairwiseProcedureOnRandomEntries)
{
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round) {
        CageSearch fast = randomEntries(random), plain = fast;
        deduplicateCages(fast);
        plainDeduplicate(plain);
        ASSERT_EQ(fast.cageList, plain.cageList) << "round " << round;
        ASSERT_EQ(fast.cageNorm, plain.cageNorm) << "round " << round;
    }
}

TEST(CageDeduplication, keepsTheLowerCopyTheLargerSetAndOverlaps)
{
    // Same set in another order: the lower position keeps its order and sign.
    CageSearch same{{{4}, {2, 1, 3}, {1, 3, 2}}, {1, -1, 1}};
    deduplicateCages(same);
    EXPECT_EQ(same.cageList, (std::vector<std::vector<int32_t>>{{4}, {2, 1, 3}}));
    EXPECT_EQ(same.cageNorm, (std::vector<int32_t>{1, -1}));
    // A subset at the lower position goes; so do the later subsets of the
    // entry that was found to be contained.
    CageSearch part{{{1, 2}, {2, 1, 3, 5}, {2}, {5, 3}}, {1, -1, 1, -1}};
    deduplicateCages(part);
    EXPECT_EQ(part.cageList, (std::vector<std::vector<int32_t>>{{2, 1, 3, 5}}));
    EXPECT_EQ(part.cageNorm, (std::vector<int32_t>{-1}));
    CageSearch overlap{{{1, 2, 3}, {3, 4, 5}, {3}}, {1, 1, -1}};
    deduplicateCages(overlap);
    EXPECT_EQ(overlap.cageList, (std::vector<std::vector<int32_t>>{{1, 2, 3}, {3, 4, 5}}));
}

// Classifies `cages` over rings whose edges, with `extraBonds`, are the bonds.
CageClasses classified(const std::vector<std::vector<int32_t>>& ringList, const std::vector<std::vector<int32_t>>& cages,
                       std::vector<std::pair<int32_t, int32_t>> bonds, int32_t ringMin, int32_t ringMax)
{
    RingSearch rings{ringList, 0};
    std::vector<int8_t> numNode;
    for (const auto& r : ringList) {
        numNode.push_back(static_cast<int8_t>(r.size()));
        for (std::size_t k = 0; k < r.size(); ++k)
            bonds.emplace_back(r[k], r[(k + 1) % r.size()]);
    }
    std::vector<std::vector<int32_t>> adj(12);
    for (auto [a, b] : bonds) {
        adj[a].push_back(b);
        adj[b].push_back(a);
    }
    Network net;
    net.adjStart.push_back(0);
    for (auto& list : adj) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        net.adjNode.insert(net.adjNode.end(), list.begin(), list.end());
        net.adjStart.push_back(static_cast<int32_t>(net.adjNode.size()));
        net.degree.push_back(static_cast<int32_t>(list.size()));
    }
    CageClasses classes;
    classifyCages(CageSearch{cages, std::vector<int32_t>(cages.size(), 1)}, rings, numNode, net, ringMin, ringMax,
                  classes);
    return classes;
}

using VEF = std::array<float, 4>;

TEST(CageClassification, countsVerticesEdgesFacesAndSizesInRange)
{
    // Two pentagons sharing the bond 0-1, a triangle and a square sharing 0-1.
    const std::vector<std::vector<int32_t>> rings{{0, 1, 2, 3, 4}, {1, 0, 5, 6, 7}, {0, 1, 8}, {0, 1, 9, 10}};
    CageClasses two = classified(rings, {{1, 0}, {2, 3}, {2}}, {}, 4, 7);
    EXPECT_EQ(two.cageVEF, (std::vector<VEF>{{8, 9, 2, 1}, {5, 6, 2, 1}, {3, 3, 1, 1}}));
    EXPECT_EQ(two.cageType, (std::vector<std::string>{"5^2", "4^1", ""}));
    EXPECT_EQ(censusText(two.cageCensus), "  :1  4^1:1  5^2:1");
    EXPECT_EQ(classified(rings, {{2, 3}}, {}, 3, 7).cageType, std::vector<std::string>{"3^1-4^1"});
    // A bond across the cage that is no ring edge raises E.
    CageClasses bridged = classified(rings, {{0, 1}}, {{2, 6}, {3, 11}}, 4, 7);
    EXPECT_EQ(bridged.cageVEF, (std::vector<VEF>{{8, 10, 2, 0}}));
    // No size in range: the empty type.
    CageClasses none = classified(rings, {{0, 1}, {3}}, {}, 6, 5);
    EXPECT_EQ(none.cageType, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(censusText(none.cageCensus), "  :2");
}

TEST(CageClassification, censusListsTypesInByteOrder)
{
    const std::map<std::string, int32_t> census{{"5^12-6^4", 1}, {"5^12", 10}, {"4^1-5^10-6^2", 2}, {"5^12-6^2", 4}};
    EXPECT_EQ(censusText(census), "  4^1-5^10-6^2:2  5^12:10  5^12-6^2:4  5^12-6^4:1");
}

TEST(CageClassification, lonelyRingLeavesItsPlusSideAsAOneFaceEntry)
{
    const RingStage s = ringStage(atomsFromWaters(hexagonOfWaters(), Box{30.0f, 30.0f, 30.0f}));
    ASSERT_EQ(s.numRing, 1);
    CageSearch cages = assembledCages(s);
    EXPECT_EQ(cages.cageList, (std::vector<std::vector<int32_t>>{{0}, {0}}));
    EXPECT_EQ(cages.cageNorm, (std::vector<int32_t>{1, -1}));
    deduplicateCages(cages);
    EXPECT_EQ(cages.cageNorm, std::vector<int32_t>{1});
    CageClasses classes;
    classifyCages(cages, s.rings, s.geo.numNode, s.net, 4, 7, classes);
    EXPECT_EQ(classes.cageVEF, (std::vector<VEF>{{6, 6, 1, 1}}));
    EXPECT_EQ(censusText(classes.cageCensus), "  6^1:1");
}

} // namespace
} // namespace kavet::test
