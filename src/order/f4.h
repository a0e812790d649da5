// The four-body order parameter F4 as published: the mean of cos 3 phi over
// every pair of water oxygens closer than 0.35 nm, phi being the torsion
// H-O...O-H that takes, for each water of the pair, its hydrogen farthest
// from the other oxygen (Baez and Clancy, Ann. N. Y. Acad. Sci. 715, 177
// (1994); reference values from Rodger, Forester and Smith, Fluid Phase
// Equilib. 116, 326 (1996) and Moon, Taylor and Rodger, J. Am. Chem. Soc.
// 125, 4706 (2003)). Near 0.7 in a
// hydrate, -0.04 in liquid water and -0.4 in ice at their usual
// temperatures; about 0.9 and -0.5 on ideal hydrate and ice Ih lattices.
// Computed in double precision from the single-precision positions.
#pragma once

#include <cstdint>
#include <vector>

#include "core/frame.h"
#include "core/neighbours.h"

namespace kavet {

// The O...O distance below which a pair counts, in angstrom.
inline constexpr float f4Cutoff = 3.5f;

// A water's two hydrogens count as equally far from the other oxygen when
// their squared distances differ by at most this fraction of their sum.
// Positions stored on a decimal grid (.gro, .xtc: 0.01 angstrom) make exact
// ties common, and the single-precision rounding of the same grid point,
// which differs with the wrapping and the format read, then decided which
// hydrogen counted (by about 1e-5 of the squared distance, far below this
// tolerance). Within it the first hydrogen in the input counts.
inline constexpr double f4TieTolerance = 1e-5;

struct F4 {
    double value = 0.0; // not a number when no pair counts
    int64_t pairs = 0;  // the pairs averaged
    // Per water of the frame's water table: the mean of cos 3 phi over the
    // counted pairs of that water, not a number when none counts.
    std::vector<double> perWater;
};

// F4 over the pairs of `oxygenPairs`, a neighbour list over
// waterOxygens(frame) built with the cut-off f4Cutoff (as Analysis::pairs is
// with the default bond distance). A water's hydrogens are those of the
// frame's water table; of two equally far from the other oxygen (squared
// distances within f4TieTolerance of their sum), the one first in the input. A pair with a water that lacks them, or whose torsion
// is undefined (the three bonds of the torsion not spanning a plane on either
// side), does not count.
// A list built with a larger cut-off serves when its pairs below f4Cutoff
// come in the order of one built with f4Cutoff; `below` then passes over the
// others.
F4 f4Of(const Frame& frame, const NeighbourList& oxygenPairs, float below = f4Cutoff);

// The same with a neighbour list of its own.
F4 f4Of(const Frame& frame);

} // namespace kavet
