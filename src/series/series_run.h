// A series run: a trajectory analysed frame by frame into the census time
// series, in the manner of an analysis with a preparation, a step per frame
// and a conclusion. The command line runs it through its pipeline and
// writers, Python through a loop of its own; both get the same checks, rows
// and warnings from here.
//
//   SeriesRun run(options, warn);            // structure, groups, waters, guests, trajectory
//   SeriesFrame f = run.frameBuffer();
//   while (run.read(f)) {                     // in order: the next selected frame, checked
//       SeriesRow row = run.analyse(f);       // on any thread
//       FollowedFrame ids = run.follow(f, row); // in order: born, died, the run's warnings
//   }
//   run.requireFrames();                      // the run analysed a frame
//
// Warnings are values (strings) handed back or passed to the caller's sink,
// never printed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cage/analysis.h"
#include "cage/occupancy.h"
#include "census/cage_tracker.h"
#include "census/series_row.h"
#include "core/frame.h"
#include "io/structure.h"
#include "io/trajectory.h"

namespace kavet {

// How messages name an option: as the command line spells it (-guest CH4),
// or as Python's keyword (guest='CH4').
enum class OptionStyle { CommandLine, Python };

// An option with its values as `style` writes it: "-hb 3.5 30" or
// "hb=(3.5, 30)"; without values, "-hb" or "hb=". Python names use _ for -.
std::string optionText(OptionStyle style, const std::string& name, const std::vector<std::string>& values = {});

// The frames of a series picked by their time (ps): -b, -e and -dt.
struct FrameSelection {
    std::optional<double> begin, end, step;
    // Whether a frame at time t is analysed. A frame past the end does not end
    // the reading: a trajectory joined from restarts (gmx trjcat without
    // -settime) goes back in time, and its later frames may be in range again.
    bool selects(double t) const;
};

struct SeriesOptions {
    std::string structure;                  // -f: the structure (names, waters, guests)
    std::string trajectory;                 // -t
    std::string water = "SOL";              // -wat: residue name of the waters
    std::string oxygen = "OW";              // -oxy: atom name of their oxygens
    std::string indexFile;                  // -n
    std::string waterGroup;                 // -wat-group
    std::string savedGroup;                 // -traj-group: the trajectory holds only this group's atoms
    bool hasGuest = false;                  // guests counted (by name or by group)
    std::string guestName;                  // -guest: residue name of the guests
    std::string guestGroup;                 // -guest-group: the guests are this group's molecules
    FrameSelection frames;                  // -b, -e, -dt
    int32_t tolerance = 0;                  // -tol
    int32_t thermalHalf = 0;                // -thermal: frames on each side averaged into each frame (0: none)
    Criteria criteria = seriesCriteria();   // -hb, -ring, -cage, -nohyd
    bool cageRecords = false;               // rows carry full cage records (the per-cage table)
    bool everyCage = false;                 // follow defective cages too (an output shows cage ids)
    std::vector<int32_t> qbarDegrees;       // -qbar: degrees of q̄_l besides 3, 4, 6 and 12
    TypeSelection types;                    // -wat-type, -guest-type: a LAMMPS file's waters and guests by type
    double timestep = defaultLammpsTimestep; // -timestep: fs per step of a LAMMPS dump
    OptionStyle style = OptionStyle::CommandLine;
};

// One frame read and selected, for the analysis: the frame (the run's
// topology and the coordinates read), its number in the trajectory (from 0),
// its time (the frame number without a time) and the warnings of its checks
// (checkFrame).
struct SeriesFrame {
    Frame frame;
    int64_t number = 0;
    double time = 0.0;
    std::vector<std::string> warnings;
};

// What following a frame's cages gives: their ids (FrameIds) and the run's
// warnings first seen at this frame (a cell too narrow for the order
// parameters, a frame without a bond), each once per run.
struct FollowedFrame {
    FrameIds ids;
    std::vector<std::string> warnings;
};

// The run's closing figures: frames analysed, and the mean and the last
// value of every column.
struct SeriesSummary {
    int64_t frames = 0;
    std::vector<double> mean, last;
};

// Where a run's warnings go as they arise (possibly from the analysis's
// threads).
using WarningSink = std::function<void(const std::string&)>;

// Says once, through `say`, from whichever thread analyses it first, that a
// frame's network is far denser than water's (seriesGrowthWarning).
class GrowthWatch : public Observer {
public:
    GrowthWatch(int64_t waters, WarningSink say) : waters_(waters), say_(std::move(say)) {}
    void finished(Phase phase, const Analysis& a) override;

private:
    int64_t waters_;
    WarningSink say_;
    std::atomic<bool> warned_{false};
};

class SeriesRun {
public:
    // Prepares the run: reads the structure and the index groups, keeps the
    // saved group's atoms (-traj-group), selects the waters (by name or
    // group), places their hydrogens (or drops them for the O-O network),
    // opens the trajectory, selects the guests and refuses waters as guests.
    // Throws InputError, FormatError or FileError. Each warning goes to
    // `warn` as it arises (and is kept in warnings()); so do those of the
    // analysis (GrowthWatch).
    explicit SeriesRun(SeriesOptions options, WarningSink warn = {});
    SeriesRun(const SeriesRun&) = delete;
    SeriesRun& operator=(const SeriesRun&) = delete;

