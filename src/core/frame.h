// One frame of a simulation as the analysis sees it: every atom with its
// residue and atom name and its position, the water oxygens selected as the
// nodes of the hydrogen-bond network, the periodic cell, and the time and
// step when the input carries them. Positions and cell are in angstrom.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/box.h"
#include "core/vec3.h"

namespace kavet {

struct Frame {
    int32_t numAtom = 0;
    std::vector<std::string> resName; // residue number and name, trimmed
    std::vector<std::string> atmName; // atom name, trimmed
    std::vector<Vec3> atmXYZ;         // angstrom
    std::vector<uint8_t> isOW;        // 1 for a selected water oxygen
    int32_t numWater = 0;             // W, the number of selected oxygens
    Box box;                          // angstrom
    bool hasTime = false;             // whether time and step were read
    double time = 0.0;                // ps
    int64_t step = 0;
};

// Marks the water oxygens: atoms named `oxygenName` whose residue field
// contains `waterName`. Sets isOW and numWater.
void selectWaters(Frame& frame, const std::string& waterName, const std::string& oxygenName);

} // namespace kavet
