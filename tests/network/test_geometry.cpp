// The minimum image's own rounding must equal the C library's round() for
// every float, half-way cases and signed zeros included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "core/box.h"

namespace kavet {
namespace {

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

TEST(MinimumImage, RoundsLikeTheCLibrary)
{
    std::vector<float> q{0.0f, -0.0f, 0.5f, -0.5f, 1.5f, -2.5f, 0.49999997f, -0.49999997f, 8388607.5f, 8388608.0f,
                         -8388609.0f, 1e30f, INFINITY, -INFINITY, NAN};
    std::mt19937 random(3);
    std::uniform_int_distribution<uint32_t> bits;
    for (int k = 0; k < 200000; ++k) {
        uint32_t b = bits(random);
        float f;
        std::memcpy(&f, &b, sizeof f);
        q.push_back(f);
        q.push_back(std::ldexp(static_cast<float>(b % 4096), -1) * (k % 2 ? 1.0f : -1.0f));
    }
    for (float v : q)
        ASSERT_TRUE(sameBits(roundHalfAway(v), std::round(v))) << v;
}

TEST(MinimumImage, ReducesEachAxisToTheNearestImage)
{
    const Box box{10.0f, 10.0f, 0.0f};
    const Vec3 d = minimumImage(Vec3{9.5f, -5.0f, 40.0f}, Vec3{0.5f, 0.0f, 0.0f}, box);
    EXPECT_EQ(d.x, -1.0f);
    EXPECT_EQ(d.y, 5.0f); // half-way away from zero: -5 - 10 * round(-0.5) = 5
    EXPECT_EQ(d.z, 40.0f); // a zero box length is not periodic
    for (float x = -37.0f; x < 37.0f; x += 0.37f)
        EXPECT_TRUE(sameBits(minimumImage(x, 7.3f), x - 7.3f * std::round(x / 7.3f))) << x;
}

} // namespace
} // namespace kavet
