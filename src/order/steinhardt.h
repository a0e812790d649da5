// The averaged local bond-orientational order parameters q̄_l of Lechner and
// Dellago, J. Chem. Phys. 129, 114707 (2008), built on those of Steinhardt,
// Nelson and Ronchetti, Phys. Rev. B 28, 784 (1983). A water's neighbours
// are the water oxygens within kSteinhardtCutoff of its oxygen. For water i
// with N(i) >= 1 neighbours,
//   q_lm(i) = 1/N(i) sum_{j in N(i)} Y_lm(r_ij / |r_ij|),
//   q̄_lm(i) = 1/Ñ(i) sum_{k in {i} + N(i)} q_lm(k),   Ñ(i) = N(i) + 1,
//   q̄_l(i) = sqrt(4 pi / (2l + 1) sum_{m=-l..l} |q̄_lm(i)|^2).
// A water without neighbours has none and is left out of the frame mean.
// q̄_3 with q̄_12 tells hydrate from liquid water; q̄_4 and q̄_6 ice and
// close-packed order. Computed in double precision with real spherical
// harmonics (a real orthogonal transform of the complex Y_lm, which leaves the
// sum over m unchanged), all degrees from one recurrence per pair.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "order/pairs.h"

namespace kavet {

// The O...O distance within which a water is a neighbour, angstrom.
inline constexpr double kSteinhardtCutoff = 3.5;
// The degrees computed unless others are asked for.
inline constexpr std::array<int32_t, 4> kDefaultQbarDegrees = {3, 4, 6, 12};
// The highest degree accepted.
inline constexpr int32_t kMaxQbarDegree = 64;

struct Steinhardt {
    std::vector<int32_t> degrees;              // the l computed, as asked
    std::vector<double> value;                 // per degree: the mean of q̄_l over the waters that have it
    int64_t waters = 0;                        // the waters averaged (those with a neighbour)
    std::vector<std::vector<double>> perWater; // perWater[k][i]: q̄_l(i) for l = degrees[k]; NaN without neighbours
};

// q̄_l for each l of `degrees` (0 .. kMaxQbarDegree; std::invalid_argument
// otherwise) of waters 0 .. waterCount-1 whose neighbour pairs (all pairs
// within kSteinhardtCutoff, each once, as neighbourPairs gives them) are `pairs`.
Steinhardt averagedBondOrder(int32_t waterCount, const std::vector<NeighbourPair>& pairs,
                             const std::vector<int32_t>& degrees);

// The same for the water oxygens `oxygens` in the cell `box`.
Steinhardt averagedBondOrder(const std::vector<Vec3>& oxygens, const Box& box, const std::vector<int32_t>& degrees);

} // namespace kavet
