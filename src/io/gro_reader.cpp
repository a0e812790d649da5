#include "io/gro_reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>
#include <utility>
#include <sys/stat.h>

#include <tbb/parallel_for.h>
#include <tbb/task_group.h>

#include "core/error.h"

namespace kavet {
namespace {

// Hands out the lines of a text source one at a time, without their end of
// line or a trailing carriage return. Reads from a file in large blocks, so
// only the first frame of a long trajectory is ever read.
class LineSource {
public:
    explicit LineSource(std::FILE* file) : file_(file) {}
    explicit LineSource(const std::string& text) : buffer_(text), end_(text.size()), exhausted_(true) {}

    bool next(std::string& line)
    {
        line.clear();
        for (;;) {
            if (pos_ == end_ && !refill()) {
                if (line.empty() && !pendingPartial_)
                    return false;
                pendingPartial_ = false;
                unterminated_ = true;
                break;
            }
            const char* start = buffer_.data() + pos_;
            const void* nl = std::memchr(start, '\n', end_ - pos_);
            if (nl) {
                std::size_t len = static_cast<const char*>(nl) - start;
                line.append(start, len);
                pos_ += len + 1;
                pendingPartial_ = false;
                unterminated_ = false;
                break;
            }
            line.append(start, end_ - pos_);
            pendingPartial_ = true;
            pos_ = end_;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        ++lineNumber_;
        return true;
    }

    // Appends up to `n` whole lines to `out` as they stand in the source,
    // ends of line and carriage returns included (a last line that ends the
    // source without an end of line has none); returns how many.
    long long takeLines(long long n, std::string& out)
    {
        long long taken = 0;
        while (taken < n) {
            if (pos_ == end_ && !refill()) {
                if (pendingPartial_) {
                    pendingPartial_ = false;
                    unterminated_ = true;
                    ++lineNumber_;
                    ++taken;
                }
                break;
            }
            const char* start = buffer_.data() + pos_;
            const char* stop = buffer_.data() + end_;
            const char* p = start;
            while (taken < n) {
                const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(stop - p));
                if (!nl)
                    break;
                p = static_cast<const char*>(nl) + 1;
                ++taken;
                ++lineNumber_;
                unterminated_ = false;
            }
            if (taken == n) {
                out.append(start, static_cast<std::size_t>(p - start));
                pos_ = static_cast<std::size_t>(p - buffer_.data());
                pendingPartial_ = false;
                break;
            }
            out.append(start, static_cast<std::size_t>(stop - start));
            pendingPartial_ = p < stop;
            pos_ = end_;
        }
        return taken;
    }

    long long lineNumber() const { return lineNumber_; }
    // Whether the last line handed out ended with the file, without an end
    // of line.
    bool unterminated() const { return unterminated_; }

    bool readError() const { return readError_; }
    int readErrno() const { return readErrno_; }

private:
    bool refill()
    {
        if (exhausted_ || !file_)
            return false;
        buffer_.resize(1 << 16);
        std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        if (got == 0) {
            readError_ = std::ferror(file_) != 0;
            readErrno_ = errno;
            exhausted_ = true;
            return false;
        }
        pos_ = 0;
        end_ = got;
        return true;
    }

