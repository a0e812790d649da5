// The cages grown from each ring side must equal the plain procedure: collect
// every visible neighbour of the side (cone test, then the segment test against
// the triangle fans of all other neighbours), then keep the candidates that
// hang together with the seed through shared edges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>

#include "support/ring_stage.h"
#include "support/support.h"

namespace kavet::test {
namespace {

using Codes = std::vector<std::vector<int>>;

Codes allCodes(const RingStage& s)
{
    Codes code(s.numRing, std::vector<int>(s.numRing, 0));
    for (int32_t i = 0; i < s.numRing; ++i)
        for (int32_t j = i + 1; j < s.numRing; ++j)
            code[i][j] = code[j][i] = nearRingCode(s.rings, s.geo, s.net, s.nb, i, j);
    return code;
}

std::string line(const char* label, Vec3 p)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s %g %g %g\n", label, p.x, p.y, p.z);
    return buf;
}

// The seed whose sides are traced, the candidate and the blocker shown.
struct TracePoint {
    int32_t seed = -1, candidate = -1, blocker = -1;
};

// The candidates of side f, seed first; appends the diagnostic trace of
// `point` to `trace` when given.
std::vector<int32_t> plainOcclusion(const RingStage& s, const Codes& code, float cageDistance, float cageAngle,
                                    int32_t f, const TracePoint* point = nullptr, std::string* trace = nullptr)
{
    const int32_t R = s.numRing, r = f % R;
    const float cosA = static_cast<float>(std::cos(static_cast<double>(cageAngle) * std::numbers::pi / 180.0));
    const Box box = s.atoms.box;
    const Vec3 c = s.geo.centRing[r];
    Vec3 v = (s.geo.normRing[r] - c) * cageDistance;
    const float vv = dot(v, v);
    if (f >= R)
        v = -v;
    const bool tracedSeed = trace && r == point->seed;
    if (tracedSeed)
        *trace += line("Icent: v0", c) + line("Inorm: v1", v);
    std::vector<int32_t> entry{r};
    for (int32_t k = 0; k < R; ++k) {
        if (code[r][k] == 0)
            continue;
        const Vec3 dK = minimumImage(s.geo.centRing[k], c, box);
        const bool traced = tracedSeed && k == point->candidate;
        char buf[160];
        if (traced) {
            std::snprintf(buf, sizeof buf, "occ %d %d %g\n", r, k, dot(dK, v));
            *trace += line("Jcent: v2", dK) + buf;
        }
        if (!(dot(dK, v) > std::sqrt(dot(dK, dK) * vv) * cosA))
            continue;
        const Vec3 D = dK - v;
        bool occluded = false;
        for (int32_t m = 0; m < R && !occluded; ++m) {
            if (m == k || m == r || code[r][m] == 0)
                continue;
            const Vec3 dM = minimumImage(s.geo.centRing[m], c, box);
            const Vec3 O = v - dM;
            if (traced && m == point->blocker)
                *trace += line("Kcent: ", dM) + line("rayOri:", O) + line("rayDir:", D);
            for (int t = 0; t < s.geo.numNode[m] && !occluded; ++t) {
                const Transform& T = s.geo.tangRing[m][t];
                const float S = T[6] * O.x + T[7] * O.y + T[8] * O.z;
                const float G = T[6] * D.x + T[7] * D.y + T[8] * D.z;
                const float a = -S / G;
                if (!(a > 1e-7f && a < 1.0f))
                    continue;
                const Vec3 W{O.x + a * D.x, O.y + a * D.y, O.z + a * D.z};
                const float xg = T[0] * W.x + T[1] * W.y + T[2] * W.z;
                const float yg = T[3] * W.x + T[4] * W.y + T[5] * W.z;
                occluded = xg >= 0.0f && yg >= 0.0f && xg + yg < 1.0f;
                if (occluded && traced) {
                    std::snprintf(buf, sizeof buf, "k %d __kk  %d occ \n", m, t);
                    *trace += buf;
                }
            }
        }
        if (traced)
            *trace += occluded ? "isocc 1\n" : "isocc 0\n";
        if (!occluded)
            entry.push_back(k);
    }
    return entry;
}

// Breadth-first search from the seed over shared edges; unreached positions go.
std::vector<int32_t> plainAssembly(const Codes& code, const std::vector<int32_t>& L)
{
    const std::size_t n = L.size();
    std::vector<int> hop(n, -1);
    std::vector<std::size_t> queue{0};
    hop[0] = 0;
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::size_t u = queue[head];
        for (std::size_t w = 0; w < n; ++w)
            if (hop[w] == -1 && code[L[u]][L[w]] > 2) {
                hop[w] = hop[u] + 1;
                queue.push_back(w);
            }
    }
    std::vector<int32_t> kept;
    for (std::size_t i = 0; i < n; ++i)
        if (hop[i] >= 0)
            kept.push_back(L[i]);
    return kept;
}

