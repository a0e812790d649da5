#include "census/series_row.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace kavet {

const char* const commonCageTypes[6] = {"5^12", "5^12-6^2", "5^12-6^3", "5^12-6^4", "4^3-5^6-6^3", "5^12-6^8"};

namespace {

// The CHILL+ label columns, in column order.
const char* const chillColumns[kChillLabels] = {"chill_cubic",     "chill_hexagonal",
                                                "chill_interfacial_ice", "chill_clathrate",
                                                "chill_interfacial_clathrate", "chill_liquid"};
const ChillLabel chillColumnLabels[kChillLabels] = {ChillLabel::Cubic,     ChillLabel::Hexagonal,
                                                    ChillLabel::InterfacialIce, ChillLabel::Clathrate,
                                                    ChillLabel::InterfacialClathrate, ChillLabel::Liquid};

} // namespace

std::vector<SeriesColumn> seriesColumns(const Criteria& criteria, bool withGuests)
{
    std::vector<SeriesColumn> c = {{"frame"}, {"time_ps", SeriesColumn::Time}, {"waters"}, {"hbonds"}};
    for (int32_t n = 3; n <= criteria.ringMax; ++n)
        c.push_back({"rings_" + std::to_string(n)});
    c.push_back({"closed"});
    c.push_back({"defective"});
    for (const char* t : commonCageTypes)
        c.push_back({t});
    c.push_back({"other_closed"});
    c.push_back({"cups_5^6"});
    c.push_back({"cups_6^1-5^6"});
    c.push_back({"free_cups"});
    c.push_back({"born"});
    c.push_back({"died"});
    if (withGuests) {
        c.push_back({"guests"});
        c.push_back({"guests_caged"});
        for (const char* t : commonCageTypes)
            c.push_back({std::string("occupied_") + t});
        c.push_back({"occupied_other"});
        c.push_back({"multiply_occupied"});
        c.push_back({"mcg1"});
        c.push_back({"mcg3"});
    }
    c.push_back({"clusters"});
    c.push_back({"largest_cluster"});
    for (const char* name : chillColumns)
        c.push_back({name});
    c.push_back({"largest_ice"});
    c.push_back({"largest_clathrate"});
    c.push_back({"f4", SeriesColumn::Real});
    c.push_back({"largest_cluster_waters"});
    if (withGuests)
        c.push_back({"largest_cluster_guests"});
    c.push_back({"largest_cluster_spans"});
    c.push_back({"hydrate_waters"});
    c.push_back({"largest_hydrate_waters"});
    return c;
}

