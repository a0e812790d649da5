// Cage deduplication and classification. Of several entries with the same
// ring set the one at the lowest position survives; an entry whose ring set is
// a proper subset of another entry's is removed. Equal sets are found by
// hashing the sorted ring sets, and containment through an index from ring to
// the distinct sets that hold it. Each surviving cage is then classified by
// its vertices V, edges E, faces F, Euler characteristic V-E+F and a type
// string of face counts per ring size, such as 5^12-6^2.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cage/assembly.h"
#include "network/hbond.h"
#include "network/ring_search.h"

namespace kavet {

// Removes duplicate and contained entries from cageList and cageNorm, keeping
// the survivors in their order and each with its own ring order and sign.
void deduplicateCages(CageSearch& cages);

struct CageClasses {
    std::vector<std::array<float, 4>> cageVEF; // V, E, F, V+F-E
    std::vector<std::string> cageType;
    std::map<std::string, int32_t> cageCensus; // byte-wise order of the type strings
};

void classifyCages(const CageSearch& cages, const RingSearch& rings, const std::vector<int8_t>& numNode,
                   const Network& net, int32_t ringMin, int32_t ringMax, CageClasses& classes);

// The census as written to the data and cage files: "  type:count" per type.
std::string censusText(const std::map<std::string, int32_t>& census);

} // namespace kavet
