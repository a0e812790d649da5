#include "cage/cups.h"

#include <algorithm>
#include <utility>

namespace kavet {
namespace {

// A pentagon that may stand on one base edge, from base member k to k + 1:
// its other neighbour of member k (left) and of member k + 1 (right).
struct Side {
    int32_t ring, left, right;
};

// The cups of one base: every choice of one side per edge whose neighbours
// agree at each base member, the last edge closing on the first.
class Choices {
public:
    Choices(const std::vector<Side>* sides, std::size_t n, std::vector<std::array<int32_t, 6>>& found)
        : sides_(sides), n_(n), found_(found)
    {
    }
    void from(std::size_t k)
    {
        if (k >= chosen_.size())
            return;
        for (const Side& s : sides_[k]) {
            if (k > 0 && s.left != chosen_[k - 1]->right)
                continue;
            bool repeated = false;
            for (std::size_t j = 0; j < k; ++j)
                repeated = repeated || chosen_[j]->ring == s.ring;
            if (repeated)
                continue;
            chosen_[k] = &s;
            if (k + 1 < n_) {
                from(k + 1);
            } else if (s.right == chosen_[0]->left) {
                std::array<int32_t, 6> rings{-1, -1, -1, -1, -1, -1};
                for (std::size_t j = 0; j < n_; ++j)
                    rings[j] = chosen_[j]->ring;
                found_.push_back(rings);
            }
        }
    }

private:
    const std::vector<Side>* sides_;
    std::size_t n_;
    std::vector<std::array<int32_t, 6>>& found_;
    std::array<const Side*, 6> chosen_{};
};

} // namespace

std::vector<Cup> findCups(const RingSearch& rings)
{
    const OffsetArray& list = rings.ringList;
    // The pentagons at each water, to find the pentagons on an edge.
    int32_t atomCount = 0;
    for (const std::span<const int32_t> ring : list)
        for (int32_t a : ring)
            atomCount = std::max(atomCount, a + 1);
    std::vector<int32_t> start(static_cast<std::size_t>(atomCount) + 1, 0), pentagonsAt;
    for (const std::span<const int32_t> ring : list)
        if (ring.size() == 5)
            for (int32_t a : ring)
                ++start[a + 1];
    for (int32_t a = 0; a < atomCount; ++a)
        start[a + 1] += start[a];
    pentagonsAt.resize(start[atomCount]);
    std::vector<int32_t> fill(start.begin(), start.end() - 1);
    for (std::size_t r = 0; r < list.size(); ++r)
        if (list[r].size() == 5)
            for (int32_t a : list[r])
                pentagonsAt[fill[a]++] = static_cast<int32_t>(r);

    std::vector<Cup> cups;
    std::vector<Side> sides[6];
    std::vector<std::array<int32_t, 6>> found;
    for (std::size_t b = 0; b < list.size(); ++b) {
        const std::span<const int32_t> base = list[b];
        const std::size_t n = base.size();
        if (n != 5 && n != 6)
            continue;
        bool every = true;
        for (std::size_t k = 0; k < n && every; ++k) {
            const int32_t u = base[k], w = base[(k + 1) % n];
            sides[k].clear();
            for (int32_t i = start[u]; i < start[u + 1]; ++i) {
                const int32_t r = pentagonsAt[i];
                const std::span<const int32_t> p = list[r];
                std::size_t iu = 0;
                while (p[iu] != u)
                    ++iu;
                const int32_t before = p[(iu + 4) % 5], after = p[(iu + 1) % 5];
                if (r == static_cast<int32_t>(b) || (before != w && after != w))
                    continue; // not on the edge
                std::size_t shared = 0;
                for (int32_t x : p)
                    shared += std::find(base.begin(), base.end(), x) != base.end() ? 1 : 0;
                if (shared != 2)
                    continue; // touches the base beyond the edge
                // Each end's other neighbour in p.
                const std::size_t iw = after == w ? (iu + 1) % 5 : (iu + 4) % 5;
                const int32_t left = after == w ? before : after;
                const int32_t right = p[(iw + 1) % 5] == u ? p[(iw + 4) % 5] : p[(iw + 1) % 5];
                sides[k].push_back({r, left, right});
            }
            every = !sides[k].empty();
        }
        if (!every)
            continue;
        found.clear();
        Choices(sides, n, found).from(0);
        for (const std::array<int32_t, 6>& s : found)
            cups.push_back({static_cast<int32_t>(b), s});
    }

    // Each set of faces once: the first cup of each sorted face set stays.
    std::vector<std::pair<std::array<int32_t, 7>, std::size_t>> faceSets(cups.size());
    for (std::size_t i = 0; i < cups.size(); ++i) {
        const Cup& c = cups[i];
        faceSets[i] = {{c.base, c.sides[0], c.sides[1], c.sides[2], c.sides[3], c.sides[4], c.sides[5]}, i};
        std::sort(faceSets[i].first.begin(), faceSets[i].first.end());
    }
    std::sort(faceSets.begin(), faceSets.end());
    std::vector<uint8_t> repeated(cups.size(), 0);
    for (std::size_t i = 1; i < faceSets.size(); ++i)
        repeated[faceSets[i].second] = faceSets[i].first == faceSets[i - 1].first ? 1 : 0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < cups.size(); ++i)
        if (!repeated[i])
            cups[kept++] = cups[i];
    cups.resize(kept);
    return cups;
}

CupCounts countCups(const std::vector<Cup>& cups, const OffsetArray& cages,
                    const std::vector<uint8_t>& closed)
{
    // The closed cages through each ring, and each closed cage's rings sorted.
    std::vector<std::pair<int32_t, int32_t>> ringCage;
    std::vector<std::vector<int32_t>> sorted(cages.size());
    for (std::size_t c = 0; c < cages.size(); ++c) {
        if (c >= closed.size() || !closed[c])
            continue;
        sorted[c].assign(cages[c].begin(), cages[c].end());
        std::sort(sorted[c].begin(), sorted[c].end());
        for (int32_t r : cages[c])
            ringCage.emplace_back(r, static_cast<int32_t>(c));
    }
    std::sort(ringCage.begin(), ringCage.end());

    CupCounts counts;
    counts.caged.assign(cups.size(), 0);
    for (std::size_t i = 0; i < cups.size(); ++i) {
        const Cup& cup = cups[i];
        ++(cup.baseSize() == 5 ? counts.pentagonBase : counts.hexagonBase);
        auto it = std::lower_bound(ringCage.begin(), ringCage.end(), std::make_pair(cup.base, int32_t(-1)));
        for (; it != ringCage.end() && it->first == cup.base && !counts.caged[i]; ++it) {
            const std::vector<int32_t>& faces = sorted[it->second];
            bool all = true;
            for (int32_t s : cup.sides)
                all = all && (s < 0 || std::binary_search(faces.begin(), faces.end(), s));
            counts.caged[i] = all ? 1 : 0;
        }
        counts.free += counts.caged[i] ? 0 : 1;
    }
    return counts;
}

} // namespace kavet
