#include "app/series.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <unistd.h>

#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include "app/empty_results.h"
#include "app/report.h"
#include "census/cage_tracker.h"
#include "app/signal_guard.h"
#include "core/error.h"
#include "io/cage_table.h"
#include "io/frame_checks.h"
#include "io/gro_reader.h"
#include "io/lifetime_writer.h"
#include "io/output_set.h"
#include "io/series_writer.h"
#include "io/thermal_frames.h"
#include "io/trajectory.h"
#include "io/water_hydrogens.h"
#include "io/index_groups.h"
#include "io/view_writer.h"
#include "order/chill.h"
#include "order/mcg.h"

namespace kavet {

// Whether a frame at time t is analysed. A frame past the end does not end
// the reading: a trajectory joined from restarts (gmx trjcat without
// -settime) goes back in time, and its later frames may be in range again.
bool frameSelected(const SeriesSettings& s, double t)
{
    const double tolerance = s.hasStep ? 1e-3 * s.step : 1e-6;
    if (s.hasEnd && t > s.end + tolerance)
        return false;
    if (s.hasBegin && t < s.begin - tolerance)
        return false;
    if (s.hasStep && std::fabs(std::remainder(t, s.step)) > tolerance)
        return false;
    return true;
}

namespace {

// A progress line on standard error, when it is a terminal.
class Progress {
public:
    Progress() : live_(::isatty(2) == 1), start_(std::chrono::steady_clock::now()) {}
    void update(int64_t done, double fraction)
    {
        if (!live_)
            return;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
        char left[64] = "";
        if (fraction > 0.0 && fraction <= 1.0)
            std::snprintf(left, sizeof left, ", about %.0f s left", seconds * (1.0 - fraction) / fraction);
        std::fprintf(stderr, "\r     frames done: %lld, %.2f frames/s%s   ", static_cast<long long>(done), rate, left);
        std::fflush(stderr);
    }
    void finish()
    {
        if (live_) {
            std::fputs("\n", stderr);
            std::fflush(stderr);
        }
    }

private:
    bool live_;
    std::chrono::steady_clock::time_point start_;
};

// The column named `name`; every series has it.
std::size_t columnOf(const std::vector<SeriesColumn>& columns, const std::string& name)
{
    for (std::size_t c = 0; c < columns.size(); ++c)
        if (columns[c].name == name)
            return c;
    throw std::logic_error("the series has no column " + name);
}

// Why a run analysed no frame: what the trajectory held and what -b, -e and
// -dt selected.
std::string noFrameText(const Settings& s, int64_t framesRead, const std::string& first, const std::string& last)
{
    const SeriesSettings& ss = s.series;
    char g[64];
    std::string selection;
    for (const auto& [has, name, value] : {std::tuple{ss.hasBegin, "-b", ss.begin}, std::tuple{ss.hasEnd, "-e", ss.end},
                                           std::tuple{ss.hasStep, "-dt", ss.step}}) {
        if (!has)
            continue;
        std::snprintf(g, sizeof g, "%g", value);
        selection += std::string(selection.empty() ? "" : " ") + name + " " + g;
    }
    if (selection.empty() || framesRead == 0)
        return "no frame analysed: " + ss.trajFile + " holds no frame";
    return "no frame analysed: " + selection +
           " selects none of the " + std::to_string(framesRead) + (framesRead == 1 ? " frame" : " frames") +
           " read from " + ss.trajFile +
           " (t = " + first + " to " + last + " ps)" +
           "; the series holds its header only";
}

// The outputs that follow cages, checked before any file is touched: the
// lifetime table (replaced at the end) and the guest table.
void checkTrackingOutputs(const Settings& s)
{
    const SeriesSettings& ss = s.series;
    std::vector<std::string> outputs = {ss.seriesFile, typeFileFor(ss.seriesFile), ss.cageFile, ss.viewFile};
    if (ss.seriesFile.size() >= 4 && ss.seriesFile.compare(ss.seriesFile.size() - 4, 4, ".xvg") == 0)
        outputs.push_back(f4FileFor(ss.seriesFile));
    const std::vector<std::string> inputs = {s.confFile, ss.trajFile};
    if (!ss.lifeFile.empty()) {
        std::vector<std::string> others = outputs;
        others.push_back(ss.guestFile);
        checkOutputPath(ss.lifeFile, inputs, others);
    }
    if (!ss.guestFile.empty())
        checkOutputPath(ss.guestFile, inputs, outputs);
}

// Mean guest residence per cage type, after the series summary.
void printResidence(const CageTracker& tracker)
{
    const std::map<std::string, Residence> residence = tracker.residence();
    printHeading(">>>> Guest residence");
    int width = 16;
    for (const auto& [type, r] : residence)
        width = std::max(width, static_cast<int>(type.size()));
    std::printf("     %-*s %14s %14s %14s\n", width, "cage type", "residences", "mean frames", "mean ps");
    for (const auto& [type, r] : residence)
        std::printf("     %-*s %14lld %14.4f %14.6g\n", width, type.c_str(), static_cast<long long>(r.runs),
                    r.meanFrames(), r.meanTime());
    if (residence.empty())
        std::printf("     no guest was in a closed cage\n");
    std::fflush(stdout);
}

} // namespace

namespace {

// Says once per run, from whichever thread analyses it first, that a frame's
// network is far denser than water's (see growthWarning).
class GrowthWatch : public Observer {
public:
    explicit GrowthWatch(int64_t waters) : waters_(waters) {}
    void finished(Phase phase, const Analysis& a) override
    {
        if (phase != Phase::Pruning || warned_.load(std::memory_order_relaxed))
            return;
        // Ring size 0: the ring size alone is judged before the first frame.
        const std::string w = growthWarning(waters_, static_cast<int64_t>(a.net.edgeList.size()), 0);
        if (!w.empty() && !warned_.exchange(true))
            printWarnings({w + "; later frames are not reported"});
    }

private:
    int64_t waters_; // every frame has the structure's waters
    std::atomic<bool> warned_{false};
};

// One frame in flight: read in order, analysed on any thread, written in
// order. A failure is kept with the frame it belongs to and raised when the
// writer reaches it, so every row before it is written whatever the number
// of threads.
// Atoms beyond which a frame is analysed by all threads at once rather than
// beside other frames.
constexpr int32_t largeFrameAtoms = 300000;

struct Slot {
    Frame frame;
    int64_t number = 0;
    double time = 0.0;
    SeriesRow result;
    std::vector<std::string> warnings;
    std::exception_ptr failure;
};

} // namespace

int runSeries(const Settings& s)
{
    const SeriesSettings& ss = s.series;
    printText(seriesSettingsText(s));
    Frame structure = readConfiguration(s.confFile, s.waterName, s.oxygenName);
    std::vector<IndexGroup> groups = s.indexFile.empty() ? std::vector<IndexGroup>{} : readIndexGroups(s.indexFile);
    if (!ss.savedGroup.empty()) {
        const IndexGroup saved = findIndexGroup(groups, ss.savedGroup, s.indexFile);
        structure = savedAtoms(structure, saved, groups, s.waterName, s.oxygenName);
    }
    if (!s.waterGroup.empty())
        selectWaterGroup(structure, findIndexGroup(groups, s.waterGroup, s.indexFile), s.oxygenName);
    // The structure's water table, hydrogens checked, serves every frame.
    if (s.criteria.distanceOnly)
        dropHydrogens(structure);
    else
        placeHydrogens(structure, s.confFile);
    if (const std::string empty = emptySelectionWarning(structure, s, s.confFile); !empty.empty())
        printWarnings({empty});
    std::unique_ptr<TrajectoryReader> traj = openTrajectory(ss.trajFile, structure.numAtom);
    if (ss.thermal)
        traj = averageFrames(std::move(traj), ss.thermalHalf, ss.trajFile);

    const std::vector<SeriesColumn> columns = seriesColumns(s.criteria, ss.hasGuest);
    std::vector<std::string> names;
    for (const auto& c : columns)
        names.push_back(c.name);
    // Guests are picked once, by the structure's residue names.
    GuestMolecules guests;
    CensusOptions options;
    if (ss.hasGuest) {
        // The waters are the hosts: a guest name that selects them would
        // count every water as a guest of the cages it builds.
        guests = ss.guestGroup.empty()
                     ? selectGuests(structure, ss.guestName)
                     : guestGroupMolecules(structure, findIndexGroup(groups, ss.guestGroup, s.indexFile));
        for (std::size_t g = 0; g < guests.firstAtom.size(); ++g)
            for (int32_t a = guests.firstAtom[g]; a < guests.firstAtom[g] + guests.atomCount[g]; ++a)
                if (structure.isOW[static_cast<std::size_t>(a)])
                    throw InputError("-guest " + ss.guestName + " selects the waters (residue " + s.waterName +
                                     "), not guests; name the guest molecules' residue, such as -guest CH4");
        options.guests = &guests;
        if (guests.firstAtom.empty() && ss.guestGroup.empty()) {
            std::string present;
            for (const std::string& name : residueNames(structure))
                present += (present.empty() ? "" : ", ") + name;
            std::fprintf(stderr, " !!! Warning !!! -guest %s selects no molecule in %s; its residue names are: %s\n",
                         ss.guestName.c_str(), s.confFile.c_str(), present.c_str());
            std::fflush(stderr);
        }
    }
    checkTrackingOutputs(s);
    // Every output is checked, locked and backed up before the first frame;
    // a failure or an interruption cuts every file back to the last frame
    // written whole to all of them.
    std::vector<OutputSpec> wanted;
    for (const std::string& f : seriesFiles(ss.seriesFile, names))
        wanted.push_back({f, OutputKind::Series});
    if (!ss.cageFile.empty())
        wanted.push_back({ss.cageFile, OutputKind::Series});
    if (!ss.guestFile.empty())
        wanted.push_back({ss.guestFile, OutputKind::Series});
    if (!ss.viewFile.empty())
        wanted.push_back({ss.viewFile, OutputKind::Series});
    SignalGuard interruption([](const std::string& signal) {
        return failureText("interrupted by " + signal +
                           "; every series file is cut back to the last frame written whole to all of them: %F");
    });
    OutputSet outputs(wanted, std::vector<std::string>{s.confFile, ss.trajFile}, &interruption);
    for (const OutputSpec& f : wanted) {
        if (outputs.backup(f.path).empty())
            continue;
        printText("     backed up " + f.path + " to " + outputs.backup(f.path) + "\n");
        if (outputs.backupWasCut(f.path))
            printWarnings({f.path + " ended inside a line, as a run killed while writing leaves it: " +
                           outputs.backup(f.path) + " is not a complete series"});
    }
    SeriesWriter series(ss.seriesFile, names, &outputs, thermalNote(ss));
    // Files named after the series go beside a regular file only, not
    // beside /dev/null.
    std::unique_ptr<TypeWriter> types;
    if (outputs.descriptor(typeFileFor(ss.seriesFile)) >= 0)
        types = std::make_unique<TypeWriter>(typeFileFor(ss.seriesFile), &outputs);
    std::unique_ptr<CageTableWriter> cageTable;
    if (!ss.cageFile.empty()) {
        cageTable = std::make_unique<CageTableWriter>(ss.cageFile, &outputs);
        options.cageRecords = true;
    }
    // Cages are followed in every run (born, died); without the per-cage
    // table, records with only what the tracker reads do. Unless an output
    // shows ids, the closed cages are enough: they are matched apart from
    // the defective ones, so born, died and guest residence are the same.
    const bool showsIds = !ss.cageFile.empty() || !ss.lifeFile.empty() || !ss.guestFile.empty() || !ss.viewFile.empty();
    options.cageMembers = showsIds ? CensusOptions::Members::All : CensusOptions::Members::Closed;
    CageTracker tracker(ss.tolerance);
    std::vector<int32_t> guestAtoms; // each guest by the atom number of its first atom
    for (int32_t atom : guests.firstAtom)
        guestAtoms.push_back(atom + 1);
    std::unique_ptr<GuestTableWriter> guestTable;
    if (!ss.guestFile.empty())
        guestTable = std::make_unique<GuestTableWriter>(ss.guestFile, &outputs);
    std::unique_ptr<ViewWriter> view;
    if (!ss.viewFile.empty())
        view = std::make_unique<ViewWriter>(ss.viewFile, &outputs);
    outputs.endFrame(-1);

    std::vector<double> sum(columns.size(), 0.0), last(columns.size(), 0.0);
    const std::size_t waterColumn = columnOf(columns, "waters"), hbondColumn = columnOf(columns, "hbonds");
    bool warnedNoBond = false;
    // The frames read, selected or not, for the note on an empty selection.
    int64_t framesRead = 0;
    double firstTime = 0.0, lastTime = 0.0;
    // The order parameters see one image of each pair: said once per run
    // when a frame's cell is too narrow for that.
    const double orderReach = 2.0 * (ss.hasGuest ? McgRule{}.guestDistance : kChillCutoff);
    bool warnedNarrow = false;
    int64_t analysed = 0, warnedFrames = 0;
    std::size_t warningsPrinted = 0, warningsHeld = 0;
    Progress progress;

    const int32_t threads = threadCount(s);
    // Frames in flight: enough to keep every thread busy, few enough to bound
    // the memory. A slot is free again once its frame is written. A large
    // frame's analysis takes the threads by itself (its steps run in
    // parallel) and hundreds of bytes per atom, and reading one takes its
    // own: such frames are read and analysed one at a time, so that the
    // memory stays that of a single-frame run whatever the number of
    // threads. Reading is a small part of such a frame's time.
    const bool largeFrames = structure.numAtom > largeFrameAtoms;
    const std::size_t inFlight = largeFrames ? 1 : 2 * static_cast<std::size_t>(threads);
    // The analysis reads no names, only the checks of a frame read do. A
    // reader that gives every frame its names (.gro) gives them for that;
    // for the others the structure's are held once, by the reading stage,
    // and lent to the frame being checked. The frames in flight hold none.
    Frame heldNames;
    heldNames.resName = std::move(structure.resName);
    heldNames.atmName = std::move(structure.atmName);
    structure.resName.clear();
    structure.atmName.clear();
    std::vector<Slot> slots(inFlight);
    for (Slot& slot : slots)
        slot.frame = structure;
    std::vector<Vec3>().swap(structure.atmXYZ);
    std::vector<uint8_t>().swap(structure.isOW);
    std::vector<Water>().swap(structure.water);
    auto lendNames = [&](Frame& f) {
        f.resName.swap(heldNames.resName);
        f.atmName.swap(heldNames.atmName);
    };
    auto dropNames = [](Frame& f) {
        std::vector<std::string>().swap(f.resName);
        std::vector<std::string>().swap(f.atmName);
    };
    int64_t next = 0, issued = 0;
    // Set once a frame fails: no frame is read after it, and the frames in
    // flight are not written. No exception leaves the pipeline, which then
    // always ends with every frame in flight done.
    std::atomic<bool> done{false}, failed{false};
    std::exception_ptr failure;

    auto read = [&](tbb::flow_control& fc) -> Slot* {
        if (done) {
            fc.stop();
            return nullptr;
        }
        // Tokens enter in order and at most inFlight are alive, so the slot
        // of the token issued inFlight tokens ago is free.
        Slot& slot = slots[static_cast<std::size_t>(issued++) % inFlight];
        for (;;) {
            slot.failure = nullptr;
            slot.number = next;
            bool lent = false;
            struct Return {
                std::function<void()> back;
                ~Return() { back(); }
            } giveBack{[&] { lent ? lendNames(slot.frame) : dropNames(slot.frame); }};
            try {
                if (!traj->next(slot.frame)) {
                    fc.stop();
                    return nullptr;
                }
                if (slot.frame.numAtom != structure.numAtom)
                    throw InputError("the structure " + s.confFile + " has " + std::to_string(structure.numAtom) +
                                     " atoms, but frame " + std::to_string(next) + " of " + ss.trajFile + " has " +
                                     std::to_string(slot.frame.numAtom) +
                                     (slot.frame.numAtom < structure.numAtom && ss.savedGroup.empty()
                                          ? " (for a trajectory of some atoms only, name their index group with "
                                            "-n INDEX -traj-group GROUP)"
                                          : ""));
                const std::size_t atoms = slot.frame.atmXYZ.size();
                if (atoms > 0 && slot.frame.resName.size() == atoms) {
                    dropNames(heldNames);
                } else {
                    // Names given up after an earlier frame brought its own:
                    // the checks then name atoms by number only.
                    heldNames.resName.resize(atoms);
                    heldNames.atmName.resize(atoms);
                    lendNames(slot.frame);
                    lent = true;
                }
                slot.warnings = checkFrame(slot.frame, ss.trajFile + " frame " + std::to_string(next));
                slot.time = slot.frame.hasTime ? slot.frame.time : static_cast<double>(next);
                firstTime = framesRead++ == 0 ? slot.time : firstTime;
                lastTime = slot.time;
                ++next;
                if (frameSelected(ss, slot.time))
                    return &slot;
            } catch (...) {
                slot.failure = std::current_exception();
                done = true;
                return &slot;
            }
        }
    };
    // A network that makes the ring search explode is said once per run, as
    // the first frame that shows it is analysed; the ring size alone, now.
    if (const std::string w = growthWarning(structure.numWater, -1, s.criteria.ringMax); !w.empty())
        printWarnings({w});
    GrowthWatch growth(structure.numWater);
    auto analyseSlot = [&](Slot* slot) -> Slot* {
        if (!slot->failure && !failed) {
            try {
                const Analysis a = analyse(slot->frame, s.criteria, &growth);
                slot->result = seriesRow(s.criteria, slot->number, slot->time, slot->frame, a, options);
            } catch (...) {
                slot->failure = std::current_exception();
            }
        }
        return slot;
    };
    auto writeSlot = [&](Slot* slot) {
        if (slot->failure)
            std::rethrow_exception(slot->failure);
        // The first warnings of the run; then only their count.
        if (!slot->warnings.empty()) {
            ++warnedFrames;
            std::vector<std::string> shown;
            for (const std::string& w : slot->warnings)
                (warningsPrinted < warningsShown ? (++warningsPrinted, shown.push_back(w)) : void(++warningsHeld));
            if (!shown.empty())
                printWarnings(shown);
        }
        // Cages are matched here, in frame order, so that ids do not depend
        // on the threads.
        const FrameIds ids = tracker.add(slot->number, slot->time, slot->result.cages, guestAtoms);
        setTracked(columns, slot->result.values, ids.born, ids.died);
        if (!warnedNarrow && narrowestWidth(slot->frame.box) < orderReach) {
            warnedNarrow = true;
            char text[256];
            std::snprintf(text, sizeof text,
                          "the cell of frame %lld is %.2f A across at its narrowest; %s one image of each pair, "
                          "which needs a cell at least %.1f A across",
                          static_cast<long long>(slot->number), narrowestWidth(slot->frame.box),
                          ss.hasGuest ? "CHILL+ and MCG count" : "CHILL+ counts", orderReach);
            printWarnings({text});
        }
        const std::vector<double>& values = slot->result.values;
        std::vector<std::string> row;
        for (std::size_t c = 0; c < columns.size(); ++c)
            row.push_back(formatValue(columns[c], values[c]));
        outputs.beginFrame();
        series.row(row);
        if (types)
            types->frame(slot->number, row[1], slot->result.closed, slot->result.defective);
        if (!warnedNoBond && values[hbondColumn] == 0.0 && values[waterColumn] > 0.0) {
            warnedNoBond = true;
            printWarnings({"frame " + row[0] + " (t = " + row[1] + " ps): " +
                           noBondWarning(s, static_cast<int64_t>(values[waterColumn])) +
                           "; later frames without bonds are not reported"});
        }
        if (cageTable)
            cageTable->frame(slot->number, slot->result.cages, ids.ids);
        if (guestTable)
            guestTable->frame(slot->number, slot->time, guestAtoms, ids.guestCage);
        if (view)
            view->frame(slot->number, slot->time, slot->frame, slot->result.cages, slot->result.chill, ids.ids);
        outputs.endFrame(slot->number);
        for (std::size_t c = 0; c < columns.size(); ++c)
            sum[c] += values[c];
        last = values;
        ++analysed;
        progress.update(analysed, traj->fractionRead());
    };
    auto write = [&](Slot* slot) {
        if (failure)
            return;
        try {
            writeSlot(slot);
        } catch (...) {
            failure = std::current_exception();
            failed = true;
            done = true;
        }
    };

    // As many threads as asked for (the caller lets TBB go beyond the cores
    // the machine has).
    tbb::task_arena arena(threads);
    try {
        arena.execute([&] {
            tbb::parallel_pipeline(inFlight,
                                   tbb::make_filter<void, Slot*>(tbb::filter_mode::serial_in_order, read) &
                                       tbb::make_filter<Slot*, Slot*>(largeFrames ? tbb::filter_mode::serial_in_order
                                                                                  : tbb::filter_mode::parallel,
                                                                      analyseSlot) &
                                       tbb::make_filter<Slot*, void>(tbb::filter_mode::serial_in_order, write));
        });
        if (failure)
            std::rethrow_exception(failure);
    } catch (...) {
        progress.finish();
        outputs.rollback();
        printText("     every series file is cut back to the last frame written whole to all of them: " +
                  (outputs.lastFrame() < 0 ? std::string("none") : "frame " + std::to_string(outputs.lastFrame())) +
                  "\n");
        throw;
    }
    progress.finish();
    outputs.commit();
    if (warningsHeld > 0)
        printWarnings({"... and " + std::to_string(warningsHeld) + " more such warnings, in " +
                       std::to_string(warnedFrames) + " frames in all"});

    // Rows are final only now; a run that failed before leaves the previous
    // table as it was.
    if (!ss.lifeFile.empty())
        replaceFile(ss.lifeFile, lifetimeTable(tracker));

    printHeading(">>>> Series");
    printCount("     Frames: ", analysed);
    int width = 16;
    for (const SeriesColumn& c : columns)
        width = std::max(width, static_cast<int>(c.name.size()));
    std::printf("     %-*s %14s %14s\n", width, "column", "mean", "last");
    for (std::size_t c = 2; c < columns.size() && analysed > 0; ++c)
        std::printf("     %-*s %14.4f %14s\n", width, columns[c].name.c_str(), sum[c] / static_cast<double>(analysed),
                    formatValue(columns[c], last[c]).c_str());
    std::fflush(stdout);
    if (ss.hasGuest)
        printResidence(tracker);
    if (analysed == 0)
        throw InputError(noFrameText(s, framesRead, formatValue(columns[1], firstTime),
                                     formatValue(columns[1], lastTime)));
    return 0;
}

} // namespace kavet
