#include "io/lammps_dump.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>
#include <unordered_map>
#include <sys/stat.h>

#include "core/error.h"
#include "io/lammps_text.h"

namespace kavet {
namespace lammps {

namespace {

// A line longer than this is no line of a LAMMPS text file.
constexpr std::size_t longestLine = 1 << 20;

bool blank(std::string_view line)
{
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

std::string shown(std::string_view text)
{
    std::string s(text.substr(0, 60));
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32)
            c = '?';
    return s + (text.size() > 60 ? "..." : "");
}

} // namespace

Lines::Lines(const std::string& path) : name_(path)
{
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        const int err = errno;
        throw FileError("cannot open " + path + ": " + std::strerror(err), err);
    }
    struct stat st;
    if (::fstat(::fileno(file_), &st) == 0 && st.st_size > 0)
        size_ = static_cast<uint64_t>(st.st_size);
}

Lines::Lines(const std::string& text, const std::string& name)
    : name_(name), buffer_(text), end_(text.size()), eof_(true), size_(text.size())
{
}

Lines::~Lines()
{
    if (file_)
        std::fclose(file_);
}

void Lines::fail(const std::string& what) const
{
    throw FormatError(name_, line_, what);
}

void Lines::fail(long long line, const std::string& what) const
{
    throw FormatError(name_, line, what);
}

bool Lines::refill()
{
    if (eof_ || !file_)
        return false;
    buffer_.resize(1 << 16);
    const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    if (got == 0) {
        if (std::ferror(file_)) {
            const int err = errno;
            throw FileError("reading " + name_ + " failed", err);
        }
        eof_ = true;
        return false;
    }
    pos_ = 0;
    end_ = got;
    return true;
}

bool Lines::next(std::string_view& line)
{
    line_text_.clear();
    bool any = false;
    for (;;) {
        if (pos_ == end_ && !refill()) {
            if (!any)
                return false;
            line = line_text_;
            break;
        }
        any = true;
        const char* start = buffer_.data() + pos_;
        const void* nl = std::memchr(start, '\n', end_ - pos_);
        const std::size_t len = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - start) : end_ - pos_;
        if (line_text_.size() + len > longestLine) {
            ++line_;
            fail("the line is longer than " + std::to_string(longestLine) + " bytes");
        }
        pos_ += len + (nl ? 1 : 0);
        consumed_ += len + (nl ? 1 : 0);
        if (nl && line_text_.empty()) {
            line = std::string_view(start, len);
            break;
        }
        line_text_.append(start, len);
        if (nl) {
            line = line_text_;
            break;
        }
    }
    ++line_;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (const void* nul = std::memchr(line.data(), '\0', line.size()))
        fail("column " + std::to_string(static_cast<const char*>(nul) - line.data() + 1) +
             " holds a NUL byte, which has no place in a LAMMPS text file");
    return true;
}

std::vector<std::string_view> words(std::string_view line, bool comments)
{
    if (comments)
        line = line.substr(0, line.find('#'));
    std::vector<std::string_view> w;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t')
            ++j;
        if (j > i)
            w.push_back(line.substr(i, j - i));
        i = j;
    }
    return w;
}

int64_t wholeNumber(const Lines& lines, std::string_view word, const char* what)
{
    int64_t v = 0;
    const char* b = word.data() + (word.size() > 1 && word[0] == '+' ? 1 : 0);
    const auto [end, ec] = std::from_chars(b, word.data() + word.size(), v);
    if (ec == std::errc::result_out_of_range)
        lines.fail(std::string("the ") + what + " '" + shown(word) + "' is out of range");
    if (ec != std::errc() || end != word.data() + word.size())
        lines.fail(std::string("the ") + what + " '" + shown(word) + "' is not a whole number");
    return v;
}

