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
    uint64_t parity = 0; // each edge twice: every bit of the edges' XOR is 0
    for (int32_t r : cage) {
        const std::vector<int32_t>& ring = rings.ringList[r];
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const int32_t a = ring[k], b = ring[k + 1 < ring.size() ? k + 1 : 0];
            const uint64_t edge = static_cast<uint64_t>(static_cast<uint32_t>(std::min(a, b))) << 32 |
                                  static_cast<uint32_t>(std::max(a, b));
            edges.push_back(edge);
            parity ^= edge;
            nodes.push_back(a);
        }
    }
    Polyhedron p;
    p.faces = static_cast<int32_t>(cage.size());
    if (parity != 0)
        return p; // open: nothing more to count
    std::sort(edges.begin(), edges.end());
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i;
        while (j < edges.size() && edges[j] == edges[i])
            ++j;
        if (j - i != 2)
            return {0, 0, p.faces, false};
        ++p.edges;
        i = j;
    }
    std::sort(nodes.begin(), nodes.end());
    p.vertices = static_cast<int32_t>(std::unique(nodes.begin(), nodes.end()) - nodes.begin());
    p.closed = !edges.empty() && p.vertices - p.edges + p.faces == 2;
    return p;
}

} // namespace kavet
