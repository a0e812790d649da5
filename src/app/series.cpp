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

#include "app/report.h"
#include "census/cage_tracker.h"
#include "app/signal_guard.h"
#include "core/error.h"
#include "io/cage_table.h"
#include "io/cluster_table.h"
#include "io/frame_checks.h"
#include "io/gro_reader.h"
#include "io/lifetime_writer.h"
#include "io/output_set.h"
#include "io/series_writer.h"
#include "io/structure.h"
#include "io/trajectory.h"
#include "io/water_hydrogens.h"
#include "io/index_groups.h"
#include "io/profile_writer.h"
#include "io/view_writer.h"
#include "series/series_files.h"
#include "series/series_run.h"
#include "order/chill.h"
#include "order/mcg.h"

namespace kavet {

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

// One frame in flight: read in order, analysed on any thread, written in
// order. A failure is kept with the frame it belongs to and raised when the
// writer reaches it, so every row before it is written whatever the number
// of threads.
// Atoms beyond which a frame is analysed by all threads at once rather than
// beside other frames.
constexpr int32_t largeFrameAtoms = 300000;

struct Slot {
    SeriesFrame in;
    SeriesRow result;
    std::exception_ptr failure;
};

SeriesOptions seriesOptionsOf(const Settings& s)
{
    const SeriesSettings& ss = s.series;
    SeriesOptions o;
    o.structure = s.confFile;
    o.trajectory = ss.trajFile;
    o.water = s.waterName;
    o.oxygen = s.oxygenName;
    o.indexFile = s.indexFile;
    o.waterGroup = s.waterGroup;
    o.savedGroup = ss.savedGroup;
    o.hasGuest = ss.hasGuest;
    o.guestName = ss.guestName;
    o.types = s.types;
    o.timestep = ss.timestep;
    o.guestGroup = ss.guestGroup;
    if (ss.hasBegin)
        o.frames.begin = ss.begin;
    if (ss.hasEnd)
        o.frames.end = ss.end;
    if (ss.hasStep)
        o.frames.step = ss.step;
    o.tolerance = ss.tolerance;
    o.qbarDegrees = ss.qbarDegrees;
    o.thermalHalf = ss.thermal ? ss.thermalHalf : 0;
    o.criteria = s.criteria;
    seriesFileNames(s).require(o);
    return o;
}

} // namespace

int runSeries(const Settings& s)
{
    const SeriesSettings& ss = s.series;
    printText(seriesSettingsText(s));
    SeriesRun run(seriesOptionsOf(s), [](const std::string& w) { printWarnings({w}); });
    const SeriesColumns& columns = run.columns();
    const std::vector<std::string> names = columnNames(columns);
    // Every output is checked, locked and backed up before the first frame;
    // a failure or an interruption cuts every file back to the last frame
    // written whole to all of them. The lifetime table is locked with them
    // and replaced only when the run completes.
    SignalGuard interruption([](const std::string& signal) {
        return failureText("interrupted by " + signal +
                           "; every series file is cut back to the last frame written whole to all of them: %F");
    });
    SeriesFiles files(run, seriesFileNames(s), &interruption);
    const SeriesOutputs& outputs = files.outputs();
    for (const OutputSpec& f : seriesFileNames(s).outputs(names)) {
        if (outputs.backup(f.path).empty())
            continue;
        printText("     backed up " + f.path + " to " + outputs.backup(f.path) + "\n");
        if (outputs.backupWasCut(f.path))
            printWarnings({f.path + " ended inside a line, as a run killed while writing leaves it: " +
                           outputs.backup(f.path) + " is not a complete series"});
    }

    int64_t warnedFrames = 0;
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
    const bool largeFrames = run.atoms() > largeFrameAtoms;
    const std::size_t inFlight = largeFrames ? 1 : 2 * static_cast<std::size_t>(threads);
    std::vector<Slot> slots(inFlight);
    for (Slot& slot : slots)
        slot.in = run.frameBuffer();
    int64_t issued = 0;
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
        slot.failure = nullptr;
        try {
            if (!run.read(slot.in)) {
                fc.stop();
                return nullptr;
            }
        } catch (...) {
            slot.failure = std::current_exception();
            done = true;
        }
        return &slot;
    };
    // A network that makes the ring search explode is said once per run, as
    // the first frame that shows it is analysed; the ring size alone, now.
    if (const std::string w = run.ringSizeWarning(); !w.empty())
        printWarnings({w});
    auto analyseSlot = [&](Slot* slot) -> Slot* {
        if (!slot->failure && !failed) {
            try {
                slot->result = run.analyse(slot->in);
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
        const SeriesFrame& in = slot->in;
        if (!in.warnings.empty()) {
            ++warnedFrames;
            std::vector<std::string> shown;
            for (const std::string& w : in.warnings)
                (warningsPrinted < warningsShown ? (++warningsPrinted, shown.push_back(w)) : void(++warningsHeld));
            if (!shown.empty())
                printWarnings(shown);
        }
        const FollowedFrame followed = run.follow(in, slot->result);
        printWarnings(followed.warnings);
        files.frame(in, slot->result, followed);
        progress.update(run.framesAnalysed(), run.fractionRead());
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
        files.rollback();
        printText("     every series file is cut back to the last frame written whole to all of them: " +
                  (outputs.lastFrame() < 0 ? std::string("none") : "frame " + std::to_string(outputs.lastFrame())) +
                  "\n");
        throw;
    }
    progress.finish();
    files.finish(run);
    if (warningsHeld > 0)
        printWarnings({"... and " + std::to_string(warningsHeld) + " more such warnings, in " +
                       std::to_string(warnedFrames) + " frames in all"});

    const SeriesSummary summary = run.summary();
    printHeading(">>>> Series");
    printCount("     Frames: ", summary.frames);
    int width = 16;
    for (const SeriesColumn& c : columns)
        width = std::max(width, static_cast<int>(c.name.size()));
    std::printf("     %-*s %14s %14s\n", width, "column", "mean", "last");
    for (std::size_t c = 2; c < columns.size() && summary.frames > 0; ++c)
        std::printf("     %-*s %14.4f %14s\n", width, columns[c].name.c_str(), summary.mean[c],
                    formatValue(columns[c], summary.last[c]).c_str());
    std::fflush(stdout);
    if (ss.hasGuest)
        printResidence(run.tracker());
    run.requireFrames();
    return 0;
}

} // namespace kavet