double realNumber(const Lines& lines, std::string_view word, const char* what)
{
    // strtod needs a terminated text; a number is short.
    char text[80];
    if (word.empty() || word.size() >= sizeof text)
        lines.fail(std::string("the ") + what + " '" + shown(word) + "' is not a number");
    std::memcpy(text, word.data(), word.size());
    text[word.size()] = '\0';
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end != text + word.size())
        lines.fail(std::string("the ") + what + " '" + shown(word) + "' is not a number");
    if (!std::isfinite(v))
        lines.fail(std::string("the ") + what + " '" + shown(word) + "' is not a finite number");
    return v;
}

Box lammpsCell(const Lines& lines, long long line, const std::array<double, 3>& lo, const std::array<double, 3>& hi,
               const std::array<double, 3>& tilt, const std::array<bool, 3>& periodic)
{
    const char* axes = "xyz";
    float length[3];
    for (int k = 0; k < 3; ++k) {
        const double l = hi[k] - lo[k];
        if (!std::isfinite(l) || !(l > 0.0))
            lines.fail(line, std::string("the box's ") + axes[k] + " bounds " + std::to_string(lo[k]) + " " +
                                 std::to_string(hi[k]) + " leave no room (hi must be above lo)");
        length[k] = periodic[k] ? static_cast<float>(l) : 0.0f;
    }
    const bool tilted = tilt[0] != 0.0 || tilt[1] != 0.0 || tilt[2] != 0.0;
    if (tilted && !(periodic[0] && periodic[1] && periodic[2]))
        lines.fail(line, "a triclinic box needs all three axes periodic (pp pp pp)");
    // The check every format's cell goes through, in its units (nm) and
    // GROMACS's order: v1(x) v2(y) v3(z) v1(y) v1(z) v2(x) v2(z) v3(x) v3(y).
    const float nm[9] = {length[0] / 10.0f,
                         length[1] / 10.0f,
                         length[2] / 10.0f,
                         0.0f,
                         0.0f,
                         static_cast<float>(tilt[0] / 10.0),
                         0.0f,
                         static_cast<float>(tilt[1] / 10.0),
                         static_cast<float>(tilt[2] / 10.0)};
    Box checked;
    if (const std::string wrong = readCell(nm, true, checked); !wrong.empty())
        lines.fail(line, wrong + " (LAMMPS's xy, xz, yz are v2(x), v3(x), v3(y))");
    Box box{length[0], length[1], length[2]};
    box.yx = static_cast<float>(tilt[0]);
    box.zx = static_cast<float>(tilt[1]);
    box.zy = static_cast<float>(tilt[2]);
    return box;
}

void checkPosition(const Lines& lines, const std::array<double, 3>& r)
{
    for (int k = 0; k < 3; ++k)
        if (!(std::fabs(r[static_cast<std::size_t>(k)]) <= farthestPosition)) {
            char text[160];
            std::snprintf(text, sizeof text, "the atom's %c position %g A from the box's corner is beyond any frame",
                          "xyz"[k], r[static_cast<std::size_t>(k)]);
            lines.fail(text);
        }
}

std::size_t boundedRoom(const Lines& lines, int64_t count, uint64_t bytesEach)
{
    const uint64_t most = lines.bytesLeft() / std::max<uint64_t>(bytesEach, 1) + 1;
    return static_cast<std::size_t>(std::min<uint64_t>(static_cast<uint64_t>(std::max<int64_t>(count, 0)), most));
}

