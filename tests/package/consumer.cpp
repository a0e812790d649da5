// Analyses the .gro file given and prints its closed cages.
#include <cstdio>

#include "kavet/cage/analysis.h"
#include "kavet/census/census.h"
#include "kavet/io/gro_reader.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const kavet::Frame frame = kavet::readConfiguration(argv[1], "SOL", "OW");
    const kavet::Analysis a = kavet::analyse(frame, kavet::Criteria{});
    std::printf("closed %lld\n", static_cast<long long>(kavet::censusOf(frame, a).closed));
    return 0;
}
