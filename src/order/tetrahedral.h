// The tetrahedral order parameter q of Chau and Hardwick, Mol. Phys. 93, 511
// (1998), in the scaling of Errington and Debenedetti, Nature 409, 318 (2001):
// for water i and the four water oxygens nearest its oxygen,
//   q(i) = 1 - 3/8 sum_{j<k} (cos psi_jik + 1/3)^2,
// psi_jik the angle at i between neighbours j and k (six pairs). 1 for a
// perfect tetrahedron (ice, hydrate), 0 on average for an ideal gas, about
// 0.6-0.7 in liquid water at ambient conditions. Computed in double
// precision.
//
// The four nearest are taken among the oxygens within kTetrahedralReach (at
// one image of each, the minimum image); a water with fewer than four there
// has no q and is left out of the frame mean. Of two oxygens exactly equally
// far, the one first in the water table is the nearer.
#pragma once

#include <cstdint>
#include <vector>

#include "order/pairs.h"

namespace kavet {

// The distance within which the four nearest oxygens are looked for, angstrom.
inline constexpr double kTetrahedralReach = 5.0;

struct Tetrahedral {
    double value = 0.0;           // the mean of perWater over the waters that have q; NaN when none has
    int64_t waters = 0;           // the waters averaged
    std::vector<double> perWater; // q(i), not a number without four oxygens within the reach
};

// q of the waters whose oxygens are `oxygens` in the cell `box`, given every
// pair of them within `pairsCutoff` (each once, as neighbourPairs gives them):
// a water with four neighbours there has its four nearest among them, and
// only the others are looked for again out to kTetrahedralReach.
Tetrahedral tetrahedralOf(const std::vector<Vec3>& oxygens, const Box& box, const std::vector<NeighbourPair>& pairs,
                          double pairsCutoff);

// The same with pairs of its own.
Tetrahedral tetrahedralOf(const std::vector<Vec3>& oxygens, const Box& box);

} // namespace kavet