void orderById(const Lines& lines, LammpsStructure& s, std::vector<std::array<double, 3>>& positions)
{
    LammpsAtoms& a = s.atoms;
    const std::size_t n = a.id.size();
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (!std::is_sorted(a.id.begin(), a.id.end()))
        std::sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) { return a.id[i] < a.id[j]; });
    for (std::size_t k = 1; k < n; ++k)
        if (a.id[order[k]] == a.id[order[k - 1]])
            lines.fail("the atom id " + std::to_string(a.id[order[k]]) + " is given twice");
    LammpsAtoms sorted;
    sorted.id.resize(n);
    sorted.type.resize(n);
    sorted.molecule.resize(a.molecule.empty() ? 0 : n);
    Coordinates& f = s.frame;
    f.positions.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = order[k];
        sorted.id[k] = a.id[i];
        sorted.type[k] = a.type[i];
        if (!a.molecule.empty())
            sorted.molecule[k] = a.molecule[i];
        f.positions[k] = Vec3{static_cast<float>(positions[i][0]), static_cast<float>(positions[i][1]),
                           static_cast<float>(positions[i][2])};
    }
    a = std::move(sorted);
    if (a.molecule.empty())
        return;
    // Small molecules made whole around their first atom.
    struct Extent {
        std::size_t first;
        int32_t atoms;
    };
    std::unordered_map<int64_t, Extent> molecules;
    for (std::size_t k = 0; k < n; ++k) {
        if (a.molecule[k] <= 0)
            continue;
        auto [it, fresh] = molecules.try_emplace(a.molecule[k], Extent{k, 0});
        ++it->second.atoms;
    }
    for (std::size_t k = 0; k < n; ++k) {
        if (a.molecule[k] <= 0)
            continue;
        const Extent& m = molecules.at(a.molecule[k]);
        if (m.first == k || m.atoms > largestWholeMolecule)
            continue;
        const Vec3 anchor = f.positions[m.first];
        const Vec3 d = f.positions[k] - anchor;
        const Vec3 image = minimumImage(f.positions[k], anchor, f.box);
        if (image.x != d.x || image.y != d.y || image.z != d.z)
            f.positions[k] = anchor + image;
    }
}

