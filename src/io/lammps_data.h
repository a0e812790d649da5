// Reader of a LAMMPS data file (write_data, or a file made for read_data) as
// a structure: the header's atom count and box (with the tilt factors of a
// triclinic one), and the Atoms section in the styles atomic, charge,
// molecular and full, named by the section's comment (`Atoms # full`) or, without
// one, told by its column count (5 or 8 for atomic, 7 or 10 for full). Every
// other section (Masses, Velocities, Bonds, ...) is passed over.
#pragma once

#include <string>

#include "io/lammps_dump.h"

namespace kavet {

// Throws FileError when the file cannot be read and FormatError, naming the
// file and line, for what a data file cannot hold. The frame has no time.
LammpsStructure readLammpsData(const std::string& path);

// The same from text in memory; `name` stands for the file in messages.
LammpsStructure parseLammpsData(const std::string& text, const std::string& name);

} // namespace kavet
