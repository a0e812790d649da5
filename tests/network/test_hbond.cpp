// Hydrogen-bond network: the cell-list search against a plain all-pairs scan,
// the strict distance and angle limits, periodic images and the pruning of
// dangling bonds.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "network/hbond.h"
#include "support/support.h"

namespace kavet {
namespace {

using test::atomsFromWaters;
using test::Water;
using test::waterPointingAt;
using Edges = std::vector<int32_t>;

// Plain transcription of the bond search: every selected pair in index order.
Edges allPairsBonds(const Frame& t, float hbDistance, float hbAngle)
{
    const float c = static_cast<float>(std::cos(static_cast<double>(hbAngle) * M_PI / 180.0));
    auto donates = [&](int32_t w, Vec3 toOther, float lim) {
        if (w + 2 >= t.topology().atomCount)
            return false;
        const Vec3 u1 = minimumImage(t.positions[w + 1], t.positions[w], t.box);
        const Vec3 u2 = minimumImage(t.positions[w + 2], t.positions[w], t.box);
        return dot(u1, toOther) > norm(u1) * lim || dot(u2, toOther) > norm(u2) * lim;
    };
    Edges edges;
    for (int32_t i = 0; i < t.topology().atomCount; ++i) {
        for (int32_t j = i + 1; j < t.topology().atomCount && t.topology().isWaterOxygen[i]; ++j) {
            const Vec3 d = minimumImage(t.positions[j], t.positions[i], t.box);
            const float r = norm(d);
            if (!t.topology().isWaterOxygen[j] || !(r < hbDistance))
                continue;
            if (donates(i, d, c * r) || donates(j, minimumImage(t.positions[i], t.positions[j], t.box), c * r)) {
                edges.push_back(i);
                edges.push_back(j);
            }
        }
    }
    return edges;
}

Network bondsOf(const Frame& t, float hbDistance = 3.5f, float hbAngle = 30.0f)
{
    Network net;
    initNetwork(t, net);
    findBonds(t, hbDistance, hbAngle, net);
    return net;
}

void appendOxygen(Frame& t, Vec3 o)
{
    t.positions.push_back(o);
    t.editTopology().isWaterOxygen.push_back(1);
    t.editTopology().residue.push_back("9SOL");
    t.editTopology().atomName.push_back("OW");
    ++t.editTopology().atomCount;
    indexWaters(t.editTopology());
}

// Waters over [-0.5 L, 1.5 L) (or [0, 20) along an axis of length <= 0) with
// random hydrogen directions, some hydrogens wrapped into the box, every
// seventh oxygen unselected, and a selected oxygen at the very end.
Frame randomWaters(unsigned seed, Box box, float hbAngle)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    auto extent = [](float l) { return l > 0.0f ? l : 20.0f; };
    auto coord = [&](float l) { return l > 0.0f ? (unit(gen) * 2.0f - 0.5f) * l : unit(gen) * 20.0f; };
    const int count = static_cast<int>(extent(box.x) * extent(box.y) * extent(box.z) * (hbAngle < 45 ? 1 / 25.0f : 1 / 50.0f));
    std::vector<Water> waters;
    for (int k = 0; k < count; ++k) {
        const Vec3 o{coord(box.x), coord(box.y), coord(box.z)};
        waters.push_back(waterPointingAt(o, o + Vec3{gauss(gen), gauss(gen), gauss(gen)}, o + Vec3{gauss(gen), gauss(gen), gauss(gen)}));
        if (k % 3 == 1 && box.x > 0)
            waters.back().h1.x = std::fmod(std::fmod(waters.back().h1.x, box.x) + box.x, box.x);
    }
    Frame t = atomsFromWaters(waters, box);
    for (int k = 0; k < count; k += 7)
        t.editTopology().isWaterOxygen[3 * k] = 0;
    appendOxygen(t, waters[0].o + Vec3{1.4f, 1.4f, 1.4f});
    return t;
}

void expectSameNetwork(const Frame& t, float hbDistance, float hbAngle)
{
    const Network net = bondsOf(t, hbDistance, hbAngle);
    const Edges expected = allPairsBonds(t, hbDistance, hbAngle);
    ASSERT_EQ(net.edgeList, expected);
    EXPECT_GT(expected.size(), t.positions.size() / 6);
    std::vector<int32_t> degree(t.topology().atomCount, 0);
    std::vector<std::vector<char>> bonded(t.topology().atomCount, std::vector<char>(t.topology().atomCount, 0));
    for (std::size_t k = 0; k < expected.size(); k += 2) {
        ++degree[expected[k]];
        ++degree[expected[k + 1]];
        bonded[expected[k]][expected[k + 1]] = bonded[expected[k + 1]][expected[k]] = 1;
    }
    EXPECT_EQ(net.degree, degree);
    for (int32_t a = 0; a < t.topology().atomCount; ++a)
        for (int32_t b = 0; b < t.topology().atomCount; ++b)
            ASSERT_EQ(net.isEdge(a, b), bonded[a][b] == 1) << a << " " << b;
}

TEST(HydrogenBondNetwork, CellSearchMatchesAllPairsScan)
{
    // Boxes wider and narrower than three cutoffs, with axes that do not wrap.
    const Box boxes[] = {{25.0f, 22.0f, 27.0f}, {9.0f, 10.0f, 8.0f}, {25.0f, 0.0f, 9.0f}, {0.0f, -3.0f, 0.0f}};
    unsigned seed = 1;
    for (const Box& box : boxes) {
        for (float angle : {30.0f, 60.0f}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed);
            expectSameNetwork(randomWaters(seed++, box, angle), 3.5f, angle);
        }
    }
    expectSameNetwork(parseConfiguration(test::latticeGro({"--structure", "sI", "--cells", "2", "1", "1", "--displace", "0.3"}),
                                         "sI.gro", "SOL", "OW"),
                      3.5f, 30.0f);
}

