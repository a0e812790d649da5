// Trajectories read frame by frame behind one interface, whatever the format:
// multi-frame .gro, and GROMACS's binary .xtc and .trr, all by kavet's own
// readers. Every frame handed out has finite positions, a finite time and a
// sound cell, whatever the format.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/frame.h"

namespace kavet {

class TrajectoryReader {
public:
    virtual ~TrajectoryReader() = default;
    // Reads the next frame's coordinates into `frame`: positions (angstrom),
    // cell, time (ps) and step; a frame's topology (names, waters) is read
    // once, apart from the trajectory, and a Frame passed here keeps its own.
    // Returns false at the clean end of the file, `frame` untouched; throws
    // FormatError for a truncated or corrupt frame, naming the file and the
    // frame, and FileError when the file cannot be read.
    virtual bool next(Coordinates& frame) = 0;
    // Passes over the next frame as next() would, without reading its
    // positions: a .gro frame's lines are counted, not parsed, and an .xtc or
    // .trr frame is stepped over by its header. A frame passed over is
    // checked only as far as finding the one after it needs. Returns false at
    // the clean end of the file.
    virtual bool skip()
    {
        Coordinates scratch;
        return next(scratch);
    }
    // Atoms per frame, once the first frame is read.
    virtual int32_t atomCount() const = 0;
    // How much of the file has been read, 0 to 1, or -1 when unknown.
    virtual double fractionRead() const { return -1.0; }
};

// Opens an .xtc or .trr file of GROMACS's (see gmx_trajectory.cpp). With
// `expectedAtoms` at 0 or more, a frame of another atom count is refused from
// its header, before anything is allocated for it.
std::unique_ptr<TrajectoryReader> openGmxTrajectory(const std::string& path, int32_t expectedAtoms = -1);

// The time step that turns a LAMMPS step into a time when none is given: 1 fs,
// the default of LAMMPS's units real and metal alike.
inline constexpr double defaultLammpsTimestep = 1.0;

// Opens `path` by its extension: .gro, .xtc, .trr, or a LAMMPS dump
// (.lammpstrj, .dump; see lammps_dump.h), whose frame times are the step
// times `timestepFs` (fs); throws InputError for any other. `expectedAtoms`
// as for openGmxTrajectory (the .gro and dump readers bound their tables by
// the file's size and leave the comparison to the caller).
std::unique_ptr<TrajectoryReader> openTrajectory(const std::string& path, int32_t expectedAtoms = -1,
                                                 double timestepFs = defaultLammpsTimestep);

// Reads a periodic cell from the numbers of a .gro box line, in nm and in
// GROMACS's order: v1(x) v2(y) v3(z), then with `nine` v1(y) v1(z) v2(x) v2(z)
// v3(x) v3(y). Fills `box` (angstrom) and returns nothing when the cell is
// sound; otherwise returns what is wrong. Every trajectory format goes
// through this check, so a cell refused in one is refused in all.
std::string readCell(const float* nm, bool nine, Box& box);

// "frame N, after the frame at t = T ps" or "frame 0" for messages about a
// frame that could not be read.
std::string frameContext(int64_t frame, double lastTime);

} // namespace kavet
