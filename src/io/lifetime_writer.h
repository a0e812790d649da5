// The tables of cages followed through a run (see census/cage_tracker.h).
//
// The lifetime table, CSV, one row per cage id in id order:
//   id              cage id, from 1
//   type            its type in its first frame
//   first_frame     frame number of its first and last frame
//   last_frame
//   first_time_ps   time of its first and last frame
//   last_time_ps
//   frames_present  analysed frames it is present in
//   alive_at_end    1 when present in the last analysed frame
//   closed          1 for a closed cage, 0 for a defective one
//   first_index     analysed frames before its first and last frame
//   last_index
//   run_frames      analysed frames of the run (the same in every row)
//   waters          its water set, atom numbers ascending, space-separated
// The last five columns let the tables of a run split into time ranges be
// joined again (tools/merge-lifetimes). Rows are final only at the end of a
// run, so the table is written whole, as a Table of the run's SeriesOutputs:
// into a new file beside it, then renamed over it, so that a failed or
// interrupted run leaves the previous file as it was.
//
// The guest table, CSV, long form, written and flushed frame by frame: one
// row per guest per frame, `frame,time_ps,guest,cage_id`, the guest as the
// atom number of its first atom and cage_id 0 for a free guest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "census/cage_tracker.h"
#include "io/series_writer.h"

namespace kavet {

// A time as the tables print it: as the series' time_ps column (formatValue).
std::string timeText(double time);

// The lifetime table's text.
std::string lifetimeTable(const CageTracker& tracker);

class GuestTableWriter {
public:
    // An existing file is kept under a backup name (see FreshFile).
    // With `outputs`, the file is the set's (see FreshFile).
    explicit GuestTableWriter(const std::string& path, const SeriesOutputs* outputs = nullptr);
    // `cageIds[g]` is the cage of guest `guests[g]` (FrameIds::guestCage).
    void frame(int64_t frame, double time, const std::vector<int32_t>& guests, const std::vector<int32_t>& cageIds);
    const FreshFile& file() const { return file_; }

private:
    FreshFile file_;
};

} // namespace kavet