namespace {

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

std::string_view trimmed(std::string_view s)
{
    const std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos)
        return {};
    const std::size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// The position columns a dump can carry, in the order they are preferred.
struct PositionStyle {
    const char* names[3];
    bool scaled, unwrapped;
};
constexpr PositionStyle positionStyles[] = {
    {{"x", "y", "z"}, false, false},
    {{"xu", "yu", "zu"}, false, true},
    {{"xs", "ys", "zs"}, true, false},
    {{"xsu", "ysu", "zsu"}, true, true},
};

// Reads one frame (or passes over it, when `out` is null). Returns false at
// the clean end of the source, before a frame's first line.
bool readDumpFrame(Lines& in, double timestepFs, LammpsStructure* out)
{
    std::string_view line;
    do {
        if (!in.next(line))
            return false;
    } while (blank(line));
    const long long frameLine = in.lineNumber();
    auto nextLine = [&](const char* what) {
        if (!in.next(line))
            in.fail(in.lineNumber() + 1, std::string("the file ends before ") + what);
        return line;
    };
    bool hasStep = false, hasCount = false, hasBox = false;
    int64_t step = 0, count = 0;
    std::array<double, 3> lo{}, hi{}, tilt{};
    std::array<bool, 3> periodic{true, true, true};
    long long boxLine = 0;
    std::vector<std::string> columns;
    for (;;) {
        if (!startsWith(line, "ITEM:"))
            in.fail(std::string(in.lineNumber() == frameLine ? "a frame starts with" : "expected") +
                    " an ITEM: line, not '" + shown(line) + "'");
        const std::string_view item = trimmed(line.substr(5));
        if (item == "TIMESTEP") {
            const std::vector<std::string_view> w = words(nextLine("the step after ITEM: TIMESTEP"));
            if (w.size() != 1)
                in.fail("expected the step alone after ITEM: TIMESTEP");
            step = wholeNumber(in, w[0], "step");
            hasStep = true;
        } else if (item == "UNITS") {
            const std::vector<std::string_view> w = words(nextLine("the units after ITEM: UNITS"));
            if (w.size() != 1 || (w[0] != "real" && w[0] != "metal"))
                in.fail("the dump's units are '" + shown(trimmed(line)) +
                        "': kavet reads lengths in angstrom, as units real and metal write them");
        } else if (item == "TIME") {
            nextLine("the time after ITEM: TIME"); // the step and -timestep give the time
        } else if (item == "NUMBER OF ATOMS") {
            const std::vector<std::string_view> w = words(nextLine("the atom count after ITEM: NUMBER OF ATOMS"));
            if (w.size() != 1)
                in.fail("expected the atom count alone after ITEM: NUMBER OF ATOMS");
            count = wholeNumber(in, w[0], "atom count");
            if (count < 0 || count > INT32_MAX)
                in.fail("the atom count " + std::to_string(count) + " is out of range (0 to 2147483647)");
            hasCount = true;
        } else if (startsWith(item, "BOX BOUNDS")) {
            const std::vector<std::string_view> flags = words(item.substr(10));
            std::size_t f = 0;
            const bool tilted = flags.size() >= 3 && flags[0] == "xy" && flags[1] == "xz" && flags[2] == "yz";
            if (tilted)
                f = 3;
            else if (!flags.empty() && (flags[0] == "abc" || flags[0] == "origin"))
                in.fail("a general triclinic box (abc origin) is not read: dump the restricted triclinic form");
            if (flags.size() != f && flags.size() != f + 3)
                in.fail("expected ITEM: BOX BOUNDS [xy xz yz] and three boundary flags such as pp pp pp");
            for (int k = 0; k < 3 && flags.size() == f + 3; ++k)
                periodic[k] = flags[f + k] == "pp";
            boxLine = in.lineNumber() + 1;
            for (int k = 0; k < 3; ++k) {
                const std::vector<std::string_view> w = words(nextLine("the box bounds"));
                if (w.size() != (tilted ? 3u : 2u))
                    in.fail(std::string("expected ") + (tilted ? "three numbers (lo hi tilt)" : "two numbers (lo hi)") +
                            " on a box line, not '" + shown(line) + "'");
                lo[k] = realNumber(in, w[0], "box bound");
                hi[k] = realNumber(in, w[1], "box bound");
                if (tilted)
                    tilt[k] = realNumber(in, w[2], "tilt factor");
            }
            if (tilted) {
                // The bounds are of the box that bounds the tilted cell.
                const double xy = tilt[0], xz = tilt[1], yz = tilt[2];
                lo[0] -= std::min({0.0, xy, xz, xy + xz});
                hi[0] -= std::max({0.0, xy, xz, xy + xz});
                lo[1] -= std::min(0.0, yz);
                hi[1] -= std::max(0.0, yz);
            }
            hasBox = true;
        } else if (startsWith(item, "ATOMS")) {
            for (std::string_view w : words(item.substr(5)))
                columns.emplace_back(w);
            break;
        } else {
            in.fail("unknown item '" + shown(line) + "' in a dump's frame header");
        }
        nextLine("ITEM: ATOMS");
    }
    const long long atomsLine = in.lineNumber();
    for (const auto& [has, what] : {std::pair{hasStep, "TIMESTEP"}, std::pair{hasCount, "NUMBER OF ATOMS"},
                                    std::pair{hasBox, "BOX BOUNDS"}})
        if (!has)
            in.fail(std::string("the frame that starts on line ") + std::to_string(frameLine) + " has no ITEM: " + what);
    auto column = [&](const char* name) -> int {
        const auto it = std::find(columns.begin(), columns.end(), name);
        return it == columns.end() ? -1 : static_cast<int>(it - columns.begin());
    };
    const int idColumn = column("id"), typeColumn = column("type"), molColumn = column("mol");
    if (idColumn < 0 || typeColumn < 0)
        in.fail("ITEM: ATOMS needs the columns id and type (dump custom ... id type x y z)");
    const PositionStyle* style = nullptr;
    int xyz[3] = {-1, -1, -1};
    for (const PositionStyle& p : positionStyles) {
        for (int k = 0; k < 3; ++k)
            xyz[k] = column(p.names[k]);
        if (xyz[0] >= 0 && xyz[1] >= 0 && xyz[2] >= 0) {
            style = &p;
            break;
        }
    }
    if (!style)
        in.fail("ITEM: ATOMS needs positions: the columns x y z, xu yu zu, xs ys zs or xsu ysu zsu");

    if (!out) {
        for (int64_t i = 0; i < count; ++i)
            if (!in.next(line))
                in.fail(in.lineNumber() + 1, "the file ends after " + std::to_string(i) + " of the " +
                                                 std::to_string(count) + " atom lines of the frame at step " +
                                                 std::to_string(step));
        return true;
    }
    LammpsStructure& s = *out;
    s.frame.box = lammpsCell(in, boxLine, lo, hi, tilt, periodic);
    s.frame.hasTime = true;
    s.frame.step = step;
    s.frame.time = static_cast<double>(step) * timestepFs / 1000.0;
    // The count is not trusted for memory: no more room than the rest of the
    // source has lines of two bytes a column.
    const std::size_t room = boundedRoom(in, count, 2 * columns.size());
    LammpsAtoms& a = s.atoms;
    a = LammpsAtoms{};
    a.id.reserve(room);
    a.type.reserve(room);
    if (molColumn >= 0)
        a.molecule.reserve(room);
    std::vector<std::array<double, 3>> positions;
    positions.reserve(room);
    const double l[3] = {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]};
    for (int64_t i = 0; i < count; ++i) {
        if (!in.next(line))
            in.fail(in.lineNumber() + 1, "the file ends after " + std::to_string(i) + " of the " +
                                             std::to_string(count) + " atom lines announced before line " +
                                             std::to_string(atomsLine));
        const std::vector<std::string_view> w = words(line);
        if (w.size() != columns.size())
            in.fail("the atom line has " + std::to_string(w.size()) + " values for the " +
                    std::to_string(columns.size()) + " columns of ITEM: ATOMS");
        a.id.push_back(wholeNumber(in, w[idColumn], "atom id"));
        const int64_t type = wholeNumber(in, w[typeColumn], "atom type");
        if (type < 1 || type > INT32_MAX)
            in.fail("the atom type " + std::to_string(type) + " is not a type (1 or more)");
        a.type.push_back(static_cast<int32_t>(type));
        if (molColumn >= 0)
            a.molecule.push_back(wholeNumber(in, w[molColumn], "molecule id"));
        double v[3];
        for (int k = 0; k < 3; ++k)
            v[k] = realNumber(in, w[xyz[k]], "position");
        // Fractions of the cell vectors: given, or found from the position.
        double frac[3];
        if (style->scaled) {
            std::copy(v, v + 3, frac);
        } else {
            const double r[3] = {v[0] - lo[0], v[1] - lo[1], v[2] - lo[2]};
            if (!style->unwrapped) {
                positions.push_back({r[0], r[1], r[2]});
                checkPosition(in, positions.back());
                continue;
            }
            frac[2] = r[2] / l[2];
            frac[1] = (r[1] - frac[2] * tilt[2]) / l[1];
            frac[0] = (r[0] - frac[1] * tilt[0] - frac[2] * tilt[1]) / l[0];
        }
        if (style->unwrapped)
            for (int k = 0; k < 3; ++k)
                if (periodic[k])
                    frac[k] -= std::floor(frac[k]);
        positions.push_back({frac[0] * l[0] + frac[1] * tilt[0] + frac[2] * tilt[1], frac[1] * l[1] + frac[2] * tilt[2],
                             frac[2] * l[2]});
        checkPosition(in, positions.back());
    }
    orderById(in, s, positions);
    return true;
}

} // namespace
} // namespace lammps

