#include "io/frame_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include <tbb/parallel_for.h>

#include "core/error.h"
#include "core/neighbours.h"

namespace kavet {
namespace {

std::string angstrom(float d)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f A", static_cast<double>(d));
    return text;
}

// "atom N (NAME, line L)", or "atom N" for an atom without names
std::string atomText(const Frame& frame, int32_t i)
{
    const Topology& t = frame.topology();
    if (!t.named(static_cast<std::size_t>(i))) // a frame from arrays
        return "atom " + std::to_string(static_cast<long long>(i) + 1);
    return "atom " + std::to_string(static_cast<long long>(i) + 1) + " (" + t.residue[i] + " " + t.atomName[i] +
           ", line " + std::to_string(static_cast<long long>(i) + 3) + ")";
}

float length(Vec3 d)
{
    return std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
}

void checkBox(const Frame& frame, const std::string& name)
{
    if (frame.positions.empty())
        return;
    const float box[3] = {frame.box.x, frame.box.y, frame.box.z};
    const char* axes[3] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        if (!(box[k] > 0.0f))
            continue;
        float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
        for (const Vec3& p : frame.positions) {
            const float v = k == 0 ? p.x : k == 1 ? p.y : p.z;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        const double spread = static_cast<double>(hi) - static_cast<double>(lo);
        if (spread > static_cast<double>(impossibleSpreadRatio) * box[k]) {
            char text[256];
            std::snprintf(text, sizeof text,
                          "the box is %g A long along %s, but the atoms spread over %g A: box and coordinates in "
                          "different units?",
                          static_cast<double>(box[k]), axes[k], spread);
            throw FormatError(name + ": " + text);
        }
    }
}

// Whatever read the frame: a position, cell or time that is not a finite
// number would pass through the analysis as lost bonds and rows of nan.
void checkFinite(const Frame& frame, const std::string& name)
{
    const Box& b = frame.box;
    for (float v : {b.x, b.y, b.z, b.yx, b.zx, b.zy})
        if (!std::isfinite(v))
            throw Failure(name + ": the cell holds a number that is not finite");
    if (frame.hasTime && !std::isfinite(frame.time))
        throw Failure(name + ": the time is not a finite number");
    for (std::size_t i = 0; i < frame.positions.size(); ++i) {
        const Vec3& p = frame.positions[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            throw Failure(name + ": the position of atom " + std::to_string(i + 1) + " is not a finite number");
    }
}

} // namespace

std::vector<std::string> checkFrame(const Frame& frame, const std::string& name)
{
    std::vector<std::string> warnings;
    checkFinite(frame, name);
    checkBox(frame, name);

    const std::vector<int32_t> oxygens = waterOxygens(frame);

    // Each water's hydrogens, as the water table gives them.
    for (const Water& w : frame.topology().water) {
        const int32_t i = w.oxygen;
        for (int32_t h : w.hydrogen) {
            if (h < 0)
                continue;
            if (frame.topology().isWaterOxygen[h])
                throw FormatError(name + ": " + atomText(frame, h) + " after water oxygen " + atomText(frame, i) +
                                  " should be one of its hydrogens, but is a water oxygen itself (water of one site, without "
                                  "hydrogens, is analysed with -nohyd)");
            const float d = length(minimumImage(frame.positions[h], frame.positions[i], frame.box));
            if (d > impossibleHydrogenDistance)
                throw FormatError(name + ": " + atomText(frame, h) + " after water oxygen " + atomText(frame, i) +
                                  " should be one of its hydrogens, about 1 A away, but is " + angstrom(d) + " away");
            if (d > suspiciousHydrogenDistance)
                warnings.push_back(name + ": " + atomText(frame, h) + " is " + angstrom(d) + " from water oxygen " +
                                   atomText(frame, i) + "; an O-H bond is about 1 A long");
        }
    }

    if (oxygens.size() < 2)
        return warnings;
    const NeighbourList pairs = buildNeighbourList(frame.positions, oxygens, frame.box, suspiciousOxygenDistance);
    // Runs of oxygens are checked in parallel; each keeps its warnings and
    // stops at its first failure, and the runs are then taken in order, so
    // the outcome is that of one pass over all oxygens.
    struct Run {
        std::vector<std::string> warnings;
        std::string failure;
    };
    constexpr std::size_t run = 4096;
    std::vector<Run> runs((oxygens.size() + run - 1) / run);
    tbb::parallel_for(std::size_t(0), runs.size(), [&](std::size_t k) {
        Run& out = runs[k];
        for (std::size_t q = k * run; q < std::min(oxygens.size(), (k + 1) * run) && out.failure.empty(); ++q) {
            const int32_t i = oxygens[q];
            for (int64_t p = pairs.other.start[q]; p < pairs.other.start[q + 1] && out.failure.empty(); ++p) {
                const int32_t j = pairs.other.item[p];
                const float d = pairs.dist[p];
                if (d < impossibleOxygenDistance)
                    out.failure = name + ": water oxygens " + atomText(frame, i) + " and " + atomText(frame, j) +
                                  " are " + angstrom(d) +
                                  " apart, where water keeps them about 2.8 A apart and never "
                                  "closer than 1 A (a molecule given twice?)";
                else
                    out.warnings.push_back(name + ": water oxygens " + atomText(frame, i) + " and " +
                                           atomText(frame, j) + " are only " + angstrom(d) + " apart");
            }
        }
    });
    for (Run& r : runs) {
        if (!r.failure.empty())
            throw FormatError(r.failure);
        for (std::string& w : r.warnings)
            warnings.push_back(std::move(w));
    }
    return warnings;
}

} // namespace kavet
