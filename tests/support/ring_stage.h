// Runs the analysis in memory up to the rings and their neighbours, so that
// tests of the cage phase and of the writers start from real ring geometry.
#pragma once

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "cage/assembly.h"
#include "cage/dedup.h"
#include "io/gro_reader.h"
#include "network/hbond.h"
#include "network/plane_fit.h"
#include "network/ring_neighbours.h"
#include "network/ring_search.h"
#include "support/support.h"

namespace kavet::test {

struct RingStage {
    Frame atoms;
    Network net;
    RingSearch rings;
    RingGeometry geo;
    RingNeighbours nb;
    int32_t numRing = 0;
};

// Network, rings, plane fit and neighbours with the default limits. `keepRing`
// (when given) picks the rings that stay before the plane fit.
inline RingStage ringStage(const Frame& atoms, const std::function<bool(std::size_t)>& keepRing = {})
{
    RingStage s;
    s.atoms = atoms;
    initNetwork(s.atoms, s.net);
    findBonds(s.atoms, 3.5f, 30.0f, s.net);
    pruneEdges(s.net);
    findAllRings(s.net, 4, 7, s.rings);
    if (keepRing) {
        std::vector<std::vector<int32_t>> kept;
        for (std::size_t r = 0; r < s.rings.ringList.size(); ++r)
            if (keepRing(r))
                kept.emplace_back(s.rings.ringList[r].begin(), s.rings.ringList[r].end());
        s.rings.ringList = kept;
    }
    const std::size_t n = s.rings.ringList.size();
    s.geo.numNode.assign(n, 0);
    s.geo.distRing.assign(n, 0.0f);
    s.geo.centRing.assign(n, Vec3{});
    s.geo.normRing.assign(n, Vec3{});
    fitRings(s.atoms, 100.0f, s.rings, s.geo);
    s.numRing = static_cast<int32_t>(s.rings.ringList.size());
    findRingNeighbours(s.rings, s.geo, s.net, s.atoms.box, 7, 3.5f, s.nb);
    return s;
}

inline RingStage ringStage(const std::string& gro) { return ringStage(parseConfiguration(gro, "test.gro", "SOL", "OW")); }

// Occlusion and assembly of every ring side with the given -cage values.
inline CageSearch assembledCages(const RingStage& s, float cageDistance = 1.0f, float cageAngle = 85.0f)
{
    const auto ctx = makeOcclusionContext(s.rings, s.geo, s.nb, s.atoms, cageDistance, cageAngle);
    CageSearch cages;
    assembleCages(ctx, s.numRing, cages, nullptr);
    return cages;
}

// Six waters on a flat hexagon, each giving one hydrogen to the next.
inline std::vector<Water> hexagonOfWaters()
{
    std::vector<Water> waters;
    const Vec3 centre{10.0f, 10.0f, 10.0f};
    for (int k = 0; k < 6; ++k) {
        auto at = [&](int i) { return centre + Vec3{2.76f * std::cos(i * 1.0471976f), 2.76f * std::sin(i * 1.0471976f), 0}; };
        const Vec3 o = at(k);
        waters.push_back(waterPointingAt(o, at(k + 1), o + (o - centre) + Vec3{0.0f, 0.0f, 2.0f}));
    }
    return waters;
}

} // namespace kavet::test