    std::FILE* file_ = nullptr;
    std::string buffer_;
    std::size_t pos_ = 0, end_ = 0;
    bool exhausted_ = false;
    bool pendingPartial_ = false;
    bool unterminated_ = false;
    bool readError_ = false;
    int readErrno_ = 0; // errno as the read failed
    long long lineNumber_ = 0;
};

// The column cut of a fixed-width field, shorter where the line ends earlier,
// without its leading and trailing blanks.
std::string trimmedField(std::string_view line, std::size_t start, std::size_t width)
{
    if (start >= line.size())
        return std::string();
    const std::size_t end = std::min(line.size(), start + width);
    std::size_t b = start;
    while (b < end && line[b] == ' ')
        ++b;
    std::size_t e = end;
    while (e > b && line[e - 1] == ' ')
        --e;
    return std::string(line.substr(b, e - b));
}

bool onlyBlanks(const char* p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    return *p == '\0';
}

// A field that is blanks, an optional minus sign, at most seven digits with
// one decimal point among or after them, and blanks, as .gro files write
// them: its value without strtof. The digits make a whole number m below
// 2^24 and the point a power of ten 10^k (k at most 7), both exact in single
// precision, so m / 10^k is the correctly rounded value of the decimal, as
// strtof's is. Anything else is left to strtof.
bool plainDecimal(const char* p, float& value)
{
    static constexpr float power[8] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
    while (*p == ' ')
        ++p;
    const bool negative = *p == '-';
    p += negative;
    int32_t m = 0, digits = 0, decimals = -1;
    for (;; ++p) {
        if (*p >= '0' && *p <= '9') {
            m = m * 10 + (*p - '0');
            decimals += decimals >= 0;
            if (++digits > 7)
                return false;
        } else if (*p == '.' && decimals < 0) {
            decimals = 0;
        } else {
            break;
        }
    }
    while (*p == ' ')
        ++p;
    if (digits == 0 || *p != '\0')
        return false;
    const float magnitude = static_cast<float>(m) / power[decimals < 0 ? 0 : decimals];
    value = negative ? -magnitude : magnitude;
    return true;
}

// The width of a coordinate field, as GROMACS finds it: the distance between
// the decimal points of the x and y fields in the first atom line (8 for the
// usual three decimals, 10 for `gmx trjconv -ndec 5`). A line where the
// points are not evenly spaced keeps the usual width, and its fields are
// judged as they stand.
std::size_t fieldWidth(std::string_view line)
{
    const std::size_t p1 = line.find('.', 20);
    const std::size_t p2 = p1 == std::string::npos ? p1 : line.find('.', p1 + 1);
    const std::size_t p3 = p2 == std::string::npos ? p2 : line.find('.', p2 + 1);
    if (p3 == std::string::npos || p2 - p1 != p3 - p2 || p2 - p1 < 5 || p2 - p1 > 30)
        return 8;
    return p2 - p1;
}

// The fields of a frame's lines, each read as GROMACS lays it out; a field
// that breaks the layout is reported with the file and the line number.
struct Fields {
    const std::string& name;
    std::size_t width = 0; // of a coordinate field, from the first atom line

    [[noreturn]] void fail(long long lineNumber, const std::string& what) const
    {
        throw FormatError(name, lineNumber, what);
    }

    // GROMACS writes "t= TIME step= STEP" into the title line of every frame
    // of a trajectory.
    static void readTitle(Coordinates& t, const std::string& line)
    {
        t.hasTime = false;
        t.time = 0.0;
        t.step = 0;
        const std::size_t at = line.rfind(" t= ");
        if (at == std::string::npos && line.rfind("t= ", 0) != 0)
            return;
        const char* p = line.c_str() + (at == std::string::npos ? 3 : at + 4);
        char* end = nullptr;
        const double time = std::strtod(p, &end);
        if (end == p || !std::isfinite(time))
            return;
        t.hasTime = true;
        t.time = time;
        if (const std::size_t s = line.find("step= ", static_cast<std::size_t>(end - line.c_str()));
            s != std::string::npos)
            t.step = std::strtoll(line.c_str() + s + 6, nullptr, 10);
    }

    // A .gro file is text: a NUL byte would end a field early and hide what
    // follows it.
    void refuseNul(std::string_view line, long long number) const
    {
        if (const void* nul = std::memchr(line.data(), '\0', line.size()))
            fail(number, "column " + std::to_string(static_cast<const char*>(nul) - line.data() + 1) +
                             " holds a NUL byte, which has no place in a .gro file");
    }

    long long parseCount(const std::string& line, long long number) const
    {
        refuseNul(line, number);
        const char* p = line.c_str();
        while (*p == ' ' || *p == '\t')
            ++p;
        const char* digits = p;
        if (*digits == '+' || *digits == '-')
            ++digits;
        if (!(*digits >= '0' && *digits <= '9'))
            fail(number, "no atom count (a whole number) on the count line");
        char* end = nullptr;
        errno = 0;
        long long count = std::strtoll(p, &end, 10);
        bool overflow = errno == ERANGE;
        while (*end == ' ' || *end == '\t')
            ++end;
        if (*end != '\0')
            fail(number, "the count line holds more than the atom count");
        if (overflow || count > 2147483647LL)
            fail(number, "the atom count is too large");
        if (count < 0)
            fail(number, "negative atom count " + std::to_string(count));
        return count;
    }

