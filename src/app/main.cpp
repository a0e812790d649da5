#include <cstddef>
#include <string>
#include <vector>

#include <tbb/global_control.h>

#include "app/run.h"
#include "app/settings.h"

int main(int argc, char** argv)
{
    // Each run sets its threads in its own arena (-nt); the program, which
    // owns the process, lets an arena have as many as asked for, also beyond
    // the cores the machine has. Threads are started only on demand.
    tbb::global_control ceiling(tbb::global_control::max_allowed_parallelism,
                                static_cast<std::size_t>(kavet::largestThreadCount));
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return kavet::runKavet(args);
}
