// The triclinic minimum image against brute force: for random cells in
// GROMACS's reduced form (shears up to and at the limits, flat and long
// cells) and random points far inside and outside the cell, the result is a
// lattice translate of the difference, no periodic image within two cells of
// it is shorter, a short difference comes back bit for bit, and the lower
// bound used to skip the search is below the image's length.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/box.h"

namespace kavet {
namespace {

TEST(TriclinicMinimumImage, IsTheShortestImageAndATranslateOfTheDifference)
{
    long long shifted = 0;
    for (unsigned seed = 1; seed <= 400; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        auto length = [&] { return static_cast<float>(4.0 + 60.0 * unit(rng) * unit(rng)); };
        // A shear anywhere in [-L/2, L/2], or at either limit.
        auto shear = [&](float l) {
            const double u = unit(rng);
            const double f = u < 0.15 ? -0.5 : u > 0.85 ? 0.5 : unit(rng) - 0.5;
            return static_cast<float>(f * l);
        };
        Box box;
        box.x = length();
        box.y = length();
        box.z = length();
        box.yx = seed % 4 == 1 ? 0.0f : shear(box.x);
        box.zx = seed % 4 == 2 ? 0.0f : shear(box.x);
        box.zy = seed % 4 == 3 ? 0.0f : shear(box.y);
        if (!box.triclinic())
            box.zy = 0.25f * box.y;
        const double X = box.x, Y = box.y, Z = box.z, YX = box.yx, ZX = box.zx, ZY = box.zy;
        const double m = std::min({X, Y, Z});
        auto point = [&] {
            const double s[3] = {unit(rng) * 5.0 - 2.0, unit(rng) * 5.0 - 2.0, unit(rng) * 5.0 - 2.0};
            return Vec3{static_cast<float>(s[0] * X + s[1] * YX + s[2] * ZX), static_cast<float>(s[1] * Y + s[2] * ZY),
                        static_cast<float>(s[2] * Z)};
        };
        for (int trial = 0; trial < 300; ++trial) {
            const Vec3 a = point();
            // Half the pairs close together, to reach the short-difference exit.
            const Vec3 b = trial % 2 ? point()
                                     : a + Vec3{static_cast<float>((unit(rng) - 0.5) * m),
                                                static_cast<float>((unit(rng) - 0.5) * m),
                                                static_cast<float>((unit(rng) - 0.5) * m)};
            const Vec3 r = minimumImage(a, b, box);
            const double d[3] = {static_cast<double>(a.x) - b.x, static_cast<double>(a.y) - b.y,
                                 static_cast<double>(a.z) - b.z};
            // r - d in lattice coordinates: whole numbers.
            const double e[3] = {r.x - d[0], r.y - d[1], r.z - d[2]};
            const double k = e[2] / Z, j = (e[1] - k * ZY) / Y, i = (e[0] - j * YX - k * ZX) / X;
            ASSERT_NEAR(i, std::round(i), 1e-4) << "seed " << seed << " trial " << trial;
            ASSERT_NEAR(j, std::round(j), 1e-4) << "seed " << seed << " trial " << trial;
            ASSERT_NEAR(k, std::round(k), 1e-4) << "seed " << seed << " trial " << trial;
            if (std::round(i) != 0 || std::round(j) != 0 || std::round(k) != 0)
                ++shifted;
            const double len2 = static_cast<double>(r.x) * r.x + static_cast<double>(r.y) * r.y +
                                static_cast<double>(r.z) * r.z;
            // Brute force: the images of r up to two cells away along every vector.
            double best = HUGE_VAL;
            for (int p = -2; p <= 2; ++p)
                for (int q = -2; q <= 2; ++q)
                    for (int s = -2; s <= 2; ++s) {
                        const double x = r.x + p * X + q * YX + s * ZX, y = r.y + q * Y + s * ZY, z = r.z + s * Z;
                        best = std::min(best, x * x + y * y + z * z);
                    }
            ASSERT_LE(std::sqrt(len2), std::sqrt(best) + 1e-4 * (1.0 + m))
                << "seed " << seed << " trial " << trial << ": a shorter image exists";
            ASSERT_LE(triclinicImageLowerBound(a, b, box), norm(r)) << "seed " << seed << " trial " << trial;
            if (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] < 0.24 * m * m) {
                const Vec3 raw = a - b;
                ASSERT_TRUE(r.x == raw.x && r.y == raw.y && r.z == raw.z) << "a short difference was changed";
            }
        }
    }
    EXPECT_GT(shifted, 30000);
}
} // namespace
} // namespace kavet
