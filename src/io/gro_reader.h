// Reader of one frame of a GROMACS .gro configuration.
// Fixed columns, nanometres in the file, angstrom in the table; the water
// oxygens (the nodes of the hydrogen-bond network) are selected by residue
// and atom name as the atoms are read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/frame.h"

namespace kavet {


// Reads the first frame of `path`. A water oxygen is an atom whose name equals
// `oxygenName` and whose residue field contains `waterName`. Throws Failure
// with the open-failure message, or with a message naming the file and line
// when the frame breaks the .gro layout.
Frame readConfiguration(const std::string& path, const std::string& waterName, const std::string& oxygenName);

// The same from text already in memory; `name` stands for the file in messages.
Frame parseConfiguration(const std::string& text, const std::string& name, const std::string& waterName,
                             const std::string& oxygenName);

} // namespace kavet