SeriesRow seriesRow(const Criteria& criteria, int64_t frameNumber, double time, const Frame& frame,
                    const Analysis& a, const CensusOptions& options)
{
    FrameCensus census = censusOf(frame, a, options);
    SeriesRow f;
    f.closed = std::move(census.closedTypes);
    f.defective = std::move(census.defectiveTypes);
    f.cages = std::move(census.cages);
    f.chill = std::move(census.chill.label);
    f.f4 = std::move(census.f4PerWater);
    std::vector<double>& v = f.values;
    v = {static_cast<double>(frameNumber), time, static_cast<double>(census.waters),
         static_cast<double>(census.hbonds)};
    for (int32_t n = 3; n <= criteria.ringMax; ++n)
        v.push_back(static_cast<double>(static_cast<std::size_t>(n) < census.rings.size() ? census.rings[n] : 0));
    v.push_back(static_cast<double>(census.closed));
    v.push_back(static_cast<double>(census.defective));
    // The count of type t in `counts`, added to `common`.
    auto countOf = [](const std::map<std::string, int64_t>& counts, const char* t, int64_t& common) {
        const auto it = counts.find(t);
        const int64_t n = it == counts.end() ? 0 : it->second;
        common += n;
        return static_cast<double>(n);
    };
    int64_t common = 0;
    for (const char* t : commonCageTypes)
        v.push_back(countOf(f.closed, t, common));
    v.push_back(static_cast<double>(census.closed - common));
    v.push_back(static_cast<double>(census.cupsPentagon));
    v.push_back(static_cast<double>(census.cupsHexagon));
    v.push_back(static_cast<double>(census.freeCups));
    // born, died: set by the ordered step that follows cages (CageTracker).
    v.push_back(0.0);
    v.push_back(0.0);
    if (options.guests) {
        v.push_back(static_cast<double>(census.guests));
        v.push_back(static_cast<double>(census.guestsCaged));
        int64_t occupied = 0;
        for (const char* t : commonCageTypes)
            v.push_back(countOf(census.occupied, t, occupied));
        v.push_back(static_cast<double>(census.occupiedCages - occupied));
        v.push_back(static_cast<double>(census.multiplyOccupied));
        v.push_back(static_cast<double>(census.mcg1));
        v.push_back(static_cast<double>(census.mcg3));
    }
    v.push_back(static_cast<double>(census.clusters));
    v.push_back(static_cast<double>(census.largestCluster));
    for (ChillLabel l : chillColumnLabels)
        v.push_back(static_cast<double>(census.chill.of(l)));
    v.push_back(static_cast<double>(census.chill.largestIce));
    v.push_back(static_cast<double>(census.chill.largestClathrate));
    v.push_back(census.f4);
    v.push_back(static_cast<double>(census.largestClusterWaters));
    if (options.guests)
        v.push_back(static_cast<double>(census.largestClusterGuests));
    v.push_back(static_cast<double>(census.largestClusterSpans));
    v.push_back(static_cast<double>(census.hydrateWaters));
    v.push_back(static_cast<double>(census.largestHydrateWaters));
    f.clusters = std::move(census.clusterTable);
    f.closedCagesOfWater = std::move(census.closedCagesOfWater);
    f.inCup = std::move(census.inCup);
    f.wrappingRings = census.wrappingRings;
    return f;
}

SeriesRow analyseRow(const Frame& frame, const Criteria& criteria, int64_t frameNumber, double time,
                     const CensusOptions& options)
{
    return seriesRow(criteria, frameNumber, time, frame, analyse(frame, criteria), options);
}

namespace {

// A time as the trajectory carries it, never with an exponent. A double's
// value (a .gro time, a frame number) is the shortest decimal that reads back
// as the same double. A float's (.xtc and .trr store single precision) is the
// shortest decimal within one unit in the last place of the float: a time
// computed in single precision as a count of steps times the step is that
// close to the decimal time meant, so 0.6000000238f and 1.800000072f
// (3 * 0.6f) print 0.6 and 1.8, while 1234567.5f keeps its .5.
std::string timeText(double value)
{
    char buf[400];
    const float single = static_cast<float>(value);
    if (static_cast<double>(single) != value || !std::isfinite(single))
        return std::string(buf, std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed).ptr);
    const double ulp =
        static_cast<double>(std::nextafter(std::fabs(single), std::numeric_limits<float>::infinity())) -
        std::fabs(value);
    for (int decimals = 0; decimals <= 9; ++decimals) {
        std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
        if (std::fabs(std::strtod(buf, nullptr) - value) <= ulp)
            return buf;
    }
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, single, std::chars_format::fixed).ptr);
}

} // namespace

void setTracked(const std::vector<SeriesColumn>& columns, std::vector<double>& values, int64_t born, int64_t died)
{
    for (std::size_t c = 0; c < columns.size() && c < values.size(); ++c) {
        if (columns[c].name == "born")
            values[c] = static_cast<double>(born);
        else if (columns[c].name == "died")
            values[c] = static_cast<double>(died);
    }
}

std::string formatValue(const SeriesColumn& column, double value)
{
    char buf[64];
    switch (column.kind) {
    case SeriesColumn::Count:
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
        break;
    case SeriesColumn::Time:
        return timeText(value);
    default:
        std::snprintf(buf, sizeof buf, "%.6f", value);
        break;
    }
    return buf;
}

} // namespace kavet