const std::string& latticeOnce(const std::vector<std::string>& args)
{
    static std::map<std::vector<std::string>, std::string> made; // one tool run per lattice
    return made.contains(args) ? made[args] : made[args] = latticeGro(args);
}

std::vector<std::string> sI(const std::string& displace, const std::string& seed)
{
    return {"--structure", "sI", "--cells", "2", "2", "2", "--displace", displace, "--seed", seed};
}

struct Case {
    std::string name;
    std::vector<std::string> lattice;
    float cageDistance = 1.0f;
    float cageAngle = 85.0f;
    double keep = 1.0; // fraction of the rings kept, chosen at random
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class CagesOfLattice : public ::testing::TestWithParam<Case> {};

TEST_P(CagesOfLattice, equalVisibleRingsJoinedThroughSharedEdges)
{
    const Case& p = GetParam();
    std::mt19937 random(7);
    std::bernoulli_distribution keep(p.keep);
    const RingStage s = ringStage(parseConfiguration(latticeOnce(p.lattice), "lattice.gro", "SOL", "OW"),
                                  [&](std::size_t) { return keep(random); });
    ASSERT_GT(s.numRing, 20);
    const Codes code = allCodes(s);
    const CageSearch cages = assembledCages(s, p.cageDistance, p.cageAngle);
    ASSERT_EQ(cages.cageList.size(), 2u * s.numRing);
    ASSERT_EQ(cages.cageNorm.size(), 2u * s.numRing);
    std::size_t joined = 0;
    for (int32_t f = 0; f < 2 * s.numRing; ++f) {
        const auto expected = plainAssembly(code, plainOcclusion(s, code, p.cageDistance, p.cageAngle, f));
        ASSERT_TRUE(std::ranges::equal(cages.cageList[f], expected)) << "ring side " << f;
        ASSERT_EQ(cages.cageNorm[f], f < s.numRing ? 1 : -1) << "ring side " << f;
        joined += expected.size() - 1;
    }
    EXPECT_GT(joined, 0u); // the comparison is not between seed-only entries
}

// Sides left out because their cage lies within one grown before must not
// change the deduplicated cages (ring order, sign and position), with either
// line of sight; the comparison is made while sides are left out.
TEST_P(CagesOfLattice, sharedSidesDeduplicateToTheCagesOfEverySide)
{
    const Case& p = GetParam();
    std::mt19937 random(7);
    std::bernoulli_distribution keep(p.keep);
    const RingStage s = ringStage(parseConfiguration(latticeOnce(p.lattice), "lattice.gro", "SOL", "OW"),
                                  [&](std::size_t) { return keep(random); });
    for (const bool sealed : {false, true}) {
        const auto ctx = makeOcclusionContext(s.rings, s.geo, s.nb, s.atoms, p.cageDistance, p.cageAngle, sealed);
        CageSearch every, shared;
        assembleCages(ctx, s.numRing, every);
        assembleCages(ctx, s.numRing, shared, nullptr, nullptr, true);
        EXPECT_LT(shared.cageList.size(), every.cageList.size()) << "sealed " << sealed;
        EXPECT_EQ(static_cast<int64_t>(shared.cageList.size()) + shared.sharedSides,
                  static_cast<int64_t>(every.cageList.size()));
        deduplicateCages(every);
        deduplicateCages(shared);
        EXPECT_EQ(shared.cageList, every.cageList) << "sealed " << sealed;
        EXPECT_EQ(shared.cageNorm, every.cageNorm) << "sealed " << sealed;
    }
}

INSTANTIATE_TEST_SUITE_P(
    RingSides, CagesOfLattice,
    ::testing::Values(Case{"sIDisplacedSeed1", sI("0.1", "1")},
                      Case{"sIPerfectWideCone", sI("0", "1"), 2.0f, 100.0f},
                      Case{"sIShortNarrowCone", sI("0.1", "1"), 0.5f, 60.0f},
                      Case{"sILongWideCone", sI("0.1", "2"), 2.0f, 100.0f},
                      Case{"sIRandomRingSubset", sI("0.1", "2"), 1.0f, 85.0f, 0.7},
                      Case{"sISparseRingSubset", sI("0.3", "3"), 1.0f, 100.0f, 0.4},
                      Case{"iceDisplaced",
                           {"--structure", "ice", "--cells", "3", "2", "2", "--displace", "0.1", "--seed", "1"}}),
    [](const auto& param) { return param.param.name; });

TEST(CageAssembly, zeroCageDistanceLeavesOnlyTheSeeds)
{
    const RingStage s = ringStage(latticeOnce(sI("0.1", "1")));
    const CageSearch cages = assembledCages(s, 0.0f, 85.0f);
    ASSERT_EQ(cages.cageList.size(), 2u * s.numRing);
    for (int32_t f = 0; f < 2 * s.numRing; ++f)
        ASSERT_TRUE(std::ranges::equal(cages.cageList[f], std::vector<int32_t>{f % s.numRing})) << "ring side " << f;
}

// The trace as text, in the console's format.
struct TextTrace : SeedTrace {
    std::string text;
    void side(Vec3 c, Vec3 v) override { text += line("Icent: v0", c) + line("Inorm: v1", v); }
    void lineOfSight(int32_t seedRing, int32_t k, Vec3 dK, float along) override
    {
        char buf[160];
        std::snprintf(buf, sizeof buf, "occ %d %d %g\n", seedRing, k, static_cast<double>(along));
        text += line("Jcent: v2", dK) + buf;
    }
    void blockerRay(Vec3 dM, Vec3 o, Vec3 d) override
    {
        text += line("Kcent: ", dM) + line("rayOri:", o) + line("rayDir:", d);
    }
    void hit(int32_t m, int t) override
    {
        char buf[160];
        std::snprintf(buf, sizeof buf, "k %d __kk  %d occ \n", m, t);
        text += buf;
    }
    void verdict(bool occluded) override { text += occluded ? "isocc 1\n" : "isocc 0\n"; }
};

std::string tracePrinted(const RingStage& s, const TracePoint& point, CageSearch& cages)
{
    TextTrace trace;
    trace.seed = point.seed;
    trace.candidate = point.candidate;
    trace.blocker = point.blocker;
    const OcclusionContext ctx = makeOcclusionContext(s.rings, s.geo, s.nb, s.atoms, 1.0f, 85.0f);
    assembleCages(ctx, s.numRing, cages, &trace);
    return trace.text;
}

TEST(CageAssembly, traceShowsTheRayOfAnOccludedAndOfAVisibleCandidate)
{
    const RingStage s = ringStage(latticeOnce(sI("0.1", "1")));
    const Codes code = allCodes(s);
    const int32_t seed = 17;
    // An occluded candidate of the + side and the ring hiding it, and a
    // visible candidate traced against some other neighbour.
    TracePoint hidden{seed, -1, -1}, seen{seed, -1, -1};
    for (int32_t k = 0; k < s.numRing && (hidden.candidate < 0 || seen.candidate < 0); ++k) {
        if (code[seed][k] == 0)
            continue;
        std::string trace;
        const TracePoint probe{seed, k, -1};
        plainOcclusion(s, code, 1.0f, 85.0f, seed, &probe, &trace);
        if (const auto at = trace.find("\nk "); at != std::string::npos && hidden.candidate < 0)
            hidden = {seed, k, std::stoi(trace.substr(at + 3))};
        if (trace.find("isocc 0") != std::string::npos && seen.candidate < 0) {
            seen = {seed, k, 0};
            while (seen.blocker == k || seen.blocker == seed || code[seed][seen.blocker] == 0)
                ++seen.blocker;
        }
    }
    ASSERT_TRUE(hidden.candidate >= 0 && seen.candidate >= 0);
    const CageSearch quiet = assembledCages(s);
    for (const bool occluded : {true, false}) {
        const TracePoint& point = occluded ? hidden : seen;
        std::string expected;
        plainOcclusion(s, code, 1.0f, 85.0f, seed, &point, &expected);
        plainOcclusion(s, code, 1.0f, 85.0f, seed + s.numRing, &point, &expected);
        CageSearch cages;
        const std::string printed = tracePrinted(s, point, cages);
        EXPECT_EQ(printed, expected);
        EXPECT_EQ(cages.cageList, quiet.cageList); // the trace changes no result
        EXPECT_NE(printed.find("\nrayDir: "), std::string::npos);
        EXPECT_NE(printed.find(occluded ? " occ \nisocc 1\n" : "\nisocc 0\n"), std::string::npos);
    }
}

} // namespace
} // namespace kavet::test
