#include "network/ring_search.h"

#include <algorithm>
#include <iterator>
#include <tuple>
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
// position, as the node at the bond's other end and as the bond's position;
// the last bond of the list never extends a path. bond[p] is the position
// of the bond of entry p of `other`.
struct BondIndex {
    OffsetArray other;
    std::vector<int32_t> bond;

    explicit BondIndex(const Network& net)
    {
        const std::vector<int32_t>& e = net.edgeList;
        const std::size_t numBonds = e.size() / 2;
        const std::size_t usable = numBonds > 0 ? numBonds - 1 : 0;
        // One counting pass and one filling pass for both tables: an entry
        // and its bond share their place.
        auto entries = [&e, usable](auto emit) {
            for (std::size_t k = 0; k < usable; ++k) {
                emit(e[2 * k], e[2 * k + 1], static_cast<int32_t>(k));
                emit(e[2 * k + 1], e[2 * k], static_cast<int32_t>(k));
            }
        };
        const std::size_t rows = net.degree.size();
        other.start.assign(rows + 1, 0);
        entries([&](int32_t row, int32_t, int32_t) { ++other.start[static_cast<std::size_t>(row) + 1]; });
        for (std::size_t r = 0; r < rows; ++r)
            other.start[r + 1] += other.start[r];
        other.item.resize(static_cast<std::size_t>(other.start[rows]));
        bond.resize(other.item.size());
        std::vector<int64_t> fill(other.start.begin(), other.start.end() - 1);
        entries([&](int32_t row, int32_t node, int32_t k) {
            const int64_t p = fill[static_cast<std::size_t>(row)]++;
            other.item[static_cast<std::size_t>(p)] = node;
            bond[static_cast<std::size_t>(p)] = k;
        });
    }

    // The position in other.item of the bond from u to v, or -1.
    int32_t entry(int32_t u, int32_t v) const
    {
        for (int64_t p = other.start[u]; p < other.start[u + 1]; ++p)
            if (other.item[p] == v)
                return static_cast<int32_t>(p);
        return -1;
    }
};

// What the searches from a run of start bonds found: their rings in order of
// discovery (each once) and their calls of findNewCycle; searched once, also
// each ring's start bond.
struct Found {
    std::vector<std::vector<int32_t>> rings;
    std::vector<int32_t> startBond;
    int64_t iter = 0;
};

// The open path of a search, held in room taken once (`room` nodes: the
// largest ring size, or the network's nodes when fewer, since a path visits
// each node once), so that growing it never allocates nor checks for room.
class Path {
public:
    explicit Path(std::size_t room) : node_(room) {}
    void start(int32_t a, int32_t b)
    {
        node_[0] = a;
        node_[1] = b;
        size_ = 2;
    }
    void push_back(int32_t v) { node_[size_++] = v; }
    void pop_back() { --size_; }
    int32_t back() const { return node_[size_ - 1]; }
    int32_t operator[](std::size_t k) const { return node_[k]; }
    std::size_t size() const { return size_; }
    const int32_t* begin() const { return node_.data(); }
    const int32_t* end() const { return node_.data() + size_; }

private:
    std::vector<int32_t> node_;
    std::size_t size_ = 0;
};

// The depth-first search over open paths from one start bond at a time. A
// path is extended only through the indexed bonds that touch its last node,
// taken in list order.
class Walker {
public:
    Walker(const Network& net, const BondIndex& index, int32_t maximum)
        : net_(net), index_(index), maximum_(maximum), path_(std::min<std::size_t>(static_cast<std::size_t>(std::max(maximum, 2)), net.degree.size() + 2) + 1),
          inPath_(net.degree.size(), 0),
          nearInterior_(net.degree.size(), 0), nearFirst_(net.degree.size(), -1),
          nearSecond_(net.degree.size(), -1)
    {
    }

