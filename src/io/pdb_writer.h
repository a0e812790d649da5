// Writers of the output files: the ring file (one PDB model per ring), the
// cage data file (one census line per run) and the cage file (one PDB model
// per closed cage). Every file is opened for appending, so repeated runs
// accumulate; each is written through a large buffer and checked when closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cage/dedup.h"
#include "io/gro_reader.h"
#include "network/plane_fit.h"

namespace kavet {

// Appends to `path`; throws FileError naming the file when it cannot be
// opened or written.
class AppendFile {
public:
    explicit AppendFile(const std::string& path);
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    std::FILE* get() const { return file_; }
    // Flushes and closes; throws if anything could not be written.
    void close();

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    std::vector<char> buffer_;
};

// The CRYST1 record of the cell: the lengths of a, b and c and the angles
// alpha (b, c), beta (a, c) and gamma (a, b).
void writeCryst1(std::FILE* f, const Box& box);
// One HETATM record, as "HETATM%5d %4s %3s A%4d    %8.3f%8.3f%8.3f%6d%6d      SEG %2s\n"
// formats it, without going through printf.
struct HetatmRecord {
    int serial;
    const char* atomName;
    const char* residueName;
    int residueNumber;
    Vec3 p;
    long long occupancy;
    long long temperature;
    const char* element;

    std::string text() const;
    void write(std::FILE* f) const;
    // Formats the record into `line` (room for any values) and returns its end.
    char* format(char* line) const;
};

void writeRingFile(const std::string& path, const Frame& atoms, const RingSearch& rings,
                   const RingGeometry& geo);

void writeDataFile(const std::string& path, const std::string& census);

void writeCageFile(const std::string& path, const std::string& census, const Frame& atoms,
                   const RingSearch& rings, const RingGeometry& geo, const Network& net, const CageSearch& cages,
                   const CageClasses& classes);

// The element symbol of a cage's non-seed oxygens: cycles from Li (cage 0)
// through Ds and starts again at Li with cage 108.
const char* cageElement(std::size_t cage);

} // namespace kavet
