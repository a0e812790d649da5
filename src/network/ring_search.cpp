#include "network/ring_search.h"

#include <algorithm>
#include <unordered_set>

#include "core/hash.h"

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
    static std::size_t hashNodes(const std::vector<int32_t>& nodes) { return fnvHash(nodes.begin(), nodes.end()); }
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
        const std::size_t numAtom = net_.degree.size();
        inPath_.assign(numAtom, 0);
        nearInterior_.assign(numAtom, 0);
        nearFirst_.assign(numAtom, -1);
        for (std::size_t k = 0; k + 1 < e.size(); k += 2) {
            const int32_t first = e[k];
            for (int32_t q = net_.adjStart[first]; q < net_.adjStart[first + 1]; ++q)
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
        ++out_.iter;
        const std::size_t n = path_.size();
        if (!(static_cast<int64_t>(n) < maximum_))
            return;
        const int32_t last = path_[n - 1];
        const int32_t before = path_[n - 2];
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
    std::vector<uint8_t> inPath_;
    std::vector<int32_t> nearInterior_;
    std::vector<int64_t> nearFirst_; // the start bond whose first node the atom is bonded to
    int64_t start_ = -1;
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
