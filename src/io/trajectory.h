// Trajectories: a stream of frames of one system, read one frame at a time
// into the same Frame, so that the atom names and the water selection made
// once stay with it while positions, cell, time and step change.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/frame.h"

namespace kavet {

class TrajectoryReader {
public:
    virtual ~TrajectoryReader() = default;
    // Reads the next frame into `frame`: positions (angstrom, the file's nm
    // times 10.0f in float), the full cell (rows a, b, c, angstrom), time (ps)
    // and step, and sets frame.hasTime. Names and water selection of `frame`
    // are left as they are; frame.atmXYZ is resized to the file's atom count.
    // Returns false at the clean end of the file. Throws Failure for a
    // truncated or corrupt frame, naming the file, the frame number (counting
    // from 0) and the time of the last good frame.
    virtual bool next(Frame& frame) = 0;
    // Atoms per frame, known after opening.
    virtual int32_t numAtom() const = 0;
};

// Opens an .xtc or .trr file through GROMACS's library. Throws Failure when
// the file cannot be opened or its first frame cannot be read; when kavet was
// built without GROMACS's library it throws Failure("reading NAME needs
// GROMACS's library: install Debian's libgromacs-dev and rebuild kavet").
std::unique_ptr<TrajectoryReader> openGmxTrajectory(const std::string& path);

} // namespace kavet
