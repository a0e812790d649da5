#include "cage/dedup.h"

#include <algorithm>

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include "core/offsets.h"

namespace kavet {

void deduplicateCages(CageSearch& cages)
{
    const std::size_t n = cages.cageList.size();
    // Equal ring sets have the same smallest ring: the entries are grouped
    // by it, and each group (in parallel) finds, for each entry, the first
    // entry with the same set. The distinct sets are then numbered in the
    // order of their first entries.
    std::vector<int32_t> groupStart, groupEntry;
    groupBySmallest(n, [&](std::size_t i) { return cages.cageList[i]; }, groupStart,
                    groupEntry);
    std::vector<int32_t> first(n);
    struct Sorted {
        std::vector<int32_t> a, b;
    };
    tbb::enumerable_thread_specific<Sorted> sorted;
    tbb::parallel_for(std::size_t(0), groupStart.size() - 1, [&](std::size_t g) {
        Sorted& t = sorted.local();
        auto sortedInto = [&](int32_t i, std::vector<int32_t>& out) {
            const std::span<const int32_t> entry = cages.cageList[static_cast<std::size_t>(i)];
            out.assign(entry.begin(), entry.end());
            std::sort(out.begin(), out.end());
        };
        // Entries in ascending order; `distinct` holds the first entry of
        // each set met so far in this group.
        std::vector<int32_t> distinct;
        for (int32_t e = groupStart[g]; e < groupStart[g + 1]; ++e) {
            const int32_t i = groupEntry[static_cast<std::size_t>(e)];
            first[static_cast<std::size_t>(i)] = i;
            bool sortedSelf = false;
            for (int32_t d : distinct) {
                if (cages.cageList[static_cast<std::size_t>(d)].size() != cages.cageList[static_cast<std::size_t>(i)].size())
                    continue;
                if (!sortedSelf) {
                    sortedInto(i, t.a);
                    sortedSelf = true;
                }
                sortedInto(d, t.b);
                if (t.a == t.b) {
                    first[static_cast<std::size_t>(i)] = d;
                    break;
                }
            }
            if (first[static_cast<std::size_t>(i)] == i)
                distinct.push_back(i);
        }
    });
    std::vector<int32_t>().swap(groupEntry);
    std::vector<int32_t> setOf(n); // entry -> distinct set
    std::vector<int32_t> firstEntry;
    for (std::size_t i = 0; i < n; ++i) {
        if (first[i] == static_cast<int32_t>(i)) {
            setOf[i] = static_cast<int32_t>(firstEntry.size());
            firstEntry.push_back(static_cast<int32_t>(i));
        } else {
            setOf[i] = setOf[static_cast<std::size_t>(first[i])];
        }
    }
    std::vector<int32_t>().swap(first);
    std::vector<std::vector<int32_t>> sets(firstEntry.size()); // distinct sorted sets
    tbb::parallel_for(std::size_t(0), sets.size(), [&](std::size_t k) {
        const std::span<const int32_t> entry = cages.cageList[static_cast<std::size_t>(firstEntry[k])];
        sets[k].assign(entry.begin(), entry.end());
        std::sort(sets[k].begin(), sets[k].end());
    });

    // Which distinct sets hold each ring.
    int32_t maxRing = -1;
    for (const auto& s : sets)
        if (!s.empty())
            maxRing = std::max(maxRing, s.back());
    std::vector<int32_t> start, holder;
    buildOffsets(
        static_cast<std::size_t>(maxRing) + 1,
        [&](auto emit) {
            for (std::size_t k = 0; k < sets.size(); ++k)
                for (int32_t r : sets[k])
                    emit(r, static_cast<int32_t>(k));
        },
        start, holder);

    // A set is contained in a larger one only if that one holds its rarest ring.
    std::vector<uint8_t> contained(sets.size(), 0);
    tbb::parallel_for(std::size_t(0), sets.size(), [&](std::size_t k) {
        const std::vector<int32_t>& s = sets[k];
        int32_t rarest = s[0];
        for (int32_t r : s)
            if (start[r + 1] - start[r] < start[rarest + 1] - start[rarest])
                rarest = r;
        for (int32_t h = start[rarest]; h < start[rarest + 1] && !contained[k]; ++h) {
            const std::vector<int32_t>& t = sets[holder[h]];
            if (t.size() > s.size() && std::includes(t.begin(), t.end(), s.begin(), s.end()))
                contained[k] = 1;
        }
    });

    std::vector<uint8_t> taken(sets.size(), 0), keep(n, 0);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t k = setOf[i];
        if (contained[k] || taken[k])
            continue;
        taken[k] = keep[i] = 1;
        cages.cageNorm[kept++] = cages.cageNorm[i];
    }
    cages.cageList.keepRows(keep);
    cages.cageNorm.resize(kept);
}

