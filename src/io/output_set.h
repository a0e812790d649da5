// The output files of one run, handled as a whole: checked and locked before
// the analysis starts, and on any failure or interruption put back exactly as
// they were before the run.
//
// Each output must be a regular file (created when missing) or a character
// device such as /dev/null; no regular output may be the input or another
// output. A regular output is locked with flock for the whole run, so a second
// run on the same file fails at once instead of interleaving its blocks. Its
// length is recorded; rollback() truncates it back (and removes a file the run
// created). The set installs no signal handler: a program that wants an
// interruption to roll back too gives it a guard, which is handed what a
// signal handler needs while the files are open (see app/signal_guard.h).
//
// A series output (OutputKind::Series) is written from scratch instead: an
// existing regular file is locked, then kept as GROMACS keeps it, renamed to
// #NAME.1# (or the first free number, never over an existing file), and the
// new file is created and locked in its place. Such files grow frame by
// frame; endFrame() records their lengths once a frame is complete in all of
// them, and rollback() cuts every file back to that frame, so that a frame
// is in every file or in none. Until the first endFrame() a rollback removes
// the new files and puts the backups back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavet {

// What is appended to a file, for recognising a block cut off by an earlier
// run that was killed.
enum class OutputKind {
    RingFile, // CRYST1, then MODEL ... ENDMDL per ring
    CageFile, // REMARK, CRYST1, then MODEL ... ENDMDL per closed cage
    DataFile, // one census line per run
    Series,   // written from scratch, frame by frame
};

struct OutputSpec {
    std::string path;
    OutputKind kind;
};

// What undoing one output takes, in plain memory, for code that may run in a
// signal handler: cut a regular file that existed back to `length`, remove a
// file the run created.
struct GuardedOutput {
    int fd = -1;
    long long length = 0;
    bool regular = false;
    bool created = false;
    const char* path = nullptr;
    const char* backup = nullptr; // renamed back over `path` when the file the run created is removed
};

// Told when the outputs are open and locked, and before they are put back or
// released; the entries stay valid in between.
class OutputGuard {
public:
    virtual ~OutputGuard() = default;
    virtual void guard(const std::vector<GuardedOutput>& outputs) = 0;
    virtual void unguard() = 0;
    // Series outputs: a frame is being written; then it is complete in every
    // file, whose lengths are now `lengths` (in the order of guard()), and
    // an interruption is to cut back to them. `frame` names it.
    virtual void beginFrame() {}
    virtual void endFrame(const std::vector<long long>& lengths, int64_t frame)
    {
        (void)lengths;
        (void)frame;
    }
    // The run is complete: a signal from now on no longer undoes anything
    // nor ends the run as interrupted.
    virtual void committed() {}
};

class OutputSet {
public:
    // Opens, checks and locks every output; throws FileError naming the file
    // otherwise, with nothing left changed. `input` is the configuration read.
    // `guard`, when given, must outlive the set.
    OutputSet(const std::vector<OutputSpec>& outputs, const std::string& input, OutputGuard* guard = nullptr);
    // Several inputs (a structure and a trajectory); no output may be any of
    // them, by path or by device and inode.
    OutputSet(const std::vector<OutputSpec>& outputs, const std::vector<std::string>& inputs,
              OutputGuard* guard = nullptr);
    // Rolls back unless committed.
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // The run is complete: keep what was appended, release locks and signals.
    void commit();
    // Put every file back as it was and release; series outputs are cut
    // back to the last complete frame.
    void rollback();

    // Series outputs: the descriptor to write `path` through (-1 when the
    // set holds no such output), and the backup its earlier file was renamed
    // to (empty when none).
    int descriptor(const std::string& path) const;
    std::string backup(const std::string& path) const;
    // Whether that earlier file ended inside a line, as a run killed while
    // writing leaves it.
    bool backupWasCut(const std::string& path) const;
    // Brackets the writing of one frame to the series outputs: after
    // endFrame(frame) the files hold that frame whole.
    void beginFrame();
    void endFrame(int64_t frame);
    // The last frame given to endFrame(), or -1.
    int64_t lastFrame() const { return lastFrame_; }

private:
    struct Entry {
        std::string path;
        int fd = -1;
        bool regular = false;
        bool created = false;
        long long length = 0;
        bool series = false;
        bool kept = false; // a series output holding a complete frame
        bool backupCut = false;
        std::string backup;
    };
    void openSeries(const std::vector<OutputSpec>& outputs, const std::vector<std::string>& inputs);
    void startGuard();
    void unguard();
    void release();

    std::vector<Entry> entries_;
    OutputGuard* guard_ = nullptr;
    bool guarded_ = false;
    bool open_ = false;
    int64_t lastFrame_ = -1;
};

// Whether `tail`, the end of an existing output, stops inside a block: in the
// middle of a line, or after a line that never ends a block.
bool endsInsideBlock(const std::string& tail, OutputKind kind);
// Where the last block in `text` starts (the line that opens a run's block),
// or -1 when `text` holds none.
long long lastBlockStart(const std::string& text, OutputKind kind);

} // namespace kavet