    // The searches from the start bonds at edgeList positions [first, last)
    // (counted in bonds). Searched once, a path from start bond s takes only
    // bonds after s, and closes only through a bond after s.
    template <bool Once>
    void walk(std::size_t first, std::size_t last, Found& found)
    {
        const std::vector<int32_t>& e = net_.edgeList;
        RingSet set(found.rings);
        set_ = &set;
        found_ = &found;
        for (std::size_t bond = first; bond < last; ++bond) {
            const std::size_t k = 2 * bond;
            const int32_t a = e[k];
            for (int32_t b : net_.adj[a])
                nearFirst_[b] = static_cast<int64_t>(k);
            start_ = static_cast<int64_t>(k);
            startBond_ = static_cast<int32_t>(bond);
            if constexpr (Once) {
                // Bonded to the first node through an earlier bond (or this
                // one): such a ring was searched for from that bond.
                for (int64_t p = index_.other.start[a]; p < index_.other.start[a + 1]; ++p)
                    if (index_.bond[p] <= startBond_)
                        nearFirst_[index_.other.item[p]] = start_ + 1;
                // Two bonds or fewer from the first node.
                for (int32_t b : net_.adj[a])
                    for (int32_t c : net_.adj[b])
                        nearSecond_[c] = start_;
            }
            path_.start(e[k], e[k + 1]);
            inPath_[e[k]] = inPath_[e[k + 1]] = 1;
            findNewCycle<Once>();
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
        for (int32_t b : net_.adj[interior])
            ++nearInterior_[b];
        path_.push_back(node);
        inPath_[node] = 1;
    }

    void pop()
    {
        inPath_[path_.back()] = 0;
        path_.pop_back();
        const int32_t interior = path_.back();
        for (int32_t b : net_.adj[interior])
            --nearInterior_[b];
    }

    template <bool Once>
    void findNewCycle()
    {
        if constexpr (!Once)
            ++found_->iter;
        const std::size_t n = path_.size();
        if (!(static_cast<int64_t>(n) < maximum_))
            return;
        const int32_t last = path_[n - 1];
        const int32_t before = path_[n - 2];
        for (int64_t p = index_.other.start[last]; p < index_.other.start[last + 1]; ++p) {
            if constexpr (Once)
                if (index_.bond[p] <= startBond_)
                    continue;
            const int32_t candidate = index_.other.item[p];
            if (candidate == before)
                continue;
            // Already on the path, or a chord to an interior node.
            if (inPath_[candidate] || nearInterior_[candidate] > 0)
                continue;
            if (nearFirst_[candidate] != start_) {
                // Searched once, a path is extended only when it can still
                // close: its last node must then be bonded to a node bonded
                // to the first.
                if (Once && (nearFirst_[candidate] == start_ + 1 || n + 1 >= static_cast<std::size_t>(maximum_) ||
                             (n + 2 == static_cast<std::size_t>(maximum_) && nearSecond_[candidate] != start_)))
                    continue;
                if (!Once && n + 1 >= static_cast<std::size_t>(maximum_)) {
                    ++found_->iter; // the longer path is counted, and can go no further
                    continue;
                }
                push(candidate);
                findNewCycle<Once>();
                pop();
                continue;
            }
            newCycle_.resize(n + 1);
            std::copy(path_.begin(), path_.end(), newCycle_.begin());
            newCycle_[n] = candidate;
            canonicalRing(newCycle_);
            if constexpr (Once) {
                found_->rings.push_back(newCycle_);
                found_->startBond.push_back(startBond_);
            } else {
                set_->add(newCycle_);
            }
        }
    }

    const Network& net_;
    const BondIndex& index_;
    int32_t maximum_;
    Path path_;
    std::vector<int32_t> newCycle_;
    std::vector<uint8_t> inPath_;
    std::vector<int32_t> nearInterior_;
    std::vector<int64_t> nearFirst_; // the start bond whose first node the atom is bonded to
    std::vector<int64_t> nearSecond_; // the start bond whose first node is two bonds or fewer away
    int64_t start_ = -1;
    int32_t startBond_ = -1;
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

namespace {

// Searched once, a ring is found from its earliest bond. A ring through the
// last bond of the list may instead be found first, by the search from every
// bond, from a later bond: from its earliest bond the last one would have to
// extend a path. Such rings are found by a search from the last bond and put
// in their place: after the rings of earlier start bonds, and among those of
// their own start bond in the order of the bond positions their path takes.
class LastBondRings {
public:
    LastBondRings(const Network& net, const BondIndex& index) : net_(net), index_(index) {}

    // Puts the rings missed into `rings` (and their start bonds into
    // `startBond`) in their places; `rings` holds those found once, in order.
    void insert(Walker& walker, std::vector<std::vector<int32_t>>& rings, std::vector<int32_t>& startBond) const
    {
        const std::vector<int32_t>& e = net_.edgeList;
        const int32_t last = static_cast<int32_t>(e.size() / 2) - 1;
        if (last < 0)
            return;
        Found through;
        walker.walk<false>(static_cast<std::size_t>(last), static_cast<std::size_t>(last) + 1, through);
        struct Missed {
            std::size_t at; // the position in `rings` it goes before
            int32_t start;
            std::vector<int32_t> steps;
            std::vector<int32_t>* ring;
        };
        std::vector<Missed> missed;
        for (std::vector<int32_t>& ring : through.rings) {
            const int32_t start = firstStart(ring, last);
            if (start == earliest(ring, last))
                continue; // found once from it
            Missed m{0, start, steps(ring, start), &ring};
            auto group = std::equal_range(startBond.begin(), startBond.end(), start);
            m.at = static_cast<std::size_t>(group.first - startBond.begin());
            while (m.at < static_cast<std::size_t>(group.second - startBond.begin()) &&
                   steps(rings[m.at], start) < m.steps)
                ++m.at;
            missed.push_back(std::move(m));
        }
        if (missed.empty())
            return;
        std::sort(missed.begin(), missed.end(), [](const Missed& x, const Missed& y) {
            return std::tie(x.at, x.start, x.steps) < std::tie(y.at, y.start, y.steps);
        });
        std::vector<std::vector<int32_t>> merged;
        std::vector<int32_t> mergedStart;
        merged.reserve(rings.size() + missed.size());
        mergedStart.reserve(rings.size() + missed.size());
        std::size_t next = 0;
        for (Missed& m : missed) {
            for (; next < m.at; ++next) {
                merged.push_back(std::move(rings[next]));
                mergedStart.push_back(startBond[next]);
            }
            merged.push_back(std::move(*m.ring));
            mergedStart.push_back(m.start);
        }
        for (; next < rings.size(); ++next) {
            merged.push_back(std::move(rings[next]));
            mergedStart.push_back(startBond[next]);
        }
        rings = std::move(merged);
        startBond = std::move(mergedStart);
    }

private:
    // The position of the bond between u and v; `last` is not indexed.
    int32_t bondOf(int32_t u, int32_t v, int32_t last) const
    {
        const int32_t p = index_.entry(u, v);
        if (p >= 0)
            return index_.bond[p];
        const int32_t a = net_.edgeList[2 * last], b = net_.edgeList[2 * last + 1];
        return (u == a && v == b) || (u == b && v == a) ? last : -1;
    }

    int32_t earliest(const std::vector<int32_t>& ring, int32_t last) const
    {
        int32_t least = last;
        for (std::size_t i = 0; i < ring.size(); ++i)
            least = std::min(least, bondOf(ring[i], ring[(i + 1) % ring.size()], last));
        return least;
    }

    // The ring's nodes from the first node of start bond s through its second.
    std::vector<int32_t> walkFrom(const std::vector<int32_t>& ring, int32_t s) const
    {
        const int32_t a = net_.edgeList[2 * s], b = net_.edgeList[2 * s + 1];
        const std::size_t n = ring.size();
        const std::size_t i = static_cast<std::size_t>(std::find(ring.begin(), ring.end(), a) - ring.begin());
        const bool forward = ring[(i + 1) % n] == b;
        std::vector<int32_t> nodes(n);
        for (std::size_t k = 0; k < n; ++k)
            nodes[k] = ring[forward ? (i + k) % n : (i + n - k) % n];
        return nodes;
    }

    // The earliest bond from which the search from every bond finds the
    // ring: the last bond is the start bond or the closing one.
    int32_t firstStart(const std::vector<int32_t>& ring, int32_t last) const
    {
        int32_t first = last;
        for (std::size_t i = 0; i < ring.size(); ++i) {
            const int32_t s = bondOf(ring[i], ring[(i + 1) % ring.size()], last);
            if (s >= first)
                continue;
            const std::vector<int32_t> nodes = walkFrom(ring, s);
            if (bondOf(nodes.back(), nodes.front(), last) == last)
                first = s;
        }
        return first;
    }

    // The positions in the bond index of the path's steps from start bond s;
    // the search from s meets rings in their ascending order.
    std::vector<int32_t> steps(const std::vector<int32_t>& ring, int32_t s) const
    {
        const std::vector<int32_t> nodes = walkFrom(ring, s);
        std::vector<int32_t> out;
        for (std::size_t k = 1; k + 1 < nodes.size(); ++k)
            out.push_back(index_.entry(nodes[k], nodes[k + 1]));
        return out;
    }

    const Network& net_;
    const BondIndex& index_;
};

} // namespace

namespace {

// Frees the rings of `rings` in parallel, runs of them at a time: a
// million small rings take a while to give back one by one.
void releaseRings(std::vector<std::vector<int32_t>>& rings)
{
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, rings.size(), 4096),
                      [&](const tbb::blocked_range<std::size_t>& b) {
                          for (std::size_t r = b.begin(); r < b.end(); ++r)
                              std::vector<int32_t>().swap(rings[r]);
                      });
    std::vector<std::vector<int32_t>>().swap(rings);
}

// Appends to `list` the rings of the runs in order, each only when no ring
// before it (in `list` or in an earlier place of the runs) has the same
// nodes in the same order. Equal rings share their smallest node: the
// rings are grouped by it, and each group, in parallel, keeps its first of
// each; the kept rings are then moved over in order.
void keepFirstOfEach(std::vector<std::vector<int32_t>>& list, std::vector<Found>& runs)
{
    // Every ring by number: those of `list` first, then the runs' in order.
    std::vector<std::vector<int32_t>*> ring;
    for (std::vector<int32_t>& r : list)
        ring.push_back(&r);
    const std::size_t old = ring.size();
    for (Found& f : runs)
        for (std::vector<int32_t>& r : f.rings)
            ring.push_back(&r);
    const std::size_t total = ring.size();
    OffsetArray groups;
    groupBySmallest(total, [&](std::size_t k) -> const std::vector<int32_t>& { return *ring[k]; }, groups.start,
                    groups.item);
    std::vector<uint8_t> keep(total, 1);
    tbb::parallel_for(std::size_t(0), groups.rows(), [&](std::size_t g) {
        std::vector<int32_t> kept; // the group's rings kept so far
        for (int32_t k : groups[g]) {
            bool seen = false;
            for (int32_t j : kept)
                if (*ring[static_cast<std::size_t>(j)] == *ring[static_cast<std::size_t>(k)]) {
                    seen = true;
                    break;
                }
            // The rings already in the list stay, repeated or not.
            if (seen && static_cast<std::size_t>(k) >= old)
                keep[static_cast<std::size_t>(k)] = 0;
            else if (!seen)
                kept.push_back(k);
        }
    });
    groups = OffsetArray();
    std::size_t count = old;
    for (std::size_t k = old; k < total; ++k)
        count += keep[k];
    std::vector<std::vector<int32_t>> joined;
    joined.reserve(count);
    for (std::size_t k = 0; k < total; ++k)
        if (keep[k])
            joined.push_back(std::move(*ring[k]));
    list = std::move(joined);
    tbb::parallel_for(std::size_t(0), runs.size(), [&](std::size_t f) { runs[f] = Found(); });
}

} // namespace

