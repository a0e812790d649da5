#include "cage/occlusion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

#include <tbb/parallel_for.h>

namespace kavet {

OcclusionContext makeOcclusionContext(const RingSearch& rings, const RingGeometry& geo, const RingNeighbours& nb,
                                      const Frame& frame, float cageDistance, float cageAngle, bool sealed)
{
    OcclusionContext ctx;
    ctx.geo = &geo;
    ctx.nb = &nb;
    ctx.box = frame.box;
    ctx.cageDistance = cageDistance;
    ctx.cosAD = std::cos(static_cast<double>(cageAngle) * std::numbers::pi / 180.0);
    ctx.cosA = static_cast<float>(ctx.cosAD);
    ctx.sealed = sealed;
    ctx.rings = &rings;
    ctx.positions = &frame.positions;
    for (int k = 0; k < 3; ++k) {
        const float length = k == 0 ? frame.box.x : k == 1 ? frame.box.y : frame.box.z;
        ctx.inverseLength[k] = length > 0.0f ? 1.0 / static_cast<double>(length) : 0.0;
    }
    ctx.ringRadius.resize(rings.ringList.size());
    tbb::parallel_for(std::size_t(0), rings.ringList.size(), [&](std::size_t r) {
        float radius = 0.0f;
        bool finite = true;
        for (int32_t a : rings.ringList[r]) {
            const float len = norm(minimumImage(frame.positions[a], geo.centRing[r], frame.box));
            finite = finite && std::isfinite(len);
            radius = std::max(radius, len);
        }
        // A ring whose extent is not a finite number is never pruned.
        ctx.ringRadius[r] = finite ? radius : HUGE_VALF;
    });
    if (sealed)
        for (const std::span<const int32_t> ring : rings.ringList)
            ctx.maxMembers = std::max(ctx.maxMembers, static_cast<int32_t>(ring.size()));
    return ctx;
}

namespace {

// Triangle t of a fan, into its columns.
void putTriangle(double* fan, std::size_t stride, std::size_t t, const SealedTriangle& T)
{
    const double v[sealedColumns] = {T.n.x, T.n.y, T.n.z, T.u.x, T.u.y, T.u.z, T.w.x, T.w.y, T.w.z};
    for (std::size_t c = 0; c < sealedColumns; ++c)
        fan[c * stride + t] = v[c];
}

} // namespace

void prepareSealedRing(const OcclusionContext& ctx, int32_t r, double* fan, int32_t stride,
                       OcclusionContext::Slab& slab)
{
    const std::span<const int32_t> ring = ctx.rings->ringList[static_cast<std::size_t>(r)];
    const std::vector<Vec3>& positions = *ctx.positions;
    const Vec3 centre = ctx.geo->centRing[static_cast<std::size_t>(r)];
    const std::size_t n = ring.size();
    DVec3 member[64];
    std::vector<DVec3> more;
    DVec3* m = member;
    if (n > 64) {
        more.resize(n);
        m = more.data();
    }
    for (std::size_t k = 0; k < n; ++k)
        m[k] = minimumImageD(positions[ring[k]], centre, ctx.box);
    DVec3 normal;
    const std::size_t columns = static_cast<std::size_t>(stride);
    for (std::size_t k = 0; k < n; ++k) {
        const SealedTriangle T = sealedTriangle(m[k], m[k + 1 < n ? k + 1 : 0]);
        putTriangle(fan, columns, k, T);
        if (T.valid())
            normal = normal + T.n;
    }
    for (std::size_t k = n; k < columns; ++k)
        putTriangle(fan, columns, k, SealedTriangle{});
    // Any direction gives a slab; the fan's mean normal a thin one.
    slab = OcclusionContext::Slab{};
    const double length = std::sqrt(dot(normal, normal));
    if (!(length > 0.0) || !std::isfinite(length))
        return; // the unbounded slab: nothing is pruned
    const DVec3 unit = normal * (1.0 / length);
    double lo = 0.0, hi = 0.0, extent = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const DVec3& b = m[k];
        const double h = dot(unit, b);
        lo = std::min(lo, h);
        hi = std::max(hi, h);
        extent = std::max(extent, std::fabs(b.x) + std::fabs(b.y) + std::fabs(b.z));
    }
    slab.n = unit;
    if (std::isfinite(lo) && std::isfinite(hi) && std::isfinite(extent)) {
        slab.lo = lo;
        slab.hi = hi;
        slab.extent = extent;
    }
}

