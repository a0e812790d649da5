// The files of a series run beside its rows: the series itself (with its
// type file), the per-cage, guest residence, per-cluster, slab profile and
// viewer files, written frame by frame, and the lifetime table written at
// the end. One set for every front end, so that the command line's files
// and Python's tables come from the same writers.
//
//   SeriesFileNames names{...};
//   names.require(options);                   // the cage records the files need
//   SeriesRun run(options, warn);
//   SeriesFiles files(run, names, guard);     // checked, locked, backed up
//   while (run.read(f)) {
//       SeriesRow row = run.analyse(f);
//       FollowedFrame ids = run.follow(f, row);
//       files.frame(f, row, ids);             // one frame, whole in every file
//   }
//   files.finish(run);                        // the lifetime table; kept
//
// A failure before finish() leaves every file cut back to the last frame
// written whole to all of them (rollback(), or the destructor).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/output_set.h"
#include "io/profile_writer.h"
#include "series/series_run.h"

namespace kavet {

class CageTableWriter;
class ClusterTableWriter;
class GuestTableWriter;
class ProfileWriter;
class SeriesWriter;
class TypeWriter;
class ViewWriter;

// The files asked for; an empty name asks for none.
struct SeriesFileNames {
    std::string series;     // -ot: the rows (CSV or .xvg) and the type file beside it
    std::string cages;      // -ocages
    std::string guests;     // -oguests: guest residence
    std::string clusters;   // -oclusters
    std::string view;       // -oview
    std::string profile;    // -oprofile
    ProfileAxis profileAxis;
    std::string lifetimes;  // -olife

    // Sets what the run's rows must carry for these files: full cage
    // records for the per-cage table, every cage followed where ids are
    // shown.
    void require(SeriesOptions& options) const;
    // The outputs to check and lock, in the order they are opened.
    std::vector<OutputSpec> outputs(const std::vector<std::string>& columns) const;
    // Throws InputError for a file whose name ends in an extension its
    // writer does not write (a name without one passes), naming the option
    // in `style`: the series .csv or .xvg, the per-cage table .csv or
    // .jsonl, the view file .xyz or .extxyz, every other file .csv.
    void checkExtensions(OptionStyle style = OptionStyle::CommandLine) const;
};

// The series file's comment line for rows of thermal frames averaged over
// 2 halfWidth + 1 frames; "" for halfWidth 0 (the frames as they are).
std::string thermalNote(int32_t halfWidth);

class SeriesFiles {
public:
    // Checks, locks and backs up every file (none may be an input of the
    // run: its structure, trajectory or index file), then opens the
    // writers. `guard`, when given, is told of the files (an interruption
    // cuts them back). Throws FileError or InputError.
    SeriesFiles(const SeriesRun& run, const SeriesFileNames& names, OutputGuard* guard = nullptr);
    ~SeriesFiles();
    SeriesFiles(const SeriesFiles&) = delete;
    SeriesFiles& operator=(const SeriesFiles&) = delete;

    const SeriesOutputs& outputs() const { return outputs_; }
    // One followed frame, in frame order, written whole to every file.
    void frame(const SeriesFrame& in, const SeriesRow& row, const FollowedFrame& followed);
    // The run is done: the lifetime table is put in place (when a frame was
    // analysed) and every file kept.
    void finish(const SeriesRun& run);
    // Cuts every file back to the last frame written whole to all of them.
    void rollback() { outputs_.rollback(); }

private:
    SeriesFileNames names_;
    const SeriesColumns& columns_;
    std::vector<int32_t> guestAtoms_;
    SeriesOutputs outputs_;
    std::unique_ptr<SeriesWriter> series_;
    std::unique_ptr<TypeWriter> types_;
    std::unique_ptr<CageTableWriter> cages_;
    std::unique_ptr<GuestTableWriter> guests_;
    std::unique_ptr<ViewWriter> view_;
    std::unique_ptr<ProfileWriter> profile_;
    std::unique_ptr<ClusterTableWriter> clusters_;
};

} // namespace kavet
