// A double-precision vector for the measures that must not depend on
// single-precision rounding: the sealed line of sight, guest placement and
// the torsions of F4. Positions come in as floats; a difference of two floats
// of similar size is exact in double, so offsets built from them are the
// exact offsets of the stored positions.
#pragma once

#include <cfloat>
#include <cmath>

#include "core/box.h"
#include "core/vec3.h"

namespace kavet {

struct DVec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

inline DVec3 toDouble(Vec3 v) { return {v.x, v.y, v.z}; }

inline DVec3 operator+(DVec3 a, DVec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline DVec3 operator-(DVec3 a, DVec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline DVec3 operator*(DVec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline DVec3 operator-(DVec3 a) { return {-a.x, -a.y, -a.z}; }

inline double dot(DVec3 a, DVec3 b)
{
    double s = a.x * b.x;
    s += a.y * b.y;
    s += a.z * b.z;
    return s;
}

inline DVec3 cross(DVec3 a, DVec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline double norm(DVec3 a) { return std::sqrt(dot(a, a)); }

// The whole multiples of the cell vectors c, then b, then a that bring d
// nearest the origin, each taken from what the previous ones left, as GROMACS
// reduces its cell form (in a rectangular cell: each axis on its own).
// Half-way cases round away from zero, as the single-precision image does.
struct LatticeSteps {
    double a = 0.0, b = 0.0, c = 0.0;
};

inline LatticeSteps latticeSteps(DVec3 d, const Box& box)
{
    auto whole = [](double q, double length) { return length > 0.0 ? roundHalfAway(q / length) : 0.0; };
    LatticeSteps k;
    k.c = whole(d.z, box.z);
    d = d - DVec3{box.zx, box.zy, box.z} * k.c;
    k.b = whole(d.y, box.y);
    d = d - DVec3{box.yx, box.y, 0.0} * k.b;
    k.a = whole(d.x, box.x);
    return k;
}

// d less the whole multiples k of the cell vectors c, then b, then a.
inline DVec3 shifted(DVec3 d, const Box& box, const LatticeSteps& k)
{
    return d - DVec3{box.zx, box.zy, box.z} * k.c - DVec3{box.yx, box.y, 0.0} * k.b - DVec3{box.x, 0.0, 0.0} * k.a;
}

// The minimum image of the difference d in double precision, reduced along
// c, then b, then a.
inline DVec3 minimumImage(DVec3 d, const Box& box)
{
    const LatticeSteps k = latticeSteps(d, box);
    d = d - DVec3{box.zx, box.zy, box.z} * k.c;
    d = d - DVec3{box.yx, box.y, 0.0} * k.b;
    d.x -= box.x * k.a;
    return d;
}

// The minimum image of a - b for stored positions, in double precision.
inline DVec3 minimumImageD(Vec3 a, Vec3 b, const Box& box)
{
    return minimumImage(toDouble(a) - toDouble(b), box);
}

// The difference a - b in double precision at the periodic image that the
// single-precision minimumImage(a, b, box) picked. Where a and b lie half a
// box apart the image is a tie, which single and double precision may break
// differently; this keeps the choice of the rest of the analysis.
inline DVec3 sameImageD(Vec3 a, Vec3 b, const Box& box, Vec3 image)
{
    const DVec3 raw = toDouble(a) - toDouble(b);
    // The cell vector that the single-precision image subtracted, rounded to
    // whole multiples of the cell vectors c, b and a in turn.
    const LatticeSteps k = latticeSteps(raw - toDouble(image), box);
    return shifted(raw, box, k);
}

// The same in a rectangular cell, with inverse[k] = 1 / length of axis k
// (0 where the axis is not periodic): the shift is a whole number of box
// lengths, found by multiplying with the inverse where the quotient is that
// close to a whole number that division cannot round it differently, and by
// sameImageD otherwise.
inline DVec3 sameImageRectangular(Vec3 a, Vec3 b, const Box& box, Vec3 image, const double* inverse)
{
    const DVec3 raw = toDouble(a) - toDouble(b);
    const DVec3 shift = raw - toDouble(image);
    const double q[3] = {shift.x * inverse[0], shift.y * inverse[1], shift.z * inverse[2]};
    // The nearest whole numbers, ties to even, by adding and taking away
    // 1.5 * 2^52 (exact for |q| < 2^51; anything else fails the test below).
    // Only a quotient within a quarter of a whole number is used, where ties
    // do not arise.
    static_assert(FLT_EVAL_METHOD == 0, "rounding by 1.5 * 2^52 needs double arithmetic in double precision");
    constexpr double toWhole = 0x1.8p52;
    const LatticeSteps k{(q[0] + toWhole) - toWhole, (q[1] + toWhole) - toWhole, (q[2] + toWhole) - toWhole};
    if (!(std::fabs(q[0] - k.a) < 0.25 && std::fabs(q[1] - k.b) < 0.25 && std::fabs(q[2] - k.c) < 0.25))
        return sameImageD(a, b, box, image);
    return shifted(raw, box, k);
}

// The same, given image = minimumImage(a, b, box).
inline DVec3 sameImageD(Vec3 a, Vec3 b, const Box& box)
{
    return sameImageD(a, b, box, minimumImage(a, b, box));
}

} // namespace kavet