    const SeriesOptions& options() const { return options_; }
    const SeriesColumns& columns() const { return columns_; }
    // The structure: the run's topology (atoms, names, water table), shared
    // by every frame read, and the box of the structure file (its positions
    // are dropped once the run is prepared).
    const Frame& structure() const { return structure_; }
    const Topology& topology() const { return structure_.topology(); }
    int32_t atoms() const { return topology().atomCount; }
    const GuestMolecules& guests() const { return guests_; }
    // Each guest by the atom number (from 1) of its first atom.
    const std::vector<int32_t>& guestAtoms() const { return guestAtoms_; }
    // The preparation's warnings, in order: a selection without water, guests
    // that select no molecule. (The sink saw them already.)
    const std::vector<std::string>& warnings() const { return warnings_; }
    // A largest ring size that makes the search grow past a minute, or "".
    std::string ringSizeWarning() const;
    // The census options every row is made with.
    const CensusOptions& censusOptions() const { return census_; }

    // A frame to read into: the run's topology, no positions.
    SeriesFrame frameBuffer() const;
    // Reads frames into `f` up to the next one the selection picks, and
    // checks it (its atom count against the structure's, checkFrame). Returns
    // false at the end of the trajectory, or, with `before` at 0 or more,
    // when the next frame's number is `before` or beyond. Called in frame
    // order.
    bool read(SeriesFrame& f, int64_t before = -1);
    // Passes over the next `frames` frames unread (a block of a run that
    // starts later); returns false when the trajectory ends first.
    bool skip(int64_t frames);
    // How much of the trajectory has been read, 0 to 1, or -1 when unknown.
    double fractionRead() const { return reader_->fractionRead(); }
    // The row of a frame (born and died 0). Safe on any thread.
    SeriesRow analyse(const SeriesFrame& f) const;
    // Follows the frame's cages (CageTracker), sets born and died in its row
    // and adds the row to the summary. Called in frame order.
    FollowedFrame follow(const SeriesFrame& f, SeriesRow& row);

    const CageTracker& tracker() const { return tracker_; }
    int64_t framesAnalysed() const { return analysed_; }
    SeriesSummary summary() const;
    // Throws InputError saying why, when no frame was analysed: what the
    // trajectory held and what the selection picked.
    void requireFrames() const;

private:
    SeriesOptions options_;
    WarningSink warn_;
    SeriesColumns columns_;
    Frame structure_;
    GuestMolecules guests_;
    std::vector<int32_t> guestAtoms_;
    CensusOptions census_;
    std::vector<std::string> warnings_;
    std::unique_ptr<TrajectoryReader> reader_;
    std::unique_ptr<GrowthWatch> growth_;
    CageTracker tracker_;
    // Frames read (selected or not), for the note on an empty selection.
    int64_t next_ = 0, framesRead_ = 0;
    double firstTime_ = 0.0, lastTime_ = 0.0;
    int64_t analysed_ = 0;
    std::vector<double> sum_, last_;
    bool warnedNarrow_ = false, warnedNoBond_ = false, warnedWrapping_ = false;
};

// Warnings for a run whose results are empty for a reason the user can
// mend, in `style`'s option names.
// When `frame` (read from `file`) has no selected water oxygen: which
// residue and atom names it holds (the most common few); otherwise "".
std::string emptySelectionWarning(const Frame& frame, const std::string& water, const std::string& oxygen,
                                  const std::string& file, OptionStyle style = OptionStyle::CommandLine);
// A frame of `waters` waters without any hydrogen bond under `criteria`:
// the units the distance is taken in, and what a distance in nm looks like.
std::string noBondWarning(const Criteria& criteria, int64_t waters, OptionStyle style = OptionStyle::CommandLine);
// A network far denser than water's, or a largest ring size that makes the
// ring and cage search grow past a minute; "" when neither. `bondEnds` counts
// both ends of every bond after pruning (negative: not known yet, only the
// ring size is judged). A whole run on 368 waters takes about 3 s at 10
// members and 8 times longer with each member more.
std::string growthWarning(int64_t waters, int64_t bondEnds, int32_t ringMax,
                          OptionStyle style = OptionStyle::CommandLine);

} // namespace kavet
