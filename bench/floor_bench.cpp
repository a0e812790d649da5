// The floor under a series frame: the wall time of reading each frame of a
// trajectory and building its O-O neighbour list at the hydrogen-bond
// distance (3.5 A), as a series run does before any analysis, and nothing
// else. Prints the frames, the seconds spent reading, the seconds spent on
// the neighbour lists and their pairs, on one line:
//   floor_bench STRUCTURE.gro TRAJ [THREADS]   (waters SOL/OW)
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <tbb/global_control.h>

#include "core/neighbours.h"
#include "io/structure.h"
#include "io/trajectory.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s STRUCTURE.gro TRAJ [THREADS]\n", argv[0]);
        return 2;
    }
    const int threads = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(threads));
    using Clock = std::chrono::steady_clock;
    kavet::Frame frame = kavet::readStructure(argv[1], "SOL", "OW", kavet::TypeSelection{});
    const std::vector<int32_t> oxygens = kavet::waterOxygens(frame);
    auto reader = kavet::openTrajectory(argv[2], frame.topology().atomCount);
    double reading = 0, listing = 0;
    long long frames = 0, pairs = 0;
    for (;;) {
        const auto t0 = Clock::now();
        if (!reader->next(frame))
            break;
        const auto t1 = Clock::now();
        const kavet::NeighbourList list = kavet::buildNeighbourList(frame.positions, oxygens, frame.box, 3.5f);
        const auto t2 = Clock::now();
        reading += std::chrono::duration<double>(t1 - t0).count();
        listing += std::chrono::duration<double>(t2 - t1).count();
        pairs += static_cast<long long>(list.other.item.size());
        ++frames;
    }
    std::printf("%lld %.6f %.6f %lld\n", frames, reading, listing, pairs);
    return 0;
}
