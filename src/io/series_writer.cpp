#include "io/series_writer.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>

#include "core/error.h"
#include "io/output_set.h"

namespace kavet {
namespace {

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The name without its extension, if it has one.
std::string withoutExtension(std::string path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        path.erase(dot);
    return path;
}

} // namespace

std::string csvField(const std::string& s)
{
    if (s.find_first_of(",\"\n\r") == std::string::npos)
        return s;
    std::string q = "\"";
    for (char c : s)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string graceText(const std::string& name)
{
    // The hyphens between the faces of a type go, as types are written in print.
    std::string out;
    auto digit = [&](std::size_t i) { return i < name.size() && name[i] >= '0' && name[i] <= '9'; };
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '^' && i > 0 && digit(i - 1) && digit(i + 1)) {
            out += "\\S";
            while (digit(i + 1))
                out += name[++i];
            out += "\\N";
            if (i + 2 < name.size() && name[i + 1] == '-' && digit(i + 2))
                ++i;
        } else if (name[i] == '"') {
            out += "''";
        } else {
            out += name[i];
        }
    }
    return out;
}

FreshFile::FreshFile(const std::string& path) : path_(path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        backup_ = backUp(path);
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        const int err = errno;
        throw FileError("cannot open " + path + " for writing: " + std::strerror(err), err);
    }
    struct stat opened;
    regular_ = ::fstat(::fileno(file_), &opened) == 0 && S_ISREG(opened.st_mode);
}

FreshFile::FreshFile(const std::string& path, const SeriesOutputs* outputs) : path_(path)
{
    if (!outputs) {
        *this = FreshFile(path);
        return;
    }
    fd_ = outputs->descriptor(path);
    backup_ = outputs->backup(path);
    if (fd_ < 0)
        throw Failure("the output " + path + " was not checked with the others");
    struct stat opened;
    regular_ = ::fstat(fd_, &opened) == 0 && S_ISREG(opened.st_mode);
}

FreshFile::FreshFile(FreshFile&& other) noexcept
    : path_(std::move(other.path_)), backup_(std::move(other.backup_)), file_(other.file_), fd_(other.fd_),
      regular_(other.regular_)
{
    other.file_ = nullptr;
    other.fd_ = -1;
}

FreshFile& FreshFile::operator=(FreshFile&& other) noexcept
{
    std::swap(path_, other.path_);
    std::swap(backup_, other.backup_);
    std::swap(file_, other.file_);
    std::swap(fd_, other.fd_);
    std::swap(regular_, other.regular_);
    return *this;
}

FreshFile::~FreshFile()
{
    if (file_)
        std::fclose(file_);
}

void FreshFile::write(const std::string& text)
{
    if (fd_ >= 0) {
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                const int err = n < 0 ? errno : EIO;
                throw FileError("writing " + path_ + " failed: " + std::strerror(err), err);
            }
            done += static_cast<std::size_t>(n);
        }
        return;
    }
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
        const int err = errno ? errno : EIO;
        throw FileError("writing " + path_ + " failed: " + std::strerror(err), err);
    }
}

