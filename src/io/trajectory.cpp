#include "io/trajectory.h"

#include <cmath>
#include <cstdio>

#include "core/error.h"
#include "io/gro_reader.h"

namespace kavet {

std::unique_ptr<TrajectoryReader> openTrajectory(const std::string& path, int32_t expectedAtoms)
{
    auto endsWith = [&](const char* ext) {
        const std::string e(ext);
        return path.size() >= e.size() && path.compare(path.size() - e.size(), e.size(), e) == 0;
    };
    if (endsWith(".gro"))
        return std::make_unique<GroTrajectory>(path);
    if (endsWith(".xtc") || endsWith(".trr"))
        return openGmxTrajectory(path, expectedAtoms);
    throw InputError("cannot read the trajectory " + path + ": kavet reads .gro, .xtc and .trr files");
}

// Three lengths along the axes, positive, or zero for an axis that is not
// periodic (a negative length is no cell: it is refused, not taken as an
// axis without periodicity); or, with any off-diagonal number other than zero, a
// cell in GROMACS's form: v1 along x, v2 in the xy plane, positive lengths
// along the axes (a vector leaning on an axis that is not periodic has no
// meaning), and the reduced-box limits |v2(x)|, |v3(x)| <= v1(x)/2 and
// |v3(y)| <= v2(y)/2, with the 0.1 % margin GROMACS's own check of the box
// allows and 0.00001 nm for the rounding of a .gro file's five decimals.
std::string readCell(const float* v, bool nine, Box& box)
{
    const char* axes[3] = {"x", "y", "z"};
    float length[3];
    for (int k = 0; k < 3; ++k) {
        length[k] = v[k] * 10.0f;
        if (!std::isfinite(length[k]))
            return std::string("the ") + axes[k] + " box length is not a finite number";
    }
    Box cell{length[0], length[1], length[2]};
    if (nine) {
        const char* names[9] = {"v1(x)", "v2(y)", "v3(z)", "v1(y)", "v1(z)", "v2(x)", "v2(z)", "v3(x)", "v3(y)"};
        bool zero = true;
        for (int k = 3; k < 9; ++k) {
            if (!std::isfinite(v[k]))
                return std::string("the box component ") + names[k] + " is not a finite number";
            zero = zero && v[k] == 0.0f;
        }
        if (!zero) {
            auto number = [](double x) {
                char text[64];
                std::snprintf(text, sizeof text, "%.5f", x);
                return std::string(text);
            };
            for (int k : {3, 4, 6})
                if (v[k] != 0.0f)
                    return std::string("the box component ") + names[k] + " is " + number(v[k]) +
                           ": a triclinic box needs v1 along x and v2 in the xy plane (v1(y), v1(z) and v2(z) 0)";
            for (int k = 0; k < 3; ++k)
                if (!(v[k] > 0.0f))
                    return std::string("the box length ") + names[k] + " is " + number(v[k]) +
                           ": a triclinic box needs three positive lengths";
            const int limits[3][2] = {{5, 0}, {7, 0}, {8, 1}}; // |v[off]| <= v[diag] / 2
            for (const auto& [off, diag] : limits) {
                const double half = 0.5 * static_cast<double>(v[diag]);
                if (!(std::fabs(static_cast<double>(v[off])) <= half * 1.001 + 1e-5))
                    return std::string("the triclinic box is not reduced: |") + names[off] + "| = " +
                           number(std::fabs(v[off])) + " is more than half of " + names[diag] + " = " +
                           number(v[diag]);
            }
            cell.yx = v[5] * 10.0f;
            cell.zx = v[7] * 10.0f;
            cell.zy = v[8] * 10.0f;
        }
    }
    for (int k = 0; k < 3; ++k)
        if (v[k] < 0.0f) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "the %s box length is %.5f nm: a box length is positive, or 0 for an axis that is not "
                          "periodic",
                          axes[k], static_cast<double>(v[k]));
            return text;
        }
    box = cell;
    return {};
}

std::string frameContext(int64_t frame, double lastTime)
{
    if (frame == 0)
        return "frame 0";
    char buf[96];
    std::snprintf(buf, sizeof buf, "frame %lld, after the frame at t = %g ps", static_cast<long long>(frame),
                  lastTime);
    return buf;
}

} // namespace kavet