namespace {

// The radius around near ring p's centre within which a segment can meet its
// triangles. Rounding in the exact test can place a hit a hair outside the
// triangle or the segment; the margin is far above that. A sealed triangle
// takes in its outer edge, so a hit can sit on a member at the sphere's very
// boundary, and this sphere pass runs in single precision while the sealed
// test does not: the margin is doubled for it.
inline float reachOf(const OcclusionContext& ctx, float radius, float length)
{
    const float vLength = std::fabs(ctx.cageDistance);
    const float spread = 1e-4f * (length + vLength + radius + 32.0f);
    const float reach = ctx.sealed ? radius + 2.0f * (0.01f + spread) : radius + 0.01f + spread;
    return std::isfinite(reach) ? reach : HUGE_VALF;
}

// The columns and reaches of every near ring, and (sealed) the slots of the
// double-precision centres past those already there.
void describeNear(const OcclusionContext& ctx, SeedView& view)
{
    const std::size_t n = view.near.size();
    view.dx.resize(n);
    view.dy.resize(n);
    view.dz.resize(n);
    for (std::size_t p = 0; p < n; ++p) {
        view.dx[p] = view.dM[p].x;
        view.dy[p] = view.dM[p].y;
        view.dz[p] = view.dM[p].z;
    }
    view.reach.resize(n);
    view.reach2.resize(n);
    for (std::size_t p = 0; p < n; ++p) {
        const float reach = reachOf(ctx, ctx.ringRadius[view.near[p]], view.length[p]);
        view.reach[p] = reach;
        view.reach2[p] = reach < HUGE_VALF ? reach * reach : HUGE_VALF;
    }
    if (ctx.sealed) {
        view.dMD.resize(n);
        view.haveD.resize(n, 0);
    }
}

} // namespace

void viewFromSeed(const OcclusionContext& ctx, int32_t seed, SeedView& view, bool whole)
{
    // The places of the last seed's rings go.
    const std::size_t numRing = ctx.ringRadius.size();
    if (view.place.size() != numRing) {
        view.place.assign(numRing, -1);
    } else {
        for (int32_t k : view.near)
            view.place[static_cast<std::size_t>(k)] = -1;
        for (int32_t k : view.far)
            view.place[static_cast<std::size_t>(k)] = -1;
    }
    view.far.clear();
    view.seed = seed;
    view.c = ctx.geo->centRing[seed];
    if (whole) {
        collectNearRings(*ctx.nb, *ctx.geo, seed, view.near, view.scratch, &view.dM, &view.length);
        for (std::size_t p = 0; p < view.near.size(); ++p)
            view.place[static_cast<std::size_t>(view.near[p])] = static_cast<int32_t>(p);
    } else {
        view.near.clear();
        view.dM.clear();
        view.length.clear();
    }
    view.complete = whole;
    view.haveD.clear();
    view.reach2.clear();
    if (whole)
        describeNear(ctx, view);
    if (ctx.sealed) {
        SealedCache& cache = view.sealedRings;
        if (cache.of != &ctx) {
            const std::size_t stride = static_cast<std::size_t>(sealedStride(ctx.maxMembers));
            const std::size_t slots = std::bit_ceil(std::max<std::size_t>(
                1, ctx.sealedCacheSlots > 0 ? ctx.sealedCacheSlots
                                            : std::min(numRing, (std::size_t(1) << 17) / stride)));
            cache.of = &ctx;
            cache.stride = static_cast<int32_t>(stride);
            cache.ring.assign(slots, -1);
            cache.fan.assign(slots * stride * sealedColumns, 0.0);
            cache.slab.assign(slots, OcclusionContext::Slab{});
        }
    }
}

int32_t addNearRing(const OcclusionContext& ctx, SeedView& view, int32_t k)
{
    Vec3 offset;
    float length = 0.0f;
    if (!nearRingOffset(*ctx.nb, *ctx.geo, view.seed, k, offset, length)) {
        view.place[static_cast<std::size_t>(k)] = -2;
        view.far.push_back(k);
        return -1;
    }
    const std::size_t p = view.near.size();
    view.near.push_back(k);
    view.dM.push_back(offset);
    view.length.push_back(length);
    // Until the list is complete, only what the tests of single blockers
    // read: the reach squared and the slot of the double-precision centre.
    const float reach = reachOf(ctx, ctx.ringRadius[static_cast<std::size_t>(k)], length);
    view.reach2.push_back(reach < HUGE_VALF ? reach * reach : HUGE_VALF);
    if (ctx.sealed) {
        view.dMD.emplace_back();
        view.haveD.push_back(0);
    }
    view.place[static_cast<std::size_t>(k)] = static_cast<int32_t>(p);
    return static_cast<int32_t>(p);
}

