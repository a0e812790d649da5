// The periodic cell and the minimum image. The cell is the 3x3 matrix whose
// rows are the cell vectors a, b and c in GROMACS's reduced form: a along x,
// b in the xy plane, so the matrix is lower triangular. A rectangular cell has
// only its diagonal; an axis whose length is not positive is not periodic.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/vec3.h"

namespace kavet {

struct Box {
    // The diagonal: the box lengths of a rectangular cell.
    float x = 0.0f, y = 0.0f, z = 0.0f;
    // The off-diagonal terms of the reduced form, named as GROMACS names them:
    // b = (yx, y, 0) and c = (zx, zy, z). All zero in a rectangular cell.
    float yx = 0.0f, zx = 0.0f, zy = 0.0f;

    Vec3 a() const { return {x, 0.0f, 0.0f}; }
    Vec3 b() const { return {yx, y, 0.0f}; }
    Vec3 c() const { return {zx, zy, z}; }
    bool triclinic() const { return yx != 0.0f || zx != 0.0f || zy != 0.0f; }
};

// Rounds half-way cases away from zero, as std::round does, without a call
// into the maths library: the fractional part of a float or double is exact.
template <class Real>
inline Real roundHalfAway(Real q)
{
    // 2^23 for float, 2^52 for double: already a whole number, or not a number.
    if (!(std::fabs(q) < Real(1) / std::numeric_limits<Real>::epsilon()))
        return q;
    Real t = static_cast<Real>(static_cast<int64_t>(q));
    const Real f = q - t;
    if (f >= Real(0.5))
        t += Real(1);
    else if (f <= Real(-0.5))
        t -= Real(1);
    return std::copysign(t, q);
}

// Reduce one component of a difference to its nearest periodic image:
// d - L * round(d / L), half-way cases away from zero, in single precision.
inline float minimumImage(float d, float length)
{
    if (!(length > 0.0f))
        return d;
    // round(d / L) is 0 whenever |d / L| < 0.5, and d - L * 0 is d; below
    // 0.49 L that holds without the division.
    if (std::fabs(d) < 0.49f * length)
        return d;
    const float q = d / length;
    if (std::fabs(q) < 0.5f)
        return d;
    return d - length * roundHalfAway(q);
}

// The minimum image of a - b in a triclinic cell: the shortest of its
// periodic images, found in double precision (box.cpp). A cell vector whose
// own axis length (its diagonal element) is not positive is not periodic.
Vec3 triclinicMinimumImage(Vec3 a, Vec3 b, const Box& box);

// A length that no periodic image of a - b in a triclinic cell is shorter
// than, found without the search for the shortest: a reduced difference
// shorter than half the shortest axis length is the minimum image, so no
// image is shorter than the reduced difference or that half, whichever is
// less. Kept a little below, so that a length computed from any image in
// single precision is not below it either; 0 when nothing is known.
float triclinicImageLowerBound(Vec3 a, Vec3 b, const Box& box);

// The minimum image of the difference a - b. A rectangular cell reduces each
// component on its own, in single precision; a triclinic cell takes the
// shortest image.
inline Vec3 minimumImage(Vec3 a, Vec3 b, const Box& box)
{
    if (box.triclinic()) {
        // The common case inline: a difference shorter than half the shortest
        // axis length is its own minimum image (box.cpp).
        const Vec3 d = a - b;
        float m = box.x > 0.0f ? box.x : HUGE_VALF;
        m = box.y > 0.0f && box.y < m ? box.y : m;
        m = box.z > 0.0f && box.z < m ? box.z : m;
        const float h = 0.49f * m;
        if (dot(d, d) < h * h)
            return d;
        return triclinicMinimumImage(a, b, box);
    }
    Vec3 d = a - b;
    return {minimumImage(d.x, box.x), minimumImage(d.y, box.y), minimumImage(d.z, box.z)};
}

} // namespace kavet
