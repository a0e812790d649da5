// The census time series: one row per frame, written and flushed as each
// frame finishes, so a long run can be watched and a crash keeps every
// finished row. CSV with a header row, or GROMACS .xvg when the file name
// ends in .xvg: time_ps as x, then one legended set per column, closed
// first, without frame; xmgrace shows the closed cages by type and hides the
// other sets. F4 of an .xvg series goes to NAME~f4.xvg beside it, as one
// xmgrace graph cannot show it beside counts. A second file holds every type
// of closed and of defective cage of every frame in long form (frame,
// time_ps, type, closed, count), so that no type is lost.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kavet {

class SeriesOutputs;

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& s);

// A file written from scratch. An existing file of the same name is kept as
// GROMACS keeps it, renamed to #NAME.1# (or the first free number; backUp).
class FreshFile {
public:
    explicit FreshFile(const std::string& path);
    // A series output of `outputs`, already checked, backed up, created and
    // locked there (see io/output_set.h); each write() is one system call
    // where the system allows. Without `outputs` (null) as above.
    FreshFile(const std::string& path, const SeriesOutputs* outputs);
    ~FreshFile();
    FreshFile(const FreshFile&) = delete;
    FreshFile& operator=(const FreshFile&) = delete;
    FreshFile(FreshFile&& other) noexcept;
    FreshFile& operator=(FreshFile&& other) noexcept;

    void write(const std::string& text); // written and flushed; throws FileError when it fails
    const std::string& path() const { return path_; }
    // Whether it is a regular file (not a device such as /dev/null); only
    // beside one are files named after it made.
    bool regular() const { return regular_; }
    // The backup the existing file was renamed to, or empty.
    const std::string& backup() const { return backup_; }

private:
    std::string path_, backup_;
    std::FILE* file_ = nullptr;
    int fd_ = -1; // the set's descriptor
    bool regular_ = false;
};

class SeriesWriter {
public:
    // `columns` are the column names; the first two are frame and time_ps.
    // `outputs`, when given, holds the series file, and its F4 file when
    // seriesFiles() names one. A `note` that is not empty (what made the
    // rows, such as the frames' averaging) opens the file as a comment line,
    // "# " and the note: before the header row of a CSV file, after the first
    // comment line of an .xvg file.
    SeriesWriter(const std::string& path, const std::vector<std::string>& columns,
                 const SeriesOutputs* outputs = nullptr, const std::string& note = "");
    // One row: the values formatted as they are to appear, one per column.
    void row(const std::vector<std::string>& values);
    const FreshFile& file() const { return file_; }
    // The F4 file of an .xvg series, or null: none is written beside a
    // series that is not a regular file (/dev/null) or has no f4 column.
    const FreshFile* f4File() const { return f4File_.get(); }

private:
    FreshFile file_;
    bool xvg_ = false;
    // .xvg: the x column, the columns of the sets in order, the F4 column.
    std::size_t time_ = 1, f4_ = SIZE_MAX;
    std::vector<std::size_t> sets_;
    std::unique_ptr<FreshFile> f4File_;
};

class TypeWriter {
public:
    explicit TypeWriter(const std::string& path, const SeriesOutputs* outputs = nullptr);
    // Closed cages' types, then defective cages' types (closed 1 and 0).
    void frame(int64_t frame, const std::string& time, const std::map<std::string, int64_t>& closed,
               const std::map<std::string, int64_t>& defective);
    const FreshFile& file() const { return file_; }

private:
    FreshFile file_;
};

// The long-form type file beside a series file: NAME~types.csv for
// NAME.csv or NAME.xvg.
std::string typeFileFor(const std::string& seriesPath);

// The F4 file beside an .xvg series: NAME~f4.xvg for NAME.xvg.
std::string f4FileFor(const std::string& seriesPath);

// The files a series writes: the series, its type file, and the F4 file of
// an .xvg series with an f4 column unless the series is not a regular file.
std::vector<std::string> seriesFiles(const std::string& seriesPath, const std::vector<std::string>& columns);

// A column name as Grace typesets it: exponents raised (5^12-6^2 reads
// 5\S12\N6\S2\N, that is 5¹²6²), double quotes made two single ones.
std::string graceText(const std::string& name);

} // namespace kavet
