#include "io/output_set.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/error.h"

namespace kavet {
namespace {

// A system call on an output that failed: what was tried, and errno.
[[noreturn]] void failCall(const std::string& what)
{
    const int err = errno;
    throw FileError(what + ": " + std::strerror(err), err);
}

bool startsWith(const std::string& text, std::size_t at, const char* prefix)
{
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

const char* blockOpening(OutputKind kind)
{
    return kind == OutputKind::RingFile ? "CRYST1" : "REMARK";
}

// Reads `length` bytes at `offset`; false on a read error.
bool readAt(int fd, long long offset, std::size_t length, std::string& text)
{
    text.resize(length);
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = pread(fd, text.data() + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// The offset where the complete blocks of a file cut inside a block end.
long long completeBlocksEnd(int fd, long long size, OutputKind kind)
{
    std::string text;
    for (long long window = 1 << 20;; window *= 2) {
        const long long base = window >= size ? 0 : size - window;
        if (!readAt(fd, base, static_cast<std::size_t>(size - base), text))
            return 0;
        // A window that does not start the file starts at its first full line.
        std::size_t cut = 0;
        if (base > 0) {
            cut = text.find('\n');
            cut = cut == std::string::npos ? text.size() : cut + 1;
        }
        const long long at = lastBlockStart(text.substr(cut), kind);
        if (at >= 0)
            return base + static_cast<long long>(cut) + at;
        if (base == 0)
            return 0;
    }
}

void writeAll(int fd, const std::string& text, const std::string& name)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            throw FileError("writing " + name + " failed: " + std::strerror(err), err);
        }
        done += static_cast<std::size_t>(n);
    }
}

// Where a path leads: the file it names, or for a file still to be created
// its folder and name. False when neither can be found.
bool identityOf(const std::string& path, dev_t& dev, ino_t& ino, std::string& name)
{
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        dev = st.st_dev, ino = st.st_ino, name.clear();
        return true;
    }
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (stat(dir.c_str(), &st) != 0)
        return false;
    dev = st.st_dev, ino = st.st_ino;
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    return true;
}

bool sameTarget(const OutputTarget& a, const OutputTarget& b)
{
    return a.known && b.known && !a.device && !b.device && a.dev == b.dev && a.ino == b.ino && a.name == b.name;
}

std::string folderOf(const std::string& file)
{
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
}

[[noreturn]] void notWritable(const std::string& path)
{
    throw FileError("cannot write " + path + ": it is neither a regular file nor a character device such as /dev/null");
}

[[noreturn]] void busy(const std::string& path)
{
    throw FileError("another run is writing " + path +
                    " (it holds the file's lock); wait for it to end or choose another output file");
}

} // namespace

OutputTarget checkOutput(const std::string& path, const std::vector<std::string>& inputs,
                         const std::vector<OutputTarget>& earlier)
{
    if (path.empty())
        throw FileError("an output file name is empty");
    OutputTarget t;
    t.path = path;
    t.file = path;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* resolved = realpath(path.c_str(), nullptr);
        if (!resolved) {
            const int err = errno;
            if (err != ENOENT)
                failCall("cannot follow the link " + path);
            char to[4096] = "";
            const ssize_t n = readlink(path.c_str(), to, sizeof to - 1);
            to[n > 0 ? n : 0] = '\0';
            throw FileError("cannot write " + path + ": it is a symbolic link to " + to +
                                ", which does not exist; outputs are written through links to the file they lead "
                                "to, and a link to no file is refused: remove the link or create its file",
                            err);
        }
        t.file = resolved;
        std::free(resolved);
    }
    t.exists = stat(t.file.c_str(), &st) == 0;
    if (t.exists && S_ISCHR(st.st_mode)) {
        t.device = true;
        return t;
    }
    if (t.exists && !S_ISREG(st.st_mode))
        notWritable(path);
    t.known = identityOf(t.file, t.dev, t.ino, t.name);
    for (const std::string& input : inputs) {
        if (input.empty())
            continue;
        OutputTarget in;
        in.known = identityOf(input, in.dev, in.ino, in.name);
        if (input == path || sameTarget(in, t))
            throw FileError("the output file " + path + " is the input file " + input);
    }
    for (const OutputTarget& other : earlier)
        if (sameTarget(other, t))
            throw FileError("the output files " + other.path + " and " + path + " are the same file");
    return t;
}

std::string backupName(const std::string& path, int n)
{
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "#" + base + "." + std::to_string(n) + "#";
}

