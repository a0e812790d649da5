#include "io/water_hydrogens.h"

#include <cmath>
#include <cstdio>

#include "core/box.h"
#include "core/error.h"
#include "io/frame_checks.h"

namespace kavet {
namespace {

float distance(const Frame& frame, int32_t a, int32_t b)
{
    const Vec3 d = minimumImage(frame.positions[a], frame.positions[b], frame.box);
    return std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
}

bool plausible(const Frame& frame, int32_t oxygen, int32_t h)
{
    if (h < 0 || h == oxygen || frame.topology().isWaterOxygen[h])
        return false;
    const float d = distance(frame, oxygen, h);
    return d >= shortestHydrogenDistance && d <= longestHydrogenDistance;
}

// "atom N (RES NAME, line L) at D A", or why it is no hydrogen.
std::string found(const Frame& frame, int32_t oxygen, int32_t h)
{
    if (h < 0)
        return "no atom (the frame ends)";
    const Topology& t = frame.topology();
    std::string text = "atom " + std::to_string(static_cast<long long>(h) + 1) + " (" + t.residue[h] + " " +
                       t.atomName[h] + ", line " + std::to_string(static_cast<long long>(h) + 3) + ")";
    if (t.isWaterOxygen[h])
        return text + ", a water oxygen";
    char d[64];
    std::snprintf(d, sizeof d, " at %.3f A", static_cast<double>(distance(frame, oxygen, h)));
    return text + d;
}

} // namespace

int64_t placeHydrogens(Frame& frame, const std::string& name)
{
    Topology& t = frame.editTopology();
    const int32_t atoms = static_cast<int32_t>(t.atomName.size());
    int64_t byName = 0;
    for (Water& w : t.water) {
        const int32_t o = w.oxygen;
        if (plausible(frame, o, w.hydrogen[0]) && plausible(frame, o, w.hydrogen[1]))
            continue;
        // The oxygen's residue: the atoms around it with the same residue field.
        int32_t first = o, last = o;
        while (first > 0 && t.residue[first - 1] == t.residue[o])
            --first;
        while (last + 1 < atoms && t.residue[last + 1] == t.residue[o])
            ++last;
        std::array<int32_t, 2> named = {-1, -1};
        int32_t count = 0;
        for (int32_t a = first; a <= last && count < 2; ++a)
            if (a != o && !t.isWaterOxygen[a] && !t.atomName[a].empty() && t.atomName[a][0] == 'H')
                named[count++] = a;
        if (count == 2 && plausible(frame, o, named[0]) && plausible(frame, o, named[1])) {
            w.hydrogen = named;
            ++byName;
            continue;
        }
        std::string what = name + ": water oxygen atom " + std::to_string(static_cast<long long>(o) + 1) + " (" +
                           t.residue[o] + " " + t.atomName[o] + ", line " +
                           std::to_string(static_cast<long long>(o) + 3) + ") has no two hydrogens ";
        char range[64];
        std::snprintf(range, sizeof range, "%.1f to %.1f A", static_cast<double>(shortestHydrogenDistance),
                      static_cast<double>(longestHydrogenDistance));
        what += std::string(range) + " from it: the atoms after it are " + found(frame, o, w.hydrogen[0]) + " and " +
                found(frame, o, w.hydrogen[1]) + "; of its residue's atoms named H*, ";
        if (count == 0)
            what += "there is none (water of one site, without hydrogens, is analysed with -nohyd)";
        else if (count == 1)
            what += "there is only " + found(frame, o, named[0]);
        else
            what += "the first two are " + found(frame, o, named[0]) + " and " + found(frame, o, named[1]);
        // A frame that is wrong in a plainer way (coordinates in another
        // unit, hydrogens far away) is refused with that fault's message.
        checkFrame(frame, name);
        throw FormatError(what);
    }
    return byName;
}

} // namespace kavet
