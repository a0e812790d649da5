// The three-body order parameter F3 of Baez and Clancy, J. Chem. Phys. 101,
// 9837 (1994): how far the angles a water makes with pairs of its neighbours
// are from the tetrahedral angle. For water i with neighbours j and k (water
// oxygens within kF3Cutoff of its oxygen) and theta_jik the angle at i,
//   F3(i) = < (|cos theta_jik| cos theta_jik + cos^2 109.47)^2 >,
// the mean over the N (N - 1) / 2 pairs of its N neighbours, with
// cos^2 109.47 taken as the tetrahedral 1/9 exactly. 0 where every angle is
// tetrahedral (ice, hydrate), about 0.1 in liquid water. Computed in double
// precision.
#pragma once

#include <cstdint>
#include <vector>

#include "order/pairs.h"

namespace kavet {

// The O...O distance within which a water is a neighbour, angstrom.
inline constexpr double kF3Cutoff = 3.5;

struct F3 {
    // The mean of perWater over the waters with at least two neighbours; not
    // a number when there is none.
    double value = 0.0;
    int64_t waters = 0;          // the waters averaged
    std::vector<double> perWater; // F3(i), not a number with fewer than two neighbours
};

// F3 of waters 0 .. waterCount-1 whose neighbour pairs (all pairs within
// kF3Cutoff, each once, as neighbourPairs gives them) are `pairs`.
F3 f3Of(int32_t waterCount, const std::vector<NeighbourPair>& pairs);

// The same for the water oxygens `oxygens` in the cell `box`.
F3 f3Of(const std::vector<Vec3>& oxygens, const Box& box);

} // namespace kavet
