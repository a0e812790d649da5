#include "app/run.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include <tbb/task_arena.h>

#include "app/command_line.h"
#include "app/report.h"
#include "app/series.h"
#include "app/settings.h"
#include "app/signal_guard.h"
#include "cage/analysis.h"
#include "core/error.h"
#include "io/frame_checks.h"
#include "io/gro_reader.h"
#include "io/index_groups.h"
#include "io/output_set.h"
#include "io/pdb_writer.h"
#include "io/structure.h"
#include "io/water_hydrogens.h"
#include "series/series_run.h"

namespace kavet {
namespace {

// The diagnostic trace of ring 322: its two sides, and on each the line of
// sight to ring 326, with the ray frame of blocker 287.
class ConsoleTrace : public SeedTrace {
public:
    ConsoleTrace()
    {
        seed = 322;
        candidate = 326;
        blocker = 287;
    }
    void side(Vec3 c, Vec3 v) override
    {
        std::printf("Icent: v0 %g %g %g\n", c.x, c.y, c.z);
        std::printf("Inorm: v1 %g %g %g\n", v.x, v.y, v.z);
        std::fflush(stdout);
    }
    void lineOfSight(int32_t s, int32_t k, Vec3 dK, float along) override
    {
        std::printf("Jcent: v2 %g %g %g\n", dK.x, dK.y, dK.z);
        std::printf("occ %d %d %g\n", s, k, static_cast<double>(along));
        std::fflush(stdout);
    }
    void blockerRay(Vec3 dM, Vec3 o, Vec3 d) override
    {
        std::printf("Kcent:  %g %g %g\n", dM.x, dM.y, dM.z);
        std::printf("rayOri: %g %g %g\n", o.x, o.y, o.z);
        std::printf("rayDir: %g %g %g\n", d.x, d.y, d.z);
    }
    void hit(int32_t m, int t) override { std::printf("k %d __kk  %d occ \n", m, t); }
    void verdict(bool occluded) override
    {
        std::printf("isocc %d\n", occluded ? 1 : 0);
        std::fflush(stdout);
    }
};

// A progress line on standard error, when it is a terminal, for a phase that
// runs longer than a few seconds: the phase and the seconds it has taken.
class ProgressLine {
public:
    ~ProgressLine() { stop(); }

