// Run settings, the command-line scan that fills them, the start-up banner
// (which is also the usage text) and the settings echo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavet {

struct Settings {
    std::string confFile = "conf.gro";
    std::string ringFile = "conf~ring.pdb";
    std::string cageFile = "conf~cage.pdb";
    std::string dataFile = "conf~cage.dat";
    std::string waterName = "SOL";
    std::string oxygenName = "OW";
    float hbDistance = 3.5f;    // angstrom
    float hbAngle = 30.0f;      // degrees
    int32_t ringMin = 4;        // members
    int32_t ringMax = 7;        // members
    float ringDeviation = 100.0f; // angstrom
    float cageDistance = 1.0f;  // angstrom
    float cageAngle = 85.0f;    // degrees
};

// A ring's member count is stored in a signed byte.
inline constexpr int32_t largestRingMax = 127;

// Scans the arguments after the program name. Every argument is compared with
// every option name, values included, so a value that equals an option name
// also acts as that option; the last occurrence wins. Throws RunFailure when an
// option's values run past the end of the command line or the largest ring
// size cannot be stored.
Settings scanOptions(const std::vector<std::string>& args);

std::string bannerText();
std::string settingsText(const Settings& settings);

} // namespace kavet
