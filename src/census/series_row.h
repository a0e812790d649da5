// The row the census time series writes for one frame. One column table
// gives each column its name, its kind and how its value is taken from the
// frame's census, so that a header and its values come from the same list
// and every front end (the command line's series mode, Python) has the same
// columns in the same order.
//
// A new column is one entry of seriesColumns (series_row.cpp) reading a
// field of FrameCensus (census.h), which censusOf fills.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cage/analysis.h"
#include "census/census.h"
#include "core/frame.h"

namespace kavet {

// One column of the series: its name, its kind (how it is written: counts
// as integers, times as the trajectory carries them, reals with %.6f) and
// its value in a frame's census.
struct SeriesColumn {
    enum Kind { Count, Time, Real };
    std::string name;
    Kind kind = Count;
    std::function<double(const FrameCensus&)> value;
};

using SeriesColumns = std::vector<SeriesColumn>;

// The closed-cage types with columns of their own, in column order.
extern const char* const commonCageTypes[6];

// The columns: frame, time, waters, bonds, rings of 3 .. criteria.ringMax
// members, closed and defective cages, closed cages by type, cups, born and
// died, the guest columns (with MCG-1 and MCG-3) when `withGuests`, clusters,
// the CHILL+ label counts and largest ice and clathrate clusters, F4, and
// the volume of the frame's cell (A^3).
SeriesColumns seriesColumns(const Criteria& criteria, bool withGuests);

// The columns' names, in order.
std::vector<std::string> columnNames(const SeriesColumns& columns);

// A frame's value in every column, in order.
std::vector<double> rowValues(const SeriesColumns& columns, const FrameCensus& census);

// One frame of the series: its census, numbered and timed. born and died
// compare the frame with the previous one, which a frame alone does not
// know: they stay 0 until an ordered step that follows cages (CageTracker,
// as SeriesRun does) sets them.
using SeriesRow = FrameCensus;

// The row of a frame analysed with `criteria`; it has the guest counts when
// options.guests is given (even when it selects no molecule).
SeriesRow seriesRow(int64_t frameNumber, double time, const Frame& frame, const Analysis& analysis,
                    const CensusOptions& options = {});

// The frame analysed with `criteria` and turned into its row, in one call.
SeriesRow analyseRow(const Frame& frame, const Criteria& criteria, int64_t frameNumber, double time,
                     const CensusOptions& options = {});

// A value as the series file writes it: counts as integers, real numbers with
// %.6f, times as the trajectory carries them, without an exponent: for a
// float's value the shortest decimal within one unit in its last place (0.6
// for 0.6000000238f, 1.8 for 3 * 0.6f, 1234567.5), otherwise the shortest
// that reads back as the same double.
std::string formatValue(const SeriesColumn& column, double value);
std::string formatValue(SeriesColumn::Kind kind, double value);

} // namespace kavet
