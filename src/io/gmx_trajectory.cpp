// .xtc and .trr trajectories through GROMACS's library.
//
// GROMACS decodes the frames (the compressed coordinates of .xtc above all),
// but three habits of its reader do not suit a library caller, so every
// frame is checked here before GROMACS is asked to read it:
//  - a frame cut short by the end of the file is reported with a warning on
//    standard error and then treated as the end of the trajectory;
//  - a missing file, a wrong magic number or a malformed header ends the whole
//    process through GROMACS's fatal-error handler;
//  - the installed headers offer only the trxio layer (read_first_frame and
//    read_next_frame); the lower xtcio and trrio layers are not installed.
// So the header of each frame is read here with XDR (big-endian words), the
// frame's extent is computed from it and compared with the file's size, and
// only a whole frame with a sound header reaches GROMACS. A payload that still
// fails to decode (a corrupt .xtc bit stream) comes back as a failed read and
// is reported as a corrupt frame.
//
// GROMACS prints nothing while it reads whole frames, with one exception: the
// first .trr frame header read in a process prints "trr version: ..." on
// standard error, and no setting turns that off. The first read of a .trr
// file therefore runs with standard error pointed at /dev/null; its header
// has been checked already, so GROMACS has nothing else to say there.
#include "io/trajectory.h"

#include "core/error.h"

#ifdef KAVET_HAVE_GROMACS

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <gromacs/fileio/oenv.h>
#include <gromacs/fileio/trxio.h>
#include <gromacs/trajectory/trajectoryframe.h>

namespace kavet {
namespace {

enum class Format { Xtc, Trr };

constexpr int32_t xtcMagic = 1995;
constexpr int32_t trrMagic = 1993;
constexpr char trrVersion[] = "GMX_trn_file";

// Where one frame lies in the file and what it carries, from its header.
struct FrameExtent {
    int32_t numAtom = 0;
    bool hasX = false;
    bool hasBox = false;
    int64_t end = 0; // offset just past the frame
};

// Sequential big-endian reads within a file of known size.
class XdrCursor {
public:
    XdrCursor(std::ifstream& in, int64_t at, int64_t size) : in_(in), at_(at), size_(size)
    {
        in_.clear();
        in_.seekg(at);
    }

