#include "core/box.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kavet {

// The cell vectors are the rows of a lower-triangular matrix, a = (x, 0, 0),
// b = (yx, y, 0), c = (zx, zy, z), so a lattice vector L = i a + j b + k c has
// the z component k z, the y component j y + k zy and the x component
// i x + j yx + k zx: z depends on k alone, y on j and k, and only x on i.
//
// Every non-zero lattice vector is at least m = min(x, y, z) long: if k != 0,
// |L| >= |k| z; else if j != 0, |L| >= |j| y; else |L| = |i| x. A difference
// d with |d| < m / 2 is therefore the minimum image, and the only one, since
// every other image has |d + L| >= |L| - |d| > m / 2 > |d|.
//
// Otherwise d is first reduced with c, then b, then a (each a rounded
// multiple), which leaves |d_z| <= z / 2, |d_y| <= y / 2, |d_x| <= x / 2, and
// the shortest image is searched exhaustively: an image shorter than the
// reduced d = (dx, dy, dz) needs (dz + k z)^2 < |d|^2, which bounds k; for
// each such k, (dz + k z)^2 + (dy + k zy + j y)^2 < |d|^2 bounds j; for each
// (k, j) the best i is the rounding of the x component. Nothing outside these
// bounds can be shorter, so the result is exact whatever the shape of the
// cell. Ties keep the reduced difference, and otherwise the image met first
// (ascending k, then ascending j); the result depends only on a - b and the
// cell, so it is the same on every run.
namespace {

// a - b in double precision, reduced with c, then b, then a.
struct Reduction {
    bool valid = false;  // a finite difference and at least one periodic vector
    double half2 = 0.0;  // (m / 2)^2, m the shortest periodic axis length
    double span = 0.0;   // the squared diagonal of the brick of periodic axis lengths
    double raw2 = 0.0;   // |a - b|^2
    double dx = 0.0, dy = 0.0, dz = 0.0; // the reduced difference
    double i0 = 0.0, j0 = 0.0, k0 = 0.0; // the multiples of a, b and c taken off
};

// A difference shorter than half the shortest axis length is left as it is:
// it is its own minimum image.
Reduction reduce(Vec3 a, Vec3 b, const Box& box)
{
    Reduction r;
    double dx = static_cast<double>(a.x) - static_cast<double>(b.x);
    double dy = static_cast<double>(a.y) - static_cast<double>(b.y);
    double dz = static_cast<double>(a.z) - static_cast<double>(b.z);
    if (!(std::isfinite(dx) && std::isfinite(dy) && std::isfinite(dz)))
        return r;
    const bool pa = box.x > 0.0f, pb = box.y > 0.0f, pc = box.z > 0.0f;
    const double X = box.x, Y = box.y, Z = box.z, YX = box.yx, ZX = box.zx, ZY = box.zy;
    double m = HUGE_VAL;
    const bool periodic[3] = {pa, pb, pc};
    const double length[3] = {X, Y, Z};
    for (int axis = 0; axis < 3; ++axis) {
        if (periodic[axis]) {
            m = std::min(m, length[axis]);
            r.span += length[axis] * length[axis];
        }
    }
    if (!(m < HUGE_VAL))
        return r;
    r.valid = true;
    r.half2 = 0.25 * m * m;
    r.raw2 = dx * dx + dy * dy + dz * dz;
    if (r.raw2 < r.half2) {
        r.dx = dx, r.dy = dy, r.dz = dz;
        return r;
    }
    r.k0 = pc ? std::round(dz / Z) : 0.0;
    dz -= r.k0 * Z;
    dy -= r.k0 * ZY;
    dx -= r.k0 * ZX;
    r.j0 = pb ? std::round(dy / Y) : 0.0;
    dy -= r.j0 * Y;
    dx -= r.j0 * YX;
    r.i0 = pa ? std::round(dx / X) : 0.0;
    dx -= r.i0 * X;
    r.dx = dx, r.dy = dy, r.dz = dz;
    return r;
}

} // namespace

