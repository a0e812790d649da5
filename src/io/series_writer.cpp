#include "io/series_writer.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "core/error.h"

namespace kavet {
namespace {

bool exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Quotes a CSV field that needs it.
std::string csvField(const std::string& s)
{
    if (s.find_first_of(",\"\n") == std::string::npos)
        return s;
    std::string q = "\"";
    for (char c : s)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

} // namespace

FreshFile::FreshFile(const std::string& path) : path_(path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        const std::size_t slash = path.rfind('/');
        const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        for (int k = 1; k < 100000 && backup_.empty(); ++k) {
            const std::string candidate = dir + "#" + base + "." + std::to_string(k) + "#";
            if (!exists(candidate)) {
                if (std::rename(path.c_str(), candidate.c_str()) != 0) {
                    const int err = errno;
                    throw FileError("cannot back up " + path + " to " + candidate + ": " + std::strerror(err), err);
                }
                backup_ = candidate;
            }
        }
    }
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        const int err = errno;
        throw FileError("cannot open " + path + " for writing: " + std::strerror(err), err);
    }
}

FreshFile::~FreshFile()
{
    if (file_)
        std::fclose(file_);
}

void FreshFile::write(const std::string& text)
{
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
        const int err = errno ? errno : EIO;
        throw FileError("writing " + path_ + " failed: " + std::strerror(err), err);
    }
}

SeriesWriter::SeriesWriter(const std::string& path, const std::vector<std::string>& columns)
    : file_(path), xvg_(endsWith(path, ".xvg"))
{
    std::string head;
    if (xvg_) {
        head += "# kavet census series: one row per frame\n";
        head += "# column 1 is time_ps; the sets follow in the order of their legends\n";
        head += "@    title \"kavet census\"\n";
        head += "@    xaxis  label \"Time (ps)\"\n";
        head += "@    yaxis  label \"count\"\n";
        head += "@TYPE xy\n";
        head += "@ legend on\n";
        int set = 0;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (c == 1)
                continue; // time is x
            head += "@ s" + std::to_string(set++) + " legend \"" + columns[c] + "\"\n";
        }
    } else {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (c > 0)
                head += ',';
            head += csvField(columns[c]);
        }
        head += "\n";
    }
    file_.write(head);
}

void SeriesWriter::row(const std::vector<std::string>& values)
{
    std::string line;
    if (xvg_) {
        line = values.size() > 1 ? values[1] : std::string();
        for (std::size_t c = 0; c < values.size(); ++c)
            if (c != 1)
                line += "  " + values[c];
    } else {
        for (std::size_t c = 0; c < values.size(); ++c) {
            if (c > 0)
                line += ',';
            line += values[c];
        }
    }
    file_.write(line + "\n");
}

TypeWriter::TypeWriter(const std::string& path) : file_(path)
{
    file_.write("frame,time_ps,type,closed,count\n");
}

void TypeWriter::frame(int64_t frame, const std::string& time, const std::map<std::string, int64_t>& closed,
                       const std::map<std::string, int64_t>& open)
{
    std::string text;
    for (const auto* types : {&closed, &open})
        for (const auto& [type, count] : *types)
            text += std::to_string(frame) + "," + time + "," + csvField(type) + (types == &closed ? ",1," : ",0,") +
                    std::to_string(count) + "\n";
    file_.write(text);
}

std::string typeFileFor(const std::string& seriesPath)
{
    std::string base = seriesPath;
    const std::size_t slash = base.rfind('/');
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        base.erase(dot);
    return base + "~types.csv";
}

} // namespace kavet
