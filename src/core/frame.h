// One frame of a simulation as the analysis sees it, in two parts: the
// topology, which a run reads once (every atom's residue and atom name, the
// water oxygens selected as the nodes of the hydrogen-bond network and the
// water table), and the coordinates, which a trajectory reader fills frame by
// frame (positions, the periodic cell, and the time and step when the input
// carries them). Frames of one run share one topology. Positions and cell are
// in angstrom.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
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

// What stays the same from frame to frame of a run.
struct Topology {
    int32_t atomCount = 0;
    // Residue number and name, and atom name, trimmed: one of each per atom,
    // or none at all for atoms without names (a frame from arrays).
    std::vector<std::string> residue;
    std::vector<std::string> atomName;
    std::vector<uint8_t> isWaterOxygen; // 1 for a selected water oxygen
    int32_t waterCount = 0;             // W, the number of selected oxygens
    std::vector<Water> water;           // the selected waters, in atom order of their oxygens
    // Whether atom i has a name to show in messages.
    bool named(std::size_t i) const
    {
        return i < residue.size() && i < atomName.size() && !(residue[i].empty() && atomName[i].empty());
    }
};

// What a trajectory reader fills for each frame.
struct Coordinates {
    std::vector<Vec3> positions; // angstrom
    Box box;                     // angstrom
    bool hasTime = false;        // whether time and step were read
    double time = 0.0;           // ps
    int64_t step = 0;
};

// The coordinates of one frame with the topology they belong to, held by a
// shared pointer: copying a frame copies its coordinates, not its topology.
struct Frame : Coordinates {
    // The topology (an empty one before any is set).
    const Topology& topology() const { return topology_ ? *topology_ : none(); }
    const std::shared_ptr<const Topology>& sharedTopology() const { return topology_; }
    void setTopology(std::shared_ptr<const Topology> topology)
    {
        topology_ = std::move(topology);
        owned_ = false;
    }
    // The topology to change: this frame's own, copied first when it was
    // set from outside or is shared with another frame.
    Topology& editTopology();

private:
    static const Topology& none();
    std::shared_ptr<const Topology> topology_;
    bool owned_ = false; // topology_ was made by editTopology (so not const)
};

// Marks the water oxygens: atoms named `oxygenName` whose residue field
// contains `waterName`. Sets isWaterOxygen and waterCount, and the water table as
// indexWaters does.
void selectWaters(Topology& topology, const std::string& waterName, const std::string& oxygenName);

// Fills the water table from isWaterOxygen: one entry per selected oxygen, in atom
// order, whose hydrogens are the two atoms after it (-1 for one past the last
// atom). Call it again after changing isWaterOxygen by hand.
void indexWaters(Topology& topology);

// Makes every water of the table one-site: its oxygen alone, no hydrogens
// (for water models without them, such as mW, read with -nohyd).
void dropHydrogens(Topology& topology);

// The oxygens of the water table, in its order.
std::vector<int32_t> waterOxygens(const Topology& topology);

// The oxygens of a frame's water table. (The functions above that change a
// topology take a frame's through editTopology(), which copies it first when
// it is shared.)
inline std::vector<int32_t> waterOxygens(const Frame& frame) { return waterOxygens(frame.topology()); }

} // namespace kavet