    void start(const char* phase)
    {
        stop();
        if (!isatty(STDERR_FILENO))
            return;
        stopping_ = false;
        ticker_ = std::thread([this, phase] {
            const auto begin = std::chrono::steady_clock::now();
            std::unique_lock<std::mutex> lock(mutex_);
            int shown = 0;
            while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; })) {
                const auto seconds =
                    std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begin).count();
                if (seconds < 3)
                    continue;
                std::fprintf(stderr, "\r .... %s: %lld s", phase, static_cast<long long>(seconds));
                std::fflush(stderr);
                shown = 1;
            }
            if (shown) {
                std::fputs("\r\033[K", stderr);
                std::fflush(stderr);
            }
        });
    }

    void stop()
    {
        if (!ticker_.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        ticker_.join();
    }

private:
    std::thread ticker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

const char* phaseName(Phase p)
{
    switch (p) {
    case Phase::Bonds: return "hydrogen bonds";
    case Phase::Pruning: return "dangling bonds";
    case Phase::Rings: return "ring search";
    case Phase::PlaneFit: return "plane fit";
    case Phase::Neighbours: return "ring neighbours";
    case Phase::Occlusion: return "line of sight and cages";
    case Phase::Deduplication: return "duplicate cages";
    case Phase::Classification: return "census";
    }
    return "analysis";
}

// Degenerate triangles reported one line each, up to this many.
constexpr int64_t trianglesShown = 10;

// The console report of a classic run: phase headings, counts, timings and
// the table figures, the degenerate-triangle warning on standard error, the
// ring file once the neighbours are known, and the trace.
class ConsoleReport : public Observer {
public:
    ConsoleReport(const Settings& s, const Frame& frame) : s_(s), frame_(frame) {}

    void started(Phase p, const Analysis&) override
    {
        progress_.start(phaseName(p));
        switch (p) {
        case Phase::Rings:
            ringClock_ = clockMilliseconds();
            break;
        case Phase::Occlusion:
        case Phase::Deduplication:
            clock_ = clockMilliseconds();
            break;
        default:
            break;
        }
    }

    void finished(Phase p, const Analysis& a) override
    {
        progress_.stop();
        switch (p) {
        case Phase::Bonds:
            printHeading(">>>> Node degree: ");
            printCount(">>>> Edge Size: ", static_cast<long long>(a.net.edgeList.size()));
            if (a.net.edgeList.empty() && frame_.topology().waterCount > 0)
                printWarnings({noBondWarning(s_.criteria, frame_.topology().waterCount)});
            break;
        case Phase::Pruning:
            printCount(">>>> Edge Size (degree>1): ", static_cast<long long>(a.net.edgeList.size()));
            warnOfGrowth(a);
            break;
        case Phase::Rings:
            std::printf(">>>> Find all Rings     Iter: %lld     Time(s): %g\n", static_cast<long long>(a.rings.iter),
                        secondsSince(ringClock_));
            std::fflush(stdout);
            printCount("     Ring: ", static_cast<long long>(a.rings.ringList.size()));
            printRingInfo(a);
            break;
        case Phase::PlaneFit:
            for (int64_t k = 0; k < a.geo.degenerateTriangles && k < trianglesShown; ++k) {
                std::fputs(" !!! Error !!! Building transformation triangle from degenerate source \n", stderr);
                std::fflush(stderr);
            }
            if (a.geo.degenerateTriangles > trianglesShown) {
                std::fprintf(stderr, " !!! Error !!! ... and %lld more degenerate triangles\n",
                             static_cast<long long>(a.geo.degenerateTriangles - trianglesShown));
                std::fflush(stderr);
            }
            printTiming(">>>> Fit Ring to Plane      Time(s): ", secondsSince(ringClock_));
            printCount("     Ring: ", static_cast<long long>(a.rings.ringList.size()));
            clock_ = clockMilliseconds();
            if (a.rings.ringList.empty())
                printHeading(">>>> No cages.");
            break;
        case Phase::Neighbours:
            printTiming(">>>> Neighbor all Rings     Time(s): ", secondsSince(clock_));
            writeRingFile(s_.ringFile, frame_, a.rings, a.geo);
            printHeading(">>>> Write Rings to File");
            break;
        case Phase::Occlusion:
            printTiming(">>>> Determin Ring Occulasion     Time(s): ", secondsSince(clock_));
            // The cages grow while the line of sight is decided: their time
            // is on the line above, and the report's assembly line shows 0.
            printTiming(">>>> Conect Rings to Cage         Time(s): ", 0.0);
            // Every side counts, grown or shared (see assembleCages).
            printCount("     Cages: ", static_cast<long long>(a.cages.cageList.size()) + a.cages.sharedSides);
            break;
        case Phase::Deduplication:
            printTiming(">>>> Deduplicate Cages            Time(s): ", secondsSince(clock_));
            printCount("     Cages: ", static_cast<long long>(a.cages.cageList.size()));
            break;
        default:
            break;
        }
    }

    SeedTrace* seedTrace() override { return &trace_; }

private:
    // Once, before the ring search (see growthWarning).
    void warnOfGrowth(const Analysis& a) const
    {
        const std::string w = growthWarning(frame_.topology().waterCount, static_cast<int64_t>(a.net.edgeList.size()),
                                            s_.criteria.ringMax);
        if (!w.empty())
            std::fprintf(stderr, " !!! Warning !!! %s\n", w.c_str());
        std::fflush(stderr);
    }

    // The Ring Info block: the per-ring tables as sized for the R rings found.
    void printRingInfo(const Analysis& a) const
    {
        const auto& ringList = a.rings.ringList;
        const long long first = ringList.empty() ? 0 : static_cast<long long>(ringList[0].size());
        printHeading(">>>> Ring Info.");
        printRingTables(ringInfoTables(frame_.topology().waterCount, static_cast<long long>(ringList.size()), first,
                                       s_.criteria.ringMax),
                        false);
    }

    const Settings& s_;
    const Frame& frame_;
    ConsoleTrace trace_;
    ProgressLine progress_;
    long long ringClock_ = 0;
    long long clock_ = 0;
};

// A report that could not be written makes the run a failure.
void checkStandardOutput()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int err = errno ? errno : EIO;
        throw FileError(std::string("writing standard output failed: ") + std::strerror(err), err);
    }
}

