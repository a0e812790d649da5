// Run settings, the command-line scan that fills them, the start-up banner
// (which is also the usage text) and the settings echo.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cage/analysis.h"
#include "io/structure.h"
#include "series/series_files.h"

namespace kavet {

// Series mode: a trajectory analysed frame by frame into a table.
struct SeriesSettings {
    std::string trajFile;                     // -t: series mode when not empty
    std::string seriesFile = "conf~series.csv"; // -ot
    bool hasBegin = false, hasEnd = false, hasStep = false;
    double begin = 0.0, end = 0.0, step = 0.0; // -b, -e, -dt (ps)
    bool hasGuest = false;
    std::string guestName;                    // -guest: residue name of the guests
    std::string cageFile;                     // -ocages: the per-cage table, when not empty
    std::string clusterFile;                  // -oclusters: the per-cluster table, when not empty
    std::string lifeFile;                     // -olife: the cage lifetime table, when not empty
    std::string guestFile;                    // -oguests: the guest residence table, when not empty
    int32_t tolerance = 0;                    // -tol: frames a cage may be missing and keep its id
    std::string viewFile;                     // -oview: the extended-XYZ frame file, when not empty
    std::string guestGroup;                   // -guest-group: the guests are this index group's molecules
    std::string savedGroup;                   // -traj-group: the trajectory holds only this group's atoms
    bool thermal = false;                     // -thermal: each frame averaged over its neighbours
    int32_t thermalHalf = 2;                  // -thermal-half: frames on each side in the average
    std::string profileFile;                  // -oprofile: the slab profile, when not empty
    int32_t profileAxis = 2;                  // -profile: axis 0 x, 1 y, 2 z
    double profileWidth = 2.0;                // -profile: slab width (A)
    bool hasProfile = false;                  // -profile given
    std::vector<int32_t> qbarDegrees;         // -qbar: degrees of q̄_l besides 3, 4, 6 and 12
    double timestep = defaultLammpsTimestep;  // -timestep: fs per step of a LAMMPS dump
};

struct Settings {
    std::string confFile = "conf.gro";
    std::string ringFile = "conf~ring.pdb";
    std::string cageFile = "conf~cage.pdb";
    std::string dataFile = "conf~cage.dat";
    std::string waterName = "SOL";
    std::string oxygenName = "OW";
    std::string indexFile;  // -n: GROMACS index file
    std::string waterGroup; // -wat-group: the waters are this index group's atoms named oxygenName
    TypeSelection types;    // -wat-type, -guest-type: waters and guests of a LAMMPS file by atom type
    Criteria criteria;
    SeriesSettings series;
    int32_t threads = 0; // -nt: 0 for every core
};

// The threads a run uses: -nt, or every core the machine has.
int32_t threadCount(const Settings& s);

// The most threads -nt accepts.
inline constexpr int32_t largestThreadCount = 4096;

// A ring's member count is stored in a signed byte.
inline constexpr int32_t largestRingMax = 127;

// One option of the command line: its name, how many values follow it (a
// negative arity -N: from one to N whole numbers, as many as follow), what
// they are, what it does, its default as text ("" when it has none), and how
// it sets the settings from its values (throwing InputError for a value it
// cannot take). Options are scanned in two passes over the command line, the
// classic options first; series-only options are refused without -t.
enum class OptionPass { Classic, Added };
struct OptionSpec {
    const char* name;
    int32_t arity;
    const char* values;
    const char* help;
    const char* defaults;
    OptionPass pass;
    bool seriesOnly;
    void (*set)(Settings& s, const std::string* values);
};

// Every option, in the order the series-only ones are checked.
std::span<const OptionSpec> optionTable();
// The option named `name`, or none.
const OptionSpec* findOption(const std::string& name);

// The number of values of option `o` at args[at]: its arity, or for a
// negative arity the whole numbers that follow it (at most -arity).
std::size_t valueCount(const OptionSpec& o, const std::vector<std::string>& args, std::size_t at);

// Scans the arguments after the program name. Every argument is compared with
// every option name, values included, so a value that equals an option name
// also acts as that option; the last occurrence wins. Throws InputError when an
// option's values run past the end of the command line or the largest ring
// size cannot be stored.
Settings scanOptions(const std::vector<std::string>& args);

std::string bannerText();
std::string settingsText(const Settings& settings);
// What made a series' rows, for its header: empty in the default mode.
std::string thermalNote(const SeriesSettings& series);
// The files a series run writes, as the settings name them.
SeriesFileNames seriesFileNames(const Settings& settings);
// The lines series mode adds to the settings echo.
std::string seriesSettingsText(const Settings& settings);

} // namespace kavet
