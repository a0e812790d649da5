#include "app/settings.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <thread>

#include "core/error.h"
#include "order/steinhardt.h"

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

// A file of series mode is written in the format its name ends in; a name
// with another extension is refused rather than written in a format it does
// not name. A name without one (such as /dev/null) is written as CSV.
// Each option as one entry: how it sets the settings from its values.
using Values = const std::string*;

void setThreads(Settings& s, Values v)
{
    char* end = nullptr;
    const long n = std::strtol(v[0].c_str(), &end, 10);
    if (end == v[0].c_str() || *end != '\0' || n < 1 || n > largestThreadCount)
        throw InputError("option -nt takes a number of threads from 1 to " + std::to_string(largestThreadCount) +
                         ", not \"" + v[0] + "\"");
    s.threads = static_cast<int32_t>(n);
}

void setTolerance(Settings& s, Values v)
{
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v[0].c_str(), &end, 10);
    if (end == v[0].c_str() || *end != '\0' || errno == ERANGE || n < 0 || n > INT32_MAX)
        throw InputError("option -tol takes a number of frames, 0 or more, not \"" + v[0] + "\"");
    s.series.tolerance = static_cast<int32_t>(n);
}

void setThermalHalf(Settings& s, Values v)
{
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v[0].c_str(), &end, 10);
    if (end == v[0].c_str() || *end != '\0' || errno == ERANGE || n < 1 || n > 1000)
        throw InputError("option -thermal-half takes a number of frames from 1 to 1000, not \"" + v[0] + "\"");
    s.series.thermalHalf = static_cast<int32_t>(n);
}

void setProfile(Settings& s, Values v)
{
    const std::string& axis = v[0];
    if (axis != "x" && axis != "y" && axis != "z")
        throw InputError("option -profile takes the axis x, y or z and the slab width in A, not \"" + axis + "\"");
    char* end = nullptr;
    const double width = std::strtod(v[1].c_str(), &end);
    if (end == v[1].c_str() || *end != '\0' || !(width > 0.0) || !std::isfinite(width))
        throw InputError("option -profile: the slab width must be a positive length in A, not \"" + v[1] + "\"");
    s.series.profileAxis = axis[0] - 'x';
    s.series.profileWidth = width;
    s.series.hasProfile = true;
}

// -qbar: degrees l of q̄_l, as L[,L...], each 0 .. kMaxQbarDegree.
void setQbarDegrees(Settings& s, Values v)
{
    const std::string bad = "option -qbar takes degrees l from 0 to " + std::to_string(kMaxQbarDegree) +
                            ", separated by commas (such as 8 or 2,8), not \"" + v[0] + "\"";
    std::vector<int32_t> degrees;
    std::size_t at = 0;
    while (true) {
        const std::size_t comma = std::min(v[0].find(',', at), v[0].size());
        const std::string word = v[0].substr(at, comma - at);
        char* end = nullptr;
        const long l = std::strtol(word.c_str(), &end, 10);
        if (word.empty() || end != word.c_str() + word.size() || l < 0 || l > kMaxQbarDegree)
            throw InputError(bad);
        degrees.push_back(static_cast<int32_t>(l));
        if (comma == v[0].size())
            break;
        at = comma + 1;
    }
    s.series.qbarDegrees.insert(s.series.qbarDegrees.end(), degrees.begin(), degrees.end());
}

// LAMMPS atom types: whole numbers from 1, the list ended by an empty value.
std::vector<int32_t> typeList(Values v, const char* option)
{
    std::vector<int32_t> types;
    for (; !v->empty(); ++v) {
        const int32_t t = toInt(*v, option);
        if (t < 1)
            throw InputError(std::string("option ") + option + " takes LAMMPS atom types (1 or more), not " + *v);
        types.push_back(t);
    }
    return types;
}

