// Reads arbitrary bytes as an .xtc or .trr trajectory (a .trr when they start
// with its magic number). Refusing a frame with Failure is the expected
// outcome for malformed input; any other exception, crash or sanitizer report
// is a fault. Every frame handed out must hold the atom count of the file,
// finite positions, a finite cell and a finite time; a reader told another
// atom count than the first frame's must refuse the file on opening.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/error.h"
#include "io/trajectory.h"

namespace {

struct Outcome {
    int32_t atomCount = -1; // once opened
    std::vector<kavet::Frame> frames;
    std::string failure;
};

Outcome readAll(const std::string& path, int32_t expectedAtoms)
{
    Outcome o;
    try {
        auto reader = kavet::openGmxTrajectory(path, expectedAtoms);
        o.atomCount = reader->atomCount();
        kavet::Frame frame;
        while (reader->next(frame)) {
            o.frames.push_back(frame);
            if (o.frames.size() > 64)
                break;
        }
    } catch (const kavet::Failure& failure) {
        o.failure = failure.what();
    }
    return o;
}

bool finite(float v) { return std::isfinite(v); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const bool trr = size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0x07 && data[3] == 0xc9; // 1993
    static const std::string stem =
        std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/kavet-fuzz-" + std::to_string(::getpid());
    const std::string path = stem + (trr ? ".trr" : ".xtc");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        return 0;

    const Outcome any = readAll(path, -1);
    if (!any.failure.empty() && any.failure.find(path) == std::string::npos)
        std::abort(); // a failure that does not name the file
    for (const kavet::Frame& frame : any.frames) {
        if (frame.positions.size() != static_cast<std::size_t>(any.atomCount))
            std::abort(); // a frame of another atom count
        for (const kavet::Vec3& p : frame.positions)
            if (!finite(p.x) || !finite(p.y) || !finite(p.z))
                std::abort();
        const kavet::Box& b = frame.box;
        if (!finite(b.x) || !finite(b.y) || !finite(b.z) || !finite(b.yx) || !finite(b.zx) || !finite(b.zy) ||
            !frame.hasTime || !std::isfinite(frame.time))
            std::abort();
    }
    if (any.atomCount > 0) {
        const Outcome other = readAll(path, any.atomCount == INT32_MAX ? 1 : any.atomCount + 1);
        if (other.failure.empty() || !other.frames.empty())
            std::abort(); // another count was not refused at once
    }
    return 0;
}
