#include "io/pdb_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>
#include <numbers>

#include "core/error.h"

namespace kavet {

AppendFile::AppendFile(const std::string& path) : path_(path)
{
    file_ = std::fopen(path.c_str(), "a");
    if (!file_) {
        const int err = errno;
        throw FileError("cannot open " + path + " for appending: " + std::strerror(err), err);
    }
    buffer_.resize(1 << 20);
    std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
}

AppendFile::~AppendFile()
{
    if (file_)
        std::fclose(file_);
}

void AppendFile::close()
{
    const bool failed = std::ferror(file_) != 0;
    const int flushed = std::fflush(file_);
    const int err = errno;
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (failed || flushed != 0 || closed != 0)
        throw FileError("writing " + path_ + " failed: " + std::strerror(err ? err : EIO), err ? err : EIO);
}

namespace {

// The angle between two cell vectors in degrees; 90 when either has no length.
double cellAngle(Vec3 u, Vec3 v)
{
    const double uu = static_cast<double>(u.x) * u.x + static_cast<double>(u.y) * u.y + static_cast<double>(u.z) * u.z;
    const double vv = static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y + static_cast<double>(v.z) * v.z;
    const double uv = static_cast<double>(u.x) * v.x + static_cast<double>(u.y) * v.y + static_cast<double>(u.z) * v.z;
    if (!(uu > 0.0 && vv > 0.0))
        return 90.0;
    return std::acos(std::clamp(uv / std::sqrt(uu * vv), -1.0, 1.0)) * 180.0 / std::numbers::pi;
}

double cellLength(Vec3 u)
{
    return std::sqrt(static_cast<double>(u.x) * u.x + static_cast<double>(u.y) * u.y + static_cast<double>(u.z) * u.z);
}

} // namespace

void writeCryst1(std::FILE* f, const Box& box)
{
    // a along x and b in the xy plane are PDB's convention as they are
    // GROMACS's, so the Cartesian coordinates need no rotation.
    if (box.triclinic()) {
        const Vec3 a = box.a(), b = box.b(), c = box.c();
        std::fprintf(f, "%6s%9.3f%9.3f%9.3f%7.2f%7.2f%7.2f %s\n", "CRYST1", cellLength(a), cellLength(b),
                     cellLength(c), cellAngle(b, c), cellAngle(a, c), cellAngle(a, b), " P 1           1");
        return;
    }
    std::fprintf(f, "%6s%9.3f%9.3f%9.3f%7.2f%7.2f%7.2f %s\n", "CRYST1", box.x, box.y, box.z, 90.0, 90.0, 90.0,
                 " P 1           1");
}

namespace {

// Right-justifies the characters [from, to) of `digits` in `width` columns.
char* pad(char* out, const char* text, int length, int width)
{
    for (int k = length; k < width; ++k)
        *out++ = ' ';
    std::memcpy(out, text, static_cast<std::size_t>(length));
    return out + length;
}

// "%<width>lld".
char* putInteger(char* out, long long value, int width)
{
    char text[24];
    char* end = text + sizeof text;
    char* p = end;
    const bool negative = value < 0;
    unsigned long long u = negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (negative)
        *--p = '-';
    return pad(out, p, static_cast<int>(end - p), width);
}

// "%8.3f" of a single-precision value. The value times 1000 is exact in
// double precision, so rounding it to the nearest integer (ties to even, as
// the C library does) gives the printed digits; values too large for that
// path, and non-finite ones, go through snprintf.
char* putCoordinate(char* out, float value)
{
    const double scaled = static_cast<double>(value) * 1000.0;
    if (!(std::fabs(scaled) < 1e15)) {
        char text[512];
        const int length = std::snprintf(text, sizeof text, "%8.3f", static_cast<double>(value));
        std::memcpy(out, text, static_cast<std::size_t>(length));
        return out + length;
    }
    const long long n = static_cast<long long>(std::nearbyint(std::fabs(scaled)));
    char text[32];
    char* end = text + sizeof text;
    char* p = end;
    long long fraction = n % 1000, whole = n / 1000;
    for (int k = 0; k < 3; ++k) {
        *--p = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    *--p = '.';
    do {
        *--p = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    if (std::signbit(value))
        *--p = '-';
    return pad(out, p, static_cast<int>(end - p), 8);
}

char* putText(char* out, const char* text, int width)
{
    return pad(out, text, static_cast<int>(std::strlen(text)), width);
}

// A non-negative whole number wider than its field keeps its last `width`
// digits, so the fields after it stay in their columns (as .gro files wrap
// atom numbers at 100 000).
long long fitted(long long value, int width)
{
    long long limit = 1;
    for (int k = 0; k < width; ++k)
        limit *= 10;
    return value >= limit ? value % limit : value;
}

} // namespace

char* HetatmRecord::format(char* line) const
{
    // "HETATM%5d %4s %3s A%4d    %8.3f%8.3f%8.3f%6d%6d      SEG %2s\n"
    char* out = line;
    std::memcpy(out, "HETATM", 6);
    out = putInteger(out + 6, fitted(serial, 5), 5);
    *out++ = ' ';
    out = putText(out, atomName, 4);
    *out++ = ' ';
    out = putText(out, residueName, 3);
    std::memcpy(out, " A", 2);
    out = putInteger(out + 2, fitted(residueNumber, 4), 4);
    std::memcpy(out, "    ", 4);
    out += 4;
    out = putCoordinate(out, p.x);
    out = putCoordinate(out, p.y);
    out = putCoordinate(out, p.z);
    out = putInteger(out, fitted(occupancy, 6), 6);
    out = putInteger(out, fitted(temperature, 6), 6);
    std::memcpy(out, "      SEG ", 10);
    out = putText(out + 10, element, 2);
    *out++ = '\n';
    return out;
}

std::string HetatmRecord::text() const
{
    char line[2048];
    return std::string(line, static_cast<std::size_t>(format(line) - line));
}

void HetatmRecord::write(std::FILE* f) const
{
    char line[2048];
    std::fwrite(line, 1, static_cast<std::size_t>(format(line) - line), f);
}

namespace {

// The text of a run of models, in room that grows and is kept from run to
// run: formatting a record appends its characters.
class Text {
public:
    // Room for at least `count` more characters at end().
    char* room(std::size_t count)
    {
        if (data_.size() - size_ < count)
            data_.resize(std::max(data_.size() * 2, size_ + count));
        return data_.data() + size_;
    }
    void grow(char* end) { size_ = static_cast<std::size_t>(end - data_.data()); }
    void put(const char* text, std::size_t length)
    {
        if (length == 0)
            return;
        std::memcpy(room(length), text, length);
        size_ += length;
    }
    void put(const char* text) { put(text, std::strlen(text)); }
    void record(const HetatmRecord& r) { grow(r.format(room(hetatmRoom))); }
    const char* data() const { return data_.data(); }
    std::size_t size() const { return size_; }
    void clear() { size_ = 0; }

    // A HETATM record of any values takes fewer characters than this.
    static constexpr std::size_t hetatmRoom = 2048;

private:
    std::vector<char> data_;
    std::size_t size_ = 0;
};

// "%6s%5d%5d\n" with "CONECT".
void putConect(Text& text, long long a, long long b)
{
    char* line = text.room(64);
    std::memcpy(line, "CONECT", 6);
    char* out = putInteger(line + 6, a, 5);
    out = putInteger(out, b, 5);
    *out++ = '\n';
    text.grow(out);
}

// "%s%9lld\n" with "MODEL", without the newline when `newline` is false.
void putModel(Text& text, long long number, bool newline)
{
    char* line = text.room(64);
    std::memcpy(line, "MODEL", 5);
    char* out = putInteger(line + 5, number, 9);
    if (newline)
        *out++ = '\n';
    text.grow(out);
}

} // namespace

namespace {

// Writes blocks 0 .. count-1 to `f` in order. Runs of blocks are formatted
// into memory in parallel while the finished runs are written in order, a
// few runs in flight at a time, so the memory held stays small; the runs'
// room is taken again by later runs. `format(text, i)` appends block i.
template <class Format>
void writeBlocks(std::FILE* f, std::size_t count, Format format)
{
    constexpr std::size_t run = 512;
    const std::size_t runs = (count + run - 1) / run;
    struct Run {
        std::size_t k = 0;
        Text* text = nullptr;
    };
    const std::size_t inFlight = 2 * static_cast<std::size_t>(tbb::this_task_arena::max_concurrency()) + 2;
    // A run takes a text when it starts and gives it back once written; as
    // no more runs are in flight than there are texts, one is always free.
    std::vector<Text> texts(inFlight);
    std::vector<Text*> free;
    for (Text& t : texts)
        free.push_back(&t);
    std::mutex guard;
    std::size_t next = 0;
    tbb::parallel_pipeline(
        inFlight,
        tbb::make_filter<void, Run>(tbb::filter_mode::serial_in_order,
                                    [&](tbb::flow_control& fc) -> Run {
                                        if (next == runs) {
                                            fc.stop();
                                            return {};
                                        }
                                        Run r{next++, nullptr};
                                        std::lock_guard<std::mutex> lock(guard);
                                        r.text = free.back();
                                        free.pop_back();
                                        return r;
                                    }) &
            tbb::make_filter<Run, Run>(tbb::filter_mode::parallel,
                                       [&](Run r) {
                                           r.text->clear();
                                           for (std::size_t i = r.k * run; i < std::min(count, (r.k + 1) * run); ++i)
                                               format(*r.text, i);
                                           return r;
                                       }) &
            tbb::make_filter<Run, void>(tbb::filter_mode::serial_in_order, [&](Run r) {
                if (r.text->size() > 0) // a run of no models has no room yet
                    std::fwrite(r.text->data(), 1, r.text->size(), f);
                std::lock_guard<std::mutex> lock(guard);
                free.push_back(r.text);
            }));
}

// One ring as a PDB model.
void writeRingModel(Text& f, const Frame& atoms, const RingSearch& rings, const RingGeometry& geo,
                    std::size_t r)
{
    const std::span<const int32_t> ring = rings.ringList[r];
    const int n = geo.numNode[r];
    const long long number = static_cast<long long>(r) + 1;
    putModel(f, number, true);
    for (int k = 0; k < n; ++k) {
        const int32_t a = ring[k];
        f.record({k + 1, "O", "OW", k + 1, atoms.positions[a], number, static_cast<long long>(a) + 1, "O"});
    }
    f.record({n + 1, "X", "CNT", n + 1, geo.centRing[r], number, -1, "X"});
    f.record({n + 2, "H", "NRM", n + 2, geo.normRing[r], number, -1, "H"});
    for (int k = 1; k < n; ++k)
        putConect(f, k, k + 1);
    putConect(f, n, 1);
    f.put("ENDMDL\n");
}

// One closed cage as a PDB model; nothing for a cage that is not closed.
void writeCageModel(Text& f, const Frame& atoms, const RingSearch& rings, const RingGeometry& geo,
                    const Network& net, const CageSearch& cages, const CageClasses& classes, std::size_t i,
                    std::vector<int32_t>& serialAtom, std::vector<int32_t>& serialOf, std::vector<int32_t>& written,
                    std::vector<int32_t>& partners)
{
    const std::array<float, 4>& vef = classes.cageVEF[i];
    if (vef[3] != 2.0f)
        return;
    const std::span<const int32_t> cage = cages.cageList[i];
    const int32_t r0 = cage[0];
    const Vec3 c0 = geo.centRing[r0];
    for (int32_t a : written)
        serialOf[a] = 0;
    written.clear();
    serialAtom.clear();

    putModel(f, static_cast<long long>(i) + 1, false);
    {
        const std::string& type = classes.cageType[i];
        char* line = f.room(256 + type.size());
        const int length = std::snprintf(line, 256 + type.size(), "     V= %.0f E= %.0f F= %.0f   V-E+F= %.0f    cage: %s\n",
                                         vef[0], vef[1], vef[2], vef[3], type.c_str());
        f.grow(line + length);
    }
    Vec3 tip = geo.normRing[r0];
    if (cages.cageNorm[i] < 0)
        tip = Vec3{2.0f * c0.x, 2.0f * c0.y, 2.0f * c0.z} - tip;
    f.record({1, "H", "NRM", 1, tip, static_cast<long long>(r0) + 1, -1, "H"});
    serialAtom.push_back(-1);

    int serial = 1;
    for (std::size_t p = 0; p < cage.size(); ++p) {
        const int32_t r = cage[p];
        const Vec3 x = c0 + minimumImage(geo.centRing[r], c0, atoms.box);
        ++serial;
        f.record({serial, "X", "CNT", serial, x, static_cast<long long>(r) + 1, -1, "X"});
        serialAtom.push_back(-1);
        const char* element = p == 0 ? "He" : cageElement(i);
        const std::span<const int32_t> ring = rings.ringList[r];
        for (int k = 0; k < geo.numNode[r]; ++k) {
            const int32_t a = ring[k];
            if (serialOf[a] != 0)
                continue;
            ++serial;
            serialOf[a] = serial;
            written.push_back(a);
            serialAtom.push_back(a);
            const Vec3 pos = c0 + minimumImage(atoms.positions[a], c0, atoms.box);
            f.record({serial, "O", "OW", serial, pos, static_cast<long long>(r) + 1, static_cast<long long>(a) + 1,
                      element});
        }
    }

    putConect(f, 1, 2);
    // Every bond among the cage's oxygens, by ascending serial pairs.
    for (std::size_t s = 0; s < serialAtom.size(); ++s) {
        const int32_t a = serialAtom[s];
        if (a < 0)
            continue;
        partners.clear();
        for (int32_t b : net.adj[static_cast<std::size_t>(a)]) {
            const int32_t t = serialOf[b];
            if (t > static_cast<int32_t>(s) + 1)
                partners.push_back(t);
        }
        std::sort(partners.begin(), partners.end());
        for (int32_t t : partners)
            putConect(f, static_cast<long long>(s) + 1, t);
    }
    f.put("ENDMDL\n");
}

} // namespace

void writeRingFile(const std::string& path, const Frame& atoms, const RingSearch& rings,
                   const RingGeometry& geo)
{
    AppendFile file(path);
    std::FILE* f = file.get();
    writeCryst1(f, atoms.box);
    writeBlocks(f, rings.ringList.size(), [&](Text& m, std::size_t r) { writeRingModel(m, atoms, rings, geo, r); });
    file.close();
}

void writeDataFile(const std::string& path, const std::string& census)
{
    AppendFile file(path);
    std::fputs(census.c_str(), file.get());
    std::fputs("\n", file.get());
    file.close();
}

const char* cageElement(std::size_t cage)
{
    // Atomic numbers 3 (Li) to 110 (Ds), right-justified in two characters.
    static const char* const symbols[108] = {
        "Li", "Be", " B", " C", " N", " O", " F", "Ne", "Na", "Mg", "Al", "Si", " P", " S", "Cl", "Ar", " K", "Ca",
        "Sc", "Ti", " V", "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga", "Ge", "As", "Se", "Br", "Kr", "Rb", "Sr",
        " Y", "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag", "Cd", "In", "Sn", "Sb", "Te", " I", "Xe", "Cs", "Ba",
        "La", "Ce", "Pr", "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu", "Hf", "Ta", " W",
        "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At", "Rn", "Fr", "Ra", "Ac", "Th", "Pa", " U",
        "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No", "Lr", "Rf", "Db", "Sg", "Bh", "Hs", "Mt", "Ds"};
    return symbols[cage % 108];
}

void writeCageFile(const std::string& path, const std::string& census, const Frame& atoms,
                   const RingSearch& rings, const RingGeometry& geo, const Network& net, const CageSearch& cages,
                   const CageClasses& classes)
{
    AppendFile file(path);
    std::FILE* f = file.get();
    std::fprintf(f, "REMARK %s\n", census.c_str());
    writeCryst1(f, atoms.box);

    // Per thread, per model: the atom behind each serial number (-1 for
    // pseudo-atoms) and the serial each written atom got.
    struct Scratch {
        std::vector<int32_t> serialAtom, serialOf, written, partners;
    };
    tbb::enumerable_thread_specific<Scratch> scratch([&] {
        Scratch t;
        t.serialOf.assign(atoms.positions.size(), 0);
        return t;
    });
    writeBlocks(f, cages.cageList.size(), [&](Text& m, std::size_t i) {
        Scratch& t = scratch.local();
        writeCageModel(m, atoms, rings, geo, net, cages, classes, i, t.serialAtom, t.serialOf, t.written, t.partners);
    });
    file.close();
}

} // namespace kavet
