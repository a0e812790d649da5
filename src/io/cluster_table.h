// The per-cluster table: one row per cluster of closed cages that share faces,
// per frame, CSV with a header row, written and flushed frame by frame.
// Columns:
//   frame, time_ps    frame number and time (as the series writes them)
//   cluster           the smallest run-wide cage id among its cages (clusterIds)
//   cages             its closed cages
//   5^12 .. 5^12-6^8  its cages of each common type (commonCageTypes), then
//   other             its cages of any other type
//   occupied          its cages holding a guest (0 without -guest)
//   guests            distinct guests in its cages (0 without -guest)
//   waters            distinct waters of its cages
//   x, y, z           its centre in angstrom: the mean of its cages' centres
//                     laid out across the periodic boundary, wrapped into the cell
//   rg                radius of gyration of those centres, angstrom
//   spans             cell directions (0 to 3) in which it reaches its own image
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "census/census.h"
#include "io/series_writer.h"

namespace kavet {

class ClusterTableWriter {
public:
    // With `outputs`, the file is one of the run's series outputs (see FreshFile).
    explicit ClusterTableWriter(const std::string& path, const SeriesOutputs* outputs = nullptr);
    // `ids[k]` is the id of clusters[k]; `time` as the series writes it.
    void frame(int64_t frame, const std::string& time, const std::vector<ClusterRecord>& clusters,
               const std::vector<int32_t>& ids);

private:
    FreshFile file_;
};

// The header line of the table, without its newline.
std::string clusterTableHeader();

} // namespace kavet