void completeNearRings(const OcclusionContext& ctx, SeedView& view)
{
    if (view.complete)
        return;
    collectNearRings(*ctx.nb, *ctx.geo, view.seed, view.moreNear, view.scratch, &view.moreOffsets,
                     &view.moreLengths);
    // The rings not yet placed go after the others, without branches.
    const std::size_t more = view.moreNear.size();
    std::size_t n = view.near.size();
    view.near.resize(n + more);
    view.dM.resize(n + more);
    view.length.resize(n + more);
    int32_t* place = view.place.data();
    for (std::size_t i = 0; i < more; ++i) {
        const int32_t k = view.moreNear[i];
        const int32_t was = place[k];
        const bool fresh = was < 0;
        place[k] = fresh ? static_cast<int32_t>(n) : was;
        view.near[n] = k;
        view.dM[n] = view.moreOffsets[i];
        view.length[n] = view.moreLengths[i];
        n += static_cast<std::size_t>(fresh);
    }
    view.near.resize(n);
    view.dM.resize(n);
    view.length.resize(n);
    view.complete = true;
    describeNear(ctx, view);
}

void computeCentreD(const OcclusionContext& ctx, SeedView& seed, std::size_t p)
{
    const Vec3 a = ctx.geo->centRing[seed.near[p]];
    seed.dMD[p] = ctx.box.triclinic() ? sameImageD(a, seed.c, ctx.box, seed.dM[p])
                                      : sameImageRectangular(a, seed.c, ctx.box, seed.dM[p], ctx.inverseLength);
    seed.haveD[p] = 1;
}

void viewFromSide(const OcclusionContext& ctx, const SeedView& seed, int32_t sign, SideView& side)
{
    Vec3 v = (ctx.geo->normRing[seed.seed] - seed.c) * ctx.cageDistance;
    side.vv = dot(v, v);
    side.v = sign < 0 ? -v : v;
    if (ctx.sealed) {
        const DVec3 vD = (toDouble(ctx.geo->normRing[seed.seed]) - toDouble(seed.c)) * ctx.cageDistance;
        side.vvD = dot(vD, vD);
        side.vD = sign < 0 ? -vD : vD;
    }
    side.tried.assign(seed.near.size(), -1);
    side.lastHider = -1;
    side.haveBlockers = false;
}

void blockersOfSide(const OcclusionContext& ctx, const SeedView& seed, SideView& side)
{
    side.haveBlockers = true;
    const std::size_t n = seed.near.size();
    // Inside a cone narrower than a half space, a candidate's centre lies in
    // front of the seed's plane, and so does the whole segment from the ray
    // start to it: a blocker whose reach stays behind the plane (by more
    // than rounding, here 0.05 angstrom) cannot meet it. Such blockers go to
    // a last step that is never scanned.
    const float vLength = std::sqrt(side.vv);
    const Vec3 unit = ctx.cosA > 0.0f && vLength > 0.0f ? side.v * (1.0f / vLength) : Vec3{};
    constexpr int32_t steps = SideView::steps;
    side.step.resize(n);
    side.front.resize(n);
    int32_t* step = side.step.data();
    side.behind.resize(n);
    uint8_t* behind = side.behind.data();
    const float* dx = seed.dx.data();
    const float* dy = seed.dy.data();
    const float* dz = seed.dz.data();
    const float* reach = seed.reach.data();
    const Vec3 sv = side.v;
    // The operations of dot(dM, unit) and norm(dM - v), a column at a time
    // (a loop the compiler vectorises).
    for (std::size_t p = 0; p < n; ++p) {
        float along = dx[p] * unit.x;
        along += dy[p] * unit.y;
        along += dz[p] * unit.z;
        const float ax = dx[p] - sv.x, ay = dy[p] - sv.y, az = dz[p] - sv.z;
        float squared = ax * ax;
        squared += ay * ay;
        squared += az * az;
        const float scaled = SideView::stepsPerAngstrom * (std::sqrt(squared) - reach[p]);
        const float clamped = std::min(scaled >= 1.0f ? scaled : 0.0f, float(steps - 1)); // not a number: 0
        step[p] = static_cast<int32_t>(clamped);
        behind[p] = static_cast<uint8_t>(along + reach[p] < -0.05f);
    }
    // The blockers in front, in near-list order.
    int32_t* front = side.front.data();
    std::size_t count = 0;
    for (std::size_t p = 0; p < n; ++p) {
        front[count] = static_cast<int32_t>(p);
        count += behind[p] == 0;
    }
    // Counting sort by step, stable.
    side.stepEnd.assign(steps + 1, 0);
    for (std::size_t i = 0; i < count; ++i)
        ++side.stepEnd[step[front[i]]];
    for (int32_t s = 1; s <= steps; ++s)
        side.stepEnd[s] += side.stepEnd[s - 1];
    side.item.resize(count);
    // A blocker behind the plane has no place in item; it is never a
    // candidate inside the cone, but should one be asked for, its place is
    // past the padding, where no scan reaches.
    const std::size_t padded = (count + 7) / 8 * 8;
    side.at.assign(n, static_cast<int32_t>(padded));
    // Whole blocks of eight; the padding is never in reach (a negative
    // reach squared). The pass writes every flag it reads.
    for (std::vector<float>* column : {&side.ox, &side.oy, &side.oz, &side.gap}) {
        column->resize(padded);
        const float pad = column == &side.gap ? 1e30f : 0.0f;
        std::fill(column->begin() + static_cast<std::ptrdiff_t>(count), column->end(), pad);
    }
    side.inReach.resize(padded / 64 + 1);
    for (std::size_t i = count; i-- > 0;) {
        const std::size_t p = static_cast<std::size_t>(front[i]);
        const std::size_t to = static_cast<std::size_t>(--side.stepEnd[step[p]]);
        side.item[to] = static_cast<int32_t>(p);
        side.at[p] = static_cast<int32_t>(to);
        const float ox = sv.x - dx[p], oy = sv.y - dy[p], oz = sv.z - dz[p];
        const float oo = ox * ox + oy * oy + oz * oz, reach2 = seed.reach2[p];
        side.ox[to] = ox;
        side.oy[to] = oy;
        side.oz[to] = oz;
        side.gap[to] = (oo - reach2) - 1e-5f * (2.0f * oo + reach2);
    }
    // stepEnd[s] now holds where step s starts; make it where it ends.
    for (int32_t s = 0; s < steps; ++s)
        side.stepEnd[s] = side.stepEnd[s + 1];
    side.stepEnd.resize(steps);
}

