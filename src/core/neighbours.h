// Pairs of points closer than a cut-off, with their minimum-image vectors and
// distances, built once on the cell grid (as freud's NeighborList: a query
// point's neighbours are stored together, with the vector from it to each).
// Arithmetic in single precision, as minimumImage and norm work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/box.h"
#include "core/offsets.h"
#include "core/vec3.h"

namespace kavet {

struct NeighbourList {
    // Row k: the other points j of the pairs of query point i = items[k],
    // each above i; one row per item. vec and dist are aligned with
    // other.item: entry e belongs to the pair (i, other.item[e]).
    OffsetArray other;
    std::vector<Vec3> vec;   // minimumImage(pos[j], pos[i], box)
    std::vector<float> dist; // norm(vec), strictly below the cut-off
};

// Every pair i < j of points of `items` (point numbers into `pos`, ascending)
// whose minimum-image distance is below `cutoff`, grouped by i in the order
// of `items`, and for each i in the cell grid's visiting order (forEachNear),
// not sorted by j. Empty when the cut-off is not positive. Only the first
// `queries` items are searched from (all by default); the others get no entries
// of their own but are still found as the neighbours of a query point.
NeighbourList buildNeighbourList(const std::vector<Vec3>& pos, const std::vector<int32_t>& items, const Box& box,
                                 float cutoff, std::size_t queries = static_cast<std::size_t>(-1));

} // namespace kavet
