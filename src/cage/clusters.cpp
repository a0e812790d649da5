#include "cage/clusters.h"

#include <algorithm>
#include <numeric>

namespace kavet {
namespace {

int32_t root(std::vector<int32_t>& parent, int32_t c)
{
    while (parent[c] != c) {
        parent[c] = parent[parent[c]];
        c = parent[c];
    }
    return c;
}

} // namespace

CageClusters clustersOf(const std::vector<std::vector<int32_t>>& cages, const std::vector<uint8_t>& closed)
{
    const int32_t n = static_cast<int32_t>(cages.size());
    std::vector<int32_t> parent(n);
    std::iota(parent.begin(), parent.end(), 0);
    int32_t maxRing = -1;
    for (int32_t c = 0; c < n; ++c)
        if (closed[c])
            for (int32_t r : cages[c])
                maxRing = std::max(maxRing, r);
    // The first closed cage seen with each ring; every later one joins it.
    std::vector<int32_t> holder(static_cast<std::size_t>(maxRing + 1), -1);
    for (int32_t c = 0; c < n; ++c) {
        if (!closed[c])
            continue;
        for (int32_t r : cages[c]) {
            if (holder[r] < 0) {
                holder[r] = c;
                continue;
            }
            const int32_t a = root(parent, holder[r]), b = root(parent, c);
            if (a != b)
                parent[std::max(a, b)] = std::min(a, b);
        }
    }

    CageClusters k;
    k.clusterOf.assign(n, 0);
    std::vector<int32_t> number(n, 0);
    for (int32_t c = 0; c < n; ++c) {
        if (!closed[c])
            continue;
        int32_t& id = number[root(parent, c)];
        if (id == 0) {
            k.size.push_back(0);
            id = static_cast<int32_t>(k.size.size());
        }
        k.clusterOf[c] = id;
        k.largest = std::max(k.largest, ++k.size[id - 1]);
    }
    return k;
}

} // namespace kavet