TEST(HydrogenBondNetwork, DistanceAndAngleLimitsAreStrict)
{
    for (float x : {3.5f, std::nextafter(3.5f, 0.0f)}) {
        const Vec3 a{0, 5, 5}, b{x, 5, 5};
        const Network net = bondsOf(atomsFromWaters({waterPointingAt(a, b, {0, 9, 5}), waterPointingAt(b, {9, 5, 5}, {x, 9, 5})}, {30, 30, 30}));
        EXPECT_EQ(net.isEdge(0, 3), x < 3.5f) << x;
    }

    // cos 60 degrees rounds to 0.5; look for an acceptor (x, y, 0) that the
    // O-H direction (1, 0, 0) of a donor at the origin sees at exactly the limit.
    ASSERT_EQ(static_cast<float>(std::cos(60.0 * M_PI / 180.0)), 0.5f);
    auto atLimit = [](float x, float y) { return dot(Vec3{1, 0, 0}, Vec3{x, y, 0}) == 0.5f * norm(Vec3{x, y, 0}); };
    float x = 0.0f, y = 2.5f;
    for (; y < 3.0f; y += 0.01f) {
        float xc = y / std::sqrt(3.0f) * (1 + 1e-5f);
        for (int k = 0; k < 200 && !atLimit(xc, y); ++k)
            xc = std::nextafter(xc, 0.0f);
        if (atLimit(xc, y)) {
            x = xc;
            break;
        }
    }
    ASSERT_TRUE(x != 0.0f && atLimit(x, y));
    for (float ax : {x, std::nextafter(x, 10.0f)}) {
        const Vec3 acceptor{ax, y, 0.0f};
        const Frame t = atomsFromWaters({Water{{0, 0, 0}, {1, 0, 0}, {0, 0, -1}},
                                             waterPointingAt(acceptor, acceptor * 2.0f, acceptor + Vec3{0, 0, 1})},
                                            {100, 100, 100});
        EXPECT_EQ(bondsOf(t, 3.5f, 60.0f).isEdge(0, 3), ax != x) << ax;
    }
}

