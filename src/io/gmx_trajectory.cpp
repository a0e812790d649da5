// .xtc and .trr trajectories, GROMACS's two binary formats, read by kavet
// itself.
//
// Both are sequences of frames in XDR (big-endian words). A frame's header
// gives its atom count and the sizes of its parts, so each frame is checked
// whole before its coordinates are read: the header's fields are in range,
// the atom count is the structure's, the frame lies within the file, and its
// time, cell and coordinates are finite numbers in a cell of GROMACS's form
// (the checks a .gro frame goes through). Memory is taken only for a frame
// that passed, and never more than its bytes in the file justify.
//
// GROMACS's own library is not used for reading: its .xtc decoder trusts the
// bit stream and overruns its buffers on a corrupt frame, its fatal errors end
// the process, and the first .trr frame it reads in a process announces its
// version on standard error. The .xtc coordinates are decoded by
// io/xtc_coordinates.cpp, which gives the same bits as GROMACS on sound
// frames; .trr frames hold plain numbers.
#include "io/trajectory.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/error.h"
#include "io/xtc_coordinates.h"

namespace kavet {
namespace {

enum class Format { Xtc, Trr };

constexpr int32_t xtcMagic = 1995;
constexpr int32_t trrMagic = 1993;
constexpr char trrVersion[] = "GMX_trn_file";

uint32_t word(const unsigned char* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
int32_t int32(const unsigned char* p) { return static_cast<int32_t>(word(p)); }
float float32(const unsigned char* p)
{
    const uint32_t w = word(p);
    float f;
    std::memcpy(&f, &w, sizeof f);
    return f;
}
double float64(const unsigned char* p)
{
    const uint64_t w = (uint64_t{word(p)} << 32) | word(p + 4);
    double d;
    std::memcpy(&d, &w, sizeof d);
    return d;
}

// A real of a .trr file (4 or 8 bytes) in single precision, as GROMACS's
// single-precision library reads it. NaN when it lies beyond single
// precision.
float real(const unsigned char* p, int size)
{
    if (size == 4)
        return float32(p);
    const double d = float64(p);
    return std::fabs(d) <= FLT_MAX ? static_cast<float>(d) : std::nanf("");
}

const char* const truncated = "is truncated (the file ends inside it)";

// One frame as its header and fixed fields describe it.
struct FrameHead {
    int32_t atomCount = 0;
    int64_t step = 0;
    float time = 0.0f;
    bool hasX = false;
    bool hasBox = false;
    float box[9] = {}; // nm, row by row: v1, v2, v3
    int64_t xAt = 0;   // where the coordinates start
    int64_t end = 0;   // offset just past the frame
    int realSize = 4;  // .trr: 4 or 8 bytes a number
    XtcPacked packed;  // .xtc of more than nine atoms (without its bytes)
};

// The shortest text that reads back as the same float.
std::string shortest(float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

class XdrTrajectory final : public TrajectoryReader {
public:
    XdrTrajectory(const std::string& path, Format format, int32_t expectedAtoms)
        : path_(path), format_(format), expected_(expectedAtoms)
    {
        file_.reset(std::fopen(path.c_str(), "rb"));
        if (!file_)
            {
            const int error = errno;
            throw FileError("cannot open the trajectory " + path_ + ": " + std::strerror(error), error);
        }
        struct stat st;
        if (::fstat(::fileno(file_.get()), &st) != 0)
            {
            const int error = errno;
            throw FileError("cannot open the trajectory " + path_ + ": " + std::strerror(error), error);
        }
        if (S_ISDIR(st.st_mode))
            throw FileError("cannot read the trajectory " + path_ + ": it is a directory", EISDIR);
        if (!S_ISREG(st.st_mode))
            throw FileError("cannot read the trajectory " + path_ + ": not a regular file");
        size_ = static_cast<int64_t>(st.st_size);
        if (size_ <= 0)
            throw FormatError(path_ + ": the trajectory holds no frame");
        // Frame 0's header now: a file of another kind or another atom count
        // is refused on opening.
        numAtom_ = readHead().atomCount;
    }

    bool next(Coordinates& frame) override { return step(&frame); }
    bool skip() override { return step(nullptr); }

    int32_t atomCount() const override { return numAtom_; }
    double fractionRead() const override
    {
        return size_ > 0 ? static_cast<double>(offset_) / static_cast<double>(size_) : -1.0;
    }

private:
    // Reads the next frame with positions into `into`, or passes over it
    // by its header when `frame` is null.
    bool step(Coordinates* into)
    {
        for (;;) {
            if (offset_ == size_)
                return false;
            const FrameHead h = readHead();
            const int64_t k = index_ + 1;
            if (h.hasX && into) {
                Coordinates& frame = *into;
                frame.box = cell(h, k);
                readCoordinates(h, k, frame.positions);
                frame.hasTime = true;
                frame.time = static_cast<double>(h.time);
                frame.step = h.step;
            }
            offset_ = h.end;
            index_ = k;
            lastTime_ = h.time;
            // A .trr frame without positions (velocities or forces only) is
            // passed over.
            if (h.hasX)
                return true;
        }
    }

    // The header of the frame at offset_, checked; throws for a frame that
    // is truncated, corrupt or of the wrong atom count.
    FrameHead readHead()
    {
        const int64_t k = index_ + 1;
        FrameHead h;
        const std::string fault = format_ == Format::Xtc ? headXtc(h, k) : headTrr(h, k);
        if (!fault.empty())
            fail(k, fault);
        if (!std::isfinite(h.time))
            fail(k, "has a time that is not a finite number");
        if (h.hasX && !h.hasBox)
            fail(k, "has positions but no cell");
        return h;
    }

    // Reads `n` bytes at `at` into buf_; false when the file ends first.
    bool bytes(int64_t at, std::size_t n)
    {
        if (at < 0 || size_ - at < static_cast<int64_t>(n))
            return false;
        buf_.resize(n);
        return n == 0 || (::fseeko(file_.get(), at, SEEK_SET) == 0 && std::fread(buf_.data(), 1, n, file_.get()) == n);
    }

    // The checks on a frame's atom count before anything is read for it.
    std::string atomCountFault(int32_t n, int64_t k) const
    {
        if (expected_ >= 0 && n != expected_)
            return "has " + std::to_string(n) + " atoms, but the structure has " + std::to_string(expected_);
        if (k > 0 && n != numAtom_)
            return "has " + std::to_string(n) + " atoms where frame 0 has " + std::to_string(numAtom_);
        return {};
    }

    // magic, atoms, step, time, nine box numbers, atoms again; then, for
    // more than nine atoms, precision, three minima, three maxima, the
    // small-integer index and the byte count of the packed coordinates.
    std::string headXtc(FrameHead& h, int64_t k)
    {
        const int64_t at = offset_;
        if (!bytes(at, static_cast<std::size_t>(std::min<int64_t>(92, size_ - at))) || buf_.size() < 4)
            return truncated;
        const unsigned char* w = buf_.data();
        if (int32(w) != xtcMagic)
            return "is not an .xtc frame (wrong magic number)";
        if (buf_.size() < 56)
            return truncated;
        h.atomCount = int32(w + 4);
        if (h.atomCount <= 0 || int32(w + 52) != h.atomCount)
            return "has a corrupt header (atom count)";
        if (std::string fault = atomCountFault(h.atomCount, k); !fault.empty())
            return fault;
        h.step = int32(w + 8);
        h.time = float32(w + 12);
        for (int i = 0; i < 9; ++i)
            h.box[i] = float32(w + 16 + 4 * i);
        h.hasX = h.hasBox = true;
        if (h.atomCount <= 9) { // stored as plain floats
            h.xAt = at + 56;
            h.end = h.xAt + 12 * int64_t{h.atomCount};
        } else {
            if (buf_.size() < 92)
                return truncated;
            XtcPacked& p = h.packed;
            p.atomCount = h.atomCount;
            p.precision = float32(w + 56);
            for (int d = 0; d < 3; ++d) {
                p.minInt[d] = int32(w + 60 + 4 * d);
                p.maxInt[d] = int32(w + 72 + 4 * d);
            }
            p.smallIndex = int32(w + 84);
            const int32_t count = int32(w + 88);
            if (count < 0)
                return "has a corrupt header (byte count " + std::to_string(count) + ")";
            p.byteCount = static_cast<std::size_t>(count);
            if (std::string fault = xtcPackedFault(p); !fault.empty())
                return "has a corrupt header (" + fault + ")";
            h.xAt = at + 92;
            h.end = h.xAt + (int64_t{count} + 3) / 4 * 4;
        }
        if (h.end > size_)
            return truncated;
        return {};
    }

    std::string headTrr(FrameHead& h, int64_t k)
    {
        const int64_t at = offset_;
        if (!bytes(at, 4))
            return truncated;
        if (int32(buf_.data()) != trrMagic)
            return "is not a .trr frame (wrong magic number)";
        // magic, the version string (its size, its length, 12 bytes), then
        // the sizes of ir, e, box, vir, pres, top, sym, x, v and f in bytes,
        // atoms, step and the energy count
        constexpr int versionLength = static_cast<int>(sizeof trrVersion) - 1;
        constexpr std::size_t headSize = 12 + versionLength + 13 * 4;
        if (!bytes(at, headSize))
            return truncated;
        const unsigned char* w = buf_.data();
        if (int32(w + 4) != versionLength + 1 || int32(w + 8) != versionLength ||
            std::memcmp(w + 12, trrVersion, versionLength) != 0)
            return "has a corrupt header (version)";
        std::array<int64_t, 13> s{};
        for (std::size_t i = 0; i < s.size(); ++i)
            s[i] = int32(w + 12 + versionLength + 4 * i);
        const int64_t ir = s[0], en = s[1], box = s[2], vir = s[3], pres = s[4], top = s[5], sym = s[6];
        const int64_t x = s[7], v = s[8], f = s[9], n = s[10];
        if (n <= 0)
            return "has a corrupt header (atom count)";
        h.atomCount = static_cast<int32_t>(n);
        if (std::string fault = atomCountFault(h.atomCount, k); !fault.empty())
            return fault;
        if (ir != 0 || en != 0 || top != 0 || sym != 0 || box < 0 || vir < 0 || pres < 0 || x < 0 || v < 0 || f < 0)
            return "has a corrupt header (block sizes)";
        // Single or double precision, as the first block present tells.
        const int64_t size = box ? box / 9 : x ? x / (3 * n) : v ? v / (3 * n) : f ? f / (3 * n) : 0;
        if (size != 4 && size != 8)
            return "has a corrupt header (block sizes)";
        for (int64_t matrix : {box, vir, pres})
            if (matrix != 0 && matrix != 9 * size)
                return "has a corrupt header (block sizes)";
        for (int64_t vectors : {x, v, f})
            if (vectors != 0 && vectors != 3 * n * size)
                return "has a corrupt header (block sizes)";
        h.realSize = static_cast<int>(size);
        h.step = s[11];
        h.hasX = x > 0;
        h.hasBox = box > 0;
        const int64_t timeAt = at + static_cast<int64_t>(headSize);
        h.xAt = timeAt + 2 * size + box + vir + pres; // time and lambda, then the blocks
        h.end = h.xAt + x + v + f;
        if (h.end > size_)
            return truncated;
        if (!bytes(timeAt, static_cast<std::size_t>(2 * size + box)))
            return truncated;
        h.time = real(buf_.data(), h.realSize);
        for (int i = 0; i < 9 && h.hasBox; ++i)
            h.box[i] = real(buf_.data() + 2 * size + i * size, h.realSize);
        return {};
    }

    // The positions of a checked frame, in angstrom.
    void readCoordinates(const FrameHead& h, int64_t k, std::vector<Vec3>& xyz)
    {
        const std::size_t n = static_cast<std::size_t>(h.atomCount);
        nm_.resize(3 * n);
        if (format_ == Format::Xtc && h.atomCount > 9) {
            if (!bytes(h.xAt, h.packed.byteCount))
                fail(k, truncated);
            XtcPacked p = h.packed;
            p.bytes = buf_.data();
            if (const std::string fault = decodeXtcCoordinates(p, nm_.data()); !fault.empty())
                fail(k, fault);
        } else {
            const int size = format_ == Format::Xtc ? 4 : h.realSize;
            if (!bytes(h.xAt, 3 * n * static_cast<std::size_t>(size)))
                fail(k, truncated);
            for (std::size_t i = 0; i < 3 * n; ++i)
                nm_[i] = real(buf_.data() + i * static_cast<std::size_t>(size), size);
        }
        xyz.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const Vec3 p{nm_[3 * i] * 10.0f, nm_[3 * i + 1] * 10.0f, nm_[3 * i + 2] * 10.0f};
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
                fail(k, "has a coordinate of atom " + std::to_string(i + 1) + " that is not a finite number");
            xyz[i] = p;
        }
    }

    // The frame's cell, checked as a .gro box line is.
    Box cell(const FrameHead& h, int64_t k) const
    {
        const float* b = h.box;
        const float gro[9] = {b[0], b[4], b[8], b[1], b[2], b[3], b[5], b[6], b[7]};
        Box box;
        if (const std::string fault = readCell(gro, true, box); !fault.empty())
            fail(k, "has an unusable cell: " + fault);
        return box;
    }

    [[noreturn]] void fail(int64_t k, const std::string& what) const
    {
        std::string text = path_ + ": frame " + std::to_string(k) + " " + what + "; ";
        if (index_ < 0)
            text += "there is no good frame before it";
        else
            text += "the last good frame is frame " + std::to_string(index_) + " at " + shortest(lastTime_) + " ps";
        throw FormatError(text);
    }

    struct Close {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };

    std::string path_;
    Format format_;
    int32_t expected_;
    std::unique_ptr<std::FILE, Close> file_;
    int64_t size_ = 0;
    std::vector<unsigned char> buf_; // the bytes last read
    std::vector<float> nm_;          // the positions of the frame being read, nm
    int32_t numAtom_ = 0;
    int64_t index_ = -1;  // the last frame read, counting from 0
    int64_t offset_ = 0;  // where the frame after it starts
    float lastTime_ = 0;  // its time, ps
};

bool endsWith(const std::string& s, const char* suffix)
{
    const std::size_t n = std::strlen(suffix);
    return s.size() > n && s.compare(s.size() - n, n, suffix) == 0;
}

} // namespace

std::unique_ptr<TrajectoryReader> openGmxTrajectory(const std::string& path, int32_t expectedAtoms)
{
    if (endsWith(path, ".xtc"))
        return std::make_unique<XdrTrajectory>(path, Format::Xtc, expectedAtoms);
    if (endsWith(path, ".trr"))
        return std::make_unique<XdrTrajectory>(path, Format::Trr, expectedAtoms);
    throw InputError(path + ": not an .xtc or .trr trajectory");
}

} // namespace kavet