Vec3 triclinicMinimumImage(Vec3 a, Vec3 b, const Box& box)
{
    const Vec3 raw = a - b;
    const Reduction red = reduce(a, b, box);
    if (!red.valid || red.raw2 < red.half2)
        return raw;
    const bool pa = box.x > 0.0f, pb = box.y > 0.0f, pc = box.z > 0.0f;
    const double X = box.x, Y = box.y, Z = box.z, YX = box.yx, ZX = box.zx, ZY = box.zy;
    const double dx = red.dx, dy = red.dy, dz = red.dz, i0 = red.i0, j0 = red.j0, k0 = red.k0;
    const double half2 = red.half2, span = red.span;

    double best = dx * dx + dy * dy + dz * dz;
    double bx = dx, by = dy, bz = dz;
    // The multiples of a, b and c added to the reduced difference.
    double bi = 0.0, bj = 0.0, bk = 0.0;
    // A reduced difference is at most half the diagonal of the x, y, z brick
    // long; a longer one means the reduction lost its precision (coordinates
    // far outside the cell), and the search range of a cell thousands of
    // times longer than it is thick would not be short. Both keep the
    // reduced difference.
    // The whole steps m with |d + m L| <= r along an axis (only m = 0 when
    // it is not periodic): the first, and how many (none beyond maxSteps).
    // The loops count: far from zero, ++ on a double may not change it.
    auto steps = [](bool periodic, double r, double d, double length) {
        constexpr double maxSteps = 4096.0;
        const double lo = periodic ? std::ceil((-r - d) / length) : 0.0;
        const double hi = periodic ? std::floor((r - d) / length) : 0.0;
        return std::pair{lo, hi - lo < maxSteps ? static_cast<int>(hi - lo) + 1 : 0};
    };
    if (best >= half2 && best <= 0.25 * span * (1.0 + 1e-9)) {
        const auto [kLo, kCount] = steps(pc, std::sqrt(best), dz, Z);
        for (int kStep = 0; kStep < kCount; ++kStep) {
            const double k = kLo + kStep;
            const double ez = dz + k * Z;
            const double rest = best - ez * ez;
            if (!(rest > 0.0))
                continue;
            const double ey0 = dy + k * ZY, ex0 = dx + k * ZX;
            const auto [jLo, jCount] = steps(pb, std::sqrt(rest), ey0, Y);
            for (int jStep = 0; jStep < jCount; ++jStep) {
                const double j = jLo + jStep;
                const double ey = ey0 + j * Y;
                if (!(ez * ez + ey * ey < best))
                    continue;
                const double ex1 = ex0 + j * YX;
                const double i = pa ? -std::round(ex1 / X) : 0.0;
                const double ex = ex1 + i * X;
                const double len = ex * ex + ey * ey + ez * ez;
                if (len < best) {
                    best = len;
                    bx = ex;
                    by = ey;
                    bz = ez;
                    bi = i;
                    bj = j;
                    bk = k;
                }
            }
        }
    }
    // No shift at all: the difference as the rectangular path has it.
    if (bi == i0 && bj == j0 && bk == k0)
        return raw;
    return {static_cast<float>(bx), static_cast<float>(by), static_cast<float>(bz)};
}

float triclinicImageLowerBound(Vec3 a, Vec3 b, const Box& box)
{
    const Reduction red = reduce(a, b, box);
    const double len2 = red.dx * red.dx + red.dy * red.dy + red.dz * red.dz;
    if (!red.valid || !(len2 <= 0.25 * red.span * (1.0 + 1e-9)))
        return 0.0f;
    // Below the rounding of any length computed from the image in single precision.
    return static_cast<float>(std::sqrt(std::min(len2, red.half2)) * (1.0 - 1e-5));
}

} // namespace kavet
