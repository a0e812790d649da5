// One frame of a simulation as the analysis sees it: every atom with its
// residue and atom name and its position, the water oxygens selected as the
// nodes of the hydrogen-bond network, the periodic cell, and the time and
// step when the input carries them. Positions and cell are in angstrom.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/box.h"
#include "core/vec3.h"

namespace kavet {

// One water of a frame: the atom index of its oxygen and of its two hydrogens,
// -1 for a hydrogen the frame does not hold.
struct Water {
    int32_t oxygen = -1;
    std::array<int32_t, 2> hydrogen = {-1, -1};
    // Whether both hydrogens are known (a water can then donate a bond).
    bool hasHydrogens() const { return hydrogen[0] >= 0 && hydrogen[1] >= 0; }
};

struct Frame {
    int32_t atomCount = 0;
    std::vector<std::string> residue; // residue number and name, trimmed
    std::vector<std::string> atomName; // atom name, trimmed
    std::vector<Vec3> positions;         // angstrom
    std::vector<uint8_t> isWaterOxygen;        // 1 for a selected water oxygen
    int32_t waterCount = 0;             // W, the number of selected oxygens
    std::vector<Water> water;         // the selected waters, in atom order of their oxygens
    Box box;                          // angstrom
    bool hasTime = false;             // whether time and step were read
    double time = 0.0;                // ps
    int64_t step = 0;
};

// Marks the water oxygens: atoms named `oxygenName` whose residue field
// contains `waterName`. Sets isWaterOxygen and waterCount, and the water table as
// indexWaters does.
void selectWaters(Frame& frame, const std::string& waterName, const std::string& oxygenName);

// Fills the water table from isWaterOxygen: one entry per selected oxygen, in atom
// order, whose hydrogens are the two atoms after it (-1 for one past the last
// atom). Call it again after changing isWaterOxygen by hand.
void indexWaters(Frame& frame);

// Makes every water of the table one-site: its oxygen alone, no hydrogens
// (for water models without them, such as mW, read with -nohyd).
void dropHydrogens(Frame& frame);

// The oxygens of the water table, in its order.
std::vector<int32_t> waterOxygens(const Frame& frame);

} // namespace kavet
