#include "app/empty_results.h"

#include "cage/analysis.h"

#include <cmath>
#include <cstdio>

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace kavet {
namespace {

// "A (n), B (m), ..." for the `most` most common names, then how many more.
std::string commonNames(const std::map<std::string, int64_t>& counts, std::size_t most)
{
    std::vector<std::pair<std::string, int64_t>> byCount(counts.begin(), counts.end());
    std::stable_sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string text;
    for (std::size_t k = 0; k < byCount.size() && k < most; ++k)
        text += (k ? ", " : "") + byCount[k].first + " (" + std::to_string(byCount[k].second) + ")";
    if (byCount.size() > most)
        text += " and " + std::to_string(byCount.size() - most) + " more";
    return text.empty() ? "none" : text;
}

std::string number(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

} // namespace

std::string emptySelectionWarning(const Frame& frame, const Settings& s, const std::string& file)
{
    if (frame.numWater > 0)
        return "";
    // Residues are counted once each (a run of atoms with the same residue
    // field), by their name without the number.
    std::map<std::string, int64_t> residues, atoms;
    for (std::size_t i = 0; i < frame.resName.size(); ++i) {
        ++atoms[frame.atmName[i]];
        if (i > 0 && frame.resName[i] == frame.resName[i - 1])
            continue;
        const std::string& r = frame.resName[i];
        ++residues[r.substr(std::min(r.find_first_not_of("0123456789"), r.size()))];
    }
    return "-wat " + s.waterName + " -oxy " + s.oxygenName + " select no water oxygen in " + file +
           ": its residues are " + commonNames(residues, 5) + ", its atom names " + commonNames(atoms, 5) +
           "; name the water and its oxygen with -wat and -oxy";
}

std::string noBondWarning(const Settings& s, int64_t waters)
{
    const double d = s.criteria.hbDistance, a = s.criteria.hbAngle;
    std::string text = "no hydrogen bond among the " + std::to_string(waters) + " waters with -hb " + number(d) + " " +
                       number(a) + ": the distance is in angstrom and the angle in degrees (e.g. -hb 3.5 30)";
    if (d > 0.0 && d < 1.0)
        text += "; " + number(d) + " looks like nm, which is " + number(d * 10.0) + " A";
    return text;
}

std::string growthWarning(int64_t waters, int64_t bondEnds, int32_t ringMax)
{
    if (waters <= 0)
        return "";
    const double degree = static_cast<double>(bondEnds) / static_cast<double>(waters);
    const double seconds = static_cast<double>(waters) / 368.0 * 3.0 * std::pow(8.0, static_cast<double>(ringMax) - 10.0);
    char text[512];
    // Above kMaxMeanDegree the analysis refuses the frame (denseNetworkFault).
    if (degree > 6.0 && degree <= kMaxMeanDegree)
        std::snprintf(text, sizeof text,
                      "the hydrogen-bond network has a mean degree of %.1f, far above water's 4: "
                      "the ring search may take very long (check -hb)",
                      degree);
    else if (seconds > 60.0)
        std::snprintf(text, sizeof text,
                      "rings of up to %d members among %lld waters: the ring and cage search grows "
                      "about 8 times per member and may take %s",
                      ringMax, static_cast<long long>(waters), seconds > 3600.0 ? "hours" : "minutes");
    else
        return "";
    return text;
}

} // namespace kavet
