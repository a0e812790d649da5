// GROMACS index files (.ndx) and the selections made with their groups. A
// file is a list of groups, each a line "[ name ]" followed by its atom
// numbers (from 1, in the order of the structure), any number to a line.
// Atom numbers refer to the structure the index was made for; kavet reads
// trajectories whose frames hold the same atoms as the structure, so a
// trajectory saved with fewer atoms is analysed with a structure and an index
// of those saved atoms (gmx trjconv -s topol.tpr -n index.ndx -o saved.gro
// -dump 0, then gmx make_ndx -f saved.gro).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cage/occupancy.h"
#include "core/frame.h"

namespace kavet {

struct IndexGroup {
    std::string name;
    std::vector<int32_t> atoms; // from 0, as in the file (neither sorted nor made unique)
};

// The groups of an index file, in file order. Throws FileError when it cannot
// be read, FormatError for a number that is not a positive atom number or a
// number before the first group.
std::vector<IndexGroup> readIndexGroups(const std::string& path);

// The group called `name`: the first with exactly that name, else the first
// whose name equals it ignoring case (as gmx matches group names). Throws
// InputError listing the groups when none matches.
const IndexGroup& findIndexGroup(const std::vector<IndexGroup>& groups, const std::string& name,
                                 const std::string& path);

// The frame of the group's atoms only, in the group's own order (the order
// gmx trjconv -n saves them in, which need not ascend), for a trajectory that
// saved only them; the other groups are renumbered to the atoms kept,
// dropping the others. Waters are selected again by name, as
// readConfiguration does. Throws InputError for an atom number beyond the
// frame or an atom the group gives twice.
Frame savedAtoms(const Frame& frame, const IndexGroup& saved, std::vector<IndexGroup>& groups,
                 const std::string& waterName, const std::string& oxygenName);

// Makes the water oxygens of `frame` the atoms of `atoms` named
// `oxygenName` (a group of whole waters, or of their oxygens), and rebuilds
// its water table. Throws InputError for an atom number beyond the frame or
// a group with no such atom.
void selectWaterGroup(Frame& frame, const IndexGroup& group, const std::string& oxygenName);

// The guest molecules of a group: its atoms in ascending order, split into
// runs of consecutive atoms with the same residue field. Throws InputError
// for an atom number beyond the frame.
GuestMolecules guestGroupMolecules(const Frame& frame, const IndexGroup& group);

} // namespace kavet
