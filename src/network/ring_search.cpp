#include "network/ring_search.h"

#include <algorithm>
#include <unordered_set>

namespace kavet {
namespace {

// Stored rings are looked up by number; the number -1 stands for the ring
// being looked up, so a new ring is appended only once it is known to be new.
struct RingKeys {
    const std::vector<std::vector<int32_t>>* rings;
    const std::vector<int32_t>* probe;
    const std::vector<int32_t>& nodes(int32_t r) const { return r < 0 ? *probe : (*rings)[r]; }
};

struct RingHash {
    RingKeys keys;
    std::size_t operator()(int32_t r) const { return hashNodes(keys.nodes(r)); }
    static std::size_t hashNodes(const std::vector<int32_t>& nodes)
    {
        std::size_t h = 1469598103934665603ull;
        for (int32_t v : nodes)
            h = (h ^ static_cast<uint32_t>(v)) * 1099511628211ull;
        return h;
    }
};

struct RingEqual {
    RingKeys keys;
    bool operator()(int32_t a, int32_t b) const { return keys.nodes(a) == keys.nodes(b); }
};

// The depth-first search over open paths. A path is extended only through the
// bonds of edgeList that touch its last node, taken in list order; the last
// bond of the list never extends a path. Instead of scanning the whole list,
// each node keeps the ascending positions of its bonds.
class Search {
public:
    Search(const Network& net, int32_t maximum, RingSearch& out)
        : net_(net), maximum_(maximum), out_(out),
          known_(0, RingHash{{&out.ringList, &newCycle_}}, RingEqual{{&out.ringList, &newCycle_}})
    {
        const std::vector<int32_t>& e = net.edgeList;
        const std::size_t numBonds = e.size() / 2;
        std::size_t numAtom = net.degree.size();
        bondStart_.assign(numAtom + 1, 0);
        // Every bond but the last one is used for extension.
        const std::size_t usable = numBonds > 0 ? numBonds - 1 : 0;
        for (std::size_t k = 0; k < usable; ++k) {
            ++bondStart_[e[2 * k] + 1];
            ++bondStart_[e[2 * k + 1] + 1];
        }
        for (std::size_t a = 0; a < numAtom; ++a)
            bondStart_[a + 1] += bondStart_[a];
        bondAt_.resize(bondStart_[numAtom]);
        std::vector<int32_t> fill(bondStart_.begin(), bondStart_.end() - 1);
        for (std::size_t k = 0; k < usable; ++k) {
            bondAt_[fill[e[2 * k]]++] = static_cast<int32_t>(k);
            bondAt_[fill[e[2 * k + 1]]++] = static_cast<int32_t>(k);
        }
        for (std::size_t r = 0; r < out.ringList.size(); ++r)
            known_.insert(static_cast<int32_t>(r));
    }

    void run()
    {
        const std::vector<int32_t>& e = net_.edgeList;
        for (std::size_t k = 0; k + 1 < e.size(); k += 2) {
            path_.assign({e[k], e[k + 1]});
            findNewCycle();
        }
    }

private:
    void findNewCycle()
    {
        ++out_.iter;
        const std::size_t n = path_.size();
        if (!(static_cast<int64_t>(n) < maximum_))
            return;
        const int32_t last = path_[n - 1];
        const int32_t before = path_[n - 2];
        const int32_t first = path_[0];
        const std::vector<int32_t>& e = net_.edgeList;
        for (int32_t p = bondStart_[last]; p < bondStart_[last + 1]; ++p) {
            const int32_t k = bondAt_[p];
            const int32_t a = e[2 * k], b = e[2 * k + 1];
            int32_t candidate;
            if (a == last && b != before)
                candidate = b;
            else if (b == last && a != before)
                candidate = a;
            else
                continue;
            if (std::find(path_.begin(), path_.end(), candidate) != path_.end())
                continue;
            bool chord = false;
            for (std::size_t q = 1; q + 1 < n && !chord; ++q)
                chord = net_.isEdge(candidate, path_[q]);
            if (chord)
                continue;
            if (!net_.isEdge(candidate, first)) {
                path_.push_back(candidate);
                findNewCycle();
                path_.pop_back();
                continue;
            }
            newCycle_.assign(path_.begin(), path_.end());
            newCycle_.push_back(candidate);
            canonicalRing(newCycle_);
            if (known_.find(-1) != known_.end())
                continue;
            out_.ringList.push_back(newCycle_);
            known_.insert(static_cast<int32_t>(out_.ringList.size() - 1));
        }
    }

    const Network& net_;
    int32_t maximum_;
    RingSearch& out_;
    std::vector<int32_t> bondStart_, bondAt_;
    std::vector<int32_t> path_, newCycle_;
    std::unordered_set<int32_t, RingHash, RingEqual> known_;
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
    Search search(net, maximum, rings);
    search.run();
}

} // namespace kavet
