#include "census/census.h"

#include <limits>

#include <algorithm>

#include "cage/clusters.h"
#include "cage/cups.h"
#include "cage/polyhedron.h"
#include "order/f4.h"
#include "order/mcg.h"

namespace kavet {

FrameCensus censusOf(const Frame& frame, const Analysis& a, const CensusOptions& options)
{
    FrameCensus f;
    f.waters = frame.numWater;
    f.hbonds = static_cast<int64_t>(a.net.adjNode.size() / 2);
    for (const auto& ring : a.rings.ringList) {
        if (f.rings.size() <= ring.size())
            f.rings.resize(ring.size() + 1, 0);
        ++f.rings[ring.size()];
    }

    const std::vector<std::vector<int32_t>>& cageList = a.cages.cageList;
    const std::size_t numCage = cageList.size();
    std::vector<uint8_t> closed(numCage, 0), counted(numCage, 0); // closed; closed or defective
    std::vector<std::string> label(numCage);
    for (std::size_t c = 0; c < numCage; ++c) {
        const CageShape shape = censusShape(cageList[c], a.rings, a.geo, frame);
        if (shape == CageShape::Open)
            continue;
        closed[c] = shape == CageShape::Closed ? 1 : 0;
        counted[c] = 1;
        label[c] = cageLabel(cageList[c], a.rings);
        ++(closed[c] ? f.closed : f.defective);
        ++(closed[c] ? f.closedTypes : f.defectiveTypes)[label[c]];
    }

    const CupCounts cups = countCups(findCups(a.rings), cageList, closed);
    f.cupsPentagon = cups.pentagonBase;
    f.cupsHexagon = cups.hexagonBase;
    f.freeCups = cups.free;

    Occupancy occ;
    std::vector<DVec3> position;
    if (options.guests) {
        f.withGuests = true;
        position = guestPositions(frame, *options.guests);
        occ = occupancyOf(position, frame, a.rings, a.geo, a.cages, closed);
        f.guests = static_cast<int64_t>(position.size());
        for (int32_t n : occ.cagesOf)
            f.guestsCaged += n > 0 ? 1 : 0;
        for (std::size_t c = 0; c < numCage; ++c) {
            const std::size_t n = occ.guestsOf[c].size();
            if (n == 0)
                continue;
            ++f.occupiedCages;
            ++f.occupied[label[c]];
            f.multiplyOccupied += n > 1 ? 1 : 0;
        }
    }

    std::vector<Vec3> oxygens;
    oxygens.reserve(frame.water.size());
    for (const Water& w : frame.water)
        oxygens.push_back(frame.atmXYZ[w.oxygen]);
    f.chill = chillPlus(oxygens, frame.box);
    if (options.guests) {
        std::vector<Vec3> centres;
        centres.reserve(position.size());
        for (const DVec3& p : position)
            centres.push_back({static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
        const Mcg m = mcgOf(centres, oxygens, frame.box);
        f.mcg1 = m.mcg1;
        f.mcg3 = m.mcg3;
    }

    const CageClusters clusters = clustersOf(cageList, closed);
    f.clusters = static_cast<int64_t>(clusters.size.size());
    f.largestCluster = clusters.largest;

    F4 f4 = a.pairsCutoff == f4Cutoff ? f4Of(frame, a.pairs) : f4Of(frame);
    f.f4 = f4.value;
    f.f4Pairs = f4.pairs;
    f.f4PerWater = std::move(f4.perWater);
    // The cell matrix is lower triangular (core/box.h): its determinant is its diagonal's product.
    const Box& b = frame.box;
    f.volume = b.x > 0.0f && b.y > 0.0f && b.z > 0.0f
                   ? static_cast<double>(b.x) * static_cast<double>(b.y) * static_cast<double>(b.z)
                   : std::numeric_limits<double>::quiet_NaN();

    const bool full = options.cageRecords;
    if (!full && options.cageMembers == CensusOptions::Members::None)
        return f;
    const bool closedOnly = !full && options.cageMembers == CensusOptions::Members::Closed;
    f.cages.reserve(closedOnly ? static_cast<std::size_t>(f.closed) : numCage);
    for (std::size_t c = 0; c < numCage; ++c) {
        if (!counted[c] || (closedOnly && !closed[c]))
            continue;
        CageRecord& r = f.cages.emplace_back();
        const std::vector<int32_t>& cage = cageList[c];
        r.id = static_cast<int32_t>(c) + 1;
        r.type = label[c];
        r.closed = closed[c] != 0;
        if (full || r.closed) { // closed cages: centre for the view file
            r.centre = cageCentre(cage, a.geo, frame.box);
            r.faces = static_cast<int32_t>(cage.size());
        }
        for (int32_t ring : cage) {
            if (full)
                r.rings.push_back(ring + 1);
            for (int32_t atom : a.rings.ringList[ring])
                r.waters.push_back(atom + 1);
        }
        std::sort(r.waters.begin(), r.waters.end());
        r.waters.erase(std::unique(r.waters.begin(), r.waters.end()), r.waters.end());
        if (options.guests && c < occ.guestsOf.size())
            for (int32_t g : occ.guestsOf[c])
                r.guests.push_back(options.guests->firstAtom[g] + 1);
        if (full || r.closed)
            r.cluster = clusters.clusterOf[c];
    }
    return f;
}

} // namespace kavet
