// Helpers shared by the tests: building atom tables from waters, running the
// kavet binary, generating lattices with the lattice tool, and comparing
// reports with their time values masked.
#pragma once

#include <string>
#include <vector>

#include "io/gro_reader.h"
#include "network/hbond.h"

namespace kavet::test {

// A water: its oxygen and its two hydrogens, in angstrom.
struct Water {
    Vec3 o, h1, h2;
};

// A water whose hydrogens point from `o` towards `toward1` and `toward2`
// (0.96 angstrom bonds, straight along those directions, no periodic image).
Water waterPointingAt(Vec3 o, Vec3 toward1, Vec3 toward2);

// The atom table of the waters in order (OW, HW1, HW2 each), all selected.
Frame atomsFromWaters(const std::vector<Water>& waters, Box box);

// A network over atoms 0 .. atomCount-1 whose edgeList holds `bonds` in the
// given order (smaller index first), with degrees and neighbour lists.
Network networkFromBonds(int32_t atomCount, const std::vector<std::pair<int32_t, int32_t>>& bonds);

// .gro text for the waters, coordinates in nm with three decimals.
std::string groFromWaters(const std::vector<Water>& waters, Box box, const std::string& title = "test");

struct RunResult {
    int status = -1;
    std::string out; // standard output
    std::string err; // standard error
};

// Runs the kavet binary with `args` in directory `dir`.
RunResult runKavetBinary(const std::vector<std::string>& args, const std::string& dir);

// Starts the kavet binary with `args` in `dir`, its standard output and
// error in dir/.out, with `resource` (setrlimit) limited to `limit` when
// limit > 0; finishKavet waits for it and returns its exit status, or 128 +
// the signal that ended it.
int startKavet(const std::string& dir, std::vector<std::string> args, int resource = 0, long long limit = 0);
int finishKavet(int pid);

// A fresh empty directory under the system's temporary directory.
std::string freshDirectory(const std::string& tag);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);

// The lines of `text`, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

// Replaces the number after every "Time(s): " with "T".
std::string maskTimes(const std::string& report);

// .gro text from the lattice tool, e.g. {"--structure", "sI", "--cells", "2", "2", "2"}.
std::string latticeGro(const std::vector<std::string>& toolArgs);

// The path of a file in the source tree.
std::string sourcePath(const std::string& relative);

} // namespace kavet::test
