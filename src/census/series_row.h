// The row the census time series writes for one frame: its columns (names and
// kinds) and their values, from the analysis of the frame. Every front end
// (the command line's series mode, a script) builds its rows here, so a frame
// analysed with the same criteria gives the same row whoever asks.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cage/analysis.h"
#include "census/census.h"
#include "core/frame.h"

namespace kavet {

// One column of the series.
struct SeriesColumn {
    enum Kind { Count, Time, Real };
    std::string name;
    Kind kind = Count;
};

// The closed-cage types with columns of their own, in column order.
extern const char* const commonCageTypes[6];

// The columns: frame, time, waters, bonds, rings of 3 .. criteria.ringMax
// members, cage counts, the guest columns (with MCG-1 and MCG-3) when
// `withGuests`, clusters, the CHILL+ label counts and largest ice and
// clathrate clusters, and F4.
std::vector<SeriesColumn> seriesColumns(const Criteria& criteria, bool withGuests);

// One frame of the series: a value per column, the cage types of its closed
// cages and of its open entries, and its cages when options.cageRecords.
struct SeriesRow {
    std::vector<double> values;
    std::map<std::string, int64_t> closed, open;
    std::vector<CageRecord> cages;
    std::vector<ChillLabel> chill; // CHILL+ label of each water of the frame's water table
};

// The row of a frame analysed with `criteria`; it has the guest columns when
// options.guests is given (even when it selects no molecule).
SeriesRow seriesRow(const Criteria& criteria, int64_t frameNumber, double time, const Frame& frame,
                    const Analysis& analysis, const CensusOptions& options = {});

// The frame analysed with `criteria` and turned into its row, in one call.
SeriesRow analyseRow(const Frame& frame, const Criteria& criteria, int64_t frameNumber, double time,
                     const CensusOptions& options = {});

// A value as the series file writes it: counts as integers, times with %.10g,
// real numbers with %.6f.
std::string formatValue(const SeriesColumn& column, double value);

} // namespace kavet
