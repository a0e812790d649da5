// Offset arrays (compressed rows): the items of row r are
// item[start[r] .. start[r + 1]). Built in two passes over the same sequence
// of (row, item) pairs, counting and then filling, so the items of a row keep
// the order in which the pairs came.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include <tbb/parallel_for.h>

namespace kavet {

// Rows of int32 items stored end to end. Starts are 64-bit so that the
// items of a large frame (10^7 and more) never overflow them.
struct OffsetArray {
    std::vector<int64_t> start{0}; // rows + 1 offsets, start[0] == 0
    std::vector<int32_t> item;

    std::size_t rows() const { return start.size() - 1; }
    bool empty() const { return rows() == 0; }
    int32_t size(std::size_t row) const { return static_cast<int32_t>(start[row + 1] - start[row]); }
    std::span<const int32_t> row(std::size_t r) const
    {
        return {item.data() + start[r], static_cast<std::size_t>(start[r + 1] - start[r])};
    }
    std::span<int32_t> row(std::size_t r)
    {
        return {item.data() + start[r], static_cast<std::size_t>(start[r + 1] - start[r])};
    }
    std::span<const int32_t> operator[](std::size_t r) const { return row(r); }
    const int32_t* begin(std::size_t r) const { return item.data() + start[r]; }
    const int32_t* end(std::size_t r) const { return item.data() + start[r + 1]; }

    // Appends one row holding `items`.
    template <class Range>
    void append(const Range& items)
    {
        item.insert(item.end(), std::begin(items), std::end(items));
        start.push_back(static_cast<int64_t>(item.size()));
    }
    void clear()
    {
        start.assign(1, 0);
        item.clear();
    }
};

// `visit(emit)` must call emit(row, item) for every pair, the same pairs in
// the same order each time it is called.
template <class Visit, class Start>
void buildOffsets(std::size_t rows, Visit visit, std::vector<Start>& start, std::vector<int32_t>& item)
{
    start.assign(rows + 1, 0);
    visit([&](int32_t row, int32_t) { ++start[row + 1]; });
    for (std::size_t r = 0; r < rows; ++r)
        start[r + 1] += start[r];
    item.resize(static_cast<std::size_t>(start[rows]));
    std::vector<Start> fill(start.begin(), start.end() - 1);
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
template <class List, class Start>
void groupBySmallest(std::size_t count, List list, std::vector<Start>& start, std::vector<int32_t>& item)
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
