#include "cage/analysis.h"

#include <algorithm>
#include <cstdio>

#include "cage/split_faces.h"
#include "core/error.h"

namespace kavet {
namespace {

class Phases {
public:
    Phases(Observer* observer, const Analysis& analysis) : observer_(observer), analysis_(analysis) {}
    void start(Phase p) const
    {
        if (observer_)
            observer_->started(p, analysis_);
    }
    void finish(Phase p) const
    {
        if (observer_)
            observer_->finished(p, analysis_);
    }

private:
    Observer* observer_;
    const Analysis& analysis_;
};

} // namespace

std::string denseNetworkFault(int64_t waters, int64_t bondEnds)
{
    if (waters <= 0)
        return "";
    const double degree = static_cast<double>(bondEnds) / static_cast<double>(waters);
    if (!(degree > kMaxMeanDegree))
        return "";
    char text[320];
    std::snprintf(text, sizeof text,
                  "the hydrogen-bond network has a mean degree of %.1f, far above water's 4, and no ring search "
                  "is run on one above %.0f: check the hydrogen-bond criteria (-hb DISTANCE ANGLE, the distance "
                  "in angstrom, such as -hb 3.5 30)",
                  degree, kMaxMeanDegree);
    return text;
}

Analysis analyse(const Frame& frame, const Criteria& c, Observer* observer)
{
    Analysis a;
    const Phases phases(observer, a);

    phases.start(Phase::Bonds);
    initNetwork(frame, a.net);
    if (frame.topology().atomCount > 0) {
        a.pairsCutoff = c.hbDistance;
        a.pairsReach = std::max(c.hbDistance, c.pairsReach);
        a.pairs = buildNeighbourList(frame.positions, waterOxygens(frame), frame.box, a.pairsReach);
        findBonds(frame, a.pairs, c.hbAngle, a.net, c.distanceOnly, c.hbDistance);
    }
    phases.finish(Phase::Bonds);
    phases.start(Phase::Pruning);
    pruneEdges(a.net);
    phases.finish(Phase::Pruning);
    if (const std::string fault =
            denseNetworkFault(frame.topology().waterCount, static_cast<int64_t>(a.net.edgeList.size()));
        !fault.empty())
        throw InputError(fault);

    phases.start(Phase::Rings);
    findAllRings(a.net, c.ringMin, c.ringMax, a.rings, c.walk);
    phases.finish(Phase::Rings);
    phases.start(Phase::PlaneFit);
    fitRings(frame, c.ringDeviation, a.rings, a.geo, !c.sealed);
    phases.finish(Phase::PlaneFit);
    const int32_t numRing = static_cast<int32_t>(a.rings.ringList.size());
    if (numRing <= 0)
        return a;

    phases.start(Phase::Neighbours);
    findRingNeighbours(a.rings, a.geo, a.net, frame.box, c.ringMax, c.hbDistance, a.nb);
    phases.finish(Phase::Neighbours);

    phases.start(Phase::Occlusion);
    const OcclusionContext ctx = makeOcclusionContext(a.rings, a.geo, a.nb, frame, c.cageDistance, c.cageAngle,
                                                         c.sealed);
    assembleCages(ctx, numRing, a.cages, observer ? observer->seedTrace() : nullptr, nullptr, c.shareSides);
    // One-site water in the series: cages across pentagons split by a close
    // contact (cage/split_faces.h), appended after the entries of the sides.
    if (c.distanceOnly && c.sealed)
        addCagesAcrossSplitPentagons(frame, a.rings, a.net, findSplitPentagons(a.rings, a.net), c.ringDeviation,
                                     c.ringMax, c.hbDistance, c.cageDistance, c.cageAngle, c.sealed, a.cages);
    phases.finish(Phase::Occlusion);

    phases.start(Phase::Deduplication);
    deduplicateCages(a.cages);
    phases.finish(Phase::Deduplication);
    phases.start(Phase::Classification);
    classifyCages(a.cages, a.rings, a.geo.numNode, a.net, c.ringMin, c.ringMax, a.classes);
    phases.finish(Phase::Classification);
    return a;
}

} // namespace kavet
