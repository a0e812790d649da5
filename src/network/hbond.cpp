#include "network/hbond.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "core/offsets.h"
#include "core/neighbours.h"

namespace kavet {
namespace {

// The O-H vectors of the water whose oxygen is atom i.
struct Donor {
    bool known = false;
    Vec3 u1, u2;
    float len1 = 0, len2 = 0;
};

Donor donorOf(const Frame& atoms, const Water& w)
{
    Donor d;
    if (!w.hasHydrogens())
        return d;
    const Vec3 o = atoms.positions[w.oxygen];
    d.known = true;
    d.u1 = minimumImage(atoms.positions[w.hydrogen[0]], o, atoms.box);
    d.u2 = minimumImage(atoms.positions[w.hydrogen[1]], o, atoms.box);
    d.len1 = norm(d.u1);
    d.len2 = norm(d.u2);
    return d;
}

// Whether a water donates along `toAcceptor` (from its oxygen to the other
// oxygen): an O-H bond makes an angle strictly below the limit with it.
bool donates(const Donor& d, Vec3 toAcceptor, float t)
{
    if (!d.known)
        return false;
    return dot(d.u1, toAcceptor) > d.len1 * t || dot(d.u2, toAcceptor) > d.len2 * t;
}

} // namespace

void initNetwork(const Frame& atoms, Network& net)
{
    net.degree.assign(atoms.topology().atomCount, 0);
    net.adj.start.assign(static_cast<std::size_t>(atoms.topology().atomCount) + 1, 0);
    net.adj.item.clear();
}

void findBonds(const Frame& atoms, float hbDistance, float hbAngle, Network& net)
{
    findBonds(atoms, buildNeighbourList(atoms.positions, waterOxygens(atoms), atoms.box, hbDistance), hbAngle, net);
}

void findBonds(const Frame& atoms, const NeighbourList& pairs, float hbAngle, Network& net, bool distanceOnly,
               float hbDistance)
{
    const int32_t atomCount = atoms.topology().atomCount;
    const float c = static_cast<float>(std::cos(static_cast<double>(hbAngle) * std::numbers::pi / 180.0));

    const std::vector<int32_t> oxygens = waterOxygens(atoms);
    // No pair closer than the limit (none when the limit is not positive): no bond.
    if (pairs.other.item.empty() || oxygens.empty()) {
        initNetwork(atoms, net);
        return;
    }

    std::vector<Donor> donor(oxygens.size());
    std::vector<int32_t> slot(atomCount, -1); // atom -> position in `oxygens`
    for (std::size_t k = 0; k < oxygens.size(); ++k)
        slot[oxygens[k]] = static_cast<int32_t>(k);
    if (!distanceOnly)
        tbb::parallel_for(std::size_t(0), oxygens.size(),
                          [&](std::size_t k) { donor[k] = donorOf(atoms, atoms.topology().water[k]); });

    // The bonds of runs of oxygens are found in parallel and joined in
    // oxygen order.
    constexpr std::size_t run = 1024;
    std::vector<std::vector<int32_t>> found((oxygens.size() + run - 1) / run);
    tbb::parallel_for(std::size_t(0), found.size(), [&](std::size_t part) {
        std::vector<int32_t> partners;
        for (std::size_t k = part * run; k < std::min(oxygens.size(), (part + 1) * run); ++k) {
            const int32_t i = oxygens[k];
            const Vec3 o = atoms.positions[i];
            partners.clear();
            for (int64_t p = pairs.other.start[k]; p < pairs.other.start[k + 1]; ++p) {
                if (!(pairs.dist[p] < hbDistance))
                    continue;
                const int32_t j = pairs.other.item[p];
                const float t = c * pairs.dist[p];
                if (distanceOnly || donates(donor[k], pairs.vec[p], t) ||
                    donates(donor[slot[j]], minimumImage(o, atoms.positions[j], atoms.box), t))
                    partners.push_back(j);
            }
            std::sort(partners.begin(), partners.end());
            for (int32_t j : partners) {
                found[part].push_back(i);
                found[part].push_back(j);
            }
        }
    });
    std::vector<std::size_t> offset(found.size() + 1, 0);
    for (std::size_t part = 0; part < found.size(); ++part)
        offset[part + 1] = offset[part] + found[part].size();
    const std::size_t bondEnds = offset.back();
    const std::size_t before = net.edgeList.size();
    net.edgeList.resize(before + bondEnds);
    tbb::parallel_for(std::size_t(0), found.size(), [&](std::size_t part) {
        std::copy(found[part].begin(), found[part].end(),
                  net.edgeList.begin() + static_cast<std::ptrdiff_t>(before + offset[part]));
        std::vector<int32_t>().swap(found[part]);
    });

    // Degrees and sorted neighbour lists, both counted and filled in
    // parallel: the bonds are distinct, so each list sorted is the list in
    // the order the bonds come in (ordered by first index and then second).
    initNetwork(atoms, net);
    const std::vector<int32_t>& e = net.edgeList;
    constexpr std::size_t grain = 1 << 14;
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, e.size(), grain), [&](const tbb::blocked_range<std::size_t>& b) {
        for (std::size_t k = b.begin(); k < b.end(); ++k)
            std::atomic_ref<int32_t>(net.degree[static_cast<std::size_t>(e[k])]).fetch_add(1, std::memory_order_relaxed);
    });
    std::vector<int64_t>& start = net.adj.start;
    for (std::size_t a = 0; a < static_cast<std::size_t>(atomCount); ++a)
        start[a + 1] = start[a] + net.degree[a];
    net.adj.item.resize(static_cast<std::size_t>(start.back()));
    std::vector<int64_t> fill(start.begin(), start.end() - 1);
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, e.size() / 2, grain), [&](const tbb::blocked_range<std::size_t>& b) {
        for (std::size_t k = b.begin(); k < b.end(); ++k) {
            const int32_t u = e[2 * k], v = e[2 * k + 1];
            net.adj.item[static_cast<std::size_t>(
                std::atomic_ref<int64_t>(fill[static_cast<std::size_t>(u)]).fetch_add(1, std::memory_order_relaxed))] = v;
            net.adj.item[static_cast<std::size_t>(
                std::atomic_ref<int64_t>(fill[static_cast<std::size_t>(v)]).fetch_add(1, std::memory_order_relaxed))] = u;
        }
    });
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, static_cast<std::size_t>(atomCount), grain),
                      [&](const tbb::blocked_range<std::size_t>& b) {
                          for (std::size_t a = b.begin(); a < b.end(); ++a)
                              std::sort(net.adj.item.begin() + start[a], net.adj.item.begin() + start[a + 1]);
                      });
}

void pruneEdges(Network& net)
{
    std::vector<int32_t>& e = net.edgeList;
    for (std::size_t k = 0; k + 1 < e.size(); k += 2) {
        if (!(net.degree[e[k]] > 1 && net.degree[e[k + 1]] > 1)) {
            e[k] = -1;
            e[k + 1] = -1;
        }
    }
    e.erase(std::remove(e.begin(), e.end(), -1), e.end());
}

} // namespace kavet
