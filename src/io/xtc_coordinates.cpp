// The .xtc compression is Frans van Hoesel's xdrf scheme as GROMACS keeps it
// (xdr3dfcoord in GROMACS's libxdrf.cpp; the same in the xdrfile library).
// Positions are rounded to whole multiples of 1 / precision nm. The first atom
// of a group is stored in full, as an offset from the frame's minimum with a
// mixed-radix integer over the three ranges. Up to ten atoms close to it may
// follow as small differences, in a range that adapts from group to group
// through a table of sizes (about 2^(i/3) for index i). In such a run the
// first two atoms are stored swapped, since a water's hydrogen lies closer to
// the next molecule than its oxygen does.
//
// The decoding below follows GROMACS's operation by operation, so that sound
// frames give the same bits. Unlike GROMACS's, it never trusts the stream: the
// header fields are checked before the first bit is read, every byte is read
// within the frame's byte count, a run never passes the atom count, and the
// small-size index never leaves its table.
#include "io/xtc_coordinates.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <utility>

namespace kavet {
namespace {

constexpr int32_t magicInts[] = {
    0,        0,        0,       0,       0,       0,       0,       0,       0,       8,       10,      12,
    16,       20,       25,      32,      40,      50,      64,      80,      101,     128,     161,     203,
    256,      322,      406,     512,     645,     812,     1024,    1290,    1625,    2048,    2580,    3250,
    4096,     5060,     6501,    8192,    10321,   13003,   16384,   20642,   26007,   32768,   41285,   52015,
    65536,    82570,    104031,  131072,  165140,  208063,  262144,  330280,  416127,  524287,  660561,  832255,
    1048576,  1321122,  1664510, 2097152, 2642245, 3329021, 4194304, 5284491, 6658042, 8388607, 10568983, 13316085,
    16777216};
constexpr int32_t firstIndex = 9;
constexpr int32_t lastIndex = static_cast<int32_t>(sizeof magicInts / sizeof magicInts[0]); // one past the table

// The bits of the packed stream, most significant first.
class BitReader {
public:
    BitReader(const unsigned char* bytes, std::size_t count) : bytes_(bytes), count_(count) {}

    // The next `bits` bits (1 to 31) as an unsigned number.
    uint32_t bits(int n)
    {
        const uint32_t mask = (uint32_t{1} << n) - 1;
        uint32_t num = 0;
        while (n >= 8) {
            lastByte_ = (lastByte_ << 8) | next();
            num |= (lastByte_ >> lastBits_) << (n - 8);
            n -= 8;
        }
        if (n > 0) {
            if (lastBits_ < static_cast<uint32_t>(n)) {
                lastBits_ += 8;
                lastByte_ = (lastByte_ << 8) | next();
            }
            lastBits_ -= static_cast<uint32_t>(n);
            num |= (lastByte_ >> lastBits_) & ((uint32_t{1} << n) - 1);
        }
        return num & mask;
    }

    // Three integers packed as one number of `bits` bits (at most 72), in the
    // mixed radix of `sizes`.
    void ints(int n, const uint32_t sizes[3], int32_t nums[3])
    {
        uint32_t bytes[12] = {0, 0, 0, 0};
        int numBytes = 0;
        while (n > 8) {
            bytes[numBytes++] = bits(8);
            n -= 8;
        }
        if (n > 0)
            bytes[numBytes++] = bits(n);
        for (int i = 2; i > 0; --i) {
            uint32_t num = 0;
            for (int j = numBytes - 1; j >= 0; --j) {
                num = (num << 8) | bytes[j];
                const uint32_t p = num / sizes[i];
                bytes[j] = p;
                num = num - p * sizes[i];
            }
            nums[i] = static_cast<int32_t>(num);
        }
        nums[0] = static_cast<int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (bytes[3] << 24));
    }

    // Whether every bit read so far lay within the byte count.
    bool within() const { return !overrun_; }

private:
    uint32_t next()
    {
        if (at_ < count_)
            return bytes_[at_++];
        overrun_ = true;
        return 0;
    }