// The classic options are scanned first, then those of series mode and
// threads, so that of two faulty options the classic one is reported.
constexpr OptionSpec table[] = {
    {"-f", 1, "FILE.gro", "input configuration file (.gro; or a LAMMPS dump or data file, with -wat-type)",
     "conf.gro", OptionPass::Classic, false,
     [](Settings& s, Values v) { s.confFile = v[0]; }},
    {"-or", 1, "RING.pdb", "output ring file", "conf~ring.pdb", OptionPass::Classic, false,
     [](Settings& s, Values v) { s.ringFile = v[0]; }},
    {"-oc", 1, "CAGE.pdb", "output cage file", "conf~cage.pdb", OptionPass::Classic, false,
     [](Settings& s, Values v) { s.cageFile = v[0]; }},
    {"-od", 1, "CAGE.dat", "output cage data", "conf~cage.dat", OptionPass::Classic, false,
     [](Settings& s, Values v) { s.dataFile = v[0]; }},
    {"-wat", 1, "WATER", "residue name of water", "SOL", OptionPass::Classic, false,
     [](Settings& s, Values v) { s.waterName = v[0]; }},
    {"-oxy", 1, "WATEROXYGEN", "atom name of water oxygen", "OW", OptionPass::Classic, false,
     [](Settings& s, Values v) { s.oxygenName = v[0]; }},
    {"-hb", 2, "DISTANCE ANGLE", "criteria of hydrogen bonding (A, degree)", "3.5 30", OptionPass::Classic, false,
     [](Settings& s, Values v) {
         s.criteria.hbDistance = toFloat(v[0], "-hb");
         s.criteria.hbAngle = toFloat(v[1], "-hb");
     }},
    {"-ring", 3, "MIN MAX DEVIATION",
     "min, max number of members, max deviation of atoms from plane (A)", "4 7 100", OptionPass::Classic, false,
     [](Settings& s, Values v) {
         s.criteria.ringMin = toInt(v[0], "-ring");
         s.criteria.ringMax = toInt(v[1], "-ring");
         s.criteria.ringDeviation = toFloat(v[2], "-ring");
     }},
    {"-cage", 2, "DISTANCE ANGLE",
     "distance from center along normal to define ray starting point (A); max angle between normal and ray in "
     "the same cage (degree)",
     "1 85", OptionPass::Classic, false,
     [](Settings& s, Values v) {
         s.criteria.cageDistance = toFloat(v[0], "-cage");
         s.criteria.cageAngle = toFloat(v[1], "-cage");
     }},
    {"-sealed", 0, "", "the sealed line of sight (always on in series mode)", "", OptionPass::Classic, false,
     [](Settings& s, Values) { s.criteria.sealed = true; }},
    {"-nohyd", 0, "", "one-site water: bonds from the O-O distance of -hb alone, no hydrogens read (F4 absent)", "",
     OptionPass::Added, false, [](Settings& s, Values) { s.criteria.distanceOnly = true; }},
    {"-t", 1, "TRAJ", "trajectory (.gro, .xtc, .trr, or a LAMMPS dump .lammpstrj or .dump): series mode", "",
     OptionPass::Added, false,
     [](Settings& s, Values v) { s.series.trajFile = v[0]; }},
    // The options refused outside series mode, in the order they are checked.
    {"-ot", 1, "SERIES", "the series: CSV, or .xvg", "conf~series.csv", OptionPass::Added, true,
     [](Settings& s, Values v) { s.series.seriesFile = v[0]; }},
    {"-b", 1, "FIRST", "first time analysed (ps)", "", OptionPass::Added, true,
     [](Settings& s, Values v) {
         s.series.hasBegin = true;
         s.series.begin = toTime(v[0], "-b");
     }},
    {"-e", 1, "LAST", "last time analysed (ps)", "", OptionPass::Added, true,
     [](Settings& s, Values v) {
         s.series.hasEnd = true;
         s.series.end = toTime(v[0], "-e");
     }},
    {"-dt", 1, "STEP", "analyse only frames whose time is a multiple of this (ps)", "", OptionPass::Added, true,
     [](Settings& s, Values v) {
         s.series.hasStep = true;
         s.series.step = toTime(v[0], "-dt");
     }},
    {"-guest", 1, "GUEST", "residue name of the guest molecules", "", OptionPass::Added, true,
     [](Settings& s, Values v) {
         s.series.hasGuest = true;
         s.series.guestName = v[0];
     }},
    {"-ocages", 1, "CAGES", "the per-cage table: CSV, or JSON lines (.jsonl)", "", OptionPass::Added, true,
     [](Settings& s, Values v) { s.series.cageFile = v[0]; }},
    {"-oclusters", 1, "CLUSTERS", "the per-cluster table of closed cages sharing faces (CSV)", "",
     OptionPass::Added, true, [](Settings& s, Values v) { s.series.clusterFile = v[0]; }},
    {"-olife", 1, "LIFE", "the cage lifetime table (CSV), written at the end", "", OptionPass::Added, true,
     [](Settings& s, Values v) { s.series.lifeFile = v[0]; }},
    {"-oguests", 1, "GUESTS", "with -guest: the cage of every guest in every frame (CSV)", "", OptionPass::Added,
     true, [](Settings& s, Values v) { s.series.guestFile = v[0]; }},
    {"-tol", 1, "FRAMES", "analysed frames a cage may be missing and keep its id", "0", OptionPass::Added, true,
     setTolerance},
    {"-n", 1, "INDEX.ndx", "GROMACS index file, for -wat-group and -guest-group", "", OptionPass::Added, false,
     [](Settings& s, Values v) { s.indexFile = v[0]; }},
    {"-wat-group", 1, "GROUP", "the waters: atoms of this index group named as -oxy (instead of -wat)", "",
     OptionPass::Added, false, [](Settings& s, Values v) { s.waterGroup = v[0]; }},
    {"-guest-group", 1, "GROUP", "the guests: the molecules of this index group (instead of -guest)", "",
     OptionPass::Added, true,
     [](Settings& s, Values v) {
         s.series.hasGuest = true;
         s.series.guestName = v[0];
         s.series.guestGroup = v[0];
     }},
    {"-traj-group", 1, "GROUP",
     "the trajectory holds only this index group's atoms (saved with trjconv -n or compressed-x-grps)", "",
     OptionPass::Added, true, [](Settings& s, Values v) { s.series.savedGroup = v[0]; }},
    {"-oview", 1, "VIEW.xyz",
     "frame file for viewers: extended XYZ per frame, water oxygens with CHILL+ label, closed cages and cage "
     "cluster, and each closed cage's centre",
     "", OptionPass::Added, true, [](Settings& s, Values v) { s.series.viewFile = v[0]; }},
    {"-thermal", 0, "",
     "thermal frames: each frame analysed as its atoms' mean positions over the frames around it "
     "(docs/thermal-frames.md)",
     "", OptionPass::Added, true, [](Settings& s, Values) { s.series.thermal = true; }},
    {"-thermal-half", 1, "FRAMES", "with -thermal: frames on each side of a frame in its average (2 unless given)", "",
     OptionPass::Added, true, setThermalHalf},
    {"-oprofile", 1, "PROFILE.csv",
     "the slab profile (CSV): per frame and slab along the -profile axis, waters by CHILL+ class and closed "
     "cage centres",
     "", OptionPass::Added, true, [](Settings& s, Values v) { s.series.profileFile = v[0]; }},
    {"-profile", 2, "AXIS WIDTH", "the axis (x, y or z) and slab width (A) of -oprofile", "z 2", OptionPass::Added,
     true, setProfile},
    {"-qbar", 1, "L[,L...]", "series columns qbar_L of the averaged q-bar_l for these l, besides 3, 4, 6 and 12", "",
     OptionPass::Added, true, setQbarDegrees},
    {"-wat-type", -2, "OTYPE [HTYPE]",
     "LAMMPS files: the waters by atom type, their oxygens and hydrogens (the oxygens alone with -nohyd)", "",
     OptionPass::Added, false,
     [](Settings& s, Values v) {
         const std::vector<int32_t> t = typeList(v, "-wat-type");
         s.types.oxygenType = t[0];
         s.types.hydrogenType = t.size() > 1 ? t[1] : 0;
     }},
    {"-guest-type", -64, "TYPE...",
     "LAMMPS files: the guests by atom type, one per molecule (per atom where there are no molecule ids)", "",
     OptionPass::Added, true,
     [](Settings& s, Values v) {
         s.types.guestTypes = typeList(v, "-guest-type");
         s.series.hasGuest = true;
         s.series.guestName = typedGuestName;
     }},
    {"-timestep", 1, "FS", "LAMMPS dumps: the time step (fs); a frame's time is its step times this", "1",
     OptionPass::Added, true,
     [](Settings& s, Values v) {
         s.series.timestep = toTime(v[0], "-timestep");
         if (!(s.series.timestep > 0.0))
             throw InputError("option -timestep takes a positive time step in fs, not " + v[0]);
     }},
    {"-nt", 1, "THREADS", "threads", "every core", OptionPass::Added, false, setThreads},
};

} // namespace

