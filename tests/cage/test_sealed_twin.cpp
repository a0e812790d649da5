// The sealed line of sight against its plain twin: every decision of the fast
// path (blockers pruned by their reach and by the slab of their fan, the cone
// decided on squares, ring centres placed by rounding with 1.5 * 2^52) equals
// the transcription below, which places every centre by dividing by the box
// lengths, tests the cone with a square root and tries every triangle of every
// other near ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "cage/occlusion.h"
#include "support/ring_stage.h"

namespace kavet::test {
namespace {

// The whole multiples of c, then b, then a, that bring s nearest the origin,
// subtracted from d.
DVec3 reducedBy(DVec3 d, DVec3 s, const Box& box)
{
    auto whole = [](double q, float length) { return length > 0.0f ? std::round(q / length) : 0.0; };
    for (const DVec3 axis : {DVec3{box.zx, box.zy, box.z}, DVec3{box.yx, box.y, 0}, DVec3{box.x, 0, 0}}) {
        const double k = axis.z != 0.0 ? whole(s.z, box.z) : axis.y != 0.0 ? whole(s.y, box.y) : whole(s.x, box.x);
        s = s - axis * k;
        d = d - axis * k;
    }
    return d;
}

// Ring k's centre seen from ring r's, in double, at the image the single
// precision picked.
DVec3 centreSeen(const RingStage& st, int32_t k, int32_t r)
{
    const Vec3 a = st.geo.centRing[k], b = st.geo.centRing[r];
    const DVec3 raw = toDouble(a) - toDouble(b);
    return reducedBy(raw, raw - toDouble(minimumImage(a, b, st.atoms.box)), st.atoms.box);
}

enum class Sight { OutsideCone, Blocked, Visible };

// The members of every ring at their image nearest its centre.
std::vector<std::vector<DVec3>> membersOf(const RingStage& st)
{
    std::vector<std::vector<DVec3>> members(st.rings.ringList.size());
    for (std::size_t m = 0; m < members.size(); ++m)
        for (int32_t atom : st.rings.ringList[m]) {
            const DVec3 raw = toDouble(st.atoms.positions[atom]) - toDouble(st.geo.centRing[m]);
            members[m].push_back(reducedBy(raw, raw, st.atoms.box));
        }
    return members;
}

Sight plainSealedSight(const RingStage& st, const std::vector<std::vector<DVec3>>& members,
                       const std::vector<int32_t>& near, int32_t r, int sign, int32_t k, float cageDistance,
                       float cageAngle)
{
    const DVec3 v = (toDouble(st.geo.normRing[r]) - toDouble(st.geo.centRing[r])) * cageDistance * sign;
    const DVec3 dK = centreSeen(st, k, r);
    if (!(dot(dK, v) > std::sqrt(dot(dK, dK) * dot(v, v)) * std::cos(cageAngle * std::numbers::pi / 180.0)))
        return Sight::OutsideCone;
    const DVec3 d = dK - v;
    for (int32_t m : near) {
        if (m == k)
            continue;
        const DVec3 o = v - centreSeen(st, m, r);
        const std::vector<DVec3>& member = members[m];
        for (std::size_t t = 0; t < member.size(); ++t) {
            const DVec3 b = member[t], c = member[(t + 1) % member.size()], n = cross(b, c);
            const double a = -dot(n, o) / dot(n, d);
            if (!(dot(n, n) > 0.0 && a > 1e-7 && a < 1.0))
                continue;
            const DVec3 p = o + d * a;
            const double xg = dot(cross(c, n), p) / dot(n, n), yg = dot(cross(n, b), p) / dot(n, n);
            if (xg >= -sealedTolerance && yg >= -sealedTolerance && xg + yg <= 1.0 + sealedTolerance)
                return Sight::Blocked;
        }
    }
    return Sight::Visible;
}

struct Lattice {
    std::vector<std::string> args;
    int seeds = 1; // random displacements drawn; a perfect lattice needs one
};

TEST(SealedTwin, EveryLineOfSightOfTheFastPathEqualsThePlainTest)
{
    const std::vector<Lattice> lattices = {
        {{"--structure", "sI", "--cells", "2", "2", "2"}},
        {{"--structure", "ice", "--cells", "3", "2", "2"}},
        {{"--structure", "sI", "--cells", "2", "2", "2", "--shear", "xy"}},
        {{"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1"}, 3},
        {{"--structure", "sII", "--cells", "1", "1", "1", "--displace", "0.2"}, 2},
        {{"--structure", "sH", "--cells", "2", "2", "2", "--displace", "0.05"}, 2},
    };
    std::mt19937 random(11);
    int64_t count[3] = {0, 0, 0};
    for (const Lattice& lattice : lattices) {
        for (int seed = 1; seed <= lattice.seeds; ++seed) {
            std::vector<std::string> args = lattice.args;
            args.insert(args.end(), {"--seed", std::to_string(seed)});
            const RingStage st = ringStage(latticeGro(args));
            ASSERT_GT(st.numRing, 20);
            const std::vector<std::vector<DVec3>> members = membersOf(st);
            // The classic values on the first displaced lattice of each
            // kind, a random ray start and cone on the others.
            float cageDistance = 1.0f, cageAngle = 85.0f;
            if (seed > 1 || lattice.seeds == 1) {
                cageDistance = std::uniform_real_distribution<float>(0.3f, 2.5f)(random);
                cageAngle = std::uniform_real_distribution<float>(50.0f, 100.0f)(random);
            }
            OcclusionContext ctx =
                makeOcclusionContext(st.rings, st.geo, st.nb, st.atoms, cageDistance, cageAngle, true);
            // Every other frame with a cache of prepared rings so small that
            // they keep evicting each other.
            if (seed % 2 == 0 || lattice.seeds == 1)
                ctx.sealedCacheSlots = 4;
            SeedView view;
            SideView side;
            // A random third of the seed rings.
            for (int32_t r = 0; r < st.numRing; ++r) {
                if (random() % 3 != 0)
                    continue;
                // Every other seed's near list built piecemeal, as rings are
                // asked for (any ring of the frame, near or not).
                const bool piecemeal = random() % 2 == 0;
                viewFromSeed(ctx, r, view, !piecemeal);
                std::vector<int32_t> near;
                nearRingsOf(st.nb, st.geo, r, near);
                for (const int sign : {1, -1}) {
                    viewFromSide(ctx, view, sign, side);
                    // The candidates in a random order, some with a random
                    // face they were reached from, as the cages ask.
                    std::vector<int32_t> order(static_cast<std::size_t>(st.numRing));
                    for (int32_t k = 0; k < st.numRing; ++k)
                        order[k] = k;
                    std::shuffle(order.begin(), order.end(), random);
                    for (const int32_t k : order) {
                        const int32_t at = placeOf(ctx, view, k);
                        ASSERT_EQ(at >= 0, std::binary_search(near.begin(), near.end(), k)) << r << " " << k;
                        if (at < 0)
                            continue;
                        const std::size_t pos = static_cast<std::size_t>(at);
                        ASSERT_EQ(view.near[pos], k);
                        const int32_t parent = static_cast<int32_t>(random() % (view.near.size() + 1)) - 1;
                        const bool fast = visibleFromSide(ctx, view, side, pos, nullptr, parent);
                        const Sight plain =
                            plainSealedSight(st, members, near, r, sign, view.near[pos], cageDistance, cageAngle);
                        ASSERT_EQ(fast, plain == Sight::Visible)
                            << testing::PrintToString(args) << " -cage " << cageDistance << " " << cageAngle
                            << ": ring " << r << " side " << sign << " sees " << view.near[pos];
                        ++count[static_cast<int>(plain)];
                    }
                }
            }
        }
    }
    // Each outcome is met many times.
    for (const int64_t n : count)
        EXPECT_GT(n, 1000);
}

} // namespace
} // namespace kavet::test
