// Cups: the incomplete cages that nucleation studies track, after Jacobson,
// Hujo and Molinero, "Amorphous precursors in the nucleation of clathrate
// hydrates", J. Am. Chem. Soc. 132, 11806 (2010). A cup is a base ring B of
// five or six members with one pentagon P_e on each edge e of B, such that
//   - P_e shares exactly the edge e with B: its members in B are the two ends
//     of e and no other;
//   - at every member v of B, the pentagons on the two edges of B at v share
//     a bond at v that is not an edge of B;
//   - the pentagons are distinct.
// A pentagon base makes a 5^6 cup, half a 5^12; a hexagon base a 6^1-5^6
// cup, the cap of a 5^12-6^n. A cup is caged when all its faces are faces of
// one closed cage, and free otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "network/ring_search.h"

namespace kavet {

struct Cup {
    int32_t base = -1; // ring number of the base
    // sides[k]: the pentagon on the base edge from member k to member k + 1
    // (the last to member 0), in the base ring's order; -1 past its size.
    std::array<int32_t, 6> sides{-1, -1, -1, -1, -1, -1};
    int32_t baseSize() const { return sides[5] < 0 ? 5 : 6; }
};

// Every cup of `rings` (ring numbers into rings.ringList), each set of faces
// once, in order of the base ring and then of the sides.
std::vector<Cup> findCups(const RingSearch& rings);

struct CupCounts {
    int64_t pentagonBase = 0; // 5^6 cups
    int64_t hexagonBase = 0;  // 6^1-5^6 cups
    int64_t free = 0;         // cups whose faces are not all faces of one closed cage
    std::vector<uint8_t> caged; // per cup: 1 when caged
};

// Counts the cups by type and tells the caged from the free. `cages[c]` lists
// the rings of cage c, `closed[c]` whether it is a closed cage.
CupCounts countCups(const std::vector<Cup>& cups, const OffsetArray& cages,
                    const std::vector<uint8_t>& closed);

} // namespace kavet
