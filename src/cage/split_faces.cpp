#include "cage/split_faces.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "cage/occlusion.h"
#include "cage/polyhedron.h"
#include "network/ring_neighbours.h"

namespace kavet {
namespace {

uint64_t edgeKey(int32_t a, int32_t b)
{
    if (a > b)
        std::swap(a, b);
    return (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(b);
}

struct RingHash {
    std::size_t operator()(const std::vector<int32_t>& r) const
    {
        uint64_t h = 1469598103934665603ull;
        for (int32_t v : r)
            h = (h ^ static_cast<uint32_t>(v)) * 1099511628211ull;
        return static_cast<std::size_t>(h);
    }
};

// Whether a and b are consecutive members of `ring`.
bool hasEdge(std::span<const int32_t> ring, int32_t a, int32_t b)
{
    const std::size_t n = ring.size();
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t u = ring[i], v = ring[(i + 1) % n];
        if ((u == a && v == b) || (u == b && v == a))
            return true;
    }
    return false;
}

std::vector<int32_t> nodesOf(std::span<const int32_t> ring) { return {ring.begin(), ring.end()}; }

} // namespace

std::vector<SplitPentagon> findSplitPentagons(const RingSearch& rings, const Network& net)
{
    const auto& list = rings.ringList;
    std::unordered_map<uint64_t, std::vector<int32_t>> squaresOfEdge;
    for (std::size_t r = 0; r < list.size(); ++r)
        if (list[r].size() == 4)
            for (std::size_t i = 0; i < 4; ++i)
                squaresOfEdge[edgeKey(list[r][i], list[r][(i + 1) % 4])].push_back(static_cast<int32_t>(r));
    std::vector<SplitPentagon> out;
    if (squaresOfEdge.empty())
        return out;
    for (std::size_t t = 0; t < list.size(); ++t) {
        if (list[t].size() != 3)
            continue;
        std::vector<SplitPentagon> found;
        for (int i = 0; i < 3; ++i) {
            const int32_t a = list[t][i], b = list[t][(i + 1) % 3], c = list[t][(i + 2) % 3];
            const auto it = squaresOfEdge.find(edgeKey(a, b));
            if (it == squaresOfEdge.end())
                continue;
            for (int32_t q : it->second) {
                const std::span<const int32_t> sq = list[q];
                if (std::find(sq.begin(), sq.end(), c) != sq.end())
                    continue;
                // The square's path from b back to a that avoids the chord.
                const int ia = static_cast<int>(std::find(sq.begin(), sq.end(), a) - sq.begin());
                const int step = sq[(ia + 1) % 4] == b ? 1 : 3;
                const int32_t u = sq[(ia + 2 * step) % 4], w = sq[(ia + 3 * step) % 4];
                // Pentagon a c b u w (u next to b, w next to a); only a-b may cross it.
                if (net.isEdge(a, u) || net.isEdge(c, u) || net.isEdge(c, w) || net.isEdge(b, w))
                    continue;
                SplitPentagon s;
                s.triangle = static_cast<int32_t>(t);
                s.square = q;
                s.chord[0] = a;
                s.chord[1] = b;
                s.pentagon = {a, c, b, u, w};
                found.push_back(std::move(s));
            }
        }
        std::sort(found.begin(), found.end(),
                  [](const SplitPentagon& x, const SplitPentagon& y) { return x.square < y.square; });
        out.insert(out.end(), found.begin(), found.end());
    }
    return out;
}

void addCagesAcrossSplitPentagons(const Frame& frame, const RingSearch& rings, const Network& net,
                                  const std::vector<SplitPentagon>& split, float ringDeviation, int32_t ringMax,
                                  float hbDistance, float cageDistance, float cageAngle, bool sealed,
                                  CageSearch& cages)
{
    if (split.empty())
        return;
    std::unordered_set<uint64_t> chords;
    for (const SplitPentagon& s : split)
        chords.insert(edgeKey(s.chord[0], s.chord[1]));

    // The restored ring set: the frame's rings without a chord as an edge,
    // then the pentagons. Rings are told apart by their members after the
    // plane fit, which may drop some.
    std::unordered_map<std::vector<int32_t>, int32_t, RingHash> frameRing, pentagonOf;
    RingSearch restored;
    for (std::size_t r = 0; r < rings.ringList.size(); ++r) {
        const std::span<const int32_t> ring = rings.ringList[r];
        bool chordEdge = false;
        for (std::size_t i = 0; i < ring.size() && !chordEdge; ++i)
            chordEdge = chords.count(edgeKey(ring[i], ring[(i + 1) % ring.size()])) > 0;
        if (chordEdge)
            continue;
        frameRing.emplace(nodesOf(ring), static_cast<int32_t>(r));
        restored.ringList.append(ring);
    }
    for (std::size_t k = 0; k < split.size(); ++k) {
        std::vector<int32_t> p = split[k].pentagon;
        canonicalRing(p);
        if (pentagonOf.emplace(p, static_cast<int32_t>(k)).second)
            restored.ringList.append(p);
    }

    RingGeometry geo;
    fitRings(frame, ringDeviation, restored, geo, !sealed);
    const int32_t numRing = static_cast<int32_t>(restored.ringList.size());
    std::vector<int32_t> seeds;
    for (int32_t r = 0; r < numRing; ++r)
        if (pentagonOf.count(nodesOf(restored.ringList[r])))
            seeds.push_back(r);
    if (seeds.empty())
        return;
    RingNeighbours nb;
    findRingNeighbours(restored, geo, net, frame.box, ringMax, hbDistance, nb);
    const OcclusionContext ctx = makeOcclusionContext(restored, geo, nb, frame, cageDistance, cageAngle, sealed);
    CageSearch grown;
    assembleCages(ctx, numRing, grown, nullptr, &seeds);

    for (int32_t s : seeds)
        for (const int64_t f : {static_cast<int64_t>(s), static_cast<int64_t>(s) + numRing}) {
            const std::span<const int32_t> entry = grown.cageList[f];
            if (entry.empty() || polyhedronOf(entry, restored).shape != CageShape::Closed)
                continue;
            std::vector<int32_t> faces;
            for (int32_t r : entry) {
                const std::vector<int32_t> ring = nodesOf(restored.ringList[r]);
                if (const auto p = pentagonOf.find(ring); p != pentagonOf.end()) {
                    faces.push_back(split[p->second].triangle);
                    faces.push_back(split[p->second].square);
                } else {
                    faces.push_back(frameRing.at(ring));
                }
            }
            const int32_t first = split[pentagonOf.at(nodesOf(restored.ringList[s]))].triangle;
            std::sort(faces.begin(), faces.end());
            faces.erase(std::unique(faces.begin(), faces.end()), faces.end());
            faces.erase(std::find(faces.begin(), faces.end(), first));
            faces.insert(faces.begin(), first);
            cages.cageList.append(faces);
            cages.cageNorm.push_back(grown.cageNorm[f]);
        }
}

std::string cageLabelJoiningSplitPentagons(std::span<const int32_t> cage, const RingSearch& rings)
{
    bool triangle = false, square = false;
    for (int32_t r : cage) {
        triangle |= rings.ringList[r].size() == 3;
        square |= rings.ringList[r].size() == 4;
    }
    if (!triangle || !square)
        return cageLabel(cage, rings); // no pentagon can be split
    // The number of waters next to `w` on the cage's edges.
    const auto degree = [&](int32_t w) {
        std::vector<int32_t> next;
        for (int32_t r : cage) {
            const std::span<const int32_t> ring = rings.ringList[r];
            const auto at = std::find(ring.begin(), ring.end(), w);
            if (at == ring.end())
                continue;
            const std::size_t i = static_cast<std::size_t>(at - ring.begin());
            next.push_back(ring[(i + 1) % ring.size()]);
            next.push_back(ring[(i + ring.size() - 1) % ring.size()]);
        }
        std::sort(next.begin(), next.end());
        return std::unique(next.begin(), next.end()) - next.begin();
    };
    std::vector<int32_t> sizes;
    std::vector<uint8_t> joined(cage.size(), 0);
    for (std::size_t i = 0; i < cage.size(); ++i) {
        const std::span<const int32_t> t = rings.ringList[cage[i]];
        if (t.size() != 3 || joined[i])
            continue;
        for (std::size_t j = 0; j < cage.size() && !joined[i]; ++j) {
            const std::span<const int32_t> q = rings.ringList[cage[j]];
            if (q.size() != 4 || joined[j])
                continue;
            std::vector<int32_t> common;
            for (int32_t v : t)
                if (std::find(q.begin(), q.end(), v) != q.end())
                    common.push_back(v);
            if (common.size() != 2 || !hasEdge(q, common[0], common[1]) || degree(common[0]) != 4 ||
                degree(common[1]) != 4)
                continue;
            joined[i] = joined[j] = 1;
            sizes.push_back(5);
        }
    }
    for (std::size_t i = 0; i < cage.size(); ++i)
        if (!joined[i])
            sizes.push_back(static_cast<int32_t>(rings.ringList[cage[i]].size()));
    return faceLabel(sizes);
}

} // namespace kavet
