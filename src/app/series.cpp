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
#include <unistd.h>

#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include "app/report.h"
#include "app/signal_guard.h"
#include "core/error.h"
#include "io/cage_table.h"
#include "io/frame_checks.h"
#include "io/gro_reader.h"
#include "io/output_set.h"
#include "io/series_writer.h"
#include "io/trajectory.h"

namespace kavet {
namespace {

// Whether a frame at time t is analysed. A frame past the end does not end
// the reading: a trajectory joined from restarts (gmx trjcat without
// -settime) goes back in time, and its later frames may be in range again.
bool selected(const SeriesSettings& s, double t)
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
    std::unique_ptr<TrajectoryReader> traj = openTrajectory(ss.trajFile);

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
        guests = selectGuests(structure, ss.guestName);
        for (std::size_t g = 0; g < guests.firstAtom.size(); ++g)
            for (int32_t a = guests.firstAtom[g]; a < guests.firstAtom[g] + guests.atomCount[g]; ++a)
                if (structure.isOW[static_cast<std::size_t>(a)])
                    throw InputError("-guest " + ss.guestName + " selects the waters (residue " + s.waterName +
                                     "), not guests; name the guest molecules' residue, such as -guest CH4");
        options.guests = &guests;
        if (guests.firstAtom.empty()) {
            std::string present;
            for (const std::string& name : residueNames(structure))
                present += (present.empty() ? "" : ", ") + name;
            std::fprintf(stderr, " !!! Warning !!! -guest %s selects no molecule in %s; its residue names are: %s\n",
                         ss.guestName.c_str(), s.confFile.c_str(), present.c_str());
            std::fflush(stderr);
        }
    }
    // Every output is checked, locked and backed up before the first frame;
    // a failure or an interruption cuts every file back to the last frame
    // written whole to all of them.
    std::vector<OutputSpec> specs;
    for (const std::string& f : seriesFiles(ss.seriesFile, names))
        specs.push_back({f, OutputKind::Series});
    if (!ss.cageFile.empty())
        specs.push_back({ss.cageFile, OutputKind::Series});
    SignalGuard interruption([](const std::string& signal) {
        return failureText("interrupted by " + signal +
                           "; every series file is cut back to the last frame written whole to all of them: %F");
    });
    OutputSet outputs(specs, std::vector<std::string>{s.confFile, ss.trajFile}, &interruption);
    for (const OutputSpec& f : specs) {
        if (outputs.backup(f.path).empty())
            continue;
        printText("     backed up " + f.path + " to " + outputs.backup(f.path) + "\n");
        if (outputs.backupWasCut(f.path))
            printWarnings({f.path + " ended inside a line, as a run killed while writing leaves it: " +
                           outputs.backup(f.path) + " is not a complete series"});
    }
    SeriesWriter series(ss.seriesFile, names, &outputs);
    TypeWriter types(typeFileFor(ss.seriesFile), &outputs);
    std::unique_ptr<CageTableWriter> cageTable;
    if (!ss.cageFile.empty()) {
        cageTable = std::make_unique<CageTableWriter>(ss.cageFile, &outputs);
        options.cageRecords = true;
    }
    outputs.endFrame(-1);

    std::vector<double> sum(columns.size(), 0.0), last(columns.size(), 0.0);
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
                                     std::to_string(slot.frame.numAtom));
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
                ++next;
                if (selected(ss, slot.time))
                    return &slot;
            } catch (...) {
                slot.failure = std::current_exception();
                done = true;
                return &slot;
            }
        }
    };
    auto analyseSlot = [&](Slot* slot) -> Slot* {
        if (!slot->failure && !failed) {
            try {
                slot->result = analyseRow(slot->frame, s.criteria, slot->number, slot->time, options);
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
        const std::vector<double>& values = slot->result.values;
        std::vector<std::string> row;
        for (std::size_t c = 0; c < columns.size(); ++c)
            row.push_back(formatValue(columns[c], values[c]));
        outputs.beginFrame();
        series.row(row);
        types.frame(slot->number, row[1], slot->result.closed, slot->result.open);
        if (cageTable)
            cageTable->frame(slot->number, slot->result.cages);
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