SeriesWriter::SeriesWriter(const std::string& path, const std::vector<std::string>& columns,
                           const SeriesOutputs* outputs, const std::string& note)
    : file_(path, outputs), xvg_(endsWith(path, ".xvg"))
{
    std::string head;
    if (!xvg_) {
        if (!note.empty())
            head += "# " + note + "\n";
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (c > 0)
                head += ',';
            head += csvField(columns[c]);
        }
        file_.write(head + "\n");
        return;
    }
    // Time is x; the closed cages are the first set, so that xmgrace without
    // -nxy draws them; frame is left out, and F4 goes to a file of its own,
    // whose scale (about -0.5 to 0.9) would vanish beside counts.
    std::size_t closed = columns.size();
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (columns[c] == "time_ps")
            time_ = c;
        else if (columns[c] == "f4")
            f4_ = c;
        else if (columns[c] == "closed")
            closed = c;
    }
    if (closed < columns.size())
        sets_.push_back(closed);
    for (std::size_t c = 0; c < columns.size(); ++c)
        if (c != time_ && c != f4_ && c != closed && columns[c] != "frame")
            sets_.push_back(c);
    if (outputs ? outputs->descriptor(f4FileFor(path)) >= 0 : f4_ < columns.size() && file_.regular())
        f4File_ = std::make_unique<FreshFile>(f4FileFor(path), outputs);

    head += "# kavet census series: one row per frame\n";
    if (!note.empty())
        head += "# " + note + "\n";
    head += "# x is time_ps; the sets follow in the order of their legends\n";
    if (f4File_)
        head += "# F4 is in " + f4File_->path() + "\n";
    head += "# xmgrace -nxy shows the closed cages by type; the other sets are hidden\n";
    head += "@    title \"kavet census\"\n";
    head += "@    xaxis  label \"Time (ps)\"\n";
    head += "@    yaxis  label \"Closed cages\"\n";
    head += "@TYPE xy\n";
    head += "@ view 0.15, 0.15, 0.95, 0.85\n";
    head += "@ legend on\n";
    head += "@ legend 1.0, 0.85\n";
    head += "@ legend char size 0.8\n";
    // Grace's colours without yellow (5) and light grey (7), which are hard
    // to see on white.
    static const int colours[] = {1, 2, 3, 4, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::size_t shown = 0;
    for (std::size_t k = 0; k < sets_.size(); ++k) {
        const std::string& name = columns[sets_[k]];
        const std::string set = "@ s" + std::to_string(k);
        if (name == "closed" || name == "other_closed" || (!name.empty() && name[0] >= '0' && name[0] <= '9'))
            head += set + " line color " + std::to_string(colours[shown++ % std::size(colours)]) + "\n";
        else
            head += set + " hidden true\n";
        head += set + " legend \"" + graceText(name) + "\"\n";
    }
    file_.write(head);
    if (f4File_)
        f4File_->write("# kavet census series: the F4 order parameter of each frame of " + path + "\n"
                       "@    title \"kavet census: F\\s4\\N\"\n"
                       "@    xaxis  label \"Time (ps)\"\n"
                       "@    yaxis  label \"F\\s4\\N\"\n"
                       "@TYPE xy\n");
}

void SeriesWriter::row(const std::vector<std::string>& values)
{
    std::string line;
    if (xvg_) {
        auto value = [&](std::size_t c) { return c < values.size() ? values[c] : std::string(); };
        line = value(time_);
        for (std::size_t c : sets_)
            line += "  " + value(c);
        if (f4File_)
            f4File_->write(value(time_) + "  " + value(f4_) + "\n");
    } else {
        for (std::size_t c = 0; c < values.size(); ++c) {
            if (c > 0)
                line += ',';
            line += values[c];
        }
    }
    file_.write(line + "\n");
}

TypeWriter::TypeWriter(const std::string& path, const SeriesOutputs* outputs) : file_(path, outputs)
{
    file_.write("frame,time_ps,type,closed,count\n");
}

void TypeWriter::frame(int64_t frame, const std::string& time, const std::map<std::string, int64_t>& closed,
                       const std::map<std::string, int64_t>& defective)
{
    std::string text;
    for (const auto* types : {&closed, &defective})
        for (const auto& [type, count] : *types)
            text += std::to_string(frame) + "," + time + "," + csvField(type) + (types == &closed ? ",1," : ",0,") +
                    std::to_string(count) + "\n";
    file_.write(text);
}

std::string typeFileFor(const std::string& seriesPath)
{
    return withoutExtension(seriesPath) + "~types.csv";
}

std::string f4FileFor(const std::string& seriesPath)
{
    return withoutExtension(seriesPath) + "~f4.xvg";
}

std::vector<std::string> seriesFiles(const std::string& seriesPath, const std::vector<std::string>& columns)
{
    // Files named after the series go beside a regular file only (not beside
    // /dev/null).
    std::vector<std::string> files = {seriesPath};
    struct stat st;
    const bool regular = ::stat(seriesPath.c_str(), &st) != 0 || S_ISREG(st.st_mode);
    if (regular)
        files.push_back(typeFileFor(seriesPath));
    if (endsWith(seriesPath, ".xvg") && regular && std::find(columns.begin(), columns.end(), "f4") != columns.end())
        files.push_back(f4FileFor(seriesPath));
    return files;
}

} // namespace kavet
