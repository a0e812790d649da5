// The per-cage table: one row per cage per frame, written and flushed frame by
// frame. CSV with a header row, or JSON lines (one object per cage) when the
// file name ends in .jsonl. Columns, by these names:
//   frame    frame number
//   cage     cage number in the frame, from 1
//   type     face-count type, e.g. 5^12-6^2
//   closed   1 or 0 (JSON: true or false)
//   cx cy cz centre in angstrom (mean of the ring centres, unwrapped)
//   faces    number of faces
//   waters   atom numbers of its waters (CSV: space-separated in one field)
//   rings    ring numbers, seed ring first
//   guests   atom number of each guest's first atom
//   cluster  cluster number, 0 for a cage that is not closed
//   id       cage id over the run (census/cage_tracker.h)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "census/census.h"
#include "io/series_writer.h"

namespace kavet {

class CageTableWriter {
public:
    // An existing file is kept under a backup name (see FreshFile).
    // With `outputs`, the file is the set's (see FreshFile).
    explicit CageTableWriter(const std::string& path, const SeriesOutputs* outputs = nullptr);
    // `ids[k]` is the run-wide id of cages[k] (FrameIds::ids).
    void frame(int64_t frame, const std::vector<CageRecord>& cages, const std::vector<int32_t>& ids);
    const FreshFile& file() const { return file_; }

private:
    FreshFile file_;
    bool json_ = false;
};

} // namespace kavet
