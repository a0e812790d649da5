// Trajectories read frame by frame behind one interface, whatever the format:
// multi-frame .gro by kavet's own reader, .xtc and .trr through GROMACS's
// library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/frame.h"

namespace kavet {

class TrajectoryReader {
public:
    virtual ~TrajectoryReader() = default;
    // Reads the next frame into `frame`: positions (angstrom), cell, time
    // (ps) and step. Names and the water selection of `frame` are left as
    // they are. Returns false at the clean end of the file; throws FormatError
    // for a truncated or corrupt frame, naming the file and the frame, and
    // FileError when the file cannot be read.
    virtual bool next(Frame& frame) = 0;
    // Atoms per frame, once the first frame is read.
    virtual int32_t numAtom() const = 0;
    // How much of the file has been read, 0 to 1, or -1 when unknown.
    virtual double fractionRead() const { return -1.0; }
};

// Opens an .xtc or .trr file through GROMACS's library (see
// gmx_trajectory.cpp); throws Failure naming the missing package when kavet
// was built without it.
std::unique_ptr<TrajectoryReader> openGmxTrajectory(const std::string& path);

// Opens `path` by its extension: .gro, .xtc or .trr; throws InputError for
// any other.
std::unique_ptr<TrajectoryReader> openTrajectory(const std::string& path);

// "frame N, after the frame at t = T ps" or "frame 0" for messages about a
// frame that could not be read.
std::string frameContext(int64_t frame, double lastTime);

} // namespace kavet
