#include "app/run.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/report.h"
#include "app/settings.h"
#include "cage/analysis.h"
#include "core/error.h"
#include "io/frame_checks.h"
#include "io/gro_reader.h"
#include "io/output_set.h"
#include "io/pdb_writer.h"

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

// The console report of a classic run: phase headings, counts, timings and
// the table figures, the degenerate-triangle warning on standard error, the
// ring file once the neighbours are known, and the trace.
class ConsoleReport : public Observer {
public:
    ConsoleReport(const Settings& s, const Frame& frame) : s_(s), frame_(frame) {}

    void started(Phase p, const Analysis&) override
    {
        switch (p) {
        case Phase::Rings:
            ringClock_ = clockMilliseconds();
            break;
        case Phase::Occlusion:
        case Phase::Assembly:
        case Phase::Deduplication:
            clock_ = clockMilliseconds();
            break;
        default:
            break;
        }
    }

    void finished(Phase p, const Analysis& a) override
    {
        switch (p) {
        case Phase::Bonds:
            printHeading(">>>> Node degree: ");
            printCount(">>>> Edge Size: ", static_cast<long long>(a.net.edgeList.size()));
            break;
        case Phase::Pruning:
            printCount(">>>> Edge Size (degree>1): ", static_cast<long long>(a.net.edgeList.size()));
            break;
        case Phase::Rings:
            std::printf(">>>> Find all Rings     Iter: %lld     Time(s): %g\n", static_cast<long long>(a.rings.iter),
                        secondsSince(ringClock_));
            std::fflush(stdout);
            printCount("     Ring: ", static_cast<long long>(a.rings.ringList.size()));
            printRingInfo(a);
            break;
        case Phase::PlaneFit:
            for (int64_t k = 0; k < a.geo.degenerateTriangles; ++k) {
                std::fputs(" !!! Error !!! Building transformation triangle from degenerate source \n", stderr);
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
            break;
        case Phase::Assembly:
            printTiming(">>>> Conect Rings to Cage         Time(s): ", secondsSince(clock_));
            printCount("     Cages: ", static_cast<long long>(a.cages.cageList.size()));
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
    // The Ring Info block: the per-ring tables as sized for the R rings found.
    void printRingInfo(const Analysis& a) const
    {
        const auto& ringList = a.rings.ringList;
        const long long first = ringList.empty() ? 0 : static_cast<long long>(ringList[0].size());
        printHeading(">>>> Ring Info.");
        printRingTables(ringInfoTables(frame_.numWater, static_cast<long long>(ringList.size()), first,
                                       s_.criteria.ringMax),
                        false);
    }

    const Settings& s_;
    const Frame& frame_;
    ConsoleTrace trace_;
    long long ringClock_ = 0;
    long long clock_ = 0;
};

// Warnings on standard error: the first few, then how many more there were.
constexpr std::size_t warningsShown = 10;

void printWarnings(const std::vector<std::string>& warnings)
{
    for (std::size_t k = 0; k < warnings.size() && k < warningsShown; ++k)
        std::fprintf(stderr, " !!! Warning !!! %s\n", warnings[k].c_str());
    if (warnings.size() > warningsShown)
        std::fprintf(stderr, " !!! Warning !!! ... and %zu more such warnings\n", warnings.size() - warningsShown);
    std::fflush(stderr);
}

// A report that could not be written makes the run a failure.
void checkStandardOutput()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw Failure(std::string("writing standard output failed: ") + std::strerror(errno ? errno : EIO));
}

int runPhases(const std::vector<std::string>& args)
{
    printText(bannerText());
    const Settings s = scanOptions(args);
    printText(settingsText(s));

    const Frame frame = readConfiguration(s.confFile, s.waterName, s.oxygenName);
    printWarnings(checkFrame(frame, s.confFile));
    // Every output is checked and locked before the analysis; a run that does
    // not complete leaves them as they were.
    OutputSet outputs({{s.ringFile, OutputKind::RingFile},
                       {s.cageFile, OutputKind::CageFile},
                       {s.dataFile, OutputKind::DataFile}},
                      s.confFile, [](const std::string& signal) {
                          return failureText("interrupted by " + signal +
                                             "; the output files are left as they were before the run");
                      });
    printSystemBlock(frame.numAtom);
    printHeading(">>>> Water");
    printCount("     OW:       ", frame.numWater);
    printRingTables(waterTables(frame.numWater, s.criteria.ringMax), true);

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
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const std::exception& e) {
        failure = e.what();
    }
    printFailure(failure);
    // With standard output gone, the message goes to standard error.
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        std::fputs(failureText(failure).c_str(), stderr);
    return 1;
}

} // namespace kavet