    float coordinate(std::string_view line, std::size_t start, const char* axis, long long number) const
    {
        // The field, cut at its column width and ended with a NUL.
        char text[64];
        const std::size_t length = start < line.size() ? std::min(width, line.size() - start) : 0;
        std::string longer;
        const char* f = text;
        if (length < sizeof text) {
            std::memcpy(text, line.data() + start, length);
            text[length] = '\0';
        } else {
            longer = std::string(line.substr(start, length));
            f = longer.c_str();
        }
        float v;
        if (!plainDecimal(f, v)) {
            char* end = nullptr;
            v = std::strtof(f, &end);
            if (end == f)
                fail(number, std::string("no number in the ") + axis + " column");
            if (!onlyBlanks(end))
                fail(number, std::string("the ") + axis + " column (columns " + std::to_string(start + 1) + "-" +
                                 std::to_string(start + width) + ") holds more than one number: '" +
                                 std::string(f, length) + "'");
        }
        if (!std::isfinite(v))
            fail(number, std::string("the ") + axis + " coordinate is not a finite number");
        float scaled = v * 10.0f;
        if (!std::isfinite(scaled))
            fail(number, std::string("the ") + axis + " coordinate is too large");
        return scaled;
    }

    // `unterminated`: the line ends the file without an end of line. The
    // names are read where `residue` and `atomName` are given.
    void readAtom(std::string_view line, long long number, bool unterminated, std::string* residue,
                  std::string* atomName, Vec3& p) const
    {
        refuseNul(line, number);
        if (line.size() < 20 + 3 * width && unterminated)
            fail(number, "the file ends inside this atom line (" + std::to_string(line.size()) +
                             " characters): the file is truncated");
        if (line.size() < 20 + 3 * width)
            fail(number, "the atom line is too short (" + std::to_string(line.size()) +
                             " characters; the coordinates need " + std::to_string(20 + 3 * width) + ")");
        p.x = coordinate(line, 20, "x", number);
        p.y = coordinate(line, 20 + width, "y", number);
        p.z = coordinate(line, 20 + 2 * width, "z", number);
        if (residue)
            *residue = trimmedField(line, 0, 10);
        if (atomName)
            *atomName = trimmedField(line, 10, 5);
    }

    // Three box lengths, or the nine numbers of a triclinic cell in GROMACS's
    // order, v1(x) v2(y) v3(z) v1(y) v1(z) v2(x) v2(z) v3(x) v3(y). A line
    // with four to eight numbers is rectangular, as GROMACS reads it.
    void readBox(const std::string& line, long long number, bool unterminated, Box& box) const
    {
        refuseNul(line, number);
        const char* p = line.c_str();
        float v[9];
        int found = 0;
        while (found < 9) {
            char* end = nullptr;
            float x = std::strtof(p, &end);
            if (end == p)
                break;
            v[found++] = x;
            p = end;
        }
        if (found < 3 && unterminated)
            fail(number, "the file ends inside the box line: the file is truncated");
        if (found < 3)
            fail(number, "the box line needs three box lengths, found " + std::to_string(found));
        if (const std::string fault = readCell(v, found == 9, box); !fault.empty())
            fail(number, fault);
    }
};

// Reads one frame: a title line, the count line, as many atom lines as it
// announces, and the box line. Every fault of a short source is reported
// here; the strategy hands out the lines and does its part with each:
//   Fields fields;                  the fields' reader
//   long long linesBefore();        lines handed out before this frame
//   bool line(std::string&);        the next line, false at the end
//   void title(const std::string&);
//   void count(long long count);
//   long long atoms(long long count, long long firstNumber);
//                                   takes up to `count` atom lines, numbered
//                                   from firstNumber; returns how many there were
//   void box(const std::string&, long long number);
// Returns false when the source ends before a later frame's title line; the
// first frame must be there.
template <class Strategy>
bool readFrame(Strategy& s, bool first)
{
    const long long base = s.linesBefore();
    std::string line;
    if (!s.line(line)) {
        if (first)
            s.fields.fail(base + 1, "the file is empty (expected a title line)");
        return false;
    }
    s.title(line);
    if (!s.line(line))
        s.fields.fail(base + 2, "the file ends before the atom count");
    const long long count = s.fields.parseCount(line, base + 2);
    s.count(count);
    if (const long long read = s.atoms(count, base + 3); read < count)
        s.fields.fail(base + 3 + read, "the file ends after " + std::to_string(read) + " of the " +
                                           std::to_string(count) + " atom lines announced on line " +
                                           std::to_string(base + 2));
    if (!s.line(line))
        s.fields.fail(base + 3 + count, "the file ends before the box line");
    s.box(line, base + 3 + count);
    return true;
}

// The lines of a LineSource, for the strategies that read a source in turn.
struct SourceLines {
    LineSource& src;
    Fields fields;