std::string backUp(const std::string& path)
{
    for (int n = 1; n < 100000; ++n) {
        const std::string candidate = backupName(path, n);
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0)
            return candidate;
        if (errno != EEXIST)
            failCall("cannot back up " + path + " to " + candidate);
    }
    throw FileError("cannot back up " + path + ": too many backups beside it");
}

bool endsInsideBlock(const std::string& tail, OutputKind kind)
{
    if (tail.empty())
        return false;
    if (tail.back() != '\n')
        return true;
    if (kind == OutputKind::DataFile)
        return false;
    const std::size_t previous = tail.size() >= 2 ? tail.rfind('\n', tail.size() - 2) : std::string::npos;
    const std::size_t last = previous == std::string::npos ? 0 : previous + 1;
    for (const char* record : {"HETATM", "CONECT", "MODEL", "REMARK"})
        if (startsWith(tail, last, record))
            return true;
    return kind == OutputKind::RingFile && startsWith(tail, last, "CRYST1");
}

long long lastBlockStart(const std::string& text, OutputKind kind)
{
    if (kind == OutputKind::DataFile) {
        const std::size_t nl = text.rfind('\n');
        return nl == std::string::npos ? -1 : static_cast<long long>(nl + 1);
    }
    const std::string opening = std::string("\n") + blockOpening(kind);
    const std::size_t at = text.rfind(opening);
    if (at != std::string::npos)
        return static_cast<long long>(at + 1);
    return startsWith(text, 0, blockOpening(kind)) ? 0 : -1;
}


OutputSet::~OutputSet()
{
    if (open_)
        rollback();
}

const OutputSet::Entry* OutputSet::find(const std::string& path, bool table) const
{
    for (const Entry& e : entries_)
        if (e.target.path == path && (e.kind == OutputKind::Table) == table)
            return &e;
    return nullptr;
}

void OutputSet::startGuard()
{
    if (guard_) {
        std::vector<GuardedOutput> guarded;
        for (const Entry& e : entries_) {
            const bool table = e.kind == OutputKind::Table;
            guarded.push_back({e.fd, e.length, e.regular && !table, e.created, e.target.file.c_str(),
                               e.backup.empty() ? nullptr : e.backup.c_str(), table});
        }
        try {
            guard_->guard(guarded);
        } catch (...) {
            rollback();
            throw;
        }
        guarded_ = true;
    }
}

void OutputSet::removeOwn(const Entry& e)
{
    struct stat mine {}, there {};
    if (e.fd >= 0 && fstat(e.fd, &mine) == 0 && stat(e.target.file.c_str(), &there) == 0 &&
        mine.st_dev == there.st_dev && mine.st_ino == there.st_ino)
        unlink(e.target.file.c_str());
}

void OutputSet::commit()
{
    if (!open_)
        return;
    if (guarded_)
        guard_->committed();
    // A table the run never wrote (no frame analysed) is not left empty.
    for (const Entry& e : entries_)
        if (e.kind == OutputKind::Table && e.created && !e.replaced)
            removeOwn(e);
    release();
}

void OutputSet::rollback()
{
    if (!open_)
        return;
    unguard();
    for (const Entry& e : entries_) {
        if (e.kind == OutputKind::Table) {
            if (e.created && !e.replaced)
                removeOwn(e);
        } else if (e.kind == OutputKind::Series && e.kept) {
            (void)!ftruncate(e.fd, static_cast<off_t>(e.length));
        } else if (e.kind == OutputKind::Series) {
            // Only the file this run created, not one put there since.
            if (e.created)
                removeOwn(e);
            if (!e.backup.empty())
                (void)!renameat2(AT_FDCWD, e.backup.c_str(), AT_FDCWD, e.target.file.c_str(), RENAME_NOREPLACE);
        } else if (e.created) {
            unlink(e.target.file.c_str());
        } else if (e.regular) {
            (void)!ftruncate(e.fd, static_cast<off_t>(e.length));
        }
    }
    release();
}

void OutputSet::unguard()
{
    if (guarded_)
        guard_->unguard();
    guarded_ = false;
}

void OutputSet::release()
{
    unguard();
    for (Entry& e : entries_) {
        if (e.fd >= 0)
            close(e.fd);
        e.fd = -1;
    }
    open_ = false;
}

