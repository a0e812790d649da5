// CHILL+: the per-water structure labels of Nguyen and Molinero, "Identification
// of clathrate hydrates, hexagonal ice, cubic ice, and liquid water in
// simulations: the CHILL+ algorithm", J. Phys. Chem. B 119, 9369 (2015).
//
// A water's neighbours are the water oxygens within 3.5 angstrom. Each water
// has the local bond-orientational vector q3m(i) = (1/N_i) sum_j Y3m(r_ij / |r_ij|)
// over its N_i neighbours, and each neighbour pair the correlation
// c(i, j) = Re sum_m q3m(i) q3m(j)* / (|q3(i)| |q3(j)|). A bond is staggered
// when c <= -0.8 and eclipsed when -0.35 <= c <= 0.25. Only a water with
// exactly four neighbours can be anything but liquid; with S staggered and E
// eclipsed bonds it is
//   cubic ice              S = 4,
//   hexagonal ice          S = 3 and E = 1,
//   interfacial ice        S = 2 with a neighbour of more than 2 S, or
//                          S = 3 and E = 0 with a neighbour of more than 1 S,
//   clathrate              E = 4,
//   interfacial clathrate  E = 3,
// and liquid otherwise. A bond of a water whose q3 vanishes (no neighbours,
// or neighbours in a centrosymmetric arrangement) is neither staggered nor
// eclipsed. Computed in double precision.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "order/pairs.h"

namespace kavet {

enum class ChillLabel : uint8_t {
    Liquid = 0,
    Cubic,
    Hexagonal,
    InterfacialIce,
    Clathrate,
    InterfacialClathrate,
};
constexpr int kChillLabels = 6;

// The neighbour cut-off of CHILL+, angstrom.
constexpr double kChillCutoff = 3.5;

struct Chill {
    std::vector<ChillLabel> label;             // per water
    std::array<int32_t, kChillLabels> count{}; // waters per label, indexed by the label's value
    int32_t largestIce = 0;                    // largest cluster of cubic, hexagonal and interfacial ice
    int32_t largestClathrate = 0;              // largest cluster of clathrate and interfacial clathrate

    int32_t of(ChillLabel l) const { return count[static_cast<int>(l)]; }
};

// The labels of waters 0 .. waterCount-1 whose neighbour pairs (all pairs within
// kChillCutoff, each once) are `pairs`. Clusters join neighbours.
Chill chillPlus(int32_t waterCount, const std::vector<NeighbourPair>& pairs);

// The same for the water oxygens `oxygens` in the cell `box`.
Chill chillPlus(const std::vector<Vec3>& oxygens, const Box& box);

// The real spherical harmonics of degree 3 at the unit vector u, in the order
// m = -3 .. 3, all scaled by the same factor sqrt(pi) (which cancels in c).
// Their sums are a real orthogonal transform of the complex q3m, so
// correlations and norms equal those of the complex vectors.
std::array<double, 7> realY3(DVec3 u);

} // namespace kavet
