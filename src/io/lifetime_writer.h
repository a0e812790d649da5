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
// run, so the table is written whole: into a new file beside it, then renamed
// over it, so that a failed or interrupted write leaves the previous file as
// it was.
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

// Replaces the file at `path` with `text` in one step: the text goes into a
// new file in the same folder, which is then renamed to `path` (a symbolic
// link is followed, and an existing file's permissions are kept). Throws
// Failure and leaves `path` untouched when any step fails. A path that is not
// a regular file, such as /dev/null, is written directly.
void replaceFile(const std::string& path, const std::string& text);

// Checks, before a run starts, that `path` can take one of its outputs: it is
// a regular file or missing (then its folder must be writable), or a
// character device such as /dev/null, but no FIFO, folder or other special
// file; and it is none of `inputs` and none of `others` (compared as files,
// through links). Throws FileError naming the file otherwise.
void checkOutputPath(const std::string& path, const std::vector<std::string>& inputs,
                     const std::vector<std::string>& others);

class GuestTableWriter {
public:
    // An existing file is kept under a backup name (see FreshFile).
    // With `outputs`, the file is the set's (see FreshFile).
    explicit GuestTableWriter(const std::string& path, const OutputSet* outputs = nullptr);
    // `cageIds[g]` is the cage of guest `guests[g]` (FrameIds::guestCage).
    void frame(int64_t frame, double time, const std::vector<int32_t>& guests, const std::vector<int32_t>& cageIds);
    const FreshFile& file() const { return file_; }

private:
    FreshFile file_;
};

} // namespace kavet
