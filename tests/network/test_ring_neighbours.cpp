// Ring neighbours: the codes of ring pairs (not near, near, common node,
// shared bond), and the sparse neighbour structure against a plain table over
// all pairs of rings.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "network/ring_neighbours.h"
#include "support/support.h"

namespace kavet {
namespace {

using test::networkFromBonds;
using Rings = OffsetArray;

struct Neighbours {
    RingSearch rings;
    RingGeometry geo;
    Network net;
    RingNeighbours nb;
    int code(int32_t i, int32_t j) const { return nearRingCode(rings, geo, net, nb, i, j); }
};

Neighbours neighbours(const Network& net, const Rings& rings, const std::vector<Vec3>& centres, Box box,
                      int32_t ringMax = 7, float hbDistance = 3.5f)
{
    Neighbours n{{rings, 0}, {}, net, {}};
    n.geo.centRing = centres;
    findRingNeighbours(n.rings, n.geo, n.net, box, ringMax, hbDistance, n.nb);
    return n;
}

// Plain transcription of the full R x R table of codes, compared with the
// codes, the near lists and the shared-bond lists of the sparse structure.
void expectSameAsPlainTable(const Neighbours& n, Box box, int32_t ringMax, float hbDistance)
{
    const Rings& rl = n.rings.ringList;
    const int32_t numRing = static_cast<int32_t>(rl.size());
    const float d = static_cast<float>(ringMax) * (hbDistance * 0.5f);
    std::vector<std::vector<int>> code(numRing, std::vector<int>(numRing, 0));
    for (int32_t i = 0; i < numRing; ++i) {
        for (int32_t j = i + 1; j < numRing; ++j) {
            if (!(d > norm(minimumImage(n.geo.centRing[j], n.geo.centRing[i], box))))
                continue;
            std::vector<int32_t> common;
            for (int32_t a : rl[j])
                if (std::find(rl[i].begin(), rl[i].end(), a) != rl[i].end())
                    common.push_back(a);
            code[i][j] = code[j][i] = common.empty() ? 1 : common.size() == 2 && n.net.isEdge(common[0], common[1]) ? 3 : 2;
        }
    }
    ASSERT_EQ(n.nb.edge.rows(), rl.size());
    std::vector<int32_t> got;
    for (int32_t i = 0; i < numRing; ++i) {
        std::vector<int32_t> near, shared;
        for (int32_t j = 0; j < numRing; ++j) {
            ASSERT_EQ(n.code(i, j), code[i][j]) << i << " " << j;
            if (code[i][j] != 0)
                near.push_back(j);
            if (code[i][j] == 3)
                shared.push_back(j);
        }
        nearRingsOf(n.nb, n.geo, i, got);
        EXPECT_EQ(got, near) << i;
        // The offsets and lengths handed on with the near rings.
        std::vector<Vec3> offsets;
        std::vector<float> lengths;
        NearScratch scratch;
        collectNearRings(n.nb, n.geo, i, got, scratch, &offsets, &lengths);
        for (std::size_t k = 0; k < got.size(); ++k) {
            const Vec3 o = minimumImage(n.geo.centRing[got[k]], n.geo.centRing[i], box);
            ASSERT_TRUE(offsets[k].x == o.x && offsets[k].y == o.y && offsets[k].z == o.z && lengths[k] == norm(o))
                << i << " " << got[k];
        }
        // The same pairs, offsets and lengths one pair at a time.
        for (int32_t j = 0; j < numRing; ++j) {
            const auto at = std::find(got.begin(), got.end(), j);
            Vec3 o;
            float l = -1.0f;
            ASSERT_EQ(nearRingOffset(n.nb, n.geo, i, j, o, l), at != got.end()) << i << " " << j;
            if (at != got.end()) {
                const std::size_t k = static_cast<std::size_t>(at - got.begin());
                ASSERT_TRUE(offsets[k].x == o.x && offsets[k].y == o.y && offsets[k].z == o.z && lengths[k] == l)
                    << i << " " << j;
            }
        }
        EXPECT_EQ(std::vector<int32_t>(n.nb.edge.begin(i), n.nb.edge.end(i)), shared) << i;
    }
}

TEST(RingNeighbours, CodesTellSharedBondFromSharedNodesAndNoCommonNode)
{
    const Network net = networkFromBonds(14, {{0, 1}, {1, 2}, {2, 3}, {0, 3}, {2, 4}, {3, 5}, {4, 5}, {0, 6}, {6, 7}, {0, 7},
                                              {1, 8}, {3, 8}, {10, 11}, {11, 12}, {10, 12}, {0, 9}, {2, 9}, {2, 13}, {0, 13}});
    const Rings rings{{0, 1, 2, 3},   // A
                      {2, 3, 5, 4},   // B: bond 2-3 with A
                      {0, 6, 7},      // C: node 0 with A
                      {1, 2, 3, 8},   // D: path 1-2-3 with A
                      {10, 11, 12},   // E: nothing in common
                      {0, 9, 2, 13}}; // F: nodes 0 and 2 with A, not bonded
    std::vector<Vec3> centres;
    for (int k = 0; k < 6; ++k)
        centres.push_back({5.0f + k, 5, 5});
    const Neighbours n = neighbours(net, rings, centres, {30, 30, 30});
    const int expected[6] = {0, 3, 2, 2, 1, 2};
    for (int32_t j = 0; j < 6; ++j) {
        EXPECT_EQ(n.code(0, j), expected[j]) << j;
        EXPECT_EQ(n.code(j, 0), expected[j]) << j;
    }
    expectSameAsPlainTable(n, {30, 30, 30}, 7, 3.5f);
}

TEST(RingNeighbours, NearnessByMinimumImageDistanceOfCentres)
{
    const Network net = networkFromBonds(6, {{0, 1}, {1, 2}, {0, 2}, {1, 3}, {2, 3}});
    const Rings rings{{0, 1, 2}, {1, 2, 3}};
    ASSERT_EQ(nearDistance(7, 3.5f), 12.25f);
    for (float x : {13.25f, std::nextafter(13.25f, 0.0f)}) { // exactly 12.25 apart, and just less
        const Neighbours n = neighbours(net, rings, {{1, 1, 1}, {x, 1, 1}}, {40, 40, 40});
        EXPECT_EQ(n.code(0, 1), x < 13.25f ? 3 : 0) << x;
        expectSameAsPlainTable(n, {40, 40, 40}, 7, 3.5f);
    }
    const std::vector<Vec3> centres{{1, 5, 5}, {27, 5, 5}}; // 26 apart raw, 2 through x = 0
    const Neighbours periodic = neighbours(net, rings, centres, {28, 28, 28});
    EXPECT_EQ(periodic.code(1, 0), 3);
    expectSameAsPlainTable(periodic, {28, 28, 28}, 7, 3.5f);
    EXPECT_EQ(neighbours(net, rings, centres, {0, 28, 28}).code(1, 0), 0);
}

TEST(RingNeighbours, SparseStructureMatchesFullTable)
{
    // Rings of dense random networks with random centres over [-0.5 L, 1.5 L)
    // (or [0, 60) along an axis of length 0).
    struct Case {
        Box box;
        int32_t ringMax;
        float hbDistance;
    };
    unsigned seed = 11;
    for (const Case& c : {Case{{60, 50, 55}, 7, 3.5f}, Case{{20, 18, 22}, 7, 3.5f}, Case{{45, 0, 40}, 5, 3.0f}, Case{{0, 0, 0}, 6, 3.0f}}) {
        SCOPED_TRACE(seed);
        std::mt19937 gen(seed++);
        std::bernoulli_distribution bond(0.2);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        std::vector<std::pair<int32_t, int32_t>> bonds;
        for (int32_t a = 0; a < 22; ++a)
            for (int32_t b = a + 1; b < 22; ++b)
                if (bond(gen))
                    bonds.push_back({a, b});
        const Network net = networkFromBonds(22, bonds);
        RingSearch found;
        findAllRings(net, 4, 7, found);
        ASSERT_GT(found.ringList.size(), 20u);
        auto coord = [&](float l) { return l > 0 ? (2 * unit(gen) - 0.5f) * l : 60 * unit(gen); };
        std::vector<Vec3> centres;
        for (std::size_t r = 0; r < found.ringList.size(); ++r)
            centres.push_back({coord(c.box.x), coord(c.box.y), coord(c.box.z)});
        expectSameAsPlainTable(neighbours(net, found.ringList, centres, c.box, c.ringMax, c.hbDistance), c.box, c.ringMax, c.hbDistance);
        // Centres within [-0.2 L, 1.2 L), some half a box length apart or a
        // hair less or more: the ties of the periodic image.
        if (c.box.x > 0 && c.box.y > 0 && c.box.z > 0) {
            auto tie = [&](float l) {
                const float h = 0.5f * l, at[] = {0.0f, h, std::nextafter(h, 0.0f), std::nextafter(h, l), 0.25f * l, l - 0.01f};
                return gen() % 2 ? at[gen() % 6] : (1.4f * unit(gen) - 0.2f) * l;
            };
            for (Vec3& x : centres)
                x = {tie(c.box.x), tie(c.box.y), tie(c.box.z)};
            expectSameAsPlainTable(neighbours(net, found.ringList, centres, c.box, c.ringMax, c.hbDistance), c.box, c.ringMax, c.hbDistance);
        }
    }

    // The fitted rings of a hydrate lattice.
    const Frame atoms = parseConfiguration(
        test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1", "--seed", "3"}), "sI.gro", "SOL", "OW");
    Neighbours n{{}, {}, {}, {}};
    initNetwork(atoms, n.net);
    findBonds(atoms, 3.5f, 30.0f, n.net);
    pruneEdges(n.net);
    findAllRings(n.net, 4, 6, n.rings);
    const std::size_t numRing = n.rings.ringList.size();
    n.geo.numNode.assign(numRing, 0);
    n.geo.distRing.assign(numRing, 0.0f);
    n.geo.centRing.assign(numRing, Vec3{});
    n.geo.normRing.assign(numRing, Vec3{});
    fitRings(atoms, 100.0f, n.rings, n.geo);
    for (int32_t ringMax : {2, 6}) {
        findRingNeighbours(n.rings, n.geo, n.net, atoms.box, ringMax, 3.5f, n.nb);
        expectSameAsPlainTable(n, atoms.box, ringMax, 3.5f);
    }
    EXPECT_GT(n.nb.edge.item.size(), numRing);
}

} // namespace
} // namespace kavet
