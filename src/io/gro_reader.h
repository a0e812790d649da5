// Reader of one frame of a GROMACS .gro configuration.
// Fixed columns, nanometres in the file, angstrom in the table; the water
// oxygens (the nodes of the hydrogen-bond network) are selected by residue
// and atom name as the atoms are read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/frame.h"
#include "io/trajectory.h"

namespace kavet {

// Reads the first frame of `path`. A water oxygen is an atom whose name equals
// `oxygenName` and whose residue field contains `waterName`. Throws FileError
// with the open-failure message (or when reading fails), or FormatError with
// a message naming the file and line when the frame breaks the .gro layout.
Frame readConfiguration(const std::string& path, const std::string& waterName, const std::string& oxygenName);

// The same from text already in memory; `name` stands for the file in messages.
Frame parseConfiguration(const std::string& text, const std::string& name, const std::string& waterName,
                             const std::string& oxygenName);

// The frames of a multi-frame .gro file, one at a time, read as the first
// frame is. Every frame must hold as many atoms as the first; their names
// are not read (a run's names are its structure's).
class GroTrajectory : public TrajectoryReader {
public:
    explicit GroTrajectory(const std::string& path);
    ~GroTrajectory() override;
    bool next(Coordinates& frame) override;
    bool skip() override;
    int32_t atomCount() const override { return numAtom_; }
    double fractionRead() const override;

private:
    // Runs read(), adding the frame's number and time to a failure's message.
    template <class Read>
    bool inFrame(Read read) const;
    // Checks a frame's atom count against the first frame's.
    void takeAtomCount(int32_t atomCount);
    struct Source;
    std::string path_;
    std::unique_ptr<Source> source_;
    int64_t frames_ = 0;
    int32_t numAtom_ = 0;
    double lastTime_ = 0.0;
};

} // namespace kavet
