// The four-body order parameter F4: the mean of cos 3 phi over the
// hydrogen-bonded water pairs, phi being the torsion H-O...O-H that takes, for
// each water of the pair, its hydrogen farthest from the other oxygen. Near
// 0.7 in a hydrate, -0.04 in liquid water and -0.4 in ice at their usual
// temperatures (Baez and Clancy; Moon, Taylor and Rodger 2003); about 0.9 and
// -0.5 on ideal hydrate and ice Ih lattices. Computed in double precision.
#pragma once

#include <cstdint>
#include <vector>

#include "core/frame.h"
#include "network/hbond.h"

namespace kavet {

struct F4 {
    double value = 0.0; // not a number when no pair counts
    int64_t pairs = 0;  // the pairs averaged
    // Per water of the frame's water table: the mean of cos 3 phi over the
    // counted bonds of that water, not a number when none counts.
    std::vector<double> perWater;
};

// Every bond of the full network (net's neighbour lists) counts once. A
// water's hydrogens are those of the frame's water table (of two equally far,
// the first); a bond with a water that lacks them, or whose torsion is
// undefined (the three bonds of the torsion not spanning a plane on either
// side), does not count.
F4 f4Of(const Frame& frame, const Network& net);

} // namespace kavet
