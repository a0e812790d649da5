// The output files of one run, handled as a whole: checked and locked before
// the analysis starts, and on any failure or interruption put back exactly as
// they were before the run.
//
// Each output must be a regular file (created when missing) or a character
// device such as /dev/null; no regular output may be the input or another
// output. A regular output is locked with flock for the whole run, so a second
// run on the same file fails at once instead of interleaving its blocks. Its
// length is recorded; rollback() truncates it back (and removes a file the run
// created). While the set is open, SIGINT, SIGTERM and SIGHUP roll back and then
// end the process by the same signal, and SIGPIPE and SIGXFSZ are ignored so
// that a broken pipe or a file-size limit surfaces as a write error.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kavet {

// What is appended to a file, for recognising a block cut off by an earlier
// run that was killed.
enum class OutputKind {
    RingFile, // CRYST1, then MODEL ... ENDMDL per ring
    CageFile, // REMARK, CRYST1, then MODEL ... ENDMDL per closed cage
    DataFile, // one census line per run
};

struct OutputSpec {
    std::string path;
    OutputKind kind;
};

class OutputSet {
public:
    // Opens, checks and locks every output; throws Failure naming the file
    // otherwise, with nothing left changed. `input` is the configuration read.
    // `notice` gives the text written to standard output when a signal such
    // as "SIGTERM" ends the run.
    OutputSet(const std::vector<OutputSpec>& outputs, const std::string& input,
              const std::function<std::string(const std::string& signal)>& notice);
    // Rolls back unless committed.
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // The run is complete: keep what was appended, release locks and signals.
    void commit();
    // Put every file back as it was and release.
    void rollback();

private:
    struct Entry {
        std::string path;
        int fd = -1;
        bool regular = false;
        bool created = false;
        long long length = 0;
    };
    void release();

    std::vector<Entry> entries_;
    bool open_ = false;
};

// Whether `tail`, the end of an existing output, stops inside a block: in the
// middle of a line, or after a line that never ends a block.
bool endsInsideBlock(const std::string& tail, OutputKind kind);
// Where the last block in `text` starts (the line that opens a run's block),
// or -1 when `text` holds none.
long long lastBlockStart(const std::string& text, OutputKind kind);

} // namespace kavet