    long long linesBefore() const { return src.lineNumber(); }
    bool line(std::string& line)
    {
        if (src.next(line))
            return true;
        if (src.readError()) {
            const int err = errno;
            throw FileError("reading " + fields.name + " failed", err);
        }
        return false;
    }
};

bool nextLine(std::string_view text, std::size_t& pos, std::string_view& line);

// Cuts `text` into pieces of about `pieceBytes` (1 to 256 of them), each
// starting a line: piece k is [begin[k], begin[k + 1]). Their lines are
// counted in parallel; firstLine[k] is the number of piece k's first line,
// firstLine[pieces] the text's line count. Returns the number of pieces.
std::size_t cutAtLineEnds(std::string_view text, std::size_t pieceBytes, std::vector<std::size_t>& begin,
                          std::vector<long long>& firstLine)
{
    const std::size_t pieces = std::max<std::size_t>(1, std::min<std::size_t>(256, text.size() / pieceBytes));
    begin.assign(pieces + 1, text.size());
    begin[0] = 0;
    for (std::size_t k = 1; k < pieces; ++k) {
        std::size_t at = std::max(begin[k - 1], text.size() * k / pieces);
        if (at > 0 && at < text.size()) {
            const void* nl = std::memchr(text.data() + at - 1, '\n', text.size() - at + 1);
            at = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) + 1 : text.size();
        }
        begin[k] = at;
    }
    firstLine.assign(pieces + 1, 0);
    tbb::parallel_for(std::size_t(0), pieces, [&](std::size_t k) {
        std::size_t p = begin[k];
        std::string_view l;
        long long n = 0;
        while (nextLine(text.substr(0, begin[k + 1]), p, l))
            ++n;
        firstLine[k + 1] = n;
    });
    for (std::size_t k = 0; k < pieces; ++k)
        firstLine[k + 1] += firstLine[k];
    return pieces;
}

// Reads a frame's coordinates into `t` (the names of a later frame are the
// first frame's: they are not read). Its atom lines are taken from the source
// in runs, and each run is read in parallel pieces, the first fault in line
// order the one reported. The table grows with the lines actually there,
// whatever the count line announces.
struct InRuns : SourceLines {
    Coordinates& t;
    long long atomCount = 0;

