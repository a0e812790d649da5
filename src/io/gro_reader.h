// Reader of one frame of a GROMACS .gro configuration into the atom table.
// Fixed columns, nanometres in the file, angstrom in the table; the water
// oxygens (the nodes of the hydrogen-bond network) are selected by residue
// and atom name as the atoms are read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "network/geometry.h"

namespace kavet {

struct AtomTable {
    int32_t numAtom = 0;
    std::vector<std::string> resName; // residue number and name, trimmed
    std::vector<std::string> atmName; // atom name, trimmed
    std::vector<Vec3> atmXYZ;         // angstrom
    std::vector<uint8_t> isOW;        // 1 for a selected water oxygen
    Box box;                          // angstrom
    int32_t numWater = 0;             // W, the number of selected oxygens
};

// Reads the first frame of `path`. A water oxygen is an atom whose name equals
// `oxygenName` and whose residue field contains `waterName`. Throws RunFailure
// with the open-failure message, or with a message naming the file and line
// when the frame breaks the .gro layout.
AtomTable readConfiguration(const std::string& path, const std::string& waterName, const std::string& oxygenName);

// The same from text already in memory; `name` stands for the file in messages.
AtomTable parseConfiguration(const std::string& text, const std::string& name, const std::string& waterName,
                             const std::string& oxygenName);

} // namespace kavet