int segmentHitsRing(const Transform* tang, int32_t count, Vec3 o, Vec3 d)
{
    for (int32_t t = 0; t < count; ++t) {
        const Transform& T = tang[t];
        const float s = T[6] * o.x + T[7] * o.y + T[8] * o.z;
        const float g = T[6] * d.x + T[7] * d.y + T[8] * d.z;
        const float a = -s / g;
        if (!(a > 1e-7f && a < 1.0f))
            continue;
        const Vec3 w{o.x + a * d.x, o.y + a * d.y, o.z + a * d.z};
        const float xg = T[0] * w.x + T[1] * w.y + T[2] * w.z;
        const float yg = T[3] * w.x + T[4] * w.y + T[5] * w.z;
        if (xg >= 0.0f && yg >= 0.0f && xg + yg < 1.0f)
            return t;
    }
    return -1;
}

SealedTriangle sealedTriangle(DVec3 b, DVec3 c)
{
    SealedTriangle t;
    t.n = cross(b, c);
    const double nn = dot(t.n, t.n);
    if (!(nn > 0.0)) {
        t.n = DVec3{}; // too small to square: degenerate all the same
        return t;
    }
    // For p = xg b + yg c in the plane: (c x n) . p = xg nn and
    // (n x b) . p = yg nn.
    t.u = cross(c, t.n) * (1.0 / nn);
    t.w = cross(t.n, b) * (1.0 / nn);
    return t;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define KAVET_WIDE_KERNELS 1
namespace {

using Lanes4d = double __attribute__((vector_size(32)));
using Lanes2d = double __attribute__((vector_size(16)));
using Lanes8f = float __attribute__((vector_size(32)));
using Mask8f = int32_t __attribute__((vector_size(32)));

// An unaligned load, in the instruction set of the wide forms.
template <class V, class T>
__attribute__((target("avx2"), always_inline)) inline V loadWide(const T* p)
{
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Whether the processor runs the four- and eight-lane forms below.
const bool wideLanes = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

// segmentHitsSealed four triangles at a time (two where a column has fewer
// left), each lane with the operations of the two-lane form: the same bits.
// Lanes past a block of 64 belong to the next block; a hit there is the
// first one only when the block has none before it, so it may be returned.
__attribute__((target("avx2"))) int segmentHitsSealedWide(const double* fan, int32_t stride, int32_t count,
                                                           DVec3 o, DVec3 d)
{
    const std::size_t s = static_cast<std::size_t>(stride);
#define quad(c, t) loadWide<Lanes4d>(fan + (c) * s + static_cast<std::size_t>(t))
#define pair(c, t) loadWide<Lanes2d>(fan + (c) * s + static_cast<std::size_t>(t))
    const Lanes4d ox = {o.x, o.x, o.x, o.x}, oy = {o.y, o.y, o.y, o.y}, oz = {o.z, o.z, o.z, o.z};
    const Lanes4d dx = {d.x, d.x, d.x, d.x}, dy = {d.y, d.y, d.y, d.y}, dz = {d.z, d.z, d.z, d.z};
    const Lanes4d start = {1e-7, 1e-7, 1e-7, 1e-7}, one = {1.0, 1.0, 1.0, 1.0};
    const double lo = -sealedTolerance, hi = 1.0 + sealedTolerance;
    const Lanes4d low = {lo, lo, lo, lo}, high = {hi, hi, hi, hi};
    for (int32_t base = 0; base < count; base += 64) {
        const int32_t end = std::min(count, base + 64);
        uint64_t hit = 0;
        for (int32_t t = base; t < end;) {
            if (t + 4 <= stride) {
                const Lanes4d nx = quad(0, t), ny = quad(1, t), nz = quad(2, t);
                const Lanes4d a = -(nx * ox + ny * oy + nz * oz) / (nx * dx + ny * dy + nz * dz);
                const Lanes4d px = ox + dx * a, py = oy + dy * a, pz = oz + dz * a;
                const Lanes4d xg = px * quad(3, t) + py * quad(4, t) + pz * quad(5, t);
                const Lanes4d yg = px * quad(6, t) + py * quad(7, t) + pz * quad(8, t);
                const auto inside = (a > start) & (a < one) & (xg >= low) & (yg >= low) & (xg + yg <= high);
                hit |= static_cast<uint64_t>(__builtin_ia32_movmskpd256((Lanes4d)inside)) << (t - base);
                t += 4;
            } else {
                const Lanes2d pox = {o.x, o.x}, poy = {o.y, o.y}, poz = {o.z, o.z};
                const Lanes2d pdx = {d.x, d.x}, pdy = {d.y, d.y}, pdz = {d.z, d.z};
                const Lanes2d nx = pair(0, t), ny = pair(1, t), nz = pair(2, t);
                const Lanes2d a = -(nx * pox + ny * poy + nz * poz) / (nx * pdx + ny * pdy + nz * pdz);
                const Lanes2d px = pox + pdx * a, py = poy + pdy * a, pz = poz + pdz * a;
                const Lanes2d xg = px * pair(3, t) + py * pair(4, t) + pz * pair(5, t);
                const Lanes2d yg = px * pair(6, t) + py * pair(7, t) + pz * pair(8, t);
                const Lanes2d pstart = {1e-7, 1e-7}, pone = {1.0, 1.0}, plow = {lo, lo}, phigh = {hi, hi};
                const auto inside = (a > pstart) & (a < pone) & (xg >= plow) & (yg >= plow) & (xg + yg <= phigh);
                hit |= static_cast<uint64_t>(__builtin_ia32_movmskpd((Lanes2d)inside)) << (t - base);
                t += 2;
            }
        }
        if (hit != 0)
            return base + std::countr_zero(hit);
    }
#undef quad
#undef pair
    return -1;
}

} // namespace
#endif

int segmentHitsSealed(const double* fan, int32_t stride, int32_t count, DVec3 o, DVec3 d)
{
#ifdef KAVET_WIDE_KERNELS
    if (wideLanes)
        return segmentHitsSealedWide(fan, stride, count, o, d);
#endif
    return segmentHitsSealedPairs(fan, stride, count, o, d);
}

int segmentHitsSealedPairs(const double* fan, int32_t stride, int32_t count, DVec3 o, DVec3 d)
{
    // Two triangles at a time, every triangle of a block of 32 without
    // branches (the crossings do not depend on each other, so their
    // divisions overlap); the first one hit is returned. Each lane does the
    // operations of the one-triangle form in its order, so the bits are the
    // same.
    using Pair = double __attribute__((vector_size(16)));
    const std::size_t s = static_cast<std::size_t>(stride);
    auto column = [&](std::size_t c, int32_t t) {
        Pair v;
        std::memcpy(&v, fan + c * s + static_cast<std::size_t>(t), sizeof v);
        return v;
    };
    const Pair ox = {o.x, o.x}, oy = {o.y, o.y}, oz = {o.z, o.z};
    const Pair dx = {d.x, d.x}, dy = {d.y, d.y}, dz = {d.z, d.z};
    const Pair start = {1e-7, 1e-7}, one = {1.0, 1.0};
    const Pair low = {-sealedTolerance, -sealedTolerance}, high = {1.0 + sealedTolerance, 1.0 + sealedTolerance};
    for (int32_t base = 0; base < count; base += 32) {
        const int32_t end = std::min(count, base + 32);
        uint32_t hit = 0;
        for (int32_t t = base; t < end; t += 2) {
            const Pair nx = column(0, t), ny = column(1, t), nz = column(2, t);
            const Pair a = -(nx * ox + ny * oy + nz * oz) / (nx * dx + ny * dy + nz * dz);
            // The crossing point p = xg b + yg c + (1 - xg - yg) centre.
            const Pair px = ox + dx * a, py = oy + dy * a, pz = oz + dz * a;
            const Pair xg = px * column(3, t) + py * column(4, t) + pz * column(5, t);
            const Pair yg = px * column(6, t) + py * column(7, t) + pz * column(8, t);
            const auto inside = (a > start) & (a < one) & (xg >= low) & (yg >= low) & (xg + yg <= high);
            hit |= (static_cast<uint32_t>(inside[0] & 1) | static_cast<uint32_t>(inside[1] & 1) << 1) << (t - base);
        }
        // A pair may run past the ring into the padding, which is never hit.
        if (hit != 0)
            return base + std::countr_zero(hit);
    }
    return -1;
}

int segmentHitsRingSealed(const DVec3* member, int32_t count, DVec3 o, DVec3 d)
{
    const int32_t stride = sealedStride(count);
    std::vector<double> fan(sealedColumns * static_cast<std::size_t>(stride), 0.0);
    for (int32_t t = 0; t < count; ++t)
        putTriangle(fan.data(), static_cast<std::size_t>(stride), static_cast<std::size_t>(t),
                    sealedTriangle(member[t], member[t + 1 < count ? t + 1 : 0]));
    return segmentHitsSealed(fan.data(), stride, count, o, d);
}

namespace {

// Whether the segment from o to o + d comes within sqrt(reach2) of the origin.
inline bool segmentNearOrigin(Vec3 o, Vec3 d, float inv, float reach2)
{
    float t = -(o.x * d.x + o.y * d.y + o.z * d.z) * inv;
    t = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
    const float px = o.x + t * d.x, py = o.y + t * d.y, pz = o.z + t * d.z;
    return !(px * px + py * py + pz * pz > reach2);
}

// The exact test of the segment from v to v + d (sealed: v to v + dD)
// against the near ring at position p of the seed's near list.
int segmentHitsNearRing(const OcclusionContext& ctx, SeedView& seed, const SideView& side, std::size_t p, Vec3 d,
                        DVec3 dD)
{
    const int32_t m = seed.near[p];
    const RingGeometry& geo = *ctx.geo;
    if (ctx.sealed) {
        const DVec3 o = side.vD - centreD(ctx, seed, p);
        SealedCache& cache = seed.sealedRings;
        const std::size_t slot = static_cast<std::size_t>(m) & (cache.ring.size() - 1);
        double* fan = cache.fan.data() + slot * static_cast<std::size_t>(cache.stride) * sealedColumns;
        if (cache.ring[slot] != m) {
            prepareSealedRing(ctx, m, fan, cache.stride, cache.slab[slot]);
            cache.ring[slot] = m;
        }
        // Both ends beyond the fan's slab on one side: no crossing. The
        // allowance is far above the sealed tolerance and double rounding.
        const OcclusionContext::Slab& slab = cache.slab[slot];
        const double s0 = dot(slab.n, o), s1 = s0 + dot(slab.n, dD);
        const double allowance =
            1e-6 + 1e-8 * (slab.extent + std::fabs(o.x) + std::fabs(o.y) + std::fabs(o.z) + std::fabs(dD.x) +
                           std::fabs(dD.y) + std::fabs(dD.z));
        const double hi = slab.hi + allowance, lo = slab.lo - allowance;
        if (((s0 > hi) & (s1 > hi)) | ((s0 < lo) & (s1 < lo)))
            return -1;
        return segmentHitsSealed(fan, cache.stride, geo.tangCount(static_cast<std::size_t>(m)), o, dD);
    }
    const Vec3 o = side.v - seed.dM[p];
    return segmentHitsRing(geo.tang(static_cast<std::size_t>(m)), geo.tangCount(static_cast<std::size_t>(m)), o, d);
}

// Sets bit i of `bits` (zeroed) for each of the side's first n blockers
// (n a multiple of 4) whose reach may meet the segment from the ray start
// spanning d. The squared distance from the blocker's centre to the point of
// the segment at parameter t, |o + t d|^2, is o.o + t (2 o.d + t d.d); at
// the t of the closest approach, clamped to [0, 1] (not a number: 0), it
// is compared with the reach squared. Its rounding (under 1e-6 of
// o.o + d.d + reach^2; a t off the exact one by rounding moves the point by
// far less) is far below the allowance of 1e-5 of 2 o.o + 2 d.d + reach^2
// taken here (see SideView::gap), so a blocker whose reach the segment
// meets is always marked: the marks only spare exact tests, which decide.
// Not a number marks a blocker. Four blockers at a time.
#ifdef KAVET_WIDE_KERNELS
// scanReach eight blockers at a time (n is a multiple of 8), each lane with
// the operations of the four-lane form: the same bits.
__attribute__((target("avx2"))) void scanReachWide(const SideView& side, std::size_t n, Vec3 d, float dd, float inv,
                                                    uint64_t* bits)
{
    using Mask = Mask8f;
#define load(p) loadWide<Lanes8f>(p)
#define all(x) Lanes8f{x, x, x, x, x, x, x, x}
    const Lanes8f dx = all(d.x), dy = all(d.y), dz = all(d.z);
    const Lanes8f scale = all(inv), span = all(dd), zero = all(0.0f), one = all(1.0f);
    const float allowance = 2e-5f * dd;
    const Lanes8f extra = all(allowance);
#undef all
    for (std::size_t i = 0; i < n; i += 8) {
        const Lanes8f od = load(side.ox.data() + i) * dx + load(side.oy.data() + i) * dy + load(side.oz.data() + i) * dz;
        Lanes8f t = -od * scale;
        const Mask below = t < one;
        t = (Lanes8f)(((Mask)t & below) | ((Mask)one & ~below));
        t = (Lanes8f)((Mask)t & (zero < t));
        const Mask out = load(side.gap.data() + i) + t * ((od + od) + t * span) - extra > zero;
#undef load
        const uint64_t in = static_cast<uint64_t>(__builtin_ia32_movmskps256((Lanes8f)~out));
        bits[i / 64] |= in << (i % 64);
    }
}
#endif

void scanReach(const SideView& side, std::size_t n, Vec3 d, float dd, float inv, uint64_t* bits)
{
#ifdef KAVET_WIDE_KERNELS
    if (wideLanes && n % 8 == 0) {
        scanReachWide(side, n, d, dd, inv, bits);
        return;
    }
#endif
    using Quad = float __attribute__((vector_size(16)));
    using Mask = int32_t __attribute__((vector_size(16)));
    auto load = [](const float* p) {
        Quad v;
        std::memcpy(&v, p, sizeof v);
        return v;
    };
    const Quad dx = {d.x, d.x, d.x, d.x}, dy = {d.y, d.y, d.y, d.y}, dz = {d.z, d.z, d.z, d.z};
    const Quad scale = {inv, inv, inv, inv}, span = {dd, dd, dd, dd}, zero = {0, 0, 0, 0}, one = {1, 1, 1, 1};
    const float allowance = 2e-5f * dd;
    const Quad extra = {allowance, allowance, allowance, allowance};
    for (std::size_t i = 0; i < n; i += 4) {
        const Quad od = load(side.ox.data() + i) * dx + load(side.oy.data() + i) * dy + load(side.oz.data() + i) * dz;
        Quad t = -od * scale;
        const Mask below = t < one; // min(1, t) is t where t < 1, else 1
        t = (Quad)(((Mask)t & below) | ((Mask)one & ~below));
        t = (Quad)((Mask)t & (zero < t)); // max(0, t) is t where 0 < t, else 0
        const Mask out = load(side.gap.data() + i) + t * ((od + od) + t * span) - extra > zero;
        uint64_t in = 0;
#if defined(__SSE__)
        in = static_cast<uint64_t>(__builtin_ia32_movmskps((Quad)~out));
#else
        for (int k = 0; k < 4; ++k)
            in |= static_cast<uint64_t>(out[k] == 0) << k;
#endif
        bits[i / 64] |= in << (i % 64);
    }
}

} // namespace

bool visibleFromSide(const OcclusionContext& ctx, SeedView& seed, SideView& side, std::size_t pos,
                     OcclusionTrace* trace, int32_t parent, int32_t other)
{
    const Vec3 dK = seed.dM[pos];
    if (trace)
        trace->lineOfSight(seed.seed, seed.near[pos], dK, dot(dK, side.v));
    if (ctx.sealed ? !insideCone(ctx, side, centreD(ctx, seed, pos)) : !insideCone(ctx, side, dK))
        return false;
    const Vec3 d = dK - side.v;
    const DVec3 dD = ctx.sealed ? seed.dMD[pos] - side.vD : DVec3{};
    const float dd = dot(d, d);
    const float inv = dd > 0.0f ? 1.0f / dd : 0.0f;
    const int64_t test = ++side.test;
    // A near list built piecemeal may have grown since the side was set up.
    if (side.tried.size() < seed.near.size())
        side.tried.resize(seed.near.size(), -1);
    if (!trace) {
        auto hides = [&](int32_t p) {
            if (p < 0 || static_cast<std::size_t>(p) == pos || side.tried[p] == test ||
                !segmentNearOrigin(side.v - seed.dM[p], d, inv, seed.reach2[p]))
                return false;
            side.tried[p] = test;
            if (segmentHitsNearRing(ctx, seed, side, p, d, dD) < 0)
                return false;
            side.lastHider = p;
            return true;
        };
        if (hides(parent))
            return false;
        if (hides(other))
            return false;
        if (hides(side.lastHider))
            return false;

        // Only the blockers whose reach comes within the segment's length of
        // the ray start.
        if (!side.haveBlockers) {
            completeNearRings(ctx, seed);
            side.tried.resize(seed.near.size(), -1);
            blockersOfSide(ctx, seed, side);
        }
        const float length = std::sqrt(dd);
        const std::size_t steps = side.stepEnd.size();
        std::size_t n = static_cast<std::size_t>(side.stepEnd[steps - 1]);
        if (length < float(steps - 2) / SideView::stepsPerAngstrom)
            n = static_cast<std::size_t>(
                side.stepEnd[static_cast<std::size_t>(SideView::stepsPerAngstrom * length) + 1]);
        // Blockers past the limit cannot be in reach, and testing one is
        // harmless: the scan runs over whole blocks of eight.
        n = std::min((n + 7) / 8 * 8, side.ox.size());
        const std::size_t count = side.item.size();
        uint64_t* bits = side.inReach.data();
        const std::size_t words = (n + 63) / 64;
        std::fill(bits, bits + words, uint64_t(0));
        scanReach(side, n, d, dd, inv, bits);
        // The candidate itself is no blocker, nor is the padding (should the
        // segment not be a number); the padding shares the last word.
        if (const std::size_t at = static_cast<std::size_t>(side.at[pos]); at < n)
            bits[at / 64] &= ~(uint64_t(1) << (at % 64));
        if (n > count)
            bits[count / 64] &= (uint64_t(1) << (count % 64)) - 1;
        // Few blockers are in reach: visit only the set bits.
        for (std::size_t word = 0; word < words; ++word) {
            uint64_t any = bits[word];
            while (any != 0) {
                const std::size_t i = word * 64 + static_cast<std::size_t>(std::countr_zero(any));
                any &= any - 1;
                const std::size_t p = static_cast<std::size_t>(side.item[i]);
                if (side.tried[p] == test)
                    continue;
                if (segmentHitsNearRing(ctx, seed, side, p, d, dD) >= 0) {
                    side.lastHider = static_cast<int32_t>(p);
                    return false;
                }
            }
        }
        return true;
    }

    // Traced: every blocker in ascending ring order. A blocker whose sphere
    // misses the segment cannot be hit, so the first hit is the same.
    completeNearRings(ctx, seed);
    const std::size_t n = seed.near.size();
    std::vector<std::size_t> ascending(n);
    for (std::size_t p = 0; p < n; ++p)
        ascending[p] = p;
    std::sort(ascending.begin(), ascending.end(),
              [&](std::size_t a, std::size_t b) { return seed.near[a] < seed.near[b]; });
    bool occluded = false;
    for (std::size_t i = 0; i < n && !occluded; ++i) {
        const std::size_t p = ascending[i];
        if (p == pos)
            continue;
        if (seed.near[p] == trace->blocker)
            trace->blockerRay(seed.dM[p], side.v - seed.dM[p], d);
        if (!segmentNearOrigin(side.v - seed.dM[p], d, inv, seed.reach2[p]))
            continue;
        const int t = segmentHitsNearRing(ctx, seed, side, p, d, dD);
        if (t >= 0) {
            trace->hit(seed.near[p], t);
            occluded = true;
        }
    }
    trace->verdict(occluded);
    return !occluded;
}

} // namespace kavet