    const unsigned char* bytes_;
    std::size_t count_;
    std::size_t at_ = 0;
    uint32_t lastBits_ = 0, lastByte_ = 0;
    bool overrun_ = false;
};

// Bits for a number from 0 to size - 1 (size >= 1).
int sizeOfInt(uint32_t size)
{
    uint64_t num = 1;
    int bits = 0;
    while (size >= num && bits < 32) {
        ++bits;
        num <<= 1;
    }
    return bits;
}

// Bits for three numbers packed in the mixed radix of `sizes` (each at most
// 2^24).
int sizeOfInts(const uint32_t sizes[3])
{
    uint32_t bytes[32];
    int numBytes = 1;
    bytes[0] = 1;
    for (int i = 0; i < 3; ++i) {
        uint32_t tmp = 0;
        int k = 0;
        for (; k < numBytes; ++k) {
            tmp = bytes[k] * sizes[i] + tmp;
            bytes[k] = tmp & 0xff;
            tmp >>= 8;
        }
        while (tmp != 0) {
            bytes[k++] = tmp & 0xff;
            tmp >>= 8;
        }
        numBytes = k;
    }
    uint32_t num = 1;
    int bits = 0;
    --numBytes;
    while (bytes[numBytes] >= num) {
        ++bits;
        num *= 2;
    }
    return bits + numBytes * 8;
}

// Wrapping integer addition: a corrupt stream may overflow, a sound one
// never does.
int32_t add(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

std::string number(double x)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", x);
    return text;
}

} // namespace

std::string xtcPackedFault(const XtcPacked& p)
{
    if (p.atomCount <= 9)
        return "atom count " + std::to_string(p.atomCount) + " (packed coordinates need ten atoms or more)";
    if (!(p.precision > 0.0f) || !std::isfinite(p.precision) || !(1.0 / static_cast<double>(p.precision) <= FLT_MAX))
        return "precision " + number(static_cast<double>(p.precision)) + " (not a finite positive number)";
    for (int k = 0; k < 3; ++k) {
        if (p.minInt[k] > p.maxInt[k])
            return "coordinate range: minimum above maximum";
        // Sizes of 2^31 and more overflow GROMACS's own decoder; they stand for
        // more than two million nm at three decimals.
        if (int64_t{p.maxInt[k]} - int64_t{p.minInt[k]} + 1 > INT32_MAX)
            return "coordinate range too wide";
    }
    if (p.smallIndex < firstIndex || p.smallIndex >= lastIndex)
        return "small-integer index " + std::to_string(p.smallIndex) + " outside " + std::to_string(firstIndex) +
               ".." + std::to_string(lastIndex - 1);
    // GROMACS's decoder reads the bytes into a buffer of 1.2 * 3 * atoms
    // ints, three of them taken by its bookkeeping; its encoder writes into
    // one of the same size. Every atom takes two bits at the least.
    const int64_t capacity = 4 * (static_cast<int64_t>(3 * static_cast<double>(p.atomCount) * 1.2) - 3);
    if (static_cast<int64_t>(p.byteCount) > capacity)
        return "byte count " + std::to_string(p.byteCount) + ", more than " + std::to_string(p.atomCount) +
               " atoms can take";
    if (static_cast<int64_t>(p.byteCount) * 4 < int64_t{p.atomCount})
        return "byte count " + std::to_string(p.byteCount) + ", too few for " + std::to_string(p.atomCount) + " atoms";
    return {};
}