std::span<const OptionSpec> optionTable()
{
    return table;
}

const OptionSpec* findOption(const std::string& name)
{
    for (const OptionSpec& o : table)
        if (name == o.name)
            return &o;
    return nullptr;
}

std::size_t valueCount(const OptionSpec& o, const std::vector<std::string>& args, std::size_t at)
{
    if (o.arity >= 0)
        return static_cast<std::size_t>(o.arity);
    std::size_t k = 0;
    while (k < static_cast<std::size_t>(-o.arity) && at + 1 + k < args.size() && !args[at + 1 + k].empty() &&
           args[at + 1 + k].find_first_not_of("0123456789") == std::string::npos)
        ++k;
    return k;
}

Settings scanOptions(const std::vector<std::string>& args)
{
    Settings s;
    const std::size_t n = args.size();
    for (const OptionPass pass : {OptionPass::Classic, OptionPass::Added}) {
        for (std::size_t i = 0; i < n; ++i) {
            const OptionSpec* o = findOption(args[i]);
            if (!o || o->pass != pass)
                continue;
            // An option whose values run past the end of the command line is
            // refused.
            const std::size_t count = valueCount(*o, args, i);
            if (o->arity < 0 && count == 0)
                throw InputError(std::string("option ") + o->name + " takes " +
                                 (o->arity == -2 ? "one or two" : "one or more") + " LAMMPS atom types (" + o->values +
                                 ")" + (i + 1 < n ? ", not \"" + args[i + 1] + "\"" : std::string(", but none follows")));
            if (o->arity < 0) {
                std::vector<std::string> values(args.begin() + static_cast<std::ptrdiff_t>(i + 1),
                                                args.begin() + static_cast<std::ptrdiff_t>(i + 1 + count));
                values.emplace_back();
                o->set(s, values.data());
                continue;
            }
            if (i + count >= n) {
                const std::size_t given = n - 1 - i;
                throw InputError(std::string("option ") + o->name + " takes " + std::to_string(count) +
                                 (count == 1 ? " value" : " values") + ", but " +
                                 (given == 0 ? std::string("none follows")
                                             : "only " + std::to_string(given) + " follows") +
                                 " at the end of the command line");
            }
            o->set(s, args.data() + i + 1);
        }
    }
    const SeriesSettings& series = s.series;
    for (const OptionSpec& o : table)
        if (o.seriesOnly && series.trajFile.empty() && std::find(args.begin(), args.end(), o.name) != args.end())
            throw InputError(std::string("option ") + o.name + " belongs to series mode: give the trajectory with -t");
    if (!series.thermal && std::find(args.begin(), args.end(), "-thermal-half") != args.end())
        throw InputError("option -thermal-half sets the frames averaged by -thermal: give -thermal too");
    if (series.hasBegin && series.hasEnd && series.begin > series.end)
        throw InputError("the first time (-b " + std::to_string(series.begin) + ") is after the last (-e " +
                         std::to_string(series.end) + ")");
    if (series.hasStep && !(series.step > 0.0))
        throw InputError("the time step -dt must be positive");
    seriesFileNames(s).checkExtensions();
    if (series.hasProfile && series.profileFile.empty())
        throw InputError("option -profile sets the slabs of the profile: give its file with -oprofile");
    // An empty name would select the residues that have none.
    if (series.hasGuest && series.guestName.empty())
        throw InputError("option -guest takes a residue name, not an empty one");
    if (!series.guestFile.empty() && !series.hasGuest)
        throw InputError("option -oguests needs the guests named with -guest");
    if ((!s.waterGroup.empty() || !series.guestGroup.empty() || !series.savedGroup.empty()) && s.indexFile.empty())
        throw InputError(
            "the index group options (-wat-group, -guest-group, -traj-group) need the index file: give it with -n");
    if (series.hasGuest && !series.guestGroup.empty() &&
        std::find(args.begin(), args.end(), "-guest") != args.end())
        throw InputError("give the guests either by residue name (-guest) or by index group (-guest-group)");
    if (s.types.oxygenType > 0 && s.types.hydrogenType == 0 && !s.criteria.distanceOnly)
        throw InputError("-wat-type " + std::to_string(s.types.oxygenType) +
                         " gives the oxygens' type alone, which is one-site water: add -nohyd, or give the "
                         "hydrogens' type as the second value (-wat-type OTYPE HTYPE)");
    if (!s.types.guestTypes.empty() &&
        (std::find(args.begin(), args.end(), "-guest") != args.end() || !series.guestGroup.empty()))
        throw InputError("give the guests one way: by atom type (-guest-type), by residue name (-guest) or by index "
                         "group (-guest-group)");
    // Series mode analyses with the series preset of the criteria.
    if (!series.trajFile.empty())
        s.criteria = s.criteria.series();
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
    // Series mode writes none of the three files of a one-frame run.
    if (s.series.trajFile.empty()) {
        t += "     ring  File: " + s.ringFile + "\n";
        t += "     cage  File: " + s.cageFile + "\n";
        t += "     data  File: " + s.dataFile + "\n";
    }
    t += "     water Name: " + s.waterName + "\n";
    t += "     OW    Name: " + s.oxygenName + "\n";
    if (s.criteria.distanceOnly)
        t += "     hb    Criteria: " + g(s.criteria.hbDistance) + "(A), O-O distance alone (-nohyd: no hydrogens)\n";
    else
        t += "     hb    Criteria: " + g(s.criteria.hbDistance) + "(A)  " + g(s.criteria.hbAngle) + "(degree)\n";
    t += "     ring  Criteria: " + std::to_string(s.criteria.ringMin) + " " + std::to_string(s.criteria.ringMax) + " " +
         g(s.criteria.ringDeviation) + "(A)\n";
    t += "     cage  Criteria: " + g(s.criteria.cageDistance) + "(A)  " + g(s.criteria.cageAngle) + "(degree)\n";
    if (s.criteria.sealed)
        t += "     cage  Test: sealed\n";
    if (!s.indexFile.empty())
        t += "     index File: " + s.indexFile + "\n";
    if (!s.waterGroup.empty())
        t += "     water Group: " + s.waterGroup + "\n";
    if (s.types.oxygenType > 0)
        t += "     water Types: oxygen " + std::to_string(s.types.oxygenType) +
             (s.types.hydrogenType > 0 ? ", hydrogen " + std::to_string(s.types.hydrogenType) : std::string()) + "\n";
    return t;
}

