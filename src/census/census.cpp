#include "census/census.h"

#include <functional>
#include <limits>

#include <algorithm>

#include "cage/cavity.h"
#include "cage/clusters.h"
#include <cstdio>
#include <numeric>
#include "cage/cups.h"
#include "cage/polyhedron.h"
#include "cage/split_faces.h"
#include "order/f4.h"
#include "order/mcg.h"
#include "order/pairs.h"
#include <tbb/parallel_invoke.h>
#include "core/cell_grid.h"

namespace kavet {

namespace {

// Whether a neighbour list over `items` built with the cut-off `wide` lists
// its pairs below `narrow` in the order of one built with `narrow`: it does
// when both bin the points into the same cells.
bool sameSearchOrder(const Frame& frame, const std::vector<int32_t>& items, float narrow, float wide)
{
    if (narrow == wide)
        return true;
    const CellGrid g = buildCellGrid(frame.positions, items, frame.box, narrow);
    const CellGrid h = buildCellGrid(frame.positions, items, frame.box, wide);
    for (int k = 0; k < 3; ++k)
        if (g.n[k] != h.n[k] || g.periodic[k] != h.periodic[k] || g.origin[k] != h.origin[k] ||
            g.width[k] != h.width[k] || g.length[k] != h.length[k])
            return false;
    return g.reach == h.reach && g.cells == h.cells && g.itemCell == h.itemCell;
}

// The atoms of a cage's faces, each once, ascending.
std::vector<int32_t> cageAtoms(std::span<const int32_t> cage, const RingSearch& rings)
{
    std::vector<int32_t> atoms;
    for (int32_t r : cage)
        atoms.insert(atoms.end(), rings.ringList[r].begin(), rings.ringList[r].end());
    std::sort(atoms.begin(), atoms.end());
    atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
    return atoms;
}

void clusterCensus(FrameCensus& f, const Frame& frame, const Analysis& a, const CageClusters& clusters,
                   const std::vector<uint8_t>& closed, const std::vector<std::string>& label, const Occupancy& occ)
{
    const OffsetArray& cageList = a.cages.cageList;
    const std::size_t numCage = cageList.size();
    std::vector<DVec3> centre(numCage);
    for (std::size_t c = 0; c < numCage; ++c)
        if (closed[c])
            centre[c] = cageCentre(cageList[c], a.geo, frame.box);
    const std::vector<ClusterShape> shapes = clusterShapes(cageList, clusters, centre, frame.box);
    f.clusterTable.assign(shapes.size(), {});
    std::vector<std::vector<int32_t>> waters(shapes.size()), guests(shapes.size());
    for (std::size_t c = 0; c < numCage; ++c) {
        const int32_t id = clusters.clusterOf[c];
        if (id == 0)
            continue;
        ClusterRecord& k = f.clusterTable[id - 1];
        ++k.cages;
        ++k.types[label[c]];
        const std::vector<int32_t> atoms = cageAtoms(cageList[c], a.rings);
        waters[id - 1].insert(waters[id - 1].end(), atoms.begin(), atoms.end());
        if (c < occ.guestsOf.size() && !occ.guestsOf[c].empty()) {
            ++k.occupied;
            guests[id - 1].insert(guests[id - 1].end(), occ.guestsOf[c].begin(), occ.guestsOf[c].end());
        }
    }
    auto distinct = [](std::vector<int32_t>& v) {
        std::sort(v.begin(), v.end());
        return static_cast<int64_t>(std::unique(v.begin(), v.end()) - v.begin());
    };
    int64_t largest = -1;
    for (std::size_t k = 0; k < shapes.size(); ++k) {
        ClusterRecord& r = f.clusterTable[k];
        r.waters = distinct(waters[k]);
        r.guests = distinct(guests[k]);
        r.centre = shapes[k].centre;
        r.rg = shapes[k].rg;
        r.spans = shapes[k].spans;
        if (r.cages > largest) {
            largest = r.cages;
            f.largestClusterWaters = r.waters;
            f.largestClusterGuests = r.guests;
            f.largestClusterSpans = r.spans;
        }
    }
}

int32_t rootOf(std::vector<int32_t>& parent, int32_t x)
{
    while (parent[x] != x)
        x = parent[x] = parent[parent[x]];
    return x;
}

void hydrateWaters(FrameCensus& f, const Frame& frame, const Analysis& a, const std::vector<uint8_t>& closed,
                   const std::vector<Cup>& cups)
{
    const std::size_t atomCount = static_cast<std::size_t>(frame.topology().atomCount);
    std::vector<uint8_t> cagesOf(atomCount, 0), cup(atomCount, 0);
    for (std::size_t c = 0; c < closed.size(); ++c)
        if (closed[c])
            for (int32_t atom : cageAtoms(a.cages.cageList[c], a.rings))
                cagesOf[atom] = static_cast<uint8_t>(std::min<int>(cagesOf[atom] + 1, 255));
    for (const Cup& k : cups) {
        for (int32_t atom : a.rings.ringList[k.base])
            cup[atom] = 1;
        for (int32_t side : k.sides)
            if (side >= 0)
                for (int32_t atom : a.rings.ringList[side])
                    cup[atom] = 1;
    }
    // Hydrate-like waters joined through the bonds of the full network.
    std::vector<int32_t> parent(atomCount);
    std::iota(parent.begin(), parent.end(), 0);
    const bool bonds = a.net.adj.rows() == atomCount;
    f.closedCagesOfWater.reserve(frame.topology().water.size());
    f.inCup.reserve(frame.topology().water.size());
    for (const Water& w : frame.topology().water) {
        const int32_t o = w.oxygen;
        f.closedCagesOfWater.push_back(cagesOf[o]);
        f.inCup.push_back(cup[o]);
        if (cagesOf[o] == 0)
            continue;
        ++f.hydrateWaters;
        if (bonds)
            for (int32_t b : a.net.adj[static_cast<std::size_t>(o)]) {
                if (cagesOf[b] > 0) {
                    const int32_t x = rootOf(parent, o), y = rootOf(parent, b);
                    if (x != y)
                        parent[std::max(x, y)] = std::min(x, y);
                }
            }
    }
    std::vector<int32_t> size(atomCount, 0);
    for (const Water& w : frame.topology().water)
        if (cagesOf[w.oxygen] > 0)
            f.largestHydrateWaters = std::max<int64_t>(f.largestHydrateWaters, ++size[rootOf(parent, w.oxygen)]);
}

// Rings whose members, stepped through at the minimum image, close only
// after a whole cell vector. Only a cell narrower than the longest ring the
// bonds can make lets one form.
int64_t wrappingRings(const Frame& frame, const Analysis& a)
{
    std::size_t longest = 0;
    for (const auto& ring : a.rings.ringList)
        longest = std::max(longest, ring.size());
    if (narrowestWidth(frame.box) >= static_cast<double>(longest) * static_cast<double>(a.pairsCutoff) &&
        a.pairsCutoff > 0.0f)
        return 0;
    int64_t n = 0;
    for (const auto& ring : a.rings.ringList) {
        DVec3 sum;
        for (std::size_t k = 0; k < ring.size(); ++k)
            sum = sum + minimumImageD(frame.positions[ring[k + 1 < ring.size() ? k + 1 : 0]], frame.positions[ring[k]],
                                      frame.box);
        const LatticeSteps w = latticeSteps(sum, frame.box);
        n += w.a != 0.0 || w.b != 0.0 || w.c != 0.0 ? 1 : 0;
    }
    return n;
}

} // namespace

std::vector<int32_t> clusterIds(const std::vector<CageRecord>& cages, const std::vector<int32_t>& ids,
                                std::size_t clusters)
{
    std::vector<int32_t> id(clusters, 0);
    for (std::size_t k = 0; k < cages.size() && k < ids.size(); ++k) {
        const int32_t c = cages[k].cluster;
        if (!cages[k].closed || c <= 0 || static_cast<std::size_t>(c) > clusters)
            continue;
        int32_t& m = id[static_cast<std::size_t>(c) - 1];
        m = m == 0 ? ids[k] : std::min(m, ids[k]);
    }
    return id;
}

std::string wrappingRingWarning(int64_t frameNumber, int64_t rings, const Box& box)
{
    if (rings == 0)
        return "";
    char text[400];
    std::snprintf(text, sizeof text,
                  "frame %lld: %lld %s the periodic cell (%.2f A across at its narrowest), closing only around "
                  "it: a finite-size artefact of a cell narrower than a ring, counted as rings and cage faces; "
                  "later frames are not reported",
                  static_cast<long long>(frameNumber), static_cast<long long>(rings),
                  rings == 1 ? "ring wraps" : "rings wrap", narrowestWidth(box));
    return text;
}

FrameCensus censusOf(const Frame& frame, const Analysis& a, const CensusOptions& options)
{
    FrameCensus f;
    f.waters = frame.topology().waterCount;
    f.hbonds = static_cast<int64_t>(a.net.adj.item.size() / 2);
    for (const auto& ring : a.rings.ringList) {
        if (f.rings.size() <= ring.size())
            f.rings.resize(ring.size() + 1, 0);
        ++f.rings[ring.size()];
    }

    const OffsetArray& cageList = a.cages.cageList;
    const std::size_t numCage = cageList.size();
    std::vector<uint8_t> closed(numCage, 0), counted(numCage, 0); // closed; closed or defective
    std::vector<std::string> label(numCage);
    std::vector<int32_t> oxygenAtoms; // the water oxygens, once a cage needs them
    for (std::size_t c = 0; c < numCage; ++c) {
        const CageShape shape = censusShape(cageList[c], a.rings, a.geo, frame);
        if (shape == CageShape::Open)
            continue;
        // Room inside (cage/cavity.h): a defective surface, and a closed one
        // with a 3-ring face, must hold a guest-sized empty sphere.
        bool threeRing = false;
        for (int32_t r : cageList[c])
            threeRing = threeRing || a.rings.ringList[r].size() == 3;
        if (shape == CageShape::Defective || threeRing) {
            if (oxygenAtoms.empty())
                oxygenAtoms = waterOxygens(frame);
            if (!(freeRadius(cageList[c], a.rings, a.geo, frame, oxygenAtoms) >= cageFreeRadiusMin)) {
                ++f.roomless;
                continue;
            }
        }
        closed[c] = shape == CageShape::Closed ? 1 : 0;
        counted[c] = 1;
        label[c] = closed[c] ? cageLabelJoiningSplitPentagons(cageList[c], a.rings) : cageLabel(cageList[c], a.rings);
        ++(closed[c] ? f.closed : f.defective);
        ++(closed[c] ? f.closedTypes : f.defectiveTypes)[label[c]];
    }

    std::vector<Vec3> oxygens;
    oxygens.reserve(frame.topology().water.size());
    for (const Water& w : frame.topology().water)
        oxygens.push_back(frame.positions[w.oxygen]);
    if (oxygenAtoms.empty())
        oxygenAtoms = waterOxygens(frame);
    const bool listed = a.pairs.other.rows() == oxygenAtoms.size();
    const int32_t numOxygen = static_cast<int32_t>(oxygens.size());

    // Three independent parts, run side by side: the cages' own tables
    // (cups, guests, clusters, hydrate waters), which alone write to f; the
    // order parameters of the O-O pairs; F4. Each part's results are those
    // of running it alone.
    Occupancy occ;
    CageClusters clusters;
    auto cagesPart = [&] {
        const std::vector<Cup> cupList = findCups(a.rings);
        const CupCounts cups = countCups(cupList, cageList, closed);
        f.cupsPentagon = cups.pentagonBase;
        f.cupsHexagon = cups.hexagonBase;
        f.freeCups = cups.free;

        if (options.guests) {
            f.withGuests = true;
            const std::vector<DVec3> position = guestPositions(frame, *options.guests);
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
            std::vector<Vec3> centres;
            centres.reserve(position.size());
            for (const DVec3& p : position)
                centres.push_back({static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
            const Mcg m = mcgOf(centres, oxygens, frame.box);
            f.mcg1 = m.mcg1;
            f.mcg3 = m.mcg3;
            f.mcg1Waters = m.mcg1Waters;
            f.mcg3Waters = m.mcg3Waters;
        }

        clusters = clustersOf(cageList, closed);
        f.clusters = static_cast<int64_t>(clusters.size.size());
        f.largestCluster = clusters.largest;
        clusterCensus(f, frame, a, clusters, closed, label, occ);
        hydrateWaters(f, frame, a, closed, cupList);
        f.wrappingRings = wrappingRings(frame, a);
    };

    Chill chill;
    F3 f3;
    Tetrahedral qTet;
    Steinhardt qbar;
    auto pairsPart = [&] {
        // One list of the O-O pairs within 3.5 angstrom for CHILL+, F3, q and q̄_l.
        static_assert(kF3Cutoff == kChillCutoff && kSteinhardtCutoff == kChillCutoff);
        // The analysis' list, when built with the cut-off of this search over the
        // same oxygens in ascending order, holds its candidates in its order.
        const bool ascending = std::adjacent_find(oxygenAtoms.begin(), oxygenAtoms.end(), std::greater_equal<>()) ==
                               oxygenAtoms.end();
        const std::vector<NeighbourPair> oo =
            listed && ascending && a.pairsReach == pairSearchCutoff(kChillCutoff)
                ? neighbourPairs(frame.positions, oxygenAtoms, a.pairs, frame.box, kChillCutoff)
                : neighbourPairs(oxygens, frame.box, kChillCutoff);
        tbb::parallel_invoke([&] { chill = chillPlus(numOxygen, oo); }, [&] { f3 = f3Of(numOxygen, oo); },
                             [&] { qTet = tetrahedralOf(oxygens, frame.box, oo, kChillCutoff); },
                             [&] { qbar = averagedBondOrder(numOxygen, oo, options.qbarDegrees); });
    };

    F4 f4;
    auto f4Part = [&] {
        f4 = listed && a.pairsReach >= f4Cutoff && sameSearchOrder(frame, oxygenAtoms, f4Cutoff, a.pairsReach)
                 ? f4Of(frame, a.pairs)
                 : f4Of(frame);
    };
    tbb::parallel_invoke(cagesPart, pairsPart, f4Part);
    f.chill = std::move(chill);
    f.f3 = std::move(f3);
    f.qTet = std::move(qTet);
    f.qbar = std::move(qbar);
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
        const std::span<const int32_t> cage = cageList[c];
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