    void title(const std::string& line) { Fields::readTitle(t, line); }
    void count(long long count)
    {
        atomCount = count;
        t.positions.clear();
    }
    long long atoms(long long count, long long firstNumber)
    {
        constexpr long long runLines = 1 << 16;
        constexpr std::size_t pieceBytes = 1 << 15;
        std::string text;
        std::vector<std::size_t> begin;
        std::vector<long long> firstLine;
        long long done = 0;
        while (done < count) {
            text.clear();
            const long long lines = src.takeLines(std::min(runLines, count - done), text);
            if (lines == 0)
                break;
            // The last line of the run ends the source without an end of line.
            const bool lastUnterminated = !text.empty() && text.back() != '\n';
            const std::string_view all(text);
            const std::size_t pieces = cutAtLineEnds(all, pieceBytes, begin, firstLine);
            if (done == 0) {
                std::size_t p = 0;
                std::string_view l;
                nextLine(all, p, l);
                fields.width = fieldWidth(l);
            }
            const std::size_t at = static_cast<std::size_t>(done);
            t.positions.resize(at + static_cast<std::size_t>(lines));
            std::vector<std::exception_ptr> fault(pieces);
            tbb::parallel_for(std::size_t(0), pieces, [&](std::size_t k) {
                std::size_t p = begin[k];
                std::string_view l;
                try {
                    for (long long i = firstLine[k]; i < firstLine[k + 1]; ++i) {
                        nextLine(all.substr(0, begin[k + 1]), p, l);
                        const std::size_t a = at + static_cast<std::size_t>(i);
                        fields.readAtom(l, firstNumber + done + i, lastUnterminated && i + 1 == lines, nullptr,
                                        nullptr, t.positions[a]);
                    }
                } catch (...) {
                    fault[k] = std::current_exception();
                }
            });
            for (const std::exception_ptr& f : fault)
                if (f)
                    std::rethrow_exception(f);
            done += lines;
        }
        if (done < count && src.readError())
            throw FileError("reading " + fields.name + " failed", src.readErrno());
        return done;
    }
    void box(const std::string& line, long long number) { fields.readBox(line, number, src.unterminated(), t.box); }
};

// Passes over a frame, counting its atom lines; reads only its title and count
// into `head`.
struct Skimming : SourceLines {
    Coordinates& head;
    long long atomCount = 0;

    void title(const std::string& line) { Fields::readTitle(head, line); }
    void count(long long count) { atomCount = count; }
    long long atoms(long long count, long long)
    {
        std::string l;
        for (long long i = 0; i < count; ++i)
            if (!line(l))
                return i;
        return count;
    }
    void box(const std::string&, long long) {}
};

// The next line of in-memory text from `pos`, as LineSource hands lines out.
bool nextLine(std::string_view text, std::size_t& pos, std::string_view& line)
{
    if (pos >= text.size())
        return false;
    const char* start = text.data() + pos;
    const void* nl = std::memchr(start, '\n', text.size() - pos);
    const std::size_t length = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - start) : text.size() - pos;
    pos += length + (nl ? 1 : 0);
    line = std::string_view(start, length);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return true;
}

// Reads the first frame of in-memory text into `t`: the atom lines in
// parallel, in pieces of the text, with the first fault in line order the
// one reported.
class InPieces {
public:
    Fields fields;

    InPieces(std::string_view text, const std::string& name, Topology& names, Coordinates& t)
        : fields{name}, text_(text), names_(names), t_(t)
    {
    }

