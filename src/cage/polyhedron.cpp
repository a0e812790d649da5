#include "cage/polyhedron.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace kavet {
namespace {

// One face's corner at a vertex: the vertex, its two neighbours in the face
// (smaller first) and the face.
struct Wedge {
    int32_t vertex, a, b, face;
};

int32_t rootOf(std::vector<int32_t>& parent, int32_t f)
{
    while (parent[f] != f)
        f = parent[f] = parent[parent[f]];
    return f;
}

// Whether the wedges w[0 .. m) at one vertex form one cycle of at least three
// faces. With every edge in two faces, each neighbour of the vertex is in
// exactly two wedges, so the wedges make up cycles; following the one through
// w[0] must meet all m.
bool oneCycle(const Wedge* w, std::size_t m)
{
    if (m < 3)
        return false;
    std::size_t cur = 0, seen = 1;
    int32_t label = w[0].b;
    for (;;) {
        std::size_t next = m;
        for (std::size_t k = 0; k < m; ++k)
            if (k != cur && (w[k].a == label || w[k].b == label)) {
                next = k;
                break;
            }
        if (next == m)
            return false; // not reached with every edge in two faces
        if (next == 0)
            break;
        if (++seen > m)
            return false;
        label = w[next].a == label ? w[next].b : w[next].a;
        cur = next;
    }
    return seen == m;
}

} // namespace

Polyhedron polyhedronOf(std::span<const int32_t> cage, const RingSearch& rings)
{
    // Each edge as one number, lower node in the high half; scratch kept per
    // thread, as this runs for every cage of every frame.
    thread_local std::vector<uint64_t> edges;
    edges.clear();
    uint64_t parity = 0; // each edge twice: every bit of the edges' XOR is 0
    for (int32_t r : cage) {
        const std::span<const int32_t> ring = rings.ringList[r];
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const int32_t a = ring[k], b = ring[k + 1 < ring.size() ? k + 1 : 0];
            const uint64_t edge = static_cast<uint64_t>(static_cast<uint32_t>(std::min(a, b))) << 32 |
                                  static_cast<uint32_t>(std::max(a, b));
            edges.push_back(edge);
            parity ^= edge;
        }
    }
    Polyhedron p;
    p.faces = static_cast<int32_t>(cage.size());
    if (parity != 0 || edges.empty())
        return p; // open: nothing more to count
    std::sort(edges.begin(), edges.end());
    int32_t numEdges = 0;
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i;
        while (j < edges.size() && edges[j] == edges[i])
            ++j;
        if (j - i != 2)
            return p;
        ++numEdges;
        i = j;
    }

    // Every edge in two faces: the corners at each vertex, and the faces
    // joined through the vertices they share (with one cycle at every vertex,
    // faces at a vertex are joined through edges there too).
    thread_local std::vector<Wedge> wedges;
    thread_local std::vector<int32_t> parent;
    wedges.clear();
    for (std::size_t f = 0; f < cage.size(); ++f) {
        const std::span<const int32_t> ring = rings.ringList[cage[f]];
        const std::size_t n = ring.size();
        for (std::size_t k = 0; k < n; ++k) {
            const int32_t prev = ring[k > 0 ? k - 1 : n - 1], next = ring[k + 1 < n ? k + 1 : 0];
            wedges.push_back({ring[k], std::min(prev, next), std::max(prev, next), static_cast<int32_t>(f)});
        }
    }
    std::sort(wedges.begin(), wedges.end(), [](const Wedge& x, const Wedge& y) { return x.vertex < y.vertex; });
    parent.resize(cage.size());
    for (std::size_t f = 0; f < cage.size(); ++f)
        parent[f] = static_cast<int32_t>(f);
    int32_t numVertices = 0, components = p.faces;
    bool cycles = true;
    for (std::size_t i = 0; i < wedges.size();) {
        std::size_t j = i + 1;
        while (j < wedges.size() && wedges[j].vertex == wedges[i].vertex)
            ++j;
        ++numVertices;
        for (std::size_t k = i + 1; k < j; ++k) {
            const int32_t x = rootOf(parent, wedges[i].face), y = rootOf(parent, wedges[k].face);
            if (x != y) {
                parent[y] = x;
                --components;
            }
        }
        cycles = cycles && oneCycle(&wedges[i], j - i);
        i = j;
    }
    p.vertices = numVertices;
    p.edges = numEdges;
    const bool sphere = p.vertices - p.edges + p.faces == 2;
    p.shape = !cycles ? CageShape::Defective : (sphere && components == 1 ? CageShape::Closed : CageShape::Open);
    return p;
}

