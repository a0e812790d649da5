#include "app/settings.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "core/error.h"

namespace kavet {
namespace {

// atoi as the C library computes it: the numeric prefix, 0 without one; a
// value that does not fit 32 bits is refused instead of wrapped.
int32_t toInt(const std::string& s, const char* option)
{
    errno = 0;
    const long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        throw InputError(std::string("option ") + option + ": the whole number " + s + " is out of range");
    return static_cast<int32_t>(v);
}

// atof, then rounded to single precision; infinity, NaN and values beyond
// single precision are refused.
float toFloat(const std::string& s, const char* option)
{
    const float v = static_cast<float>(std::strtod(s.c_str(), nullptr));
    if (!std::isfinite(v))
        throw InputError(std::string("option ") + option + ": " + s + " is not a finite number");
    return v;
}

std::string padded(std::string line, std::size_t width)
{
    if (line.size() < width)
        line.append(width - line.size(), ' ');
    return line + "\n";
}

std::string centred(const std::string& text, std::size_t width)
{
    std::size_t left = (width - text.size()) / 2;
    return std::string(left, ' ') + text + std::string(width - text.size() - left, ' ');
}

// A time in ps: one finite number and nothing else.
double toTime(const std::string& value, const char* option)
{
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    while (end && *end == ' ')
        ++end;
    if (end == value.c_str() || *end != '\0' || !std::isfinite(v))
        throw InputError(std::string("option ") + option + " takes a time in ps, not \"" + value + "\"");
    return v;
}

template <class Need>
void scanSeriesOptions(const std::vector<std::string>& args, Need need, SeriesSettings& s, int32_t& threads)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-t") {
            need(i, 1, "-t");
            s.trajFile = args[i + 1];
        }
        if (a == "-ot") {
            need(i, 1, "-ot");
            s.seriesFile = args[i + 1];
        }
        if (a == "-b") {
            need(i, 1, "-b");
            s.hasBegin = true;
            s.begin = toTime(args[i + 1], "-b");
        }
        if (a == "-e") {
            need(i, 1, "-e");
            s.hasEnd = true;
            s.end = toTime(args[i + 1], "-e");
        }
        if (a == "-nt") {
            need(i, 1, "-nt");
            char* end = nullptr;
            const long n = std::strtol(args[i + 1].c_str(), &end, 10);
            if (end == args[i + 1].c_str() || *end != '\0' || n < 1 || n > largestThreadCount)
                throw InputError("option -nt takes a number of threads from 1 to " + std::to_string(largestThreadCount) +
                                 ", not \"" + args[i + 1] + "\"");
            threads = static_cast<int32_t>(n);
        }
        if (a == "-guest") {
            need(i, 1, "-guest");
            s.hasGuest = true;
            s.guestName = args[i + 1];
        }
        if (a == "-ocages") {
            need(i, 1, "-ocages");
            s.cageFile = args[i + 1];
        }
        if (a == "-dt") {
            need(i, 1, "-dt");
            s.hasStep = true;
            s.step = toTime(args[i + 1], "-dt");
        }
    }
    const bool series = !s.trajFile.empty();
    for (const char* option : {"-ot", "-b", "-e", "-dt", "-guest", "-ocages"})
        if (!series && std::find(args.begin(), args.end(), option) != args.end())
            throw InputError(std::string("option ") + option + " belongs to series mode: give the trajectory with -t");
    if (s.hasBegin && s.hasEnd && s.begin > s.end)
        throw InputError("the first time (-b " + std::to_string(s.begin) + ") is after the last (-e " +
                         std::to_string(s.end) + ")");
    if (s.hasStep && !(s.step > 0.0))
        throw InputError("the time step -dt must be positive");
    // An empty name would select the residues that have none.
    if (s.hasGuest && s.guestName.empty())
        throw InputError("option -guest takes a residue name, not an empty one");
}

} // namespace

Settings scanOptions(const std::vector<std::string>& args)
{
    Settings s;
    const std::size_t n = args.size();
    // An option whose values run past the end of the command line is refused.
    auto need = [&](std::size_t i, std::size_t count, const char* name) {
        if (i + count < n)
            return;
        std::size_t given = n - 1 - i;
        throw InputError(std::string("option ") + name + " takes " + std::to_string(count) +
                         (count == 1 ? " value" : " values") + ", but " +
                         (given == 0 ? std::string("none follows") : "only " + std::to_string(given) + " follows") +
                         " at the end of the command line");
    };
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& a = args[i];
        if (a == "-f") {
            need(i, 1, "-f");
            s.confFile = args[i + 1];
        }
        if (a == "-or") {
            need(i, 1, "-or");
            s.ringFile = args[i + 1];
        }
        if (a == "-oc") {
            need(i, 1, "-oc");
            s.cageFile = args[i + 1];
        }
        if (a == "-od") {
            need(i, 1, "-od");
            s.dataFile = args[i + 1];
        }
        if (a == "-wat") {
            need(i, 1, "-wat");
            s.waterName = args[i + 1];
        }
        if (a == "-oxy") {
            need(i, 1, "-oxy");
            s.oxygenName = args[i + 1];
        }
        if (a == "-hb") {
            need(i, 2, "-hb");
            s.criteria.hbDistance = toFloat(args[i + 1], "-hb");
            s.criteria.hbAngle = toFloat(args[i + 2], "-hb");
        }
        if (a == "-ring") {
            need(i, 3, "-ring");
            s.criteria.ringMin = toInt(args[i + 1], "-ring");
            s.criteria.ringMax = toInt(args[i + 2], "-ring");
            s.criteria.ringDeviation = toFloat(args[i + 3], "-ring");
        }
        if (a == "-cage") {
            need(i, 2, "-cage");
            s.criteria.cageDistance = toFloat(args[i + 1], "-cage");
            s.criteria.cageAngle = toFloat(args[i + 2], "-cage");
        }
        if (a == "-sealed")
            s.criteria.sealed = true;
    }
    scanSeriesOptions(args, need, s.series, s.threads);
    // Series mode seals the line of sight: its counts are compared frame by
    // frame, and no single frame should lose or gain a cage by rounding.
    if (!s.series.trajFile.empty())
        s.criteria.sealed = true;
    if (s.criteria.ringMax > largestRingMax)
        throw InputError("the largest ring size (-ring, second value) is " + std::to_string(s.criteria.ringMax) +
                         ", but a ring can have at most " + std::to_string(largestRingMax) + " members");
    return s;
}