AppendedOutputs::AppendedOutputs(const std::vector<OutputSpec>& outputs, const std::vector<std::string>& inputs,
                                 OutputGuard* guard)
    : OutputSet(guard)
{
    entries_.reserve(outputs.size());
    std::vector<OutputTarget> checked;
    for (const OutputSpec& out : outputs) {
        if (out.kind == OutputKind::Series || out.kind == OutputKind::Table)
            throw Failure("series outputs belong to a SeriesOutputs set");
        checked.push_back(checkOutput(out.path, inputs, checked));
    }
    try {
        for (std::size_t k = 0; k < outputs.size(); ++k) {
            const OutputSpec& out = outputs[k];
            Entry e;
            e.target = checked[k];
            e.kind = out.kind;
            const std::string& file = e.target.file;
            e.fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
            if (e.fd < 0)
                failCall("cannot open " + out.path + " for appending");
            e.created = !e.target.exists;
            struct stat st {};
            if (fstat(e.fd, &st) != 0) {
                const int err = errno;
                entries_.push_back(e);
                throw FileError("cannot check " + out.path + ": " + std::strerror(err), err);
            }
            e.regular = S_ISREG(st.st_mode);
            e.length = static_cast<long long>(st.st_size);
            entries_.push_back(e);
            if (!e.regular && !S_ISCHR(st.st_mode))
                notWritable(out.path);
            if (!e.regular)
                continue;
            for (std::size_t j = 0; j + 1 < entries_.size(); ++j) {
                struct stat other {};
                if (entries_[j].regular && fstat(entries_[j].fd, &other) == 0 && other.st_dev == st.st_dev &&
                    other.st_ino == st.st_ino)
                    throw FileError("the output files " + entries_[j].target.path + " and " + out.path +
                                    " are the same file");
            }
            if (flock(e.fd, LOCK_EX | LOCK_NB) != 0) {
                if (errno == EWOULDBLOCK)
                    busy(out.path);
                failCall("cannot lock " + out.path);
            }
            // The length counts once the lock is held: another run may have
            // appended until then.
            if (fstat(e.fd, &st) != 0)
                failCall("cannot check " + out.path);
            e.length = static_cast<long long>(st.st_size);
            entries_.back().length = e.length;
            // A run killed while appending leaves a block cut off; appending
            // after it would merge the two.
            const int rd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
            if (rd >= 0 && e.length > 0) {
                std::string tail;
                const long long tailStart = e.length > 4096 ? e.length - 4096 : 0;
                const bool torn = readAt(rd, tailStart, static_cast<std::size_t>(e.length - tailStart), tail) &&
                                  endsInsideBlock(tail, out.kind);
                const long long end = torn ? completeBlocksEnd(rd, e.length, out.kind) : 0;
                close(rd);
                if (torn)
                    throw FileError(out.path + " ends inside a block cut off by an earlier run; its complete blocks "
                                    "end at byte " + std::to_string(end) + ". Repair it with  truncate -s " +
                                    std::to_string(end) + " " + out.path + "  or choose another output file");
            } else if (rd >= 0) {
                close(rd);
            }
        }
    } catch (...) {
        open_ = true;
        rollback();
        throw;
    }
    open_ = true;
    startGuard();
}

int SeriesOutputs::descriptor(const std::string& path) const
{
    const Entry* e = find(path, false);
    return e ? e->fd : -1;
}

std::string SeriesOutputs::backup(const std::string& path) const
{
    const Entry* e = find(path, false);
    return e ? e->backup : std::string();
}

bool SeriesOutputs::backupWasCut(const std::string& path) const
{
    const Entry* e = find(path, false);
    return e && e->backupCut;
}

void SeriesOutputs::beginFrame()
{
    if (guarded_)
        guard_->beginFrame();
}

void SeriesOutputs::endFrame(int64_t frame)
{
    std::vector<long long> lengths;
    for (Entry& e : entries_) {
        if (e.kind == OutputKind::Series) {
            struct stat st {};
            if (e.regular && fstat(e.fd, &st) == 0)
                e.length = static_cast<long long>(st.st_size);
            // What the run wrote stays from now on.
            e.created = false;
            e.kept = true;
        }
        lengths.push_back(e.length);
    }
    lastFrame_ = frame;
    if (guarded_)
        guard_->endFrame(lengths, frame);
}

