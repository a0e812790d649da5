// Processor time per frame of the per-water order parameters (CHILL+ with
// its neighbour search, and MCG when the frame has guests) on one .gro frame:
//   order_bench FILE.gro [REPEATS]   (waters SOL/OW, guests: atoms named C)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "io/gro_reader.h"
#include "order/chill.h"
#include "order/mcg.h"

namespace {

double processorSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.gro [REPEATS]\n", argv[0]);
        return 2;
    }
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const kavet::Frame f = kavet::readConfiguration(argv[1], "SOL", "OW");
    std::vector<kavet::Vec3> oxygens, guests;
    for (int32_t k = 0; k < f.topology().atomCount; ++k) {
        if (f.topology().isWaterOxygen[k])
            oxygens.push_back(f.positions[k]);
        else if (f.topology().atomName[k] == "C")
            guests.push_back(f.positions[k]);
    }
    kavet::Chill c;
    double t0 = processorSeconds();
    for (int r = 0; r < repeats; ++r)
        c = kavet::chillPlus(oxygens, f.box);
    const double chillMs = (processorSeconds() - t0) * 1e3 / repeats;
    kavet::Mcg m;
    t0 = processorSeconds();
    for (int r = 0; r < repeats; ++r)
        m = kavet::mcgOf(guests, oxygens, f.box);
    const double mcgMs = (processorSeconds() - t0) * 1e3 / repeats;
    std::printf("%zu waters, %zu guests: CHILL+ %.2f ms/frame, MCG %.2f ms/frame\n", oxygens.size(), guests.size(),
                chillMs, mcgMs);
    std::printf("liquid %d cubic %d hexagonal %d interfacial_ice %d clathrate %d interfacial_clathrate %d "
                "largest_ice %d largest_clathrate %d mcg1 %d mcg3 %d\n",
                c.count[0], c.count[1], c.count[2], c.count[3], c.count[4], c.count[5], c.largestIce,
                c.largestClathrate, m.mcg1, m.mcg3);
    return 0;
}