int runFrame(const Settings& s)
{
    Frame frame = readStructure(s.confFile, s.waterName, s.oxygenName, s.types, s.series.timestep);
    if (!s.waterGroup.empty())
        selectWaterGroup(frame, findIndexGroup(readIndexGroups(s.indexFile), s.waterGroup, s.indexFile),
                         s.oxygenName);
    if (s.criteria.distanceOnly)
        dropHydrogens(frame.editTopology());
    else
        placeHydrogens(frame, s.confFile);
    printWarnings(checkFrame(frame, s.confFile));
    if (const std::string empty = emptySelectionWarning(frame, s.waterName, s.oxygenName, s.confFile); !empty.empty())
        printWarnings({empty});
    // The names have served the selection and the checks: the analysis and
    // the files read positions only, and a large frame's names take a sixth
    // of its run's memory.
    std::vector<std::string>().swap(frame.editTopology().residue);
    std::vector<std::string>().swap(frame.editTopology().atomName);
    // Every output is checked and locked before the analysis; a run that does
    // not complete, interrupted ones included, leaves them as they were.
    SignalGuard interruption([](const std::string& signal) {
        return failureText("interrupted by " + signal + "; the output files are left as they were before the run");
    });
    AppendedOutputs outputs({{s.ringFile, OutputKind::RingFile},
                             {s.cageFile, OutputKind::CageFile},
                             {s.dataFile, OutputKind::DataFile}},
                            {s.confFile, s.indexFile}, &interruption);
    printSystemBlock(frame.topology().atomCount);
    printHeading(">>>> Water");
    printCount("     OW:       ", frame.topology().waterCount);
    printRingTables(waterTables(frame.topology().waterCount, s.criteria.ringMax), true);

    ConsoleReport report(s, frame);
    const Analysis a = analyse(frame, s.criteria, &report);
    if (a.rings.ringList.empty())
        return 0;

    const std::string census = censusText(a.classes.cageCensus);
    writeCageFile(s.cageFile, census, frame, a.rings, a.geo, a.net, a.cages, a.classes);
    // The census line goes last: it marks a complete run.
    writeDataFile(s.dataFile, census);
    printHeading(">>>> Write Cages to File");
    checkStandardOutput();
    outputs.commit();
    return 0;
}

int runPhases(const std::vector<std::string>& args)
{
    switch (requestOf(args)) {
    case Request::Help:
        printText(helpText());
        return 0;
    case Request::Version:
        printText(versionText());
        return 0;
    case Request::Run:
        break;
    }
    printText(bannerText());
    printWarnings(checkArguments(args));
    const Settings s = scanOptions(args);
    printText(settingsText(s));
    // Every parallel step, reading included, runs in an arena of this many
    // threads: the number is the run's own, not the process's.
    tbb::task_arena arena(threadCount(s));
    return arena.execute([&] { return s.series.trajFile.empty() ? runFrame(s) : runSeries(s); });
}

} // namespace

int runKavet(const std::vector<std::string>& args)
{
    // A closed pipe and a file-size limit surface as write errors, reported
    // as failures, instead of ending the process.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    std::string failure;
    try {
        return runPhases(args);
    } catch (const std::exception&) {
        failure = failureMessage(std::current_exception());
    }
    printFailure(failure);
    // With standard output gone, the message goes to standard error.
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        std::fputs(failureText(failure).c_str(), stderr);
    return 1;
}

} // namespace kavet
