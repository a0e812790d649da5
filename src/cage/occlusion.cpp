#include "cage/occlusion.h"

#include <algorithm>
#include <cmath>

namespace kavet {

OcclusionContext makeOcclusionContext(const RingSearch& rings, const RingGeometry& geo, const RingNeighbours& nb,
                                      const AtomTable& atoms, float cageDistance, float cageAngle)
{
    OcclusionContext ctx;
    ctx.geo = &geo;
    ctx.nb = &nb;
    ctx.box = atoms.box;
    ctx.cageDistance = cageDistance;
    ctx.cosA = static_cast<float>(std::cos(static_cast<double>(cageAngle) * M_PI / 180.0));
    ctx.ringRadius.resize(rings.ringList.size());
    for (std::size_t r = 0; r < rings.ringList.size(); ++r) {
        float radius = 0.0f;
        bool finite = true;
        for (int32_t a : rings.ringList[r]) {
            const float len = norm(minimumImage(atoms.atmXYZ[a], geo.centRing[r], atoms.box));
            finite = finite && std::isfinite(len);
            radius = std::max(radius, len);
        }
        // A ring whose extent is not a finite number is never pruned.
        ctx.ringRadius[r] = finite ? radius : HUGE_VALF;
    }
    return ctx;
}

void viewFromSeed(const OcclusionContext& ctx, int32_t seed, SeedView& view)
{
    view.seed = seed;
    view.c = ctx.geo->centRing[seed];
    nearRingsOf(*ctx.nb, *ctx.geo, seed, view.near);
    view.dM.resize(view.near.size());
    for (std::size_t p = 0; p < view.near.size(); ++p)
        view.dM[p] = minimumImage(ctx.geo->centRing[view.near[p]], view.c, ctx.box);
}

void viewFromSide(const OcclusionContext& ctx, const SeedView& seed, int32_t sign, SideView& side)
{
    side.sign = sign;
    Vec3 v = (ctx.geo->normRing[seed.seed] - seed.c) * ctx.cageDistance;
    side.vv = dot(v, v);
    side.v = sign < 0 ? -v : v;
    const std::size_t n = seed.near.size();
    side.ox.resize(n);
    side.oy.resize(n);
    side.oz.resize(n);
    side.reach2.resize(n);
    for (std::size_t p = 0; p < n; ++p) {
        const Vec3 o = side.v - seed.dM[p];
        side.ox[p] = o.x;
        side.oy[p] = o.y;
        side.oz[p] = o.z;
        // Rounding in the exact test can place a hit a hair outside the
        // triangle; the margin is far above that.
        const float radius = ctx.ringRadius[seed.near[p]];
        const float reach = radius + 0.01f + 1e-4f * (norm(o) + radius + 32.0f);
        side.reach2[p] = std::isfinite(reach) ? reach * reach : HUGE_VALF;
    }
}

int segmentHitsRing(const Transform* tang, int32_t count, Vec3 o, Vec3 d)
{
    for (int32_t t = 0; t < count; ++t) {
        const Transform& T = tang[t];
        const float s = T[8] * o.x + T[9] * o.y + T[10] * o.z + T[11];
        const float g = T[8] * d.x + T[9] * d.y + T[10] * d.z;
        const float a = -s / g;
        if (!(a > 1e-7f && a < 1.0f))
            continue;
        const Vec3 w{o.x + a * d.x, o.y + a * d.y, o.z + a * d.z};
        const float xg = T[0] * w.x + T[1] * w.y + T[2] * w.z + T[3];
        const float yg = T[4] * w.x + T[5] * w.y + T[6] * w.z + T[7];
        if (xg >= 0.0f && yg >= 0.0f && xg + yg < 1.0f)
            return t;
    }
    return -1;
}

namespace {

int segmentHitsNearRing(const OcclusionContext& ctx, const SeedView& seed, const SideView& side, std::size_t p,
                        Vec3 d)
{
    const int32_t m = seed.near[p];
    const RingGeometry& geo = *ctx.geo;
    const Vec3 o{side.ox[p], side.oy[p], side.oz[p]};
    return segmentHitsRing(geo.tangRing.data() + geo.tangStart[m], geo.tangStart[m + 1] - geo.tangStart[m], o, d);
}

} // namespace

bool visibleFromSide(const OcclusionContext& ctx, const SeedView& seed, const SideView& side, std::size_t pos)
{
    const Vec3 dK = seed.dM[pos];
    if (!insideCone(ctx, side, dK))
        return false;
    const Vec3 d = dK - side.v;
    const float dd = dot(d, d);
    const float inv = dd > 0.0f ? 1.0f / dd : 0.0f;
    const std::size_t n = seed.near.size();
    const float* ox = side.ox.data();
    const float* oy = side.oy.data();
    const float* oz = side.oz.data();
    const float* reach2 = side.reach2.data();
    for (std::size_t p = 0; p < n; ++p) {
        // Closest approach of the segment to the blocker's centre.
        float t = -(ox[p] * d.x + oy[p] * d.y + oz[p] * d.z) * inv;
        t = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
        const float px = ox[p] + t * d.x, py = oy[p] + t * d.y, pz = oz[p] + t * d.z;
        if (!(px * px + py * py + pz * pz <= reach2[p]))
            continue;
        if (p == pos)
            continue;
        if (segmentHitsNearRing(ctx, seed, side, p, d) >= 0)
            return false;
    }
    return true;
}

bool visibleFromSideTraced(const OcclusionContext& ctx, const SeedView& seed, const SideView& side,
                           std::size_t pos, int32_t tracedBlocker, std::FILE* out)
{
    const Vec3 dK = seed.dM[pos];
    std::fprintf(out, "Jcent: v2 %g %g %g\n", dK.x, dK.y, dK.z);
    std::fprintf(out, "occ %d %d %g\n", seed.seed, seed.near[pos], static_cast<double>(dot(dK, side.v)));
    std::fflush(out);
    if (!insideCone(ctx, side, dK))
        return false;
    const Vec3 d = dK - side.v;
    bool occluded = false;
    for (std::size_t p = 0; p < seed.near.size() && !occluded; ++p) {
        if (p == pos)
            continue;
        const int32_t m = seed.near[p];
        if (m == tracedBlocker) {
            const Vec3 dM = seed.dM[p];
            std::fprintf(out, "Kcent:  %g %g %g\n", dM.x, dM.y, dM.z);
            std::fprintf(out, "rayOri: %g %g %g\n", side.ox[p], side.oy[p], side.oz[p]);
            std::fprintf(out, "rayDir: %g %g %g\n", d.x, d.y, d.z);
        }
        const int t = segmentHitsNearRing(ctx, seed, side, p, d);
        if (t >= 0) {
            std::fprintf(out, "k %d __kk  %d occ \n", m, t);
            occluded = true;
        }
    }
    std::fprintf(out, "isocc %d\n", occluded ? 1 : 0);
    std::fflush(out);
    return !occluded;
}

} // namespace kavet