SeriesOutputs::SeriesOutputs(const std::vector<OutputSpec>& outputs, const std::vector<std::string>& inputs,
                             OutputGuard* guard)
    : OutputSet(guard)
{
    entries_.reserve(outputs.size());
    std::vector<int> oldFds; // the locked files to be backed up, -1 for none
    auto closeOld = [&] {
        for (int& fd : oldFds)
            if (fd >= 0)
                close(fd), fd = -1;
    };
    try {
        // Every output is checked, and every existing one locked, before
        // anything changes.
        std::vector<OutputTarget> checked;
        for (const OutputSpec& out : outputs) {
            if (out.kind != OutputKind::Series && out.kind != OutputKind::Table)
                throw Failure("appended outputs belong to an AppendedOutputs set");
            Entry e;
            e.target = checkOutput(out.path, inputs, checked);
            e.kind = out.kind;
            checked.push_back(e.target);
            oldFds.push_back(-1);
            const std::string& file = e.target.file;
            if (e.target.device) {
                e.fd = open(file.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
                if (e.fd < 0)
                    failCall("cannot open " + out.path + " for writing");
                entries_.push_back(e);
                continue;
            }
            if (!e.target.known) {
                struct stat folder {};
                (void)stat(folderOf(file).c_str(), &folder); // for its errno
                failCall("cannot write " + out.path);
            }
            e.regular = true;
            if (e.kind == OutputKind::Table && access(folderOf(file).c_str(), W_OK | X_OK) != 0) {
                const int err = errno;
                throw FileError("cannot write " + out.path + ": its folder " + folderOf(file) +
                                    " is not writable: " + std::strerror(err),
                                err);
            }
            entries_.push_back(e);
            if (!e.target.exists)
                continue;
            const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0)
                failCall("cannot open " + out.path);
            (e.kind == OutputKind::Table ? entries_.back().fd : oldFds.back()) = fd;
            struct stat locked {}, now {};
            const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
            if (held && errno != EWOULDBLOCK)
                failCall("cannot lock " + out.path);
            // Locked, and still the file under that name: another run that
            // held it may have moved it away meanwhile.
            if (held || fstat(fd, &locked) != 0 || stat(file.c_str(), &now) != 0 || locked.st_dev != now.st_dev ||
                locked.st_ino != now.st_ino)
                busy(out.path);
            entries_.back().mode = static_cast<unsigned>(locked.st_mode & 07777);
            std::string last;
            entries_.back().backupCut = e.kind == OutputKind::Series && locked.st_size > 0 &&
                                        readAt(fd, locked.st_size - 1, 1, last) && last != "\n";
        }
        // Back up, create and lock.
        for (std::size_t k = 0; k < entries_.size(); ++k) {
            Entry& e = entries_[k];
            if (!e.regular || (e.kind == OutputKind::Table && e.target.exists))
                continue;
            const std::string& file = e.target.file;
            if (oldFds[k] >= 0)
                e.backup = backUp(file);
            e.fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (e.fd < 0 && errno == EEXIST)
                throw FileError("another run is writing " + e.target.path +
                                "; wait for it to end or choose another output file");
            if (e.fd < 0)
                failCall("cannot open " + e.target.path + " for writing");
            e.created = true;
            if (flock(e.fd, LOCK_EX | LOCK_NB) != 0)
                throw FileError("another run is writing " + e.target.path +
                                "; wait for it to end or choose another output file");
        }
    } catch (...) {
        closeOld();
        open_ = true;
        rollback();
        throw;
    }
    closeOld();
    open_ = true;
    startGuard();
}

void SeriesOutputs::replace(const std::string& path, const std::string& text)
{
    Entry* e = const_cast<Entry*>(find(path, true));
    if (!e || !open_)
        throw Failure("the table " + path + " was not checked with the other outputs");
    if (!e->regular) {
        writeAll(e->fd, text, path);
        e->replaced = true;
        return;
    }
    const std::string& file = e->target.file;
    const std::size_t slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    std::string temp;
    int fd = -1;
    for (int k = 0; fd < 0; ++k) {
        temp = dir + "." + base + "." + std::to_string(getpid()) + "." + std::to_string(k) + ".tmp";
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || k >= 1000))
            failCall("cannot write " + path + ": cannot create " + temp);
    }
    try {
        if (e->target.exists && fchmod(fd, static_cast<mode_t>(e->mode)) != 0)
            failCall("cannot write " + path);
        // The new table is locked as the old one was, until the set is released.
        (void)flock(fd, LOCK_EX | LOCK_NB);
        writeAll(fd, text, temp);
        if (fsync(fd) != 0)
            failCall("writing " + temp + " failed");
        if (rename(temp.c_str(), file.c_str()) != 0)
            failCall("cannot replace " + path + " by " + temp);
    } catch (...) {
        close(fd);
        unlink(temp.c_str());
        throw;
    }
    if (e->fd >= 0)
        close(e->fd);
    e->fd = fd;
    e->replaced = true;
}

} // namespace kavet