bool isLammpsDumpName(const std::string& path)
{
    for (const char* ext : {".lammpstrj", ".dump"}) {
        const std::string e(ext);
        if (path.size() > e.size() && path.compare(path.size() - e.size(), e.size(), e) == 0)
            return true;
    }
    return false;
}

bool isLammpsDataName(const std::string& path)
{
    for (const char* ext : {".data", ".lmp"}) {
        const std::string e(ext);
        if (path.size() > e.size() && path.compare(path.size() - e.size(), e.size(), e) == 0)
            return true;
    }
    return false;
}

namespace {

LammpsStructure firstFrame(lammps::Lines& in, double timestepFs)
{
    LammpsStructure s;
    if (!lammps::readDumpFrame(in, timestepFs, &s))
        in.fail(1, "the file holds no frame (a dump frame starts with ITEM: TIMESTEP)");
    return s;
}

} // namespace

LammpsStructure readLammpsDump(const std::string& path, double timestepFs)
{
    lammps::Lines in(path);
    return firstFrame(in, timestepFs);
}

LammpsStructure parseLammpsDump(const std::string& text, const std::string& name, double timestepFs)
{
    lammps::Lines in(text, name);
    return firstFrame(in, timestepFs);
}

struct LammpsDumpTrajectory::Source {
    lammps::Lines lines;
    LammpsStructure scratch;
};

