// Offset arrays (compressed rows): the items of row r are
// item[start[r] .. start[r + 1]). Built in two passes over the same sequence
// of (row, item) pairs, counting and then filling, so the items of a row keep
// the order in which the pairs came.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace kavet {

// Rows of items of type T stored end to end (OffsetArray: int32 items).
// Starts are 64-bit so that the items of a large frame (10^7 and more) never
// overflow them. Iterating the array gives its rows in order, each as a span
// over `item`. `Alloc` allocates the items (DefaultInit for large tables of
// trivial items filled in parallel right after they are sized).
template <class T, class Alloc = std::allocator<T>>
struct Rows {
    std::vector<int64_t> start{0}; // rows + 1 offsets, start[0] == 0
    std::vector<T, Alloc> item;

    Rows() = default;
    // Packs the rows end to end (small tables and tests; a hot path packs
    // with pack(), which copies the rows in parallel).
    Rows(std::initializer_list<std::initializer_list<T>> rows)
    {
        for (const auto& r : rows)
            append(r);
    }
    Rows(const std::vector<std::vector<T>>& rows) { pack(rows); }

    std::size_t rows() const { return start.size() - 1; }
    std::size_t size() const { return rows(); }
    bool empty() const { return rows() == 0; }
    int32_t size(std::size_t row) const { return static_cast<int32_t>(start[row + 1] - start[row]); }
    std::span<const T> row(std::size_t r) const
    {
        return {item.data() + start[r], static_cast<std::size_t>(start[r + 1] - start[r])};
    }
    std::span<T> row(std::size_t r)
    {
        return {item.data() + start[r], static_cast<std::size_t>(start[r + 1] - start[r])};
    }
    std::span<const T> operator[](std::size_t r) const { return row(r); }
    std::span<T> operator[](std::size_t r) { return row(r); }
    const T* begin(std::size_t r) const { return item.data() + start[r]; }
    const T* end(std::size_t r) const { return item.data() + start[r + 1]; }

    // Rows in order, as spans.
    class RowIterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::span<const T>;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::span<const T>;
        RowIterator() = default;
        RowIterator(const Rows* a, std::size_t r) : a_(a), r_(r) {}
        reference operator*() const { return a_->row(r_); }
        reference operator[](difference_type d) const { return a_->row(r_ + static_cast<std::size_t>(d)); }
        RowIterator& operator++() { ++r_; return *this; }
        RowIterator operator++(int) { RowIterator t = *this; ++r_; return t; }
        RowIterator& operator--() { --r_; return *this; }
        RowIterator operator--(int) { RowIterator t = *this; --r_; return t; }
        RowIterator& operator+=(difference_type d) { r_ += static_cast<std::size_t>(d); return *this; }
        RowIterator& operator-=(difference_type d) { r_ -= static_cast<std::size_t>(d); return *this; }
        friend RowIterator operator+(RowIterator i, difference_type d) { return i += d; }
        friend RowIterator operator+(difference_type d, RowIterator i) { return i += d; }
        friend RowIterator operator-(RowIterator i, difference_type d) { return i -= d; }
        friend difference_type operator-(const RowIterator& x, const RowIterator& y)
        {
            return static_cast<difference_type>(x.r_) - static_cast<difference_type>(y.r_);
        }
        friend bool operator==(const RowIterator& x, const RowIterator& y) { return x.r_ == y.r_; }
        friend auto operator<=>(const RowIterator& x, const RowIterator& y) { return x.r_ <=> y.r_; }

    private:
        const Rows* a_ = nullptr;
        std::size_t r_ = 0;
    };
    RowIterator begin() const { return {this, 0}; }
    RowIterator end() const { return {this, rows()}; }
    std::span<const T> back() const { return row(rows() - 1); }

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

    // Replaces the rows by `count` rows, row r of sizeOf(r) items; the items
    // are resized only (left uninitialised with DefaultInit), for the caller
    // to fill each row in its place.
    template <class SizeOf>
    void shape(std::size_t count, SizeOf sizeOf)
    {
        std::vector<int64_t> starts(count + 1, 0);
        for (std::size_t r = 0; r < count; ++r)
            starts[r + 1] = starts[r] + static_cast<int64_t>(sizeOf(r));
        start = std::move(starts);
        item.resize(static_cast<std::size_t>(start[count]));
    }

    // Replaces the rows by `rows` (count() of them; rowOf(r) gives row r as
    // a range with size()): the starts by one pass, the items copied in
    // parallel, each row to its own place.
    template <class RowOf>
    void pack(std::size_t count, RowOf rowOf)
    {
        shape(count, [&](std::size_t r) { return std::size(rowOf(r)); });
        tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, 256), [&](const tbb::blocked_range<std::size_t>& b) {
            for (std::size_t r = b.begin(); r < b.end(); ++r) {
                const auto& items = rowOf(r);
                std::copy(std::begin(items), std::end(items), item.begin() + start[r]);
            }
        });
    }
    void pack(const std::vector<std::vector<T>>& rows)
    {
        pack(rows.size(), [&](std::size_t r) -> const std::vector<T>& { return rows[r]; });
    }

    // Keeps the rows r with keep[r] != 0, in their order, and returns how
    // many; the items move down in place.
    template <class Flags>
    std::size_t keepRows(const Flags& keep)
    {
        const std::size_t n = rows();
        std::size_t kept = 0;
        int64_t at = 0;
        for (std::size_t r = 0; r < n; ++r) {
            if (!keep[r])
                continue;
            const int64_t from = start[r], to = start[r + 1];
            if (at != from)
                std::copy(item.begin() + from, item.begin() + to, item.begin() + at);
            at += to - from;
            start[++kept] = at;
        }
        start.resize(kept + 1);
        item.resize(static_cast<std::size_t>(at));
        return kept;
    }

    // The rows as vectors of their own.
    std::vector<std::vector<T>> toVectors() const
    {
        std::vector<std::vector<T>> v(rows());
        for (std::size_t r = 0; r < rows(); ++r)
            v[r].assign(begin(r), end(r));
        return v;
    }

    bool operator==(const Rows&) const = default;
};

using OffsetArray = Rows<int32_t>;

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
        const auto& l = list(i);
        smallest[i] = std::empty(l) ? -1 : *std::min_element(std::begin(l), std::end(l));
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
