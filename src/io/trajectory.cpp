#include "io/trajectory.h"

#include <cstdio>

#include "core/error.h"
#include "io/gro_reader.h"

namespace kavet {

std::unique_ptr<TrajectoryReader> openTrajectory(const std::string& path)
{
    auto endsWith = [&](const char* ext) {
        const std::string e(ext);
        return path.size() >= e.size() && path.compare(path.size() - e.size(), e.size(), e) == 0;
    };
    if (endsWith(".gro"))
        return std::make_unique<GroTrajectory>(path);
    if (endsWith(".xtc") || endsWith(".trr"))
        return openGmxTrajectory(path);
    throw InputError("cannot read the trajectory " + path + ": kavet reads .gro, .xtc and .trr files");
}

std::string frameContext(int64_t frame, double lastTime)
{
    if (frame == 0)
        return "frame 0";
    char buf[96];
    std::snprintf(buf, sizeof buf, "frame %lld, after the frame at t = %g ps", static_cast<long long>(frame),
                  lastTime);
    return buf;
}

} // namespace kavet