std::string decodeXtcCoordinates(const XtcPacked& p, float* out)
{
    if (std::string fault = xtcPackedFault(p); !fault.empty())
        return "has a corrupt header (" + fault + ")";
    uint32_t sizeInt[3];
    for (int k = 0; k < 3; ++k)
        sizeInt[k] = static_cast<uint32_t>(int64_t{p.maxInt[k]} - int64_t{p.minInt[k]} + 1);
    int bitSizeInt[3] = {0, 0, 0};
    int bitSize = 0; // 0: each coordinate on its own number of bits
    if ((sizeInt[0] | sizeInt[1] | sizeInt[2]) > 0xffffff) {
        for (int k = 0; k < 3; ++k)
            bitSizeInt[k] = sizeOfInt(sizeInt[k]);
    } else {
        bitSize = sizeOfInts(sizeInt);
    }

    int32_t smallIdx = p.smallIndex;
    int32_t smaller = magicInts[std::max(firstIndex, smallIdx - 1)] / 2;
    int32_t smallNum = magicInts[smallIdx] / 2;
    uint32_t sizeSmall[3];
    sizeSmall[0] = sizeSmall[1] = sizeSmall[2] = static_cast<uint32_t>(magicInts[smallIdx]);

    // Each position is the float nearest to the decimal it was stored as (an
    // integer number of 1/precision nm), as a .gro reader gets it from the same
    // decimal. GROMACS multiplies the integer by a rounded 1/precision in single
    // precision, which can miss that float by a bit; the same frame read from
    // .gro and from .xtc would then differ wherever a comparison is decided by
    // the last bit (two hydrogens of a water equally far from another oxygen).
    const double precision = static_cast<double>(p.precision);
    BitReader in(p.bytes, p.byteCount);
    float* lfp = out;
    auto put = [&](const int32_t c[3]) {
        *lfp++ = static_cast<float>(static_cast<double>(c[0]) / precision);
        *lfp++ = static_cast<float>(static_cast<double>(c[1]) / precision);
        *lfp++ = static_cast<float>(static_cast<double>(c[2]) / precision);
    };
    int32_t thisCoord[3], prevCoord[3];
    int32_t i = 0;
    int32_t run = 0;
    while (i < p.atomCount) {
        if (bitSize == 0) {
            for (int k = 0; k < 3; ++k)
                thisCoord[k] = static_cast<int32_t>(in.bits(bitSizeInt[k]));
        } else {
            in.ints(bitSize, sizeInt, thisCoord);
        }
        ++i;
        for (int k = 0; k < 3; ++k) {
            thisCoord[k] = add(thisCoord[k], p.minInt[k]);
            prevCoord[k] = thisCoord[k];
        }
        int32_t isSmaller = 0;
        if (in.bits(1) == 1) {
            run = static_cast<int32_t>(in.bits(5));
            isSmaller = run % 3;
            run -= isSmaller;
            --isSmaller;
        }
        if (run > 0) {
            if (run / 3 > p.atomCount - i)
                return "is corrupt (a run of its packed coordinates goes past its " + std::to_string(p.atomCount) +
                       " atoms)";
            for (int32_t k = 0; k < run; k += 3) {
                in.ints(smallIdx, sizeSmall, thisCoord);
                ++i;
                for (int d = 0; d < 3; ++d)
                    thisCoord[d] = add(thisCoord[d], add(prevCoord[d], -smallNum));
                if (k == 0) {
                    // The first two atoms of the run were stored swapped.
                    for (int d = 0; d < 3; ++d)
                        std::swap(thisCoord[d], prevCoord[d]);
                    put(prevCoord);
                } else {
                    for (int d = 0; d < 3; ++d)
                        prevCoord[d] = thisCoord[d];
                }
                put(thisCoord);
            }
        } else {
            put(thisCoord);
        }
        if (!in.within())
            return "is corrupt (its packed coordinates need more than their " + std::to_string(p.byteCount) +
                   " bytes)";
        smallIdx += isSmaller;
        if (smallIdx < firstIndex || smallIdx >= lastIndex)
            return "is corrupt (the size of its small differences leaves the table)";
        if (isSmaller < 0) {
            smallNum = smaller;
            smaller = smallIdx > firstIndex ? magicInts[smallIdx - 1] / 2 : 0;
        } else if (isSmaller > 0) {
            smaller = smallNum;
            smallNum = magicInts[smallIdx] / 2;
        }
        sizeSmall[0] = sizeSmall[1] = sizeSmall[2] = static_cast<uint32_t>(magicInts[smallIdx]);
    }
    return {};
}

} // namespace kavet
