// The whole analysis of one frame, from the hydrogen-bond network to the
// classified cages, as one call. It prints nothing: an observer, when given,
// is told as each phase starts and finishes and can read the tables built so
// far; the console report is one such observer.
#pragma once

#include <cstdint>
#include <string>

#include "cage/assembly.h"
#include "cage/dedup.h"
#include "core/frame.h"
#include "network/hbond.h"
#include "network/plane_fit.h"
#include "network/ring_neighbours.h"
#include "network/ring_search.h"
#include "order/chill.h"
#include "order/pairs.h"

namespace kavet {

// Every choice of an analysis: what makes a bond, a ring and a cage, and how
// they are searched for. Distances in angstrom, angles in degrees. A front end
// passes it whole; the defaults are the classic single-frame analysis.
struct Criteria {
    float hbDistance = 3.5f;      // O-O distance limit of a hydrogen bond
    float hbAngle = 30.0f;        // O-H...O angle limit
    int32_t ringMin = 4;          // smallest ring size counted in cage types
    int32_t ringMax = 7;          // largest ring size searched
    float ringDeviation = 100.0f; // largest member distance from a ring's plane
    float cageDistance = 1.0f;    // ray start point: distance from the ring centre
    float cageAngle = 85.0f;      // largest angle between a side normal and a ray
    bool sealed = false;          // the sealed line-of-sight test (see cage/occlusion.h)
    bool distanceOnly = false;    // bonds from the O-O distance alone, hydrogens unused (one-site water)
    // The water-oxygen pair list reaches at least this far (the bonds take
    // only its pairs below hbDistance), so that the order parameters of the
    // series can take their pairs from it.
    float pairsReach = 0.0f;
    // How the rings are searched for: the same rings either way, with the
    // search's call count (which the classic report prints) only from
    // RingWalk::EveryBond.
    RingWalk walk = RingWalk::EveryBond;
    // Sides whose cage lies within one already grown are not grown again
    // (see assembleCages): the same cages after deduplication, fewer
    // entries before it. The classic report counts every side all the same.
    bool shareSides = true;

    // The series preset: these distances, angles and ring sizes with the
    // sealed line of sight, since series counts are compared frame by frame and
    // no single frame should lose or gain a cage by rounding, and the
    // once-per-ring walk, which finds the same rings faster.
    Criteria series() const
    {
        Criteria c = *this;
        c.sealed = true;
        c.walk = RingWalk::Once;
        c.pairsReach = pairSearchCutoff(kChillCutoff);
        return c;
    }
};

// The default criteria as the series analyses a trajectory.
inline Criteria seriesCriteria() { return Criteria{}.series(); }

// Every table of the analysis. After pruning, net.edgeList holds only bonds
// whose ends have two bonds or more; the full network stays in net.degree and
// the neighbour lists. Rings are those flat enough; cages those left after
// deduplication.
struct Analysis {
    NeighbourList pairs; // water oxygens closer than pairsReach (the frame's water table order)
    float pairsCutoff = 0.0f; // the bond distance limit (Criteria::hbDistance)
    float pairsReach = 0.0f;  // the list's cut-off: the larger of that limit and Criteria::pairsReach
    Network net;
    RingSearch rings;
    RingGeometry geo;
    RingNeighbours nb;
    CageSearch cages;
    CageClasses classes;
};

enum class Phase {
    Bonds,          // bond search (net.edgeList holds every bond when it finishes)
    Pruning,        // dangling bonds dropped from net.edgeList
    Rings,          // ring search (rings.ringList holds every ring found)
    PlaneFit,       // plane fit; rings not flat enough dropped
    Neighbours,     // ring neighbours
    Occlusion,      // cages grown from every ring side, the line of sight decided for
                    // the rings they reach; cages hold one entry per side when it finishes
                    // (with Criteria::shareSides, one per side grown)
    Deduplication,  // duplicate and contained cages dropped
    Classification, // types and census
};

class Observer {
public:
    virtual ~Observer() = default;
    virtual void started(Phase, const Analysis&) {}
    virtual void finished(Phase, const Analysis&) {}
    // The trace of one seed ring's line-of-sight decisions, or none.
    virtual SeedTrace* seedTrace() { return nullptr; }
};

// The densest hydrogen-bond network the ring search is run on: the mean
// number of bonds per water after pruning (water's is about 4; a liquid near
// 4.5). A denser one comes from criteria given in other units (-hb 35 30
// for 3.5), and its ring search grows past any time and memory.
constexpr double kMaxMeanDegree = 12.0;

// Why a network of `bondEnds` bond ends (both ends of every bond) among
// `waters` waters is too dense to search for rings, or "" when it is not.
std::string denseNetworkFault(int64_t waters, int64_t bondEnds);

// Analyses one frame. With no ring left after the plane fit the analysis ends
// there: no neighbours, no cages. A network denser than kMaxMeanDegree is
// refused after the pruning (the observer has seen its phase finish) with
// InputError (denseNetworkFault).
Analysis analyse(const Frame& frame, const Criteria& criteria, Observer* observer = nullptr);

} // namespace kavet