    // False when the word would run past the end of the file.
    bool word(int32_t& w)
    {
        unsigned char b[4];
        if (size_ - at_ < 4 || !in_.read(reinterpret_cast<char*>(b), 4))
            return false;
        at_ += 4;
        w = static_cast<int32_t>((uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3]);
        return true;
    }
    bool bytes(char* out, int64_t n)
    {
        if (size_ - at_ < n || !in_.read(out, n))
            return false;
        at_ += n;
        return true;
    }
    // Moves past n bytes; false when they run past the end of the file.
    bool skip(int64_t n)
    {
        if (size_ - at_ < n)
            return false;
        at_ += n;
        in_.seekg(at_);
        return true;
    }
    int64_t at() const { return at_; }

private:
    std::ifstream& in_;
    int64_t at_;
    int64_t size_;
};

const char* const truncated = "is truncated (the file ends inside it)";

// The extent of the .xtc frame at `at`, or what is wrong with it.
std::string scanXtc(XdrCursor& c, FrameExtent& e)
{
    // magic, atoms, step, time, nine box numbers, atoms again
    std::array<int32_t, 14> h{};
    for (int32_t& w : h)
        if (!c.word(w))
            return truncated;
    if (h[0] != xtcMagic)
        return "is not an .xtc frame (wrong magic number)";
    if (h[1] <= 0 || h[13] != h[1])
        return "has a corrupt header (atom count)";
    e.numAtom = h[1];
    e.hasX = e.hasBox = true;
    int64_t payload = 12 * int64_t{e.numAtom}; // up to nine atoms are stored as plain floats
    if (e.numAtom > 9) {
        // precision, three minima, three maxima, the small-integer index, the byte count
        std::array<int32_t, 9> q{};
        for (int32_t& w : q)
            if (!c.word(w))
                return truncated;
        if (q[8] < 0)
            return "has a corrupt header (byte count)";
        payload = (int64_t{q[8]} + 3) / 4 * 4;
    }
    if (!c.skip(payload))
        return truncated;
    e.end = c.at();
    return {};
}

// The extent of the .trr frame at `at`, or what is wrong with it.
std::string scanTrr(XdrCursor& c, FrameExtent& e)
{
    int32_t magic = 0, stringSize = 0, stringLength = 0;
    if (!c.word(magic))
        return truncated;
    if (magic != trrMagic)
        return "is not a .trr frame (wrong magic number)";
    if (!c.word(stringSize) || !c.word(stringLength))
        return truncated;
    const int32_t versionLength = static_cast<int32_t>(sizeof trrVersion) - 1;
    if (stringLength != versionLength || stringSize != versionLength + 1)
        return "has a corrupt header (version)";
    char version[sizeof trrVersion] = {};
    if (!c.bytes(version, versionLength)) // 12 bytes: no XDR padding
        return truncated;
    if (std::memcmp(version, trrVersion, versionLength) != 0)
        return "has a corrupt header (version)";
    // ir, e, box, vir, pres, top, sym, x, v, f sizes in bytes; atoms, step, energies
    std::array<int32_t, 13> s{};
    for (int32_t& w : s)
        if (!c.word(w))
            return truncated;
    const int64_t ir = s[0], en = s[1], box = s[2], vir = s[3], pres = s[4], top = s[5], sym = s[6];
    const int64_t x = s[7], v = s[8], f = s[9], n = s[10];
    if (n <= 0 || ir != 0 || en != 0 || top != 0 || sym != 0 || box < 0 || vir < 0 || pres < 0 || x < 0 || v < 0 ||
        f < 0)
        return "has a corrupt header (block sizes)";
    // Single or double precision, as the first block present tells.
    const int64_t real = box ? box / 9 : x ? x / (3 * n) : v ? v / (3 * n) : f ? f / (3 * n) : 0;
    if (real != 4 && real != 8)
        return "has a corrupt header (block sizes)";
    for (int64_t matrix : {box, vir, pres})
        if (matrix != 0 && matrix != 9 * real)
            return "has a corrupt header (block sizes)";
    for (int64_t vectors : {x, v, f})
        if (vectors != 0 && vectors != 3 * n * real)
            return "has a corrupt header (block sizes)";
    e.numAtom = static_cast<int32_t>(n);
    e.hasX = x > 0;
    e.hasBox = box > 0;
    if (!c.skip(2 * real + box + vir + pres + x + v + f)) // time and lambda, then the blocks
        return truncated;
    e.end = c.at();
    return {};
}

// Points standard error at /dev/null for its lifetime (when `on`).
class QuietStderr {
public:
    explicit QuietStderr(bool on)
    {
        if (!on)
            return;
        std::fflush(stderr);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null < 0)
            return;
        saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        if (saved_ >= 0 && ::dup2(null, STDERR_FILENO) < 0) {
            ::close(saved_);
            saved_ = -1;
        }
        ::close(null);
    }
    ~QuietStderr()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

struct OutputEnvDone {
    void operator()(gmx_output_env_t* oenv) const { output_env_done(oenv); }
};
struct TrxClose {
    void operator()(t_trxstatus* status) const { close_trx(status); }
};
// The frame GROMACS fills; it allocates the coordinate arrays.
struct OwnedTrxFrame {
    t_trxframe fr{};
    OwnedTrxFrame() = default;
    OwnedTrxFrame(const OwnedTrxFrame&) = delete;
    OwnedTrxFrame& operator=(const OwnedTrxFrame&) = delete;
    ~OwnedTrxFrame() { done_frame(&fr); }
};

// The shortest text that reads back as the same float.
std::string shortest(float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

class GmxTrajectory final : public TrajectoryReader {
public:
    GmxTrajectory(const std::string& path, Format format) : path_(path), format_(format)
    {
        file_.open(path, std::ios::binary);
        if (!file_)
            throw Failure("cannot open the trajectory " + path_ + ": " + std::strerror(errno));
        file_.seekg(0, std::ios::end);
        size_ = static_cast<int64_t>(file_.tellg());
        if (size_ <= 0)
            throw Failure(path_ + ": the trajectory holds no frame");
        gmx_output_env_t* oenv = nullptr;
        output_env_init_default(&oenv);
        oenv_.reset(oenv);
        readFrame();
        pending_ = true;
    }

    bool next(Frame& frame) override
    {
        // A .trr frame without positions (velocities or forces only) is passed over.
        do {
            if (!pending_ && !readFrame())
                return false;
            pending_ = false;
        } while (!frame_.fr.bX);

        const t_trxframe& fr = frame_.fr;
        frame.atmXYZ.resize(static_cast<std::size_t>(numAtom_));
        const double precision = format_ == Format::Xtc && fr.bPrec ? static_cast<double>(fr.prec) : 0.0;
        for (int32_t i = 0; i < numAtom_; ++i)
            frame.atmXYZ[static_cast<std::size_t>(i)] =
                precision > 0 ? angstrom(onGrid(fr.x[i], precision)) : angstrom(fr.x[i]);
        if (fr.box[0][1] != 0 || fr.box[0][2] != 0 || fr.box[1][2] != 0)
            throw Failure(path_ + ": frame " + std::to_string(index_) +
                          " has a cell that breaks GROMACS's convention (a along x, b in the xy plane)");
        const Vec3 a = angstrom(fr.box[0]), b = angstrom(fr.box[1]), c = angstrom(fr.box[2]);
        frame.box = Box{a.x, b.y, c.z, b.x, c.x, c.y};
        frame.numAtom = numAtom_;
        frame.hasTime = true;
        frame.time = static_cast<double>(fr.time);
        frame.step = fr.step;
        return true;
    }

    int32_t numAtom() const override { return numAtom_; }
    double fractionRead() const override
    {
        return size_ > 0 ? static_cast<double>(offset_) / static_cast<double>(size_) : -1.0;
    }

private:
    // A GROMACS vector in nm as angstrom in single precision.
    static Vec3 angstrom(const real* v)
    {
        return {static_cast<float>(v[0]) * 10.0f, static_cast<float>(v[1]) * 10.0f, static_cast<float>(v[2]) * 10.0f};
    }

    // An .xtc position as the nearest float to the decimal it was stored as
    // (an integer number of 1/precision nm), as a .gro reader gets it from the
    // same decimal. GROMACS multiplies the integer by a rounded 1/precision in
    // single precision, which can miss that float by a bit; the same frame
    // read from .gro and from .xtc would then give different results wherever
    // a comparison is decided by the last bit (two hydrogens of a water
    // equally far from another oxygen, in F4). A number off the grid (an
    // .xtc of nine atoms or fewer stores plain floats) is kept as it is.
    static std::array<real, 3> onGrid(const real* v, double precision)
    {
        std::array<real, 3> out{};
        for (int k = 0; k < 3; ++k) {
            const double scaled = static_cast<double>(v[k]) * precision;
            const double n = std::nearbyint(scaled);
            out[k] = std::fabs(scaled - n) < 1e-3 && std::fabs(n) < 1e15
                         ? static_cast<real>(static_cast<float>(n / precision))
                         : v[k];
        }
        return out;
    }
    static Vec3 angstrom(const std::array<real, 3>& v) { return angstrom(v.data()); }

    // Reads the frame after the current one; false at the clean end of the file.
    bool readFrame()
    {
        const int64_t k = index_ + 1;
        if (offset_ == size_)
            return false;
        FrameExtent e;
        XdrCursor cursor(file_, offset_, size_);
        const std::string fault = format_ == Format::Xtc ? scanXtc(cursor, e) : scanTrr(cursor, e);
        if (!fault.empty())
            fail(k, fault);
        if (k > 0 && e.numAtom != numAtom_)
            fail(k, "has " + std::to_string(e.numAtom) + " atoms where frame 0 has " + std::to_string(numAtom_));
        if (e.hasX && !e.hasBox)
            fail(k, "has positions but no cell");

        t_trxframe& fr = frame_.fr;
        bool read = false;
        if (k == 0) {
            const QuietStderr quiet(format_ == Format::Trr);
            t_trxstatus* status = nullptr;
            read = read_first_frame(oenv_.get(), &status, path_.c_str(), &fr, TRX_READ_X);
            status_.reset(status);
        } else {
            read = read_next_frame(oenv_.get(), status_.get(), &fr);
        }
        if (!read || fr.not_ok != 0 || fr.natoms != e.numAtom || bool(fr.bX) != e.hasX || (e.hasX && !fr.x))
            fail(k, "is corrupt (GROMACS's library cannot decode it)");

        numAtom_ = e.numAtom;
        offset_ = e.end;
        index_ = k;
        lastTime_ = fr.time;
        return true;
    }

    [[noreturn]] void fail(int64_t k, const std::string& what) const
    {
        std::string text = path_ + ": frame " + std::to_string(k) + " " + what + "; ";
        if (index_ < 0)
            text += "there is no good frame before it";
        else
            text += "the last good frame is frame " + std::to_string(index_) + " at " + shortest(lastTime_) + " ps";
        throw Failure(text);
    }

    std::string path_;
    Format format_;
    std::ifstream file_; // the headers are read through this one
    int64_t size_ = 0;
    std::unique_ptr<gmx_output_env_t, OutputEnvDone> oenv_;
    std::unique_ptr<t_trxstatus, TrxClose> status_;
    OwnedTrxFrame frame_;
    int32_t numAtom_ = 0;
    int64_t index_ = -1;  // the frame in frame_, counting from 0
    int64_t offset_ = 0;  // where the frame after it starts
    float lastTime_ = 0;  // its time, ps
    bool pending_ = false; // frame_ holds frame 0, not yet handed out
};

bool endsWith(const std::string& s, const char* suffix)
{
    const std::size_t n = std::strlen(suffix);
    return s.size() > n && s.compare(s.size() - n, n, suffix) == 0;
}

} // namespace

std::unique_ptr<TrajectoryReader> openGmxTrajectory(const std::string& path)
{
    // GROMACS picks the format by the extension too.
    if (endsWith(path, ".xtc"))
        return std::make_unique<GmxTrajectory>(path, Format::Xtc);
    if (endsWith(path, ".trr"))
        return std::make_unique<GmxTrajectory>(path, Format::Trr);
    throw Failure(path + ": not an .xtc or .trr trajectory");
}

} // namespace kavet

#else

namespace kavet {

std::unique_ptr<TrajectoryReader> openGmxTrajectory(const std::string& path)
{
    throw Failure("reading " + path + " needs GROMACS's library: install Debian's libgromacs-dev and rebuild kavet");
}

} // namespace kavet

#endif
