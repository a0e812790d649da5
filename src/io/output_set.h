// The output files of one run, handled as a whole: checked and locked before
// the analysis starts, and on any failure or interruption put back exactly as
// they were before the run. Two policies, two types:
//
// AppendedOutputs (the single-frame files): each run appends a block to each
// file. A regular output is locked with flock for the whole run, so a second
// run on the same file fails at once instead of interleaving its blocks. Its
// length is recorded; rollback() truncates it back (and removes a file the run
// created), and a file that ends inside a block cut off by an earlier run is
// refused until repaired.
//
// SeriesOutputs (the files of a trajectory): each is written from scratch. An
// existing regular file is locked, then kept as GROMACS keeps it, renamed to
// #NAME.1# (or the first free number, never over an existing file; see
// backUp), and the new file is created and locked in its place. Such files
// grow frame by frame; endFrame() records their lengths once a frame is
// complete in all of them, and rollback() cuts every file back to that frame,
// so that a frame is in every file or in none. Until the first endFrame() a
// rollback removes the new files and puts the backups back. A table written
// whole at the end (OutputKind::Table, the lifetime table) is checked and
// locked with them but left untouched until replace() puts the new table in
// its place in one step (a new file renamed over it); a run that fails, or
// never replaces it, leaves the previous table as it was, and no backup is
// made.
//
// Every output, of either policy, is checked by checkOutput before anything
// changes: a regular file (created when missing) or a character device such
// as /dev/null; none of the run's inputs; no other output of the set. A
// symbolic link is followed: the file it leads to is written, locked and
// backed up (beside that file), and the link stays. A link that leads to no
// file is refused rather than replaced or followed to a new file. The sets
// install no signal handler: a program that wants an interruption to roll
// back too gives them a guard, which is handed what a signal handler needs
// while the files are open (see app/signal_guard.h).
#pragma once

#include <sys/types.h>

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
    Table,    // written whole at the end of the run (SeriesOutputs::replace)
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
    // A table written at the end: removed on an interruption when the run
    // created it, whatever frames are kept; never truncated.
    bool table = false;
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

// Where an output path leads, as checkOutput found it.
struct OutputTarget {
    std::string path; // as given, for messages
    std::string file; // what is written: `path`, or the file a link leads to
    bool exists = false;
    bool device = false; // a character device such as /dev/null
    // The file, or for a file still to be created its folder and name; not
    // known when its folder cannot be found (opening it then fails).
    bool known = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string name;
};

// Checks that `path` can take an output: a regular file or missing, or a
// character device; not a link to no file; none of `inputs` (by name or as a
// file, through links) and no output of `earlier` (devices excepted). Throws
// FileError naming the file otherwise. Changes nothing. A file whose folder
// cannot be found passes, unknown: each policy says why it cannot open it.
OutputTarget checkOutput(const std::string& path, const std::vector<std::string>& inputs,
                         const std::vector<OutputTarget>& earlier);

// The backup name of `path`, GROMACS's: #NAME.N# in the same folder.
std::string backupName(const std::string& path, int n);
// Renames the file `path` to the first free backup name (never over an
// existing file) and returns that name; throws FileError when it cannot.
std::string backUp(const std::string& path);

// What both policies share: the entries, the guard, rollback and release.
class OutputSet {
public:
    // Rolls back unless committed.
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // The run is complete: keep what was written, release locks and signals.
    void commit();
    // Put every file back as it was and release; series outputs are cut
    // back to the last complete frame.
    void rollback();

protected:
    explicit OutputSet(OutputGuard* guard) : guard_(guard) {}
    struct Entry {
        OutputTarget target;
        OutputKind kind = OutputKind::Series;
        int fd = -1;
        bool regular = false;
        bool created = false;
        long long length = 0;
        bool kept = false; // a series output holding a complete frame
        bool backupCut = false;
        bool replaced = false; // a table whose new text is in place
        unsigned mode = 0;     // an existing table's permissions
        std::string backup;
    };
    const Entry* find(const std::string& path, bool table) const;
    void startGuard();
    void unguard();
    void release();
    // Removes the file the entry's descriptor is, if it is still at its name.
    static void removeOwn(const Entry& e);

    std::vector<Entry> entries_;
    OutputGuard* guard_ = nullptr;
    bool guarded_ = false;
    bool open_ = false;
    int64_t lastFrame_ = -1;
};

// The single-frame files (RingFile, CageFile, DataFile), appended to.
class AppendedOutputs : public OutputSet {
public:
    // Opens, checks and locks every output; throws FileError naming the file
    // otherwise, with nothing left changed. No output may be any of
    // `inputs`. `guard`, when given, must outlive the set.
    AppendedOutputs(const std::vector<OutputSpec>& outputs, const std::vector<std::string>& inputs,
                    OutputGuard* guard = nullptr);
};

// The files of a series (Series) and the tables written at its end (Table).
class SeriesOutputs : public OutputSet {
public:
    SeriesOutputs(const std::vector<OutputSpec>& outputs, const std::vector<std::string>& inputs,
                  OutputGuard* guard = nullptr);

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
    // Puts `text` in place of the table `path` in one step: written to a new
    // file beside it (with the permissions of the file it replaces), then
    // renamed over it; a device is written directly. Throws FileError and
    // leaves the previous table as it was when a step fails.
    void replace(const std::string& path, const std::string& text);
};

// Whether `tail`, the end of an existing output, stops inside a block: in the
// middle of a line, or after a line that never ends a block.
bool endsInsideBlock(const std::string& tail, OutputKind kind);
// Where the last block in `text` starts (the line that opens a run's block),
// or -1 when `text` holds none.
long long lastBlockStart(const std::string& text, OutputKind kind);

} // namespace kavet
