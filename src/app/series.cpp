#include "app/series.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <unistd.h>

#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include "app/report.h"
#include "core/error.h"
#include "io/cage_table.h"
#include "io/frame_checks.h"
#include "io/gro_reader.h"
#include "io/index_groups.h"
#include "io/series_writer.h"
#include "io/trajectory.h"
#include "io/view_writer.h"
#include "order/chill.h"
#include "order/mcg.h"

namespace kavet {
namespace {

// Whether a frame at time t is analysed; `stop` is set past the last time.
bool selected(const SeriesSettings& s, double t, bool& stop)
{
    const double tolerance = s.hasStep ? 1e-3 * s.step : 1e-6;
    if (s.hasEnd && t > s.end + tolerance) {
        stop = true;
        return false;
    }
    if (s.hasBegin && t < s.begin - tolerance)
        return false;
    if (s.hasStep && std::fabs(std::remainder(t, s.step)) > tolerance)
        return false;
    return true;
}

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

} // namespace

namespace {

// One frame in flight: read in order, analysed on any thread, written in
// order. A failure is kept with the frame it belongs to and raised when the
// writer reaches it, so every row before it is written whatever the number
// of threads.
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
    if (s.criteria.distanceOnly)
        dropHydrogens(structure);
    std::unique_ptr<TrajectoryReader> traj = openTrajectory(ss.trajFile);

    const std::vector<SeriesColumn> columns = seriesColumns(s.criteria, ss.hasGuest);
    std::vector<std::string> names;
    for (const auto& c : columns)
        names.push_back(c.name);
    // Guests are picked once, by the structure's residue names.
    GuestMolecules guests;
    CensusOptions options;
    if (ss.hasGuest) {
        guests = ss.guestGroup.empty()
                     ? selectGuests(structure, ss.guestName)
                     : guestGroupMolecules(structure, findIndexGroup(groups, ss.guestGroup, s.indexFile));
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
    SeriesWriter series(ss.seriesFile, names);
    TypeWriter types(typeFileFor(ss.seriesFile));
    std::unique_ptr<CageTableWriter> cageTable;
    if (!ss.cageFile.empty()) {
        cageTable = std::make_unique<CageTableWriter>(ss.cageFile);
        options.cageRecords = true;
    }
    std::unique_ptr<ViewWriter> view;
    if (!ss.viewFile.empty()) {
        view = std::make_unique<ViewWriter>(ss.viewFile);
        options.closedRecordsOnly = !options.cageRecords; // the view shows closed cages only
        options.cageRecords = true;
    }
    for (const FreshFile* f : {&series.file(), series.f4File(), &types.file(), view ? &view->file() : nullptr})
        if (f && !f->backup().empty())
            printText("     backed up " + f->path() + " to " + f->backup() + "\n");
    if (cageTable && !cageTable->file().backup().empty())
        printText("     backed up " + cageTable->file().path() + " to " + cageTable->file().backup() + "\n");

    std::vector<double> sum(columns.size(), 0.0), last(columns.size(), 0.0);
    // The order parameters see one image of each pair: said once per run
    // when a frame's cell is too narrow for that.
    const double orderReach = 2.0 * (ss.hasGuest ? McgRule{}.guestDistance : kChillCutoff);
    bool warnedNarrow = false;
    int64_t analysed = 0, warnedFrames = 0;
    std::size_t warningsPrinted = 0, warningsHeld = 0;
    Progress progress;

    const int32_t threads = threadCount(s);
    // Frames in flight: enough to keep every thread busy, few enough to bound
    // the memory. A slot is free again once its frame is written.
    const std::size_t inFlight = 2 * static_cast<std::size_t>(threads);
    std::vector<Slot> slots(inFlight);
    for (Slot& slot : slots)
        slot.frame = structure;
    int64_t next = 0, issued = 0;
    bool done = false;

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
            try {
                bool stop = false;
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
                slot.warnings = checkFrame(slot.frame, ss.trajFile + " frame " + std::to_string(next));
                slot.time = slot.frame.hasTime ? slot.frame.time : static_cast<double>(next);
                ++next;
                const bool use = selected(ss, slot.time, stop);
                if (stop) {
                    fc.stop();
                    return nullptr;
                }
                if (use)
                    return &slot;
            } catch (...) {
                slot.failure = std::current_exception();
                done = true;
                return &slot;
            }
        }
    };
    auto analyseSlot = [&](Slot* slot) -> Slot* {
        if (!slot->failure) {
            try {
                slot->result = analyseRow(slot->frame, s.criteria, slot->number, slot->time, options);
            } catch (...) {
                slot->failure = std::current_exception();
            }
        }
        return slot;
    };
    auto write = [&](Slot* slot) {
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
        series.row(row);
        types.frame(slot->number, row[1], slot->result.closed, slot->result.open);
        if (cageTable)
            cageTable->frame(slot->number, slot->result.cages);
        if (view)
            view->frame(slot->number, slot->time, slot->frame, slot->result.cages, slot->result.chill);
        for (std::size_t c = 0; c < columns.size(); ++c)
            sum[c] += values[c];
        last = values;
        ++analysed;
        progress.update(analysed, traj->fractionRead());
    };

    // As many threads as asked for (the caller lets TBB go beyond the cores
    // the machine has).
    tbb::task_arena arena(threads);
    try {
        arena.execute([&] {
            tbb::parallel_pipeline(inFlight,
                                   tbb::make_filter<void, Slot*>(tbb::filter_mode::serial_in_order, read) &
                                       tbb::make_filter<Slot*, Slot*>(tbb::filter_mode::parallel, analyseSlot) &
                                       tbb::make_filter<Slot*, void>(tbb::filter_mode::serial_in_order, write));
        });
    } catch (...) {
        progress.finish();
        throw;
    }
    progress.finish();
    if (warningsHeld > 0)
        printWarnings({"... and " + std::to_string(warningsHeld) + " more such warnings, in " +
                       std::to_string(warnedFrames) + " frames in all"});

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
    return 0;
}

} // namespace kavet
