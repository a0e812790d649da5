// The structure of a run read by its file's extension: a .gro file, whose
// waters are selected by residue and atom name, or a LAMMPS dump (its first
// frame) or data file, whose atoms have types and no names and whose waters
// and guests are selected by type.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/frame.h"
#include "io/lammps_dump.h"

namespace kavet {

// Waters and guests by LAMMPS atom type.
struct TypeSelection {
    int32_t oxygenType = 0;          // the waters' oxygens; 0: no selection by type
    int32_t hydrogenType = 0;        // their hydrogens; 0: one-site water (mW)
    std::vector<int32_t> guestTypes; // the guests' atoms
    bool any() const { return oxygenType > 0 || !guestTypes.empty(); }
};

// The residue name that guests selected by type are given, so that they are
// picked as guests named so (selectGuests).
inline constexpr const char* typedGuestName = "GST";

// Reads the structure of `path`. A .gro file (or a file of any extension that
// is not LAMMPS's) is read by readConfiguration, its waters by name; a type
// selection is refused for it. A LAMMPS dump (.lammpstrj, .dump) or data file
// (.data, .lmp) is read as typedFrame names it and needs the selection by
// type: without one it is refused with an InputError that names the options.
Frame readStructure(const std::string& path, const std::string& waterName, const std::string& oxygenName,
                    const TypeSelection& types, double timestepFs = defaultLammpsTimestep);

// Names the atoms of a LAMMPS structure as the preparation of a run expects
// them, and selects its waters (isWaterOxygen, the water table):
//  - each water (an atom of the oxygen type) as residue "<k>SOL" (k counting
//    the waters), its oxygen OW, its hydrogens HW1 and HW2: the two atoms of
//    the hydrogen type in its molecule, or, where the file has no molecules
//    (or the oxygen is in molecule 0), the two atoms after it in id order;
//  - each guest as residue "<g>GST" (g counting the guests): one guest per
//    molecule where the atoms of the guest types have a molecule id other than
//    0, otherwise one per atom; a molecule's guest atoms must follow one
//    another in id order;
//  - every other atom as residue "<molecule or id>T<type>", name "T<type>".
// Throws InputError for a selection that selects nothing or a type in both
// selections, and FormatError, naming `name`, for a water without its two
// hydrogens or a guest molecule whose atoms are apart.
Frame typedFrame(LammpsStructure structure, const TypeSelection& types, const std::string& name);

} // namespace kavet