    long long linesBefore() const { return 0; }
    bool line(std::string& line)
    {
        std::string_view l;
        if (!inRest_) {
            if (!nextLine(text_, pos_, l))
                return false;
        } else {
            if (next_ >= available_)
                return false;
            l = lineOf(next_++);
            unterminated_ = endsText(l);
        }
        line.assign(l);
        return true;
    }
    void title(const std::string& line) { Fields::readTitle(t_, line); }
    void count(long long count) { names_.atomCount = static_cast<int32_t>(count); }
    long long atoms(long long count, long long firstNumber)
    {
        cut();
        const long long atoms = std::min(count, available_);
        if (atoms > 0)
            fields.width = fieldWidth(lineOf(0));
        names_.residue.resize(static_cast<std::size_t>(atoms));
        names_.atomName.resize(static_cast<std::size_t>(atoms));
        t_.positions.resize(static_cast<std::size_t>(atoms));
        std::vector<std::exception_ptr> fault(pieces_);
        tbb::parallel_for(std::size_t(0), pieces_, [&](std::size_t k) {
            std::size_t p = begin_[k];
            std::string_view l;
            try {
                for (long long i = firstLine_[k]; i < std::min(atoms, firstLine_[k + 1]); ++i) {
                    pieceLine(k, p, l);
                    const std::size_t a = static_cast<std::size_t>(i);
                    fields.readAtom(l, firstNumber + i, endsText(l), &names_.residue[a], &names_.atomName[a],
                                    t_.positions[a]);
                }
            } catch (...) {
                fault[k] = std::current_exception();
            }
        });
        for (const std::exception_ptr& f : fault)
            if (f)
                std::rethrow_exception(f);
        next_ = atoms;
        return atoms;
    }
    void box(const std::string& line, long long number) { fields.readBox(line, number, unterminated_, t_.box); }

private:
    // Cuts the text after the count line into pieces, each starting a line,
    // and counts their lines.
    void cut()
    {
        rest_ = text_.substr(pos_);
        inRest_ = true;
        pieces_ = cutAtLineEnds(rest_, 1 << 16, begin_, firstLine_);
        available_ = firstLine_[pieces_];
    }
    // Whether a line of the rest ends the text without an end of line.
    bool endsText(std::string_view l) const
    {
        return l.data() + l.size() == rest_.data() + rest_.size() && (rest_.empty() || rest_.back() != '\n');
    }
    // The next line of piece k from `p`.
    bool pieceLine(std::size_t k, std::size_t& p, std::string_view& l) const
    {
        return nextLine(rest_.substr(0, begin_[k + 1]), p, l);
    }
    // A line of the rest by its number.
    std::string_view lineOf(long long number) const
    {
        const std::size_t k = static_cast<std::size_t>(
            std::upper_bound(firstLine_.begin(), firstLine_.end(), number) - firstLine_.begin() - 1);
        std::size_t p = begin_[k];
        std::string_view l;
        for (long long n = firstLine_[k]; n <= number; ++n)
            pieceLine(k, p, l);
        return l;
    }

    std::string_view text_;
    Topology& names_;
    Coordinates& t_;
    std::size_t pos_ = 0;      // in the text, before the rest is cut
    bool inRest_ = false;      // whether the rest is cut
    std::string_view rest_;    // the text after the count line
    std::size_t pieces_ = 0;
    std::vector<std::size_t> begin_;     // of each piece in the rest, and its end
    std::vector<long long> firstLine_;   // the number of each piece's first line in the rest, and the lines in all
    long long available_ = 0;            // lines in the rest
    long long next_ = 0;                 // the next line of the rest to hand out
    bool unterminated_ = false;          // the last line handed out ends the text without an end of line
};

void readFirstFrame(std::string_view text, const std::string& name, Frame& t)
{
    InPieces pieces(text, name, t.editTopology(), t);
    readFrame(pieces, true);
}

// The text of the first frame of `file`: whole lines up to the box line that
// the count line announces, or all of a shorter file.
// Calls onCount(count) once the count line has been read and holds a count.
template <class OnCount>
std::string firstFrameText(std::FILE* file, const std::string& name, OnCount onCount)
{
    std::string text;
    struct stat st;
    if (::fstat(::fileno(file), &st) == 0 && st.st_size > 0)
        text.reserve(static_cast<std::size_t>(std::min<long long>(st.st_size, 1LL << 28)));
    constexpr std::size_t blockSize = 1 << 16;
    const std::unique_ptr<char[]> block(new char[blockSize]); // not zeroed: fread fills what it reads
    std::size_t lines = 0, counted = 0;
    long long wanted = -1; // lines in all, once the count line is read
    for (;;) {
        if (wanted >= 0 && static_cast<long long>(lines) >= wanted)
            break;
        const std::size_t got = std::fread(block.get(), 1, blockSize, file);
        text.append(block.get(), got);
        if (got == 0) {
            if (std::ferror(file)) {
                const int err = errno;
                throw FileError("reading " + name + " failed", err);
            }
            break;
        }
        for (const char* p = text.data() + counted; p < text.data() + text.size(); ++p) {
            p = static_cast<const char*>(std::memchr(p, '\n', text.data() + text.size() - p));
            if (!p)
                break;
            ++lines;
            if (lines == 2 && wanted < 0) {
                // A count line that does not read is reported by the reader,
                // which needs no more than these two lines.
                std::size_t at = 0;
                std::string_view line;
                nextLine(text, at, line);
                nextLine(text, at, line);
                try {
                    wanted = Fields{name}.parseCount(std::string(line), 2) + 3;
                    onCount(wanted - 3);
                } catch (const Failure&) {
                    wanted = 2;
                }
            }
        }
        counted = text.size();
    }
    return text;
}

} // namespace