void findAllRings(const Network& net, int32_t minimum, int32_t maximum, RingSearch& rings, RingWalk walk)
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
    const bool once = walk == RingWalk::Once;
    tbb::parallel_for(std::size_t(0), found.size(), [&](std::size_t c) {
        const std::size_t first = c * run, last = std::min(numBonds, (c + 1) * run);
        if (once)
            walkers.local().walk<true>(first, last, found[c]);
        else
            walkers.local().walk<false>(first, last, found[c]);
    });
    std::size_t total = rings.ringList.size();
    for (const Found& f : found)
        total += f.rings.size();
    if (once) {
        // Each ring was found once: the runs' rings in run order.
        std::vector<std::vector<int32_t>> list;
        std::vector<int32_t> startBond;
        list.reserve(total);
        startBond.reserve(total);
        for (Found& f : found) {
            std::move(f.rings.begin(), f.rings.end(), std::back_inserter(list));
            startBond.insert(startBond.end(), f.startBond.begin(), f.startBond.end());
            f = Found();
        }
        LastBondRings(net, index).insert(walkers.local(), list, startBond);
        if (rings.ringList.empty()) {
            rings.ringList.pack(list);
            releaseRings(list);
            return;
        }
        // Rings already there stay first, each once: merged as one run.
        found.assign(1, Found());
        found[0].rings = std::move(list);
    }
    for (const Found& f : found)
        rings.iter += f.iter;
    std::vector<std::vector<int32_t>> list = rings.ringList.toVectors();
    keepFirstOfEach(list, found);
    rings.ringList.pack(list);
    releaseRings(list);
}

} // namespace kavet
