#include "cage/cups.h"

#include <algorithm>
#include <set>
#include <utility>

namespace kavet {
namespace {

uint64_t edgeKey(int32_t a, int32_t b)
{
    return static_cast<uint64_t>(static_cast<uint32_t>(std::min(a, b))) << 32 | static_cast<uint32_t>(std::max(a, b));
}

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
    const std::vector<std::vector<int32_t>>& list = rings.ringList;
    // The edges of every pentagon, sorted, to find the pentagons on an edge.
    std::vector<std::pair<uint64_t, int32_t>> pentagonsOn;
    for (std::size_t r = 0; r < list.size(); ++r)
        if (list[r].size() == 5)
            for (std::size_t k = 0; k < 5; ++k)
                pentagonsOn.emplace_back(edgeKey(list[r][k], list[r][(k + 1) % 5]), static_cast<int32_t>(r));
    std::sort(pentagonsOn.begin(), pentagonsOn.end());

    std::vector<Cup> cups;
    std::set<std::array<int32_t, 7>> faceSets;
    std::vector<Side> sides[6];
    std::vector<std::array<int32_t, 6>> found;
    for (std::size_t b = 0; b < list.size(); ++b) {
        const std::vector<int32_t>& base = list[b];
        const std::size_t n = base.size();
        if (n != 5 && n != 6)
            continue;
        bool every = true;
        for (std::size_t k = 0; k < n && every; ++k) {
            const int32_t u = base[k], w = base[(k + 1) % n];
            sides[k].clear();
            const uint64_t key = edgeKey(u, w);
            auto it = std::lower_bound(pentagonsOn.begin(), pentagonsOn.end(), std::make_pair(key, int32_t(-1)));
            for (; it != pentagonsOn.end() && it->first == key; ++it) {
                if (it->second == static_cast<int32_t>(b))
                    continue;
                const std::vector<int32_t>& p = list[it->second];
                std::size_t shared = 0, iu = 0, iw = 0;
                for (std::size_t j = 0; j < 5; ++j) {
                    shared += std::find(base.begin(), base.end(), p[j]) != base.end() ? 1 : 0;
                    iu = p[j] == u ? j : iu;
                    iw = p[j] == w ? j : iw;
                }
                if (shared != 2)
                    continue; // touches the base beyond the edge
                // u and w are neighbours in p: each one's other neighbour.
                const int32_t left = p[(iu + 1) % 5] == w ? p[(iu + 4) % 5] : p[(iu + 1) % 5];
                const int32_t right = p[(iw + 1) % 5] == u ? p[(iw + 4) % 5] : p[(iw + 1) % 5];
                sides[k].push_back({it->second, left, right});
            }
            every = !sides[k].empty();
        }
        if (!every)
            continue;
        found.clear();
        Choices(sides, n, found).from(0);
        for (const std::array<int32_t, 6>& s : found) {
            std::array<int32_t, 7> faces{static_cast<int32_t>(b), s[0], s[1], s[2], s[3], s[4], s[5]};
            std::sort(faces.begin(), faces.end());
            if (faceSets.insert(faces).second)
                cups.push_back({static_cast<int32_t>(b), s});
        }
    }
    return cups;
}

CupCounts countCups(const std::vector<Cup>& cups, const std::vector<std::vector<int32_t>>& cages,
                    const std::vector<uint8_t>& closed)
{
    // The closed cages through each ring, and each closed cage's rings sorted.
    std::vector<std::pair<int32_t, int32_t>> ringCage;
    std::vector<std::vector<int32_t>> sorted(cages.size());
    for (std::size_t c = 0; c < cages.size(); ++c) {
        if (c >= closed.size() || !closed[c])
            continue;
        sorted[c] = cages[c];
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
