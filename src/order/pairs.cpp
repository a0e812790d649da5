#include "order/pairs.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "core/neighbours.h"

namespace kavet {
namespace {

// The pairs of `list` (over items, queries first) at most `cutoff` apart by
// the double-precision vector at the image the list took; item k's pairs
// with a later item, as (k, place of the other), through `place` (point
// number to place among the items). With split >= 0 only those with a place
// at or above it, as (k, place - split).
template <class Place>
void pairsOfList(const std::vector<Vec3>& pos, const std::vector<int32_t>& items, const NeighbourList& list,
                 std::size_t queries, const Box& box, double cutoff, int32_t split, Place place,
                 std::vector<NeighbourPair>& pairs)
{
    const double cut2 = cutoff * cutoff;
    pairs.reserve(list.other.item.size());
    for (std::size_t k = 0; k < queries; ++k) {
        const int32_t i = items[k];
        for (int64_t p = list.other.start[k]; p < list.other.start[k + 1]; ++p) {
            const int32_t pj = list.other.item[p];
            const int32_t j = place(pj);
            if (split >= 0 && j < split)
                continue;
            const DVec3 d = sameImageD(pos[pj], pos[i], box, list.vec[p]);
            if (!(dot(d, d) <= cut2))
                continue;
            pairs.push_back({static_cast<int32_t>(k), split >= 0 ? j - split : j, d});
        }
    }
}

// The pairs of points of `pos` at most `cutoff` apart, from the core
// neighbour list. With split < 0 every pair, as (smaller index, larger index);
// otherwise only the pairs of a point below `split` with one at or above it,
// as (lower, upper - split). The list is built a little beyond the cut-off in
// single precision; the vector of each pair it lists is then taken again in
// double precision at the same image, and that decides.
std::vector<NeighbourPair> closePairs(const std::vector<Vec3>& pos, const Box& box, double cutoff, int32_t split)
{
    std::vector<NeighbourPair> pairs;
    const int32_t n = static_cast<int32_t>(pos.size());
    if (n < 2 || !(cutoff > 0.0))
        return pairs;
    std::vector<int32_t> items(static_cast<std::size_t>(n));
    std::iota(items.begin(), items.end(), 0);
    const std::size_t queries = split >= 0 ? static_cast<std::size_t>(split) : items.size();
    const NeighbourList list = buildNeighbourList(pos, items, box, pairSearchCutoff(cutoff), queries);
    pairsOfList(pos, items, list, queries, box, cutoff, split, [](int32_t j) { return j; }, pairs);
    return pairs;
}

} // namespace

float pairSearchCutoff(double cutoff)
{
    return static_cast<float>(cutoff) * 1.001f + 1e-4f;
}

std::vector<NeighbourPair> neighbourPairs(const std::vector<Vec3>& atomPositions, const std::vector<int32_t>& items,
                                          const NeighbourList& list, const Box& box, double cutoff)
{
    std::vector<NeighbourPair> pairs;
    if (items.size() < 2 || !(cutoff > 0.0))
        return pairs;
    int32_t top = 0;
    for (int32_t i : items)
        top = std::max(top, i);
    std::vector<int32_t> place(static_cast<std::size_t>(top) + 1, -1);
    for (std::size_t k = 0; k < items.size(); ++k)
        place[items[k]] = static_cast<int32_t>(k);
    pairsOfList(atomPositions, items, list, std::min(items.size(), list.other.rows()), box, cutoff, -1,
                [&](int32_t j) { return place[j]; }, pairs);
    return pairs;
}

std::vector<NeighbourPair> neighbourPairs(const std::vector<Vec3>& pos, const Box& box, double cutoff)
{
    return closePairs(pos, box, cutoff, -1);
}

std::vector<NeighbourPair> crossPairs(const std::vector<Vec3>& a, const std::vector<Vec3>& b, const Box& box,
                                      double cutoff)
{
    std::vector<Vec3> all(a);
    all.insert(all.end(), b.begin(), b.end());
    return closePairs(all, box, cutoff, static_cast<int32_t>(a.size()));
}

double narrowestWidth(const Box& box)
{
    // Each cell vector's face pair is as far apart as the volume over the
    // area spanned by the other two.
    const DVec3 v[3] = {toDouble(box.a()), toDouble(box.b()), toDouble(box.c())};
    const double volume = std::fabs(dot(v[0], cross(v[1], v[2])));
    double w = std::numeric_limits<double>::infinity();
    for (int k = 0; k < 3; ++k) {
        const double area = norm(cross(v[(k + 1) % 3], v[(k + 2) % 3]));
        const float length = k == 0 ? box.x : k == 1 ? box.y : box.z;
        if (length > 0.0f && area > 0.0)
            w = std::min(w, volume / area);
    }
    return w;
}

int32_t largestCluster(const std::vector<uint8_t>& member, const std::vector<NeighbourPair>& pairs)
{
    const int32_t n = static_cast<int32_t>(member.size());
    std::vector<int32_t> parent(static_cast<std::size_t>(n));
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&](int32_t c) {
        while (parent[c] != c) {
            parent[c] = parent[parent[c]];
            c = parent[c];
        }
        return c;
    };
    for (const NeighbourPair& p : pairs) {
        if (p.i >= n || p.j >= n || !member[p.i] || !member[p.j])
            continue;
        const int32_t a = root(p.i), b = root(p.j);
        if (a != b)
            parent[std::max(a, b)] = std::min(a, b);
    }
    std::vector<int32_t> size(static_cast<std::size_t>(n), 0);
    int32_t largest = 0;
    for (int32_t k = 0; k < n; ++k)
        if (member[k])
            largest = std::max(largest, ++size[root(k)]);
    return largest;
}

NeighbourVectors neighbourVectors(int32_t numPoints, const std::vector<NeighbourPair>& pairs)
{
    const std::size_t n = static_cast<std::size_t>(std::max(numPoints, 0));
    NeighbourVectors v;
    std::vector<int64_t>& start = v.other.start;
    start.assign(n + 1, 0);
    auto inside = [&](const NeighbourPair& p) { return p.i >= 0 && p.j >= 0 && p.i < numPoints && p.j < numPoints; };
    for (const NeighbourPair& p : pairs)
        if (inside(p)) {
            ++start[p.i + 1];
            ++start[p.j + 1];
        }
    for (std::size_t k = 0; k < n; ++k)
        start[k + 1] += start[k];
    v.other.item.resize(static_cast<std::size_t>(start[n]));
    v.d.resize(v.other.item.size());
    // Filled as buildOffsets does, with the vectors alongside.
    std::vector<int64_t> next(start.begin(), start.end() - 1);
    for (const NeighbourPair& p : pairs)
        if (inside(p)) {
            v.other.item[next[p.i]] = p.j;
            v.d[next[p.i]++] = p.d;
            v.other.item[next[p.j]] = p.i;
            v.d[next[p.j]++] = -p.d;
        }
    return v;
}

} // namespace kavet