bool cageSurface(std::span<const int32_t> cage, const RingSearch& rings, const RingGeometry& geo,
                 const std::vector<Vec3>& xyz, const Box& box, Vec3 origin, std::vector<DVec3>& corners)
{
    const std::size_t faces = cage.size();
    // Every directed face edge (smaller atom, larger atom, face, forward).
    struct Edge {
        int32_t a, b;
        int32_t face;
        bool forward;
    };
    std::vector<Edge> edges;
    for (std::size_t f = 0; f < faces; ++f) {
        const std::span<const int32_t> ring = rings.ringList[cage[f]];
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const int32_t a = ring[k], b = ring[k + 1 < ring.size() ? k + 1 : 0];
            edges.push_back({std::min(a, b), std::max(a, b), static_cast<int32_t>(f), a < b});
        }
    }
    std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
        return x.a != y.a ? x.a < y.a : (x.b != y.b ? x.b < y.b : x.face < y.face);
    });
    // Faces meeting at an edge, and whether they run it the same way.
    std::vector<std::vector<std::pair<int32_t, bool>>> across(faces);
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        const Edge &x = edges[i], &y = edges[i + 1];
        if (x.a == y.a && x.b == y.b) {
            across[x.face].emplace_back(y.face, x.forward == y.forward);
            across[y.face].emplace_back(x.face, x.forward == y.forward);
        }
    }
    std::vector<int8_t> flip(faces, -1);
    std::vector<int32_t> queue;
    for (std::size_t start = 0; start < faces; ++start) {
        if (flip[start] >= 0)
            continue;
        flip[start] = 0;
        queue.assign(1, static_cast<int32_t>(start));
        for (std::size_t head = 0; head < queue.size(); ++head) {
            const int32_t f = queue[head];
            for (auto [g, same] : across[f]) {
                const int8_t want = static_cast<int8_t>(same ? !flip[f] : flip[f]);
                if (flip[g] < 0) {
                    flip[g] = want;
                    queue.push_back(g);
                } else if (flip[g] != want) {
                    return false;
                }
            }
        }
    }

    corners.clear();
    for (std::size_t f = 0; f < faces; ++f) {
        const int32_t r = cage[f];
        const std::span<const int32_t> ring = rings.ringList[r];
        const DVec3 c = minimumImageD(geo.centRing[r], origin, box);
        const std::size_t n = ring.size();
        for (std::size_t k = 0; k < n; ++k) {
            const DVec3 p = minimumImageD(xyz[ring[k]], origin, box);
            const DVec3 q = minimumImageD(xyz[ring[k + 1 < n ? k + 1 : 0]], origin, box);
            corners.push_back(c);
            corners.push_back(flip[f] ? q : p);
            corners.push_back(flip[f] ? p : q);
        }
    }
    return true;
}

double enclosedVolume(std::span<const int32_t> cage, const RingSearch& rings, const RingGeometry& geo,
                      const Frame& frame)
{
    if (cage.empty())
        return 0.0;
    thread_local std::vector<DVec3> corners;
    if (!cageSurface(cage, rings, geo, frame.positions, frame.box, geo.centRing[cage[0]], corners))
        return 0.0;
    // Each triangle with the origin spans a signed tetrahedron of a sixth of
    // the triple product; over a closed oriented surface they sum to the
    // volume inside (Gauss's divergence theorem), signed by the orientation.
    double six = 0.0;
    for (std::size_t t = 0; t + 2 < corners.size(); t += 3)
        six += dot(corners[t], cross(corners[t + 1], corners[t + 2]));
    return std::fabs(six) / 6.0;
}

CageShape censusShape(std::span<const int32_t> cage, const RingSearch& rings, const RingGeometry& geo,
                      const Frame& frame)
{
    const CageShape shape = polyhedronOf(cage, rings).shape;
    if (shape == CageShape::Defective && !(enclosedVolume(cage, rings, geo, frame) >= defectiveVolumeMin))
        return CageShape::Open;
    return shape;
}

std::string faceLabel(const std::vector<int32_t>& faceSizes)
{
    std::vector<int32_t> sizes;
    for (int32_t s : faceSizes)
        if (s > 0)
            sizes.push_back(s);
    std::sort(sizes.begin(), sizes.end());
    std::string label;
    for (std::size_t i = 0; i < sizes.size();) {
        std::size_t j = i;
        while (j < sizes.size() && sizes[j] == sizes[i])
            ++j;
        if (!label.empty())
            label += '-';
        label += std::to_string(sizes[i]);
        label += '^';
        label += std::to_string(j - i);
        i = j;
    }
    return label;
}

std::string cageLabel(std::span<const int32_t> cage, const RingSearch& rings)
{
    std::vector<int32_t> sizes;
    sizes.reserve(cage.size());
    for (int32_t r : cage)
        sizes.push_back(static_cast<int32_t>(rings.ringList[r].size()));
    return faceLabel(sizes);
}

} // namespace kavet
