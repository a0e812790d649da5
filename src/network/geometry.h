// Small single-precision vector type and the periodic minimum image.
// Every geometric result of kavet is computed in float, with dot products and
// squared lengths summed x, then y, then z, so that results are reproducible
// to the last bit.
#pragma once

#include <cmath>
#include <cstdint>

namespace kavet {

struct Vec3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator-(Vec3 a) { return {-a.x, -a.y, -a.z}; }

// Summed x, then y, then z.
inline float dot(Vec3 a, Vec3 b)
{
    float s = a.x * b.x;
    s += a.y * b.y;
    s += a.z * b.z;
    return s;
}

inline float norm(Vec3 a) { return std::sqrt(dot(a, a)); }

// Box lengths in angstrom. An axis whose length is not positive is not periodic.
struct Box {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};

// Rounds half-way cases away from zero, as std::round does, without a call
// into the maths library: the fractional part of a float is exact.
inline float roundHalfAway(float q)
{
    if (!(std::fabs(q) < 8388608.0f)) // 2^23: already a whole number, or not a number
        return q;
    float t = static_cast<float>(static_cast<int32_t>(q));
    const float f = q - t;
    if (f >= 0.5f)
        t += 1.0f;
    else if (f <= -0.5f)
        t -= 1.0f;
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

// The minimum image of the difference a - b.
inline Vec3 minimumImage(Vec3 a, Vec3 b, const Box& box)
{
    Vec3 d = a - b;
    return {minimumImage(d.x, box.x), minimumImage(d.y, box.y), minimumImage(d.z, box.z)};
}

} // namespace kavet
