// The frame file for viewers (-oview): one extended-XYZ frame per analysed
// frame, which ASE and OVITO read with its per-particle columns. A frame
// holds every water oxygen of the water table, then one particle per closed
// cage at its centre:
//   species  O for a water oxygen, X (the dummy element) for a cage centre,
//            so that readers that map species to elements accept the file;
//   pos      angstrom;
//   kind     OW for a water, the cage's type (such as 5^12-6^2) for a cage;
//   chill    a water's CHILL+ label as a number (ChillLabel: 0 liquid,
//            1 cubic ice, 2 hexagonal ice, 3 interfacial ice, 4 clathrate,
//            5 interfacial clathrate), -1 for a cage;
//   cages    the closed cages a water belongs to (0 for a cage);
//   cluster  the cage cluster of a cage, and for a water the smallest cluster
//            number of its closed cages; 0 when none;
//   id       a cage's run-wide id (CageTracker), 0 for a water.
// The comment line holds the cell (Lattice, its rows the cell vectors a, b
// and c), pbc, and the frame number and time.
#pragma once

#include <cstdint>
#include <string>

#include "census/census.h"
#include "core/frame.h"
#include "io/series_writer.h"

namespace kavet {

class ViewWriter {
public:
    // With `outputs`, the file is the set's (see FreshFile).
    explicit ViewWriter(const std::string& path, const SeriesOutputs* outputs = nullptr);
    // One frame, written and flushed: its cage records (CensusOptions::cageRecords)
    // and the CHILL+ label of each water of its water table.
    // `ids[k]` is the run-wide id of cages[k].
    void frame(int64_t number, double time, const Frame& frame, const std::vector<CageRecord>& cages,
                 const std::vector<ChillLabel>& labels, const std::vector<int32_t>& ids);
    const FreshFile& file() const { return file_; }

private:
    FreshFile file_;
};

// The text of one frame, as ViewWriter writes it.
std::string viewFrameText(int64_t number, double time, const Frame& frame, const std::vector<CageRecord>& cages,
                 const std::vector<ChillLabel>& labels, const std::vector<int32_t>& ids);

} // namespace kavet
