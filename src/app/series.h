// Series mode: the frames of a trajectory analysed one by one into the census
// time series, with a live progress line and a closing summary. Returns the
// exit status.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/settings.h"
#include "cage/analysis.h"
#include "cage/census.h"
#include "core/frame.h"

namespace kavet {

// One column of the series.
struct SeriesColumn {
    enum Kind { Count, Time, Real };
    std::string name;
    Kind kind = Count;
};

std::vector<SeriesColumn> seriesColumns(const Settings& s);
// One frame of the series: a value per column, the cage types of its
// closed cages and of its open entries, and its cages when the per-cage
// table is written.
struct SeriesFrame {
    std::vector<double> values;
    std::map<std::string, int64_t> closed, open;
    std::vector<CageRecord> cages;
};
SeriesFrame seriesFrame(const Settings& s, int64_t frameNumber, double time, const Frame& frame, const Analysis& a,
                        const CensusOptions& options = {});
std::string formatValue(const SeriesColumn& column, double value);

int runSeries(const Settings& s);

} // namespace kavet
