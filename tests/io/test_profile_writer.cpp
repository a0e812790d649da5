// The slab profile against a twin that places each point by its reciprocal
// vector: in a triclinic cell, along each axis, with points and cage centres
// beyond the cell wrapped back.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "core/dvec3.h"
#include "core/error.h"
#include "io/profile_writer.h"

namespace kavet {
namespace {


TEST(Profile, CountsEachWaterAndCageInTheSlabOfItsReciprocalCoordinate)
{
    Frame f;
    f.box = {24.0f, 21.0f, 30.0f, 6.0f, -5.0f, 4.0f};
    const DVec3 cell[3] = {toDouble(f.box.a()), toDouble(f.box.b()), toDouble(f.box.c())};
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-20.0f, 50.0f);
    std::vector<ChillLabel> labels;
    for (int32_t w = 0; w < 300; ++w) {
        f.positions.push_back({u(rng), u(rng), u(rng)});
        f.editTopology().water.push_back({w, {-1, -1}});
        labels.push_back(static_cast<ChillLabel>(w % kChillLabels));
    }
    f.editTopology().atomCount = 300;
    std::vector<CageRecord> cages(40);
    for (std::size_t k = 0; k < cages.size(); ++k) {
        cages[k].closed = k % 4 != 0;
        cages[k].centre = {u(rng), u(rng), u(rng)};
    }
    const int column[kChillLabels] = {5, 0, 1, 2, 3, 4}; // file column of each label
    for (int32_t axis = 0; axis < 3; ++axis) {
        const DVec3 normal = cross(cell[(axis + 1) % 3], cell[(axis + 2) % 3]);
        const double height = dot(cell[axis], normal) / std::sqrt(dot(normal, normal));
        const int64_t slabs = std::llround(height / 1.7);
        auto slab = [&](DVec3 p) {
            const double q = dot(p, normal) / dot(cell[axis], normal);
            return static_cast<std::size_t>((q - std::floor(q)) * static_cast<double>(slabs));
        };
        std::vector<std::array<int64_t, kChillLabels + 1>> expected(static_cast<std::size_t>(slabs));
        for (std::size_t w = 0; w < labels.size(); ++w)
            ++expected[slab(toDouble(f.positions[w]))][column[static_cast<int>(labels[w])]];
        for (const CageRecord& c : cages)
            expected[slab(c.centre)][kChillLabels] += c.closed;
        std::istringstream text(profileFrameText(3, "1.5", f, cages, labels, {axis, 1.7}));
        std::size_t lines = 0;
        for (std::string line; std::getline(text, line); ++lines) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "3,1.5,%zu,%.4f", lines,
                          (static_cast<double>(lines) + 0.5) * height / static_cast<double>(slabs));
            std::string want = buf;
            for (int64_t n : expected.at(lines)) {
                std::snprintf(buf, sizeof buf, ",%lld", static_cast<long long>(n));
                want += buf;
            }
            EXPECT_EQ(line, want) << "axis " << axis;
        }
        EXPECT_EQ(lines, static_cast<std::size_t>(slabs));
    }
    f.box.z = 0.0f;
    EXPECT_THROW(profileFrameText(0, "0", f, cages, labels, {}), InputError);
}

} // namespace
} // namespace kavet
