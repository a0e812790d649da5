// Offset arrays (compressed rows): the items of row r are
// item[start[r] .. start[r + 1]). Built in two passes over the same sequence
// of (row, item) pairs, counting and then filling, so the items of a row keep
// the order in which the pairs came.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <tbb/parallel_for.h>

namespace kavet {

struct OffsetArray {
    std::vector<int32_t> start; // rows + 1 offsets
    std::vector<int32_t> item;

    int32_t size(int32_t row) const { return start[row + 1] - start[row]; }
    const int32_t* begin(int32_t row) const { return item.data() + start[row]; }
    const int32_t* end(int32_t row) const { return item.data() + start[row + 1]; }
};

// `visit(emit)` must call emit(row, item) for every pair, the same pairs in
// the same order each time it is called.
template <class Visit>
void buildOffsets(std::size_t rows, Visit visit, std::vector<int32_t>& start, std::vector<int32_t>& item)
{
    start.assign(rows + 1, 0);
    visit([&](int32_t row, int32_t) { ++start[row + 1]; });
    for (std::size_t r = 0; r < rows; ++r)
        start[r + 1] += start[r];
    item.resize(static_cast<std::size_t>(start[rows]));
    std::vector<int32_t> fill(start.begin(), start.end() - 1);
    visit([&](int32_t row, int32_t value) { item[fill[row]++] = value; });
}

template <class Visit>
OffsetArray buildOffsets(std::size_t rows, Visit visit)
{
    OffsetArray a;
    buildOffsets(rows, visit, a.start, a.item);
    return a;
}

// Lists 0 .. count-1 grouped by the smallest of their numbers (an empty list
// counts -1): row m + 1 holds, ascending, the lists whose smallest is m.
// Equal lists land in one row. `list(i)` gives list i; the smallest are
// found in parallel.
template <class List>
void groupBySmallest(std::size_t count, List list, std::vector<int32_t>& start, std::vector<int32_t>& item)
{
    std::vector<int32_t> smallest(count);
    tbb::parallel_for(std::size_t(0), count, [&](std::size_t i) {
        const std::vector<int32_t>& l = list(i);
        smallest[i] = l.empty() ? -1 : *std::min_element(l.begin(), l.end());
    });
    int32_t top = -1;
    for (int32_t m : smallest)
        top = std::max(top, m);
    buildOffsets(
        static_cast<std::size_t>(top) + 2,
        [&](auto emit) {
            for (std::size_t i = 0; i < count; ++i)
                emit(smallest[i] + 1, static_cast<int32_t>(i));
        },
        start, item);
}

} // namespace kavet
