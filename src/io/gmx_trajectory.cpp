#include "core/error.h"
#include "io/trajectory.h"

namespace kavet {

// Stands in until kavet is built with GROMACS's library.
std::unique_ptr<TrajectoryReader> openGmxTrajectory(const std::string& path)
{
    throw Failure("reading " + path +
                  " needs GROMACS's library: install Debian's libgromacs-dev and rebuild kavet");
}

} // namespace kavet
