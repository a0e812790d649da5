// The census time series: one row per frame, written and flushed as each
// frame finishes, so a long run can be watched and a crash keeps every
// finished row. CSV with a header row, or GROMACS .xvg (time as x, every other
// column a legended set) when the file name ends in .xvg. A second file
// holds every cage type of every frame in long form (frame, time_ps, type,
// closed, count), so that no type is lost.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kavet {

// A file written from scratch. An existing file of the same name is kept as
// GROMACS keeps it, renamed to #NAME.1# (or the first free number).
class FreshFile {
public:
    explicit FreshFile(const std::string& path);
    ~FreshFile();
    FreshFile(const FreshFile&) = delete;
    FreshFile& operator=(const FreshFile&) = delete;

    void write(const std::string& text); // written and flushed; throws FileError when it fails
    const std::string& path() const { return path_; }
    // The backup the existing file was renamed to, or empty.
    const std::string& backup() const { return backup_; }

private:
    std::string path_, backup_;
    std::FILE* file_ = nullptr;
};

class SeriesWriter {
public:
    // `columns` are the column names; the first two are frame and time_ps.
    SeriesWriter(const std::string& path, const std::vector<std::string>& columns);
    // One row: the values formatted as they are to appear, one per column.
    void row(const std::vector<std::string>& values);
    const FreshFile& file() const { return file_; }

private:
    FreshFile file_;
    bool xvg_ = false;
};

class TypeWriter {
public:
    explicit TypeWriter(const std::string& path);
    // Closed cages' types, then open entries' types (closed 1 and 0).
    void frame(int64_t frame, const std::string& time, const std::map<std::string, int64_t>& closed,
               const std::map<std::string, int64_t>& open);
    const FreshFile& file() const { return file_; }

private:
    FreshFile file_;
};

// The long-form type file beside a series file: NAME~types.csv for
// NAME.csv or NAME.xvg.
std::string typeFileFor(const std::string& seriesPath);

} // namespace kavet
