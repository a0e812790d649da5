// What the LAMMPS readers share: lines of text from a file or from memory,
// whitespace-separated numbers, the cell from LAMMPS's box, and the
// ordering of atoms by id. Internal to src/io.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/box.h"
#include "io/lammps_dump.h"

namespace kavet::lammps {

class Lines {
public:
    // Opens `path`, throwing FileError when it cannot be.
    explicit Lines(const std::string& path);
    Lines(const std::string& text, const std::string& name);
    ~Lines();
    Lines(const Lines&) = delete;
    Lines& operator=(const Lines&) = delete;

    // The next line, without its end of line or a trailing carriage return;
    // false at the end. Throws FileError when reading fails, FormatError for
    // a NUL byte.
    bool next(std::string_view& line);
    long long lineNumber() const { return line_; }
    // Bytes handed out so far, and the whole source's size (0 if unknown).
    uint64_t bytesRead() const { return consumed_; }
    uint64_t size() const { return size_; }
    uint64_t bytesLeft() const { return size_ > consumed_ ? size_ - consumed_ : 0; }
    const std::string& name() const { return name_; }

    [[noreturn]] void fail(const std::string& what) const;
    [[noreturn]] void fail(long long line, const std::string& what) const;

private:
    bool refill();
    std::FILE* file_ = nullptr;
    std::string name_;
    std::string buffer_, line_text_;
    std::size_t pos_ = 0, end_ = 0;
    bool eof_ = false;
    long long line_ = 0;
    uint64_t consumed_ = 0, size_ = 0;
};

// The whitespace-separated words of a line, up to a '#' when `comments`.
std::vector<std::string_view> words(std::string_view line, bool comments = false);

// A whole number or a real number that is the whole word; fails on `lines`
// naming `what` otherwise.
int64_t wholeNumber(const Lines& lines, std::string_view word, const char* what);
double realNumber(const Lines& lines, std::string_view word, const char* what);

// Positions beyond this many angstrom from the low corner are refused as
// read: no frame holds them, and single precision loses them.
inline constexpr double farthestPosition = 1e9;

// Fails on `lines` unless every component of `r` is within farthestPosition.
void checkPosition(const Lines& lines, const std::array<double, 3>& r);

// The cell of LAMMPS's box: lengths hi - lo, tilt factors xy, xz, yz, and
// whether each axis is periodic (an axis that is not gets length 0). Fails
// for a box that is not sound, as every format's cell is judged (readCell).
Box lammpsCell(const Lines& lines, long long line, const std::array<double, 3>& lo, const std::array<double, 3>& hi,
               const std::array<double, 3>& tilt, const std::array<bool, 3>& periodic);

// Puts the atoms of `s` in order of id (refusing an id given twice) and makes
// small molecules whole (see largestWholeMolecule). `positions` are in
// angstrom relative to the low corner, in the order read.
void orderById(const Lines& lines, LammpsStructure& s, std::vector<std::array<double, 3>>& positions);

// The room to reserve for `count` records of at least `bytesEach` bytes in
// what is left of the source: never more than the source can hold.
std::size_t boundedRoom(const Lines& lines, int64_t count, uint64_t bytesEach);

} // namespace kavet::lammps
