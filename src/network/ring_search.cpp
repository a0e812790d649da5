#include "network/ring_search.h"

#include <algorithm>
#include <unordered_set>

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include "core/hash.h"
#include "core/offsets.h"

namespace kavet {
namespace {

// Stored rings are looked up by number; the number -1 stands for the ring
// being looked up, so a new ring is appended only once it is known to be new.
struct RingKeys {
    const std::vector<std::vector<int32_t>>* rings;
    const std::vector<int32_t>* const* probe;
    const std::vector<int32_t>& nodes(int32_t r) const { return r < 0 ? **probe : (*rings)[r]; }
};

struct RingHash {
    RingKeys keys;
    std::size_t operator()(int32_t r) const { return hashNodes(keys.nodes(r)); }
    static std::size_t hashNodes(const std::vector<int32_t>& nodes) { return fnvHash(nodes.begin(), nodes.end()); }
};

struct RingEqual {
    RingKeys keys;
    bool operator()(int32_t a, int32_t b) const { return keys.nodes(a) == keys.nodes(b); }
};

// Rings in order of first discovery, each once.
class RingSet {
public:
    explicit RingSet(std::vector<std::vector<int32_t>>& list)
        : list_(list), known_(0, RingHash{{&list, &probe_}}, RingEqual{{&list, &probe_}})
    {
        for (std::size_t r = 0; r < list.size(); ++r)
            known_.insert(static_cast<int32_t>(r));
    }
    // Adds a copy of `ring` when it is new.
    void add(const std::vector<int32_t>& ring)
    {
        probe_ = &ring;
        if (known_.find(-1) != known_.end())
            return;
        list_.push_back(ring);
        known_.insert(static_cast<int32_t>(list_.size() - 1));
    }

    // Takes `ring` over when it is new.
    void take(std::vector<int32_t>&& ring)
    {
        probe_ = &ring;
        if (known_.find(-1) != known_.end())
            return;
        list_.push_back(std::move(ring));
        known_.insert(static_cast<int32_t>(list_.size() - 1));
    }

    void reserve(std::size_t count) { known_.reserve(count); }

private:
    std::vector<std::vector<int32_t>>& list_;
    const std::vector<int32_t>* probe_ = nullptr;
    std::unordered_set<int32_t, RingHash, RingEqual> known_;
};

// Each node's bonds of edgeList that may extend a path, by ascending
// position, as the node at the bond's other end; the last bond of the list
// never extends a path.
struct BondIndex {
    std::vector<int32_t> start, other;

    explicit BondIndex(const Network& net)
    {
        const std::vector<int32_t>& e = net.edgeList;
        const std::size_t numBonds = e.size() / 2;
        const std::size_t usable = numBonds > 0 ? numBonds - 1 : 0;
        buildOffsets(
            net.degree.size(),
            [&](auto emit) {
                for (std::size_t k = 0; k < usable; ++k) {
                    emit(e[2 * k], e[2 * k + 1]);
                    emit(e[2 * k + 1], e[2 * k]);
                }
            },
            start, other);
    }
};

// What the searches from a run of start bonds found: their rings in order of
// discovery (each once) and their calls of findNewCycle.
struct Found {
    std::vector<std::vector<int32_t>> rings;
    int64_t iter = 0;
};

// The depth-first search over open paths from one start bond at a time. A
// path is extended only through the indexed bonds that touch its last node,
// taken in list order.
class Walker {
public:
    Walker(const Network& net, const BondIndex& index, int32_t maximum)
        : net_(net), index_(index), maximum_(maximum), inPath_(net.degree.size(), 0),
          nearInterior_(net.degree.size(), 0), nearFirst_(net.degree.size(), -1)
    {
    }

