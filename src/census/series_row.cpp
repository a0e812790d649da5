#include "census/series_row.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>

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

namespace {

double count(int64_t n) { return static_cast<double>(n); }

// The count of type t in `counts`.
int64_t countOf(const std::map<std::string, int64_t>& counts, const std::string& t)
{
    const auto it = counts.find(t);
    return it == counts.end() ? 0 : it->second;
}

// What `counts` holds beside the common types.
int64_t otherThanCommon(const std::map<std::string, int64_t>& counts, int64_t total)
{
    for (const char* t : commonCageTypes)
        total -= countOf(counts, t);
    return total;
}

} // namespace

SeriesColumns seriesColumns(const Criteria& criteria, bool withGuests)
{
    using C = const FrameCensus&;
    SeriesColumns c = {
        {"frame", SeriesColumn::Count, [](C f) { return count(f.frame); }},
        {"time_ps", SeriesColumn::Time, [](C f) { return f.time; }},
        {"waters", SeriesColumn::Count, [](C f) { return count(f.waters); }},
        {"hbonds", SeriesColumn::Count, [](C f) { return count(f.hbonds); }},
    };
    for (int32_t n = 3; n <= criteria.ringMax; ++n)
        c.push_back({"rings_" + std::to_string(n), SeriesColumn::Count, [n](C f) {
                         return count(static_cast<std::size_t>(n) < f.rings.size() ? f.rings[n] : 0);
                     }});
    c.push_back({"closed", SeriesColumn::Count, [](C f) { return count(f.closed); }});
    c.push_back({"defective", SeriesColumn::Count, [](C f) { return count(f.defective); }});
    for (const char* t : commonCageTypes)
        c.push_back({t, SeriesColumn::Count, [t = std::string(t)](C f) { return count(countOf(f.closedTypes, t)); }});
    c.push_back({"other_closed", SeriesColumn::Count,
                 [](C f) { return count(otherThanCommon(f.closedTypes, f.closed)); }});
    c.push_back({"cups_5^6", SeriesColumn::Count, [](C f) { return count(f.cupsPentagon); }});
    c.push_back({"cups_6^1-5^6", SeriesColumn::Count, [](C f) { return count(f.cupsHexagon); }});
    c.push_back({"free_cups", SeriesColumn::Count, [](C f) { return count(f.freeCups); }});
    c.push_back({"born", SeriesColumn::Count, [](C f) { return count(f.born); }});
    c.push_back({"died", SeriesColumn::Count, [](C f) { return count(f.died); }});
    if (withGuests) {
        c.push_back({"guests", SeriesColumn::Count, [](C f) { return count(f.guests); }});
        c.push_back({"guests_caged", SeriesColumn::Count, [](C f) { return count(f.guestsCaged); }});
        for (const char* t : commonCageTypes)
            c.push_back({std::string("occupied_") + t, SeriesColumn::Count,
                         [t = std::string(t)](C f) { return count(countOf(f.occupied, t)); }});
        c.push_back({"occupied_other", SeriesColumn::Count,
                     [](C f) { return count(otherThanCommon(f.occupied, f.occupiedCages)); }});
        c.push_back({"multiply_occupied", SeriesColumn::Count, [](C f) { return count(f.multiplyOccupied); }});
        c.push_back({"mcg1", SeriesColumn::Count, [](C f) { return count(f.mcg1); }});
        c.push_back({"mcg3", SeriesColumn::Count, [](C f) { return count(f.mcg3); }});
    }
    c.push_back({"clusters", SeriesColumn::Count, [](C f) { return count(f.clusters); }});
    c.push_back({"largest_cluster", SeriesColumn::Count, [](C f) { return count(f.largestCluster); }});
    for (int k = 0; k < kChillLabels; ++k)
        c.push_back({chillColumns[k], SeriesColumn::Count,
                     [l = chillColumnLabels[k]](C f) { return count(f.chill.of(l)); }});
    c.push_back({"largest_ice", SeriesColumn::Count, [](C f) { return count(f.chill.largestIce); }});
    c.push_back({"largest_clathrate", SeriesColumn::Count, [](C f) { return count(f.chill.largestClathrate); }});
    c.push_back({"f4", SeriesColumn::Real, [](C f) { return f.f4; }});
    c.push_back({"volume", SeriesColumn::Real, [](C f) { return f.volume; }});
    return c;
}

std::vector<std::string> columnNames(const SeriesColumns& columns)
{
    std::vector<std::string> names;
    names.reserve(columns.size());
    for (const SeriesColumn& c : columns)
        names.push_back(c.name);
    return names;
}

std::vector<double> rowValues(const SeriesColumns& columns, const FrameCensus& census)
{
    std::vector<double> values;
    values.reserve(columns.size());
    for (const SeriesColumn& c : columns)
        values.push_back(c.value(census));
    return values;
}

SeriesRow seriesRow(int64_t frameNumber, double time, const Frame& frame, const Analysis& a,
                    const CensusOptions& options)
{
    FrameCensus census = censusOf(frame, a, options);
    census.frame = frameNumber;
    census.time = time;
    return census;
}

SeriesRow analyseRow(const Frame& frame, const Criteria& criteria, int64_t frameNumber, double time,
                     const CensusOptions& options)
{
    return seriesRow(frameNumber, time, frame, analyse(frame, criteria), options);
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

std::string formatValue(const SeriesColumn& column, double value)
{
    return formatValue(column.kind, value);
}

std::string formatValue(SeriesColumn::Kind kind, double value)
{
    char buf[64];
    switch (kind) {
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
