#include "cage/polyhedron.h"

#include <algorithm>
#include <utility>

namespace kavet {

Polyhedron polyhedronOf(const std::vector<int32_t>& cage, const RingSearch& rings)
{
    std::vector<std::pair<int32_t, int32_t>> edges;
    std::vector<int32_t> nodes;
    for (int32_t r : cage) {
        const std::vector<int32_t>& ring = rings.ringList[r];
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const int32_t a = ring[k], b = ring[k + 1 < ring.size() ? k + 1 : 0];
            edges.emplace_back(std::min(a, b), std::max(a, b));
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