Frame parseConfiguration(const std::string& text, const std::string& name, const std::string& waterName,
                             const std::string& oxygenName)
{
    Frame frame;
    readFirstFrame(text, name, frame);
    selectWaters(frame.editTopology(), waterName, oxygenName);
    return frame;
}

Frame readConfiguration(const std::string& path, const std::string& waterName, const std::string& oxygenName)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        const int err = errno;
        throw FileError("open file  " + path + "  failed !", err);
    }
    // The atom tables are made while the rest of the text is read: both take
    // fresh memory, whose first touch is slow. Room is made for no more atom
    // lines (of at least 21 characters) than the file holds.
    Frame frame;
    Topology& names = frame.editTopology();
    tbb::task_group tables;
    struct stat st;
    const long long size = ::fstat(::fileno(file.get()), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
    std::string text;
    try {
        text = firstFrameText(file.get(), path, [&](long long count) {
            const std::size_t room = static_cast<std::size_t>(std::min(count, size / 21 + 1));
            tables.run([&frame, &names, room] {
                names.residue.resize(room);
                names.atomName.resize(room);
                frame.positions.resize(room);
            });
        });
    } catch (...) {
        tables.wait();
        throw;
    }
    tables.wait();
    readFirstFrame(text, path, frame);
    selectWaters(frame.editTopology(), waterName, oxygenName);
    return frame;
}

struct GroTrajectory::Source {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file;
    LineSource lines;
    explicit Source(std::FILE* f) : file(f, &std::fclose), lines(f) {}
};

GroTrajectory::GroTrajectory(const std::string& path) : path_(path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        const int err = errno;
        throw FileError("cannot open " + path + ": " + std::strerror(err), err);
    }
    source_ = std::make_unique<Source>(f);
}

GroTrajectory::~GroTrajectory() = default;

double GroTrajectory::fractionRead() const
{
    struct stat st;
    const long at = std::ftell(source_->file.get());
    if (at < 0 || ::fstat(::fileno(source_->file.get()), &st) != 0 || st.st_size <= 0)
        return -1.0;
    return static_cast<double>(at) / static_cast<double>(st.st_size);
}

template <class Read>
bool GroTrajectory::inFrame(Read read) const
{
    try {
        return read();
    } catch (const FileError& f) {
        throw FileError(std::string(f.what()) + " (" + frameContext(frames_, lastTime_) + ")", f.error());
    } catch (const Failure& f) {
        throw FormatError(std::string(f.what()) + " (" + frameContext(frames_, lastTime_) + ")");
    }
}

void GroTrajectory::takeAtomCount(int32_t atomCount)
{
    if (frames_ == 0)
        numAtom_ = atomCount;
    else if (atomCount != numAtom_)
        throw FormatError(path_ + ": frame " + std::to_string(frames_) + " has " + std::to_string(atomCount) +
                          " atoms, the first frame " + std::to_string(numAtom_));
}

bool GroTrajectory::next(Coordinates& frame)
{
    // Read into the frame's own storage, which a failure leaves unspecified.
    InRuns lines{{source_->lines, Fields{path_}}, frame};
    if (!inFrame([&] { return readFrame(lines, frames_ == 0); }))
        return false;
    takeAtomCount(static_cast<int32_t>(lines.atomCount));
    lastTime_ = frame.hasTime ? frame.time : static_cast<double>(frames_);
    ++frames_;
    return true;
}

bool GroTrajectory::skip()
{
    Coordinates head; // title and atom count only
    Skimming lines{{source_->lines, Fields{path_}}, head};
    if (!inFrame([&] { return readFrame(lines, frames_ == 0); }))
        return false;
    takeAtomCount(static_cast<int32_t>(lines.atomCount));
    lastTime_ = head.hasTime ? head.time : static_cast<double>(frames_);
    ++frames_;
    return true;
}

} // namespace kavet