TEST(HydrogenBondNetwork, MutualBondAcrossThePeriodicBoundaryIsStoredOnce)
{
    const Vec3 a{0.3f, 5, 5}, b{17.5f, 5, 5}; // 2.8 apart through x = 0
    const std::vector<Water> w{waterPointingAt(a, {-2.5f, 5, 5}, {0.3f, 9, 5}), waterPointingAt(b, {20.3f, 5, 5}, {17.5f, 5, 9})};
    const Network net = bondsOf(atomsFromWaters(w, {20, 20, 20}));
    EXPECT_EQ(net.edgeList, (Edges{0, 3}));
    EXPECT_EQ(net.degree[0], 1);
    EXPECT_EQ(net.degree[3], 1);
    EXPECT_TRUE(bondsOf(atomsFromWaters(w, {0, 20, 20})).edgeList.empty());
}

TEST(HydrogenBondNetwork, OxygenWithFewerThanTwoAtomsAfterItAcceptsButDoesNotDonate)
{
    const Vec3 donor{5, 5, 5}, last{7.8f, 5, 5}, idle{7.8f, 7.8f, 5};
    for (int after : {0, 1}) {
        Frame t = atomsFromWaters({waterPointingAt(donor, last, {5, 1, 5}), waterPointingAt(idle, {7.8f, 12, 5}, {12, 7.8f, 5})}, {20, 20, 20});
        appendOxygen(t, last);
        if (after == 1) { // one hydrogen, pointing at the idle water
            appendOxygen(t, waterPointingAt(last, idle, idle).h1);
            t.editTopology().isWaterOxygen.back() = 0;
            indexWaters(t.editTopology());
        }
        EXPECT_EQ(bondsOf(t).edgeList, (Edges{0, 6})) << after;
    }
}

TEST(HydrogenBondNetwork, DegreeCountsMoreThan127Bonds)
{
    const Vec3 centre{20, 20, 20};
    std::vector<Water> w{waterPointingAt(centre, {20, 20, 40}, {20, 40, 20})};
    for (int k = 0; k < 130; ++k) { // donors spread over a sphere of radius 3, all pointing at the centre
        const double z = 1.0 - 2.0 * (k + 0.5) / 130, s = std::sqrt(1 - z * z);
        const Vec3 o = centre + Vec3{float(s * std::cos(k * 2.4)), float(s * std::sin(k * 2.4)), float(z)} * 3.0f;
        w.push_back(waterPointingAt(o, centre, o * 2.0f - centre));
    }
    const Network net = bondsOf(atomsFromWaters(w, {40, 40, 40}));
    EXPECT_EQ(net.degree[0], 130);
    EXPECT_TRUE(net.isEdge(0, 3 * 130));
}

TEST(HydrogenBondNetwork, PruningDropsOnlyBondsWithADanglingEnd)
{
    std::vector<Water> w; // chain a-b-c-d, each water donating to the next
    for (float x : {5.0f, 7.8f, 10.6f, 13.4f})
        w.push_back(waterPointingAt({x, 5, 5}, {x + 2.8f, 5, 5}, {x, 5, 1}));
    Network net = bondsOf(atomsFromWaters(w, {40, 40, 40}));
    ASSERT_EQ(net.edgeList, (Edges{0, 3, 3, 6, 6, 9}));
    pruneEdges(net);
    EXPECT_EQ(net.edgeList, (Edges{3, 6}));
    EXPECT_EQ(net.degree, bondsOf(atomsFromWaters(w, {40, 40, 40})).degree);
    EXPECT_TRUE(net.isEdge(0, 3));
}

} // namespace
} // namespace kavet
