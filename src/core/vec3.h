// The small single-precision vector of every geometric result. Dot products
// and squared lengths are summed x, then y, then z, so that results are
// reproducible to the last bit.
#pragma once

#include <cmath>

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

} // namespace kavet
