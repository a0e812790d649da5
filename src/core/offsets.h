// Offset arrays (compressed rows): the items of row r are
// item[start[r] .. start[r + 1]). Built in two passes over the same sequence
// of (row, item) pairs, counting and then filling, so the items of a row keep
// the order in which the pairs came.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

} // namespace kavet