std::string bannerText()
{
    const std::string rule(79, '-');
    std::string t;
    t += padded(">>>>>>>>>>>>>>>>>>>>>>>>>>           kavet           <<<<<<<<<<<<<<<<<<<<<<<<<<", 79);
    t += padded(std::string(26, '>') + centred("the kavet developers", 27) + std::string(26, '<'), 79);
    t += padded(">>>>>>>>>>>>>>>>>>>>>>>>>>    2022-09-04 23:34:20    <<<<<<<<<<<<<<<<<<<<<<<<<<", 79);
    t += padded(">>  Usage:   kavet [-f FILE.gro]       [-wat WATER]          [-oxy WATEROXYGEN]", 79);
    t += padded("                   [-or RING.pdb]      [-oc CAGE.pdb]        [-od CAGE.dat]", 79);
    t += padded("                   [-hb   DISTACE ANGLE]", 79);
    t += padded("                   [-ring MIN MAX DEVIATION]", 79);
    t += padded("                   [-cage DISTACE ANGLE]", 79);
    t += padded(">>  Default: kavet  -f  conf.gro       -wat  SOL            -oxy  OW", 79);
    t += padded("                    -or conf~ring.pdb  -oc   conf~cage.pdb  -od   conf~cage.dat", 79);
    t += padded("                    -hb 3.5 30         -ring 4 7 100        -cage 1 85", 81);
    t += padded(rule, 79);
    t += padded(">> Option:", 79);
    t += padded("    -f   : input configuration file", 79);
    t += padded("    -wat : residue name of water", 79);
    t += padded("    -oxy : atom name of water oxygen", 79);
    t += padded("    -or  : output ring file", 79);
    t += padded("    -oc  : output cage file", 79);
    t += padded("    -od  : output cage data", 79);
    t += padded("    -hb  : criteria of hydrogen bonding(A, degree)", 79);
    t += padded("    -ring: min, max number of members, max deviation of atoms from plane(A)", 79);
    t += padded("    -cage: distance from center along normal to define ray starting point(A)", 79);
    t += padded("           max angle between normal and ray in the same cage(degree)", 79);
    t += padded(rule, 79);
    t += padded(">> Warning:", 79);
    t += padded("   !!! 1. Need Eigen to compile the code", 79);
    t += padded("   !!! 2. Support single frame gro only", 79);
    t += padded("   !!! 3. Use JMOL to view output pdbs", 79);
    t += padded(rule, 79);
    t += "\n";
    return t;
}

std::string settingsText(const Settings& s)
{
    auto g = [](float v) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
        return std::string(buf);
    };
    std::string t = ">>>> Settings\n";
    t += "     conf  File: " + s.confFile + "\n";
    t += "     ring  File: " + s.ringFile + "\n";
    t += "     cage  File: " + s.cageFile + "\n";
    t += "     data  File: " + s.dataFile + "\n";
    t += "     water Name: " + s.waterName + "\n";
    t += "     OW    Name: " + s.oxygenName + "\n";
    t += "     hb    Criteria: " + g(s.criteria.hbDistance) + "(A)  " + g(s.criteria.hbAngle) + "(degree)\n";
    t += "     ring  Criteria: " + std::to_string(s.criteria.ringMin) + " " + std::to_string(s.criteria.ringMax) + " " +
         g(s.criteria.ringDeviation) + "(A)\n";
    t += "     cage  Criteria: " + g(s.criteria.cageDistance) + "(A)  " + g(s.criteria.cageAngle) + "(degree)\n";
    if (s.criteria.sealed)
        t += "     cage  Test: sealed\n";
    return t;
}

int32_t threadCount(const Settings& s)
{
    if (s.threads > 0)
        return s.threads;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int32_t>(cores) : 1;
}

std::string seriesSettingsText(const Settings& s)
{
    auto g = [](double v) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", v);
        return std::string(buf);
    };
    std::string t;
    t += "     traj  File: " + s.series.trajFile + "\n";
    t += "     series File: " + s.series.seriesFile + "\n";
    if (!s.series.cageFile.empty())
        t += "     cages File: " + s.series.cageFile + "\n";
    if (s.series.hasGuest)
        t += "     guest Name: " + s.series.guestName + "\n";
    t += "     frames: from " + (s.series.hasBegin ? g(s.series.begin) + " ps" : std::string("the first")) + " to " +
         (s.series.hasEnd ? g(s.series.end) + " ps" : std::string("the last")) +
         (s.series.hasStep ? ", every " + g(s.series.step) + " ps" : std::string()) + "\n";
    t += "     threads: " + std::to_string(threadCount(s)) + "\n";
    return t;
}

} // namespace kavet
