// .xtc and .trr trajectories through GROMACS's library.
#include "io/trajectory.h"

#include "core/error.h"

namespace kavet {

std::unique_ptr<TrajectoryReader> openGmxTrajectory(const std::string& path)
{
    throw Failure("reading " + path + " needs GROMACS's library: install Debian's libgromacs-dev and rebuild kavet");
}

} // namespace kavet