int32_t threadCount(const Settings& s)
{
    // Threads beyond the cores do not make the analysis faster, and each
    // costs a stack and a heap of its own: thousands of them fail to start
    // under a memory limit.
    const unsigned cores = std::thread::hardware_concurrency();
    const int32_t useful = cores > 0 ? static_cast<int32_t>(cores) : 1;
    return s.threads > 0 ? std::min(s.threads, useful) : useful;
}

std::string thermalNote(const SeriesSettings& series)
{
    return series.thermal ? thermalNote(series.thermalHalf) : std::string();
}

SeriesFileNames seriesFileNames(const Settings& s)
{
    const SeriesSettings& ss = s.series;
    SeriesFileNames n;
    n.series = ss.seriesFile;
    n.cages = ss.cageFile;
    n.guests = ss.guestFile;
    n.clusters = ss.clusterFile;
    n.view = ss.viewFile;
    n.profile = ss.profileFile;
    n.profileAxis = ProfileAxis{ss.profileAxis, ss.profileWidth};
    n.lifetimes = ss.lifeFile;
    return n;
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
    if (!s.series.clusterFile.empty())
        t += "     clusters File: " + s.series.clusterFile + "\n";
    if (!s.series.lifeFile.empty())
        t += "     life  File: " + s.series.lifeFile + "\n";
    if (!s.series.guestFile.empty())
        t += "     guests File: " + s.series.guestFile + "\n";
    if (s.series.tolerance > 0)
        t += "     cage  Tolerance: " + std::to_string(s.series.tolerance) + " frames\n";
    if (!s.series.savedGroup.empty())
        t += "     traj  Group: " + s.series.savedGroup + "\n";
    if (!s.series.viewFile.empty())
        t += "     view  File: " + s.series.viewFile + "\n";
    if (s.series.thermal)
        t += "     mode: " + thermalNote(s.series) + "\n";
    if (!s.series.profileFile.empty())
        t += "     profile File: " + s.series.profileFile + " (" + std::string(1, "xyz"[s.series.profileAxis]) +
             ", slabs of " + g(s.series.profileWidth) + " A)\n";
    if (!s.types.guestTypes.empty()) {
        t += "     guest Types:";
        for (int32_t type : s.types.guestTypes) {
            t += ' ';
            t += std::to_string(type);
        }
        t += "\n";
    } else if (s.series.hasGuest) {
        t += (s.series.guestGroup.empty() ? "     guest Name: " : "     guest Group: ") + s.series.guestName + "\n";
    }
    if (isLammpsDumpName(s.series.trajFile))
        t += "     time  Step: " + g(s.series.timestep) + " fs per LAMMPS step\n";
    t += "     frames: from " + (s.series.hasBegin ? g(s.series.begin) + " ps" : std::string("the first")) + " to " +
         (s.series.hasEnd ? g(s.series.end) + " ps" : std::string("the last")) +
         (s.series.hasStep ? ", every " + g(s.series.step) + " ps" : std::string()) + "\n";
    if (!s.series.qbarDegrees.empty()) {
        t += "     qbar  Degrees:";
        for (int32_t l : s.series.qbarDegrees) {
            t += ' ';
            t += std::to_string(l);
        }
        t += "\n";
    }
    if (s.criteria.distanceOnly)
        t += "     f4: not computed without hydrogens (-nohyd), written as nan\n";
    t += "     threads: " + std::to_string(threadCount(s)) + "\n";
    return t;
}

} // namespace kavet
