// A frame made from arrays, as a caller holding its atoms in memory gives it
// (the Python module's kavet.Frame, MDAnalysis's atom groups): positions, a
// cell, the water oxygens' atom indices and, when known, their hydrogens and
// the guests' atoms. Everything is checked before it is used, with the frame
// checks the files read from disk pass (io/frame_checks.h), so that no front
// end analyses a frame the command line refuses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cage/occupancy.h"
#include "core/box.h"
#include "core/frame.h"

namespace kavet {

// A read-only view of a C-ordered array: its first value and its shape. The
// caller keeps the values alive during the call.
template <class T>
struct ArrayView {
    const T* data = nullptr;
    std::vector<int64_t> shape;

    int64_t ndim() const { return static_cast<int64_t>(shape.size()); }
    int64_t size() const
    {
        int64_t n = 1;
        for (int64_t s : shape)
            n *= s;
        return n;
    }
};

// The arrays of one frame, in angstrom and degrees:
//   positions  (n, 3), every atom;
//   box        three lengths along x, y, z (0 for an axis without
//              periodicity), a 3x3 lower-triangular cell matrix (rows a, b,
//              c), or six numbers a, b, c, alpha, beta, gamma;
//   oxygens    the water oxygens' atom indices, one-dimensional;
//   hydrogens  (oxygens, 2), each oxygen's hydrogens; without it, the two
//              atoms after each oxygen, or none when the positions hold the
//              oxygens and the guests' atoms alone (one-site water);
//   guests     one atom index per guest (1-d) or a row of atoms per guest;
//   time       ps.
struct ArrayFrameInput {
    ArrayView<float> positions;
    ArrayView<double> box;
    ArrayView<int64_t> oxygens;
    std::optional<ArrayView<int64_t>> hydrogens;
    std::optional<ArrayView<int64_t>> guests;
    std::optional<double> time;
};

// A checked frame and what its analysis needs beside it. The atoms keep the
// caller's order where that serves (oxygens ascending, each followed by its
// hydrogens, each guest's atoms consecutive); otherwise the frame holds each
// water as oxygen, hydrogen, hydrogen in the order of `oxygens`, then the
// guests' atoms, and userIndex names the caller's index of every atom. The
// frame's topology has no atom names (messages name atoms by number).
struct ArrayFrame {
    Frame frame;
    GuestMolecules guests;
    bool hasGuests = false;
    bool oneSite = false;           // waters without hydrogens (one-site water)
    std::vector<int32_t> userIndex; // empty when the caller's order is kept
    int32_t userAtoms = 0;          // the number of the caller's atoms
    std::vector<std::string> warnings; // the frame checks' warnings (suspicious, not impossible)

    int32_t user(int32_t atom) const { return userIndex.empty() ? atom : userIndex[static_cast<std::size_t>(atom)]; }
};

// The cell of `box` as above. Throws InputError, naming "box", for another
// shape, negative lengths along x, y, z, a matrix that is not lower
// triangular, or six numbers that describe no cell.
Box arrayBox(const ArrayView<double>& box);

// The frame of `input`. Throws InputError, naming the array at fault, for a
// shape that does not fit, an index outside the atoms, an atom given twice or
// in two roles (an oxygen as a hydrogen or a guest, a guest atom as a
// hydrogen), and a given hydrogen that lies where no O-H bond puts it; then
// the frame checks' failures (checkFrame), with atoms counted from 1 in the
// frame's order. The checks' warnings are kept in the frame.
ArrayFrame arrayFrame(const ArrayFrameInput& input);

} // namespace kavet