void classifyCages(const CageSearch& cages, const RingSearch& rings, const std::vector<int8_t>& numNode,
                   const Network& net, int32_t ringMin, int32_t ringMax, CageClasses& classes)
{
    const std::size_t n = cages.cageList.size();
    classes.cageVEF.assign(n, {});
    classes.cageType.assign(n, std::string());
    classes.cageCensus.clear();
    // Cages are classified in parallel, each into its own place, with
    // scratch per thread; the node marks are cage numbers, so a mark left by
    // another cage never counts.
    struct Scratch {
        std::vector<int32_t> faces, inCage, nodes;
    };
    tbb::enumerable_thread_specific<Scratch> scratch([&] {
        Scratch t;
        t.faces.assign(ringMax > 0 ? static_cast<std::size_t>(ringMax) + 1 : 1, 0);
        t.inCage.assign(net.degree.size(), -1);
        return t;
    });
    tbb::parallel_for(std::size_t(0), n, [&](std::size_t c) {
        Scratch& t = scratch.local();
        std::vector<int32_t>& faces = t.faces;
        std::vector<int32_t>& inCage = t.inCage;
        std::vector<int32_t>& nodes = t.nodes;
        const std::span<const int32_t> cage = cages.cageList[c];
        std::fill(faces.begin(), faces.end(), 0);
        nodes.clear();
        for (int32_t r : cage) {
            const int32_t s = numNode[r];
            if (s >= 0 && static_cast<std::size_t>(s) < faces.size())
                ++faces[s];
            for (int32_t a : rings.ringList[r]) {
                if (inCage[a] != static_cast<int32_t>(c)) {
                    inCage[a] = static_cast<int32_t>(c);
                    nodes.push_back(a);
                }
            }
        }
        // Every bond between two nodes of the cage, counted once.
        long long edges = 0;
        for (int32_t a : nodes)
            for (int32_t e = net.adjStart[a]; e < net.adjStart[a + 1]; ++e) {
                const int32_t b = net.adjNode[e];
                if (b > a && inCage[b] == static_cast<int32_t>(c))
                    ++edges;
            }
        const float v = static_cast<float>(nodes.size());
        const float e = static_cast<float>(edges);
        const float f = static_cast<float>(cage.size());
        classes.cageVEF[c] = {v, e, f, v + f - e};

        std::string type;
        for (int32_t s = std::max(ringMin, 0); s <= ringMax; ++s) {
            if (static_cast<std::size_t>(s) >= faces.size() || faces[s] <= 0)
                continue;
            type += std::to_string(s) + "^" + std::to_string(faces[s]) + "-";
        }
        if (!type.empty())
            type.pop_back();
        classes.cageType[c] = std::move(type);
    });
    for (const std::string& type : classes.cageType)
        ++classes.cageCensus[type];
}

std::string censusText(const std::map<std::string, int32_t>& census)
{
    std::string text;
    for (const auto& [type, count] : census)
        text += "  " + type + ":" + std::to_string(count);
    return text;
}

} // namespace kavet
