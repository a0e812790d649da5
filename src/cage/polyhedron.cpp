#include "cage/polyhedron.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace kavet {

Polyhedron polyhedronOf(const std::vector<int32_t>& cage, const RingSearch& rings)
{
    // Each edge as one number, lower node in the high half; scratch kept per
    // thread, as this runs for every cage of every frame.
    thread_local std::vector<uint64_t> edges;
    thread_local std::vector<int32_t> nodes;
    edges.clear();
    nodes.clear();
    for (int32_t r : cage) {
        const std::vector<int32_t>& ring = rings.ringList[r];
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const int32_t a = ring[k], b = ring[k + 1 < ring.size() ? k + 1 : 0];
            edges.push_back(static_cast<uint64_t>(static_cast<uint32_t>(std::min(a, b))) << 32 |
                            static_cast<uint32_t>(std::max(a, b)));
            nodes.push_back(a);
        }
    }
    std::sort(edges.begin(), edges.end());
    std::sort(nodes.begin(), nodes.end());
    Polyhedron p;
    p.vertices = static_cast<int32_t>(std::unique(nodes.begin(), nodes.end()) - nodes.begin());
    p.faces = static_cast<int32_t>(cage.size());
    bool twice = true;
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i;
        while (j < edges.size() && edges[j] == edges[i])
            ++j;
        twice = twice && j - i == 2;
        ++p.edges;
        i = j;
    }
    p.closed = twice && !edges.empty() && p.vertices - p.edges + p.faces == 2;
    return p;
}

} // namespace kavet
