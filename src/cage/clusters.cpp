#include "cage/clusters.h"

#include <algorithm>
#include <array>
#include <cmath>
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

CageClusters clustersOf(const OffsetArray& cages, const std::vector<uint8_t>& closed)
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

namespace {

using Steps = std::array<int64_t, 3>;

// Whether v is independent of the first n vectors of basis (n < 3).
bool independent(const std::array<Steps, 3>& basis, int n, const Steps& v)
{
    auto crossOf = [](const Steps& x, const Steps& y) {
        return Steps{x[1] * y[2] - x[2] * y[1], x[2] * y[0] - x[0] * y[2], x[0] * y[1] - x[1] * y[0]};
    };
    if (n == 0)
        return v[0] != 0 || v[1] != 0 || v[2] != 0;
    const Steps c = crossOf(basis[0], v);
    if (n == 1)
        return c[0] != 0 || c[1] != 0 || c[2] != 0;
    const Steps d = crossOf(basis[0], basis[1]);
    return d[0] * v[0] + d[1] * v[1] + d[2] * v[2] != 0;
}

// p brought into the cell: whole cell vectors c, b, a taken away until its
// fractional coordinates lie in [0, 1).
DVec3 wrapped(DVec3 p, const Box& box)
{
    if (box.z > 0.0f)
        p = p - DVec3{box.zx, box.zy, box.z} * std::floor(p.z / box.z);
    if (box.y > 0.0f)
        p = p - DVec3{box.yx, box.y, 0.0} * std::floor(p.y / box.y);
    if (box.x > 0.0f)
        p.x -= box.x * std::floor(p.x / box.x);
    return p;
}

} // namespace

std::vector<ClusterShape> clusterShapes(const OffsetArray& cages,
                                        const CageClusters& k, const std::vector<DVec3>& centre, const Box& box)
{
    const std::size_t n = cages.size(), numCluster = k.size.size();
    // The closed cages of every ring.
    std::vector<std::vector<int32_t>> holders;
    for (std::size_t c = 0; c < n; ++c) {
        if (k.clusterOf[c] == 0)
            continue;
        for (int32_t r : cages[c]) {
            if (holders.size() <= static_cast<std::size_t>(r))
                holders.resize(static_cast<std::size_t>(r) + 1);
            holders[r].push_back(static_cast<int32_t>(c));
        }
    }
    std::vector<ClusterShape> shape(numCluster);
    std::vector<DVec3> placed(n);
    std::vector<uint8_t> seen(n, 0);
    std::vector<int32_t> queue;
    for (std::size_t start = 0; start < n; ++start) {
        const int32_t id = k.clusterOf[start];
        if (id == 0 || seen[start])
            continue;
        ClusterShape& s = shape[id - 1];
        std::array<Steps, 3> basis{};
        int rank = 0;
        seen[start] = 1;
        placed[start] = centre[start];
        queue.assign(1, static_cast<int32_t>(start));
        for (std::size_t head = 0; head < queue.size(); ++head) {
            const int32_t c = queue[head];
            for (int32_t r : cages[c])
                for (int32_t d : holders[r]) {
                    if (d == c)
                        continue;
                    const DVec3 at = placed[c] + minimumImage(centre[d] - centre[c], box);
                    if (!seen[d]) {
                        seen[d] = 1;
                        placed[d] = at;
                        queue.push_back(d);
                    } else if (rank < 3) {
                        const LatticeSteps w = latticeSteps(at - placed[d], box);
                        const Steps v{static_cast<int64_t>(w.a), static_cast<int64_t>(w.b),
                                      static_cast<int64_t>(w.c)};
                        if (independent(basis, rank, v))
                            basis[rank++] = v;
                    }
                }
        }
        DVec3 mean;
        for (int32_t c : queue)
            mean = mean + placed[c];
        mean = mean * (1.0 / static_cast<double>(queue.size()));
        double sum = 0.0;
        for (int32_t c : queue) {
            const DVec3 d = placed[c] - mean;
            sum += dot(d, d);
        }
        s.centre = wrapped(mean, box);
        s.rg = std::sqrt(sum / static_cast<double>(queue.size()));
        s.spans = rank;
    }
    return shape;
}

} // namespace kavet