LammpsDumpTrajectory::LammpsDumpTrajectory(const std::string& path, double timestepFs)
    : source_(new Source{lammps::Lines(path), {}}), timestepFs_(timestepFs)
{
}

LammpsDumpTrajectory::LammpsDumpTrajectory(const std::string& text, const std::string& name, double timestepFs)
    : source_(new Source{lammps::Lines(text, name), {}}), timestepFs_(timestepFs)
{
}

LammpsDumpTrajectory::~LammpsDumpTrajectory() = default;

bool LammpsDumpTrajectory::next(Coordinates& frame)
{
    LammpsStructure& s = source_->scratch;
    s.frame.positions.swap(frame.positions);
    if (!lammps::readDumpFrame(source_->lines, timestepFs_, &s)) {
        s.frame.positions.swap(frame.positions);
        return false;
    }
    const std::string& name = source_->lines.name();
    if (frames_ == 0) {
        first_ = s.atoms;
        numAtom_ = static_cast<int32_t>(s.frame.positions.size());
    } else if (s.atoms.id != first_.id || s.atoms.type != first_.type) {
        std::size_t k = 0;
        const std::size_t n = std::min(s.atoms.id.size(), first_.id.size());
        while (k < n && s.atoms.id[k] == first_.id[k] && s.atoms.type[k] == first_.type[k])
            ++k;
        const std::string where = "frame " + std::to_string(frames_) + " (step " + std::to_string(s.frame.step) + ")";
        if (s.atoms.id.size() != first_.id.size())
            throw FormatError(name + " " + where + " has " + std::to_string(s.atoms.id.size()) +
                              " atoms, but the first frame has " + std::to_string(first_.id.size()));
        throw FormatError(name + " " + where + ": its atom " + std::to_string(k + 1) + " in order of id is id " +
                          std::to_string(s.atoms.id[k]) + " of type " + std::to_string(s.atoms.type[k]) +
                          ", but the first frame's is id " + std::to_string(first_.id[k]) + " of type " +
                          std::to_string(first_.type[k]) + ": every frame must hold the same atoms");
    }
    atoms_ = s.atoms;
    ++frames_;
    frame.positions.swap(s.frame.positions);
    frame.box = s.frame.box;
    frame.hasTime = true;
    frame.time = s.frame.time;
    frame.step = s.frame.step;
    return true;
}

bool LammpsDumpTrajectory::skip()
{
    if (frames_ == 0) {
        Coordinates scratch;
        return next(scratch);
    }
    if (!lammps::readDumpFrame(source_->lines, timestepFs_, nullptr))
        return false;
    ++frames_;
    return true;
}

double LammpsDumpTrajectory::fractionRead() const
{
    const lammps::Lines& l = source_->lines;
    return l.size() > 0 ? static_cast<double>(l.bytesRead()) / static_cast<double>(l.size()) : -1.0;
}

} // namespace kavet
