// Readers of LAMMPS text files: `dump custom` trajectories (.lammpstrj,
// .dump) here, data files in lammps_data.h. LAMMPS files give atoms by id and
// type, often without molecules and never with names; the atoms are put in
// order of id, positions in angstrom (units real or metal) relative to the
// box's low corner, and the time is the step times a time step in fs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/frame.h"
#include "io/trajectory.h"

namespace kavet {

// What a LAMMPS file says of each atom besides its position, in order of id.
struct LammpsAtoms {
    std::vector<int64_t> id;
    std::vector<int32_t> type;
    // The molecule id of each atom (0: in no molecule), or empty when the file
    // has none.
    std::vector<int64_t> molecule;
};

// One frame of a LAMMPS file: positions, cell, step and time in `frame`,
// and the atoms' ids and types (from which typedFrame makes a topology).
struct LammpsStructure {
    Coordinates frame;
    LammpsAtoms atoms;
};

// Molecules of at most this many atoms are made whole as they are read: each
// atom at its minimum image from the molecule's first atom (in id order), so
// a water is rebuilt around its oxygen when the oxygen comes first. Larger
// molecules (a polymer, a whole slab written as one molecule) are left as
// written.
inline constexpr int32_t largestWholeMolecule = 64;

// The first frame of a dump file. `timestepFs` turns its step into the time.
// Throws FileError when the file cannot be read and FormatError, naming the
// file and line, for what a dump cannot hold.
LammpsStructure readLammpsDump(const std::string& path, double timestepFs = defaultLammpsTimestep);

// The same from text in memory; `name` stands for the file in messages.
LammpsStructure parseLammpsDump(const std::string& text, const std::string& name,
                                double timestepFs = defaultLammpsTimestep);

// The frames of a dump file, one at a time. The columns: `id` and `type`,
// `mol` when present, and the positions as one of x y z (wrapped), xu yu zu
// (unwrapped), xs ys zs (scaled) or xsu ysu zsu (scaled unwrapped); unwrapped
// positions are wrapped into the cell. Orthogonal and triclinic boxes
// (`ITEM: BOX BOUNDS xy xz yz`, whose bounds are of the bounding box); an
// axis whose boundary is not `pp` is not periodic. Every frame must hold the
// atoms of the first, by id and type, in any order.
class LammpsDumpTrajectory : public TrajectoryReader {
public:
    LammpsDumpTrajectory(const std::string& path, double timestepFs = defaultLammpsTimestep);
    // Reads text in memory (for tests and fuzzing).
    LammpsDumpTrajectory(const std::string& text, const std::string& name, double timestepFs);
    ~LammpsDumpTrajectory() override;
    bool next(Coordinates& frame) override;
    bool skip() override;
    int32_t atomCount() const override { return numAtom_; }
    double fractionRead() const override;
    // The ids, types and molecules of the last frame read.
    const LammpsAtoms& atoms() const { return atoms_; }

private:
    struct Source;
    std::unique_ptr<Source> source_;
    double timestepFs_;
    int64_t frames_ = 0;
    int32_t numAtom_ = 0;
    LammpsAtoms atoms_;
    LammpsAtoms first_; // of the first frame, which every later frame must match
};

// Whether `path` names a LAMMPS dump (.lammpstrj or .dump) or data file (.data
// or .lmp) by its extension.
bool isLammpsDumpName(const std::string& path);
bool isLammpsDataName(const std::string& path);

} // namespace kavet
