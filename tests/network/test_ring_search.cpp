// Ring search: the indexed depth-first search against a plain transcription
// that scans the whole bond list on every call, and small networks whose
// rings and call counts are known by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "network/ring_search.h"
#include "support/support.h"

namespace kavet {
namespace {

using test::networkFromBonds;
using Rings = std::vector<std::vector<int32_t>>;

// Plain transcription: every call scans edgeList from the first to the
// second-to-last bond.
struct PlainRingSearch {
    const Network& net;
    int32_t maximum;
    Rings ringList{};
    int32_t iter = 0;

    void findNewCycle(std::vector<int32_t> path)
    {
        ++iter;
        const std::size_t n = path.size();
        if (!(static_cast<int32_t>(n) < maximum))
            return;
        const std::vector<int32_t>& e = net.edgeList;
        for (std::size_t k = 0; k + 1 < e.size() / 2; ++k) {
            const int32_t a = e[2 * k], b = e[2 * k + 1];
            int32_t next;
            if (a < 0 || b < 0)
                continue;
            if (a == path[n - 1] && b != path[n - 2])
                next = b;
            else if (b == path[n - 1] && a != path[n - 2])
                next = a;
            else
                continue;
            bool skip = std::find(path.begin(), path.end(), next) != path.end();
            for (std::size_t q = 1; q + 1 < n; ++q)
                skip = skip || net.isEdge(next, path[q]);
            if (skip)
                continue;
            std::vector<int32_t> longer = path;
            longer.push_back(next);
            if (!net.isEdge(next, path[0])) {
                findNewCycle(longer);
                continue;
            }
            std::rotate(longer.begin(), std::min_element(longer.begin(), longer.end()), longer.end());
            if (longer.back() < longer[1])
                std::reverse(longer.begin() + 1, longer.end());
            bool known = false;
            for (const auto& r : ringList)
                known = known || (r.size() == longer.size() && r == longer);
            if (!known)
                ringList.push_back(longer);
        }
    }
};

RingSearch ringsOf(const Network& net, int32_t maximum, int32_t minimum = 4)
{
    RingSearch rs;
    findAllRings(net, minimum, maximum, rs);
    return rs;
}

void expectSameAsPlainSearch(const Network& net, int32_t maximum)
{
    PlainRingSearch plain{net, maximum};
    for (std::size_t k = 0; k + 1 < net.edgeList.size(); k += 2)
        plain.findNewCycle({net.edgeList[k], net.edgeList[k + 1]});
    const RingSearch rs = ringsOf(net, maximum);
    EXPECT_EQ(rs.iter, plain.iter) << maximum;
    EXPECT_EQ(rs.ringList, plain.ringList) << maximum;
    RingSearch once;
    findAllRings(net, 4, maximum, once, RingWalk::Once);
    EXPECT_EQ(once.ringList, plain.ringList) << maximum;
}

TEST(RingSearch, IndexedSearchMatchesFullBondScan)
{
    // Dense random networks on every third atom, bonds in list order or
    // shuffled, with or without their dangling bonds.
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 gen(seed);
        std::bernoulli_distribution bond(0.14 + 0.02 * (seed % 4));
        const int nodes = 14 + seed % 9;
        std::vector<std::pair<int32_t, int32_t>> bonds;
        for (int a = 0; a < nodes; ++a)
            for (int b = a + 1; b < nodes; ++b)
                if (bond(gen))
                    bonds.push_back({3 * a, 3 * b});
        if (seed % 3 == 0)
            std::shuffle(bonds.begin(), bonds.end(), gen);
        Network net = networkFromBonds(3 * nodes, bonds);
        if (seed % 2 == 0)
            pruneEdges(net);
        for (int32_t maximum : {3, 5, 7, 8})
            expectSameAsPlainSearch(net, maximum);
    }
    // A pentagon whose earliest bond is (3, 4) is met first from (0, 1) (from
    // (3, 4) the last bond would extend the path), before or after the
    // square that bond starts.
    for (bool pentagonFirst : {true, false}) {
        std::vector<std::pair<int32_t, int32_t>> bonds{{3, 4}, {0, 1}, {1, 5}, {5, 6}, {0, 6}, {1, 2}, {2, 3}, {0, 4}};
        if (pentagonFirst)
            std::rotate(bonds.begin() + 2, bonds.begin() + 5, bonds.begin() + 6);
        expectSameAsPlainSearch(networkFromBonds(7, bonds), 7);
    }
    for (auto args : {std::vector<std::string>{"--structure", "sI", "--displace", "0.1", "--seed", "3"},
                      std::vector<std::string>{"--structure", "ice", "--cells", "3", "2", "2", "--shuffle"}}) {
        const Frame atoms = parseConfiguration(test::latticeGro(args), "lattice.gro", "SOL", "OW");
        Network net;
        initNetwork(atoms, net);
        findBonds(atoms, 3.5f, 30.0f, net);
        pruneEdges(net);
        expectSameAsPlainSearch(net, 7);
    }
}

TEST(RingSearch, SmallNetworksGiveKnownRingsAndCallCounts)
{
    // The lone hexagon is found only from its last bond, which never extends a path.
    const Network hexagon = networkFromBonds(6, {{0, 1}, {0, 5}, {1, 2}, {2, 3}, {3, 4}, {4, 5}});
    const RingSearch six = ringsOf(hexagon, 7);
    EXPECT_EQ(six.iter, 15);
    EXPECT_EQ(six.ringList, (Rings{{0, 1, 2, 3, 4, 5}}));
    const RingSearch tiny = ringsOf(hexagon, 2);
    EXPECT_EQ(tiny.iter, 6);
    EXPECT_TRUE(tiny.ringList.empty());

    EXPECT_EQ(ringsOf(networkFromBonds(4, {}), 7).iter, 0);
    const RingSearch one = ringsOf(networkFromBonds(4, {{1, 2}}), 7);
    EXPECT_EQ(one.iter, 1);
    EXPECT_TRUE(one.ringList.empty());

    // A square with a diagonal: two triangles, kept although below the minimum.
    EXPECT_EQ(ringsOf(networkFromBonds(4, {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {2, 3}}), 7, 4).ringList,
              (Rings{{0, 1, 2}, {0, 2, 3}}));

    for (std::vector<int32_t> ring : Rings{{9, 4, 7, 2}, {4, 9, 2, 7}, {7, 2, 9, 4}}) {
        canonicalRing(ring);
        EXPECT_EQ(ring, (std::vector<int32_t>{2, 7, 4, 9}));
    }
}

TEST(RingSearch, RingsUpToTheMaximumSizeOnly)
{
    for (int32_t size : {3, 5, 8}) {
        std::vector<std::pair<int32_t, int32_t>> cycle{{0, 3 * (size - 1)}};
        for (int32_t k = 0; k + 1 < size; ++k)
            cycle.push_back({3 * k, 3 * k + 3});
        std::sort(cycle.begin(), cycle.end());
        const Network net = networkFromBonds(3 * size, cycle);
        EXPECT_EQ(ringsOf(net, size).ringList.size(), 1u) << size;
        EXPECT_EQ(ringsOf(net, size - 1).ringList.size(), 0u) << size;
    }
}

} // namespace
} // namespace kavet
