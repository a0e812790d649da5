// Runs the whole analysis on a small configuration. The first bytes of the
// input choose the bond, ring and cage criteria from tables of meaningful and
// hostile values; the rest is written as conf.gro into a scratch directory of
// this process. The output files start with the blocks of an earlier run;
// a run that fails must leave them exactly so, and a complete run may only
// append. Output files are removed after every run.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/run.h"

namespace {

constexpr std::size_t optionBytes = 8;

const char* const hbDistances[] = {"3.5", "0", "-1", "2.5", "3.0", "5", "10", "1e30"};
const char* const hbAngles[] = {"30", "0", "-30", "90", "120", "180", "45", "360"};
const char* const ringMins[] = {"4", "0", "-3", "3", "5", "8", "127", "2"};
const char* const ringMaxes[] = {"7", "0", "-1", "3", "6", "12", "127", "4"};
const char* const deviations[] = {"100", "0", "-1", "0.1", "0.5", "1e30"};
const char* const cageDistances[] = {"1", "0", "-1", "0.5", "5", "100"};
const char* const cageAngles[] = {"85", "0", "-10", "90", "135", "180", "360", "45"};
const char* const waterNames[] = {"SOL", "", "OL", "HOH"};

template <std::size_t N>
const char* pick(const char* const (&table)[N], uint8_t byte)
{
    return table[byte % N];
}

struct Scratch {
    std::filesystem::path dir;
    Scratch()
    {
        dir = std::filesystem::temp_directory_path() / ("kavet-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        // The report is long and not checked here.
        if (!std::freopen("/dev/null", "w", stdout))
            std::perror("silencing standard output");
    }
    ~Scratch() { std::filesystem::remove_all(dir); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static Scratch scratch;
    if (size < optionBytes)
        return 0;
    const std::string conf = (scratch.dir / "conf.gro").string();
    const std::string ring = (scratch.dir / "ring.pdb").string();
    const std::string cage = (scratch.dir / "cage.pdb").string();
    const std::string dat = (scratch.dir / "cage.dat").string();
    if (std::FILE* f = std::fopen(conf.c_str(), "wb")) {
        std::fwrite(data + optionBytes, 1, size - optionBytes, f);
        std::fclose(f);
    } else {
        return 0;
    }
    const std::vector<std::string> args = {
        "-f",   conf, "-or", ring, "-oc", cage, "-od", dat, "-wat", pick(waterNames, data[7]),
        "-hb",  pick(hbDistances, data[0]), pick(hbAngles, data[1]),
        "-ring", pick(ringMins, data[2]), pick(ringMaxes, data[3]), pick(deviations, data[4]),
        "-cage", pick(cageDistances, data[5]), pick(cageAngles, data[6]),
    };
    // Earlier results, each ending in a complete block.
    const std::string earlier[3] = {"CRYST1\nMODEL        1\nENDMDL\n", "REMARK  5^12:1\nCRYST1\n", "  5^12:1\n"};
    const std::string outputs[3] = {ring, cage, dat};
    for (int k = 0; k < 3; ++k) {
        if (std::FILE* f = std::fopen(outputs[k].c_str(), "wb")) {
            std::fwrite(earlier[k].data(), 1, earlier[k].size(), f);
            std::fclose(f);
        }
    }
    const int status = kavet::runKavet(args);
    if (status != 0 && status != 1)
        __builtin_trap(); // the run ends with success or with a reported failure
    std::fflush(stdout);
    for (int k = 0; k < 3; ++k) {
        std::string now;
        if (std::FILE* f = std::fopen(outputs[k].c_str(), "rb")) {
            char buf[4096];
            std::size_t got;
            while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
                now.append(buf, got);
            std::fclose(f);
        }
        // A failed run leaves the file as it was; a complete one appends.
        if (status == 1 ? now != earlier[k] : now.compare(0, earlier[k].size(), earlier[k]) != 0)
            __builtin_trap();
    }
    for (const std::string& out : {ring, cage, dat})
        std::remove(out.c_str());
    return 0;
}
