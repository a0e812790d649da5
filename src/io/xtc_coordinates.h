// The compressed coordinates of an .xtc frame, decoded with every read
// bounded: a corrupt frame is refused with a message, never read past its
// bytes or its atom count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavet {

// The packed part of an .xtc frame of more than nine atoms, as its header
// gives it.
struct XtcPacked {
    int32_t atomCount = 0;
    float precision = 0.0f;          // coordinates are whole multiples of 1 / precision nm
    int32_t minInt[3] = {0, 0, 0};   // the smallest and largest coordinate, in those units
    int32_t maxInt[3] = {0, 0, 0};
    int32_t smallIndex = 0;          // where the small differences start in the table of sizes
    const unsigned char* bytes = nullptr;
    std::size_t byteCount = 0;
};

// What is wrong with the header fields of `p` (the bytes are not looked at),
// or nothing.
std::string xtcPackedFault(const XtcPacked& p);

// Decodes `p` into out[0 .. 3 * atomCount) (nm), exactly as GROMACS's
// xdr3dfcoord does for a sound frame. Returns what is wrong instead when the
// header fields are unsound or the bit stream is not a whole frame.
std::string decodeXtcCoordinates(const XtcPacked& p, float* out);

} // namespace kavet