    // The searches from the start bonds at edgeList positions [first, last)
    // (counted in bonds).
    void walk(std::size_t first, std::size_t last, Found& found)
    {
        const std::vector<int32_t>& e = net_.edgeList;
        RingSet set(found.rings);
        set_ = &set;
        found_ = &found;
        for (std::size_t bond = first; bond < last; ++bond) {
            const std::size_t k = 2 * bond;
            const int32_t a = e[k];
            for (int32_t q = net_.adjStart[a]; q < net_.adjStart[a + 1]; ++q)
                nearFirst_[net_.adjNode[q]] = static_cast<int64_t>(k);
            start_ = static_cast<int64_t>(k);
            path_.assign({e[k], e[k + 1]});
            inPath_[e[k]] = inPath_[e[k + 1]] = 1;
            findNewCycle();
            inPath_[e[k]] = inPath_[e[k + 1]] = 0;
        }
    }

private:
    // Path membership, the number of interior path nodes (all but the first
    // and the last) bonded to each atom, and the atoms bonded to the first
    // node are kept up to date as the path grows and shrinks, so each
    // candidate is judged in constant time.
    void push(int32_t node)
    {
        const int32_t interior = path_.back();
        for (int32_t q = net_.adjStart[interior]; q < net_.adjStart[interior + 1]; ++q)
            ++nearInterior_[net_.adjNode[q]];
        path_.push_back(node);
        inPath_[node] = 1;
    }

    void pop()
    {
        inPath_[path_.back()] = 0;
        path_.pop_back();
        const int32_t interior = path_.back();
        for (int32_t q = net_.adjStart[interior]; q < net_.adjStart[interior + 1]; ++q)
            --nearInterior_[net_.adjNode[q]];
    }

    void findNewCycle()
    {
        ++found_->iter;
        const std::size_t n = path_.size();
        if (!(static_cast<int64_t>(n) < maximum_))
            return;
        const int32_t last = path_[n - 1];
        const int32_t before = path_[n - 2];
        for (int32_t p = index_.start[last]; p < index_.start[last + 1]; ++p) {
            const int32_t candidate = index_.other[p];
            if (candidate == before)
                continue;
            // Already on the path, or a chord to an interior node.
            if (inPath_[candidate] || nearInterior_[candidate] > 0)
                continue;
            if (nearFirst_[candidate] != start_) {
                push(candidate);
                findNewCycle();
                pop();
                continue;
            }
            newCycle_.assign(path_.begin(), path_.end());
            newCycle_.push_back(candidate);
            canonicalRing(newCycle_);
            set_->add(newCycle_);
        }
    }

    const Network& net_;
    const BondIndex& index_;
    int32_t maximum_;
    std::vector<int32_t> path_, newCycle_;
    std::vector<uint8_t> inPath_;
    std::vector<int32_t> nearInterior_;
    std::vector<int64_t> nearFirst_; // the start bond whose first node the atom is bonded to
    int64_t start_ = -1;
    RingSet* set_ = nullptr;
    Found* found_ = nullptr;
};

} // namespace

void canonicalRing(std::vector<int32_t>& ring)
{
    if (ring.empty())
        return;
    std::rotate(ring.begin(), std::min_element(ring.begin(), ring.end()), ring.end());
    if (ring.size() > 2 && ring.back() < ring[1])
        std::reverse(ring.begin() + 1, ring.end());
}

void findAllRings(const Network& net, int32_t minimum, int32_t maximum, RingSearch& rings)
{
    (void)minimum; // applied only when cages are classified
    const BondIndex index(net);
    // Start bonds in runs searched in parallel, each on a walker of its
    // thread; the runs' rings are then merged in run order, so the rings and
    // their order are those of one search over every bond in list order.
    const std::size_t numBonds = net.edgeList.size() / 2;
    constexpr std::size_t run = 256;
    std::vector<Found> found((numBonds + run - 1) / run);
    tbb::enumerable_thread_specific<Walker> walkers([&] { return Walker(net, index, maximum); });
    tbb::parallel_for(std::size_t(0), found.size(), [&](std::size_t c) {
        walkers.local().walk(c * run, std::min(numBonds, (c + 1) * run), found[c]);
    });
    RingSet set(rings.ringList);
    std::size_t total = rings.ringList.size();
    for (const Found& f : found)
        total += f.rings.size();
    set.reserve(total);
    rings.ringList.reserve(total);
    for (Found& f : found) {
        rings.iter += f.iter;
        for (auto& ring : f.rings)
            set.take(std::move(ring));
        f = Found();
    }
}

} // namespace kavet
