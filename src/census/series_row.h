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
// members, closed and defective cages, closed cages by type, cups, born and
// died, the guest columns (with MCG-1 and MCG-3) when `withGuests`, clusters,
// the CHILL+ label counts and largest ice and clathrate clusters, F4, then the
// largest cluster's waters, guests (with guests) and spans, and the
// hydrate-like waters and the largest bonded set of them.
std::vector<SeriesColumn> seriesColumns(const Criteria& criteria, bool withGuests);

// One frame of the series: a value per column, the cage types of its closed
// and of its defective cages, and its cages when options.cageRecords.
struct SeriesRow {
    std::vector<double> values;
    std::map<std::string, int64_t> closed, defective;
    std::vector<CageRecord> cages;
    std::vector<ChillLabel> chill; // CHILL+ label of each water of the frame's water table
    std::vector<double> f4;        // F4 of each water of the table, not a number where no pair counts
    std::vector<ClusterRecord> clusters;      // the clusters of closed cages (FrameCensus::clusterTable)
    std::vector<uint8_t> closedCagesOfWater;  // per water of the table, the closed cages it is in
    std::vector<uint8_t> inCup;               // per water of the table, 1 in a cup
    int64_t wrappingRings = 0;                // rings closing only around the periodic cell
};

// The row of a frame analysed with `criteria`; it has the guest columns when
// options.guests is given (even when it selects no molecule). born and died
// are left 0: they compare the frame with the previous one, which a frame
// alone does not know; a front end that follows cages (CageTracker) sets
// them from FrameIds with setTracked.
SeriesRow seriesRow(const Criteria& criteria, int64_t frameNumber, double time, const Frame& frame,
                    const Analysis& analysis, const CensusOptions& options = {});

// The frame analysed with `criteria` and turned into its row, in one call.
SeriesRow analyseRow(const Frame& frame, const Criteria& criteria, int64_t frameNumber, double time,
                     const CensusOptions& options = {});

// Sets the born and died columns of `values` (laid out as `columns`).
void setTracked(const std::vector<SeriesColumn>& columns, std::vector<double>& values, int64_t born, int64_t died);

// A value as the series file writes it: counts as integers, real numbers with
// %.6f, times as the trajectory carries them, without an exponent: for a
// float's value the shortest decimal within one unit in its last place (0.6
// for 0.6000000238f, 1.8 for 3 * 0.6f, 1234567.5), otherwise the shortest
// that reads back as the same double.
std::string formatValue(const SeriesColumn& column, double value);

} // namespace kavet
