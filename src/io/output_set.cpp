#include "io/output_set.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

} // namespace

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

OutputSet::OutputSet(const std::vector<OutputSpec>& outputs, const std::string& input, OutputGuard* guard)
    : OutputSet(outputs, std::vector<std::string>{input}, guard)
{
}

OutputSet::OutputSet(const std::vector<OutputSpec>& outputs, const std::vector<std::string>& inputs,
                     OutputGuard* guard)
    : guard_(guard)
{
    entries_.reserve(outputs.size());
    if (!outputs.empty() && outputs.front().kind == OutputKind::Series) {
        openSeries(outputs, inputs);
        startGuard();
        return;
    }
    try {
        for (const OutputSpec& out : outputs) {
            Entry e;
            e.path = out.path;
            struct stat before {};
            const bool existed = stat(out.path.c_str(), &before) == 0;
            if (existed && !S_ISREG(before.st_mode) && !S_ISCHR(before.st_mode))
                throw FileError("cannot write " + out.path +
                                ": it is neither a regular file nor a character device such as /dev/null");
            e.fd = open(out.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
            if (e.fd < 0)
                failCall("cannot open " + out.path + " for appending");
            e.created = !existed;
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
                throw FileError("cannot write " + out.path +
                                ": it is neither a regular file nor a character device such as /dev/null");
            if (!e.regular)
                continue;
            for (const std::string& input : inputs) {
                struct stat in {};
                if (stat(input.c_str(), &in) == 0 && st.st_dev == in.st_dev && st.st_ino == in.st_ino)
                    throw FileError("the output file " + out.path + " is the input file " + input);
            }
            for (std::size_t k = 0; k + 1 < entries_.size(); ++k) {
                struct stat other {};
                if (entries_[k].regular && fstat(entries_[k].fd, &other) == 0 && other.st_dev == st.st_dev &&
                    other.st_ino == st.st_ino)
                    throw FileError("the output files " + entries_[k].path + " and " + out.path +
                                    " are the same file");
            }
            if (flock(e.fd, LOCK_EX | LOCK_NB) != 0) {
                if (errno == EWOULDBLOCK)
                    throw FileError("another run is writing " + out.path +
                                    " (it holds the file's lock); wait for it to end or choose another output file");
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
            const int rd = open(out.path.c_str(), O_RDONLY | O_CLOEXEC);
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

void OutputSet::startGuard()
{
    if (guard_) {
        std::vector<GuardedOutput> guarded;
        for (const Entry& e : entries_)
            guarded.push_back({e.fd, e.length, e.regular, e.created, e.path.c_str(),
                               e.backup.empty() ? nullptr : e.backup.c_str()});
        try {
            guard_->guard(guarded);
        } catch (...) {
            rollback();
            throw;
        }
        guarded_ = true;
    }
}

OutputSet::~OutputSet()
{
    if (open_)
        rollback();
}

void OutputSet::commit()
{
    if (!open_)
        return;
    if (guarded_)
        guard_->committed();
    release();
}

void OutputSet::rollback()
{
    if (!open_)
        return;
    unguard();
    for (const Entry& e : entries_) {
        if (e.series && e.kept) {
            (void)!ftruncate(e.fd, static_cast<off_t>(e.length));
        } else if (e.series) {
            // Only the file this run created, not one put there since.
            struct stat mine {}, there {};
            if (e.created && fstat(e.fd, &mine) == 0 && stat(e.path.c_str(), &there) == 0 &&
                mine.st_dev == there.st_dev && mine.st_ino == there.st_ino)
                unlink(e.path.c_str());
            if (!e.backup.empty())
                (void)!renameat2(AT_FDCWD, e.backup.c_str(), AT_FDCWD, e.path.c_str(), RENAME_NOREPLACE);
        } else if (e.created) {
            unlink(e.path.c_str());
        } else if (e.regular) {
            (void)!ftruncate(e.fd, static_cast<off_t>(e.length));
        }
    }
    release();
}

int OutputSet::descriptor(const std::string& path) const
{
    for (const Entry& e : entries_)
        if (e.series && e.path == path)
            return e.fd;
    return -1;
}

std::string OutputSet::backup(const std::string& path) const
{
    for (const Entry& e : entries_)
        if (e.series && e.path == path)
            return e.backup;
    return {};
}

bool OutputSet::backupWasCut(const std::string& path) const
{
    for (const Entry& e : entries_)
        if (e.series && e.path == path)
            return e.backupCut;
    return false;
}

void OutputSet::beginFrame()
{
    if (guarded_)
        guard_->beginFrame();
}

void OutputSet::endFrame(int64_t frame)
{
    std::vector<long long> lengths;
    for (Entry& e : entries_) {
        struct stat st {};
        if (e.regular && fstat(e.fd, &st) == 0)
            e.length = static_cast<long long>(st.st_size);
        // What the run wrote stays from now on.
        e.created = false;
        e.kept = e.series;
        lengths.push_back(e.length);
    }
    lastFrame_ = frame;
    if (guarded_)
        guard_->endFrame(lengths, frame);
}

void OutputSet::openSeries(const std::vector<OutputSpec>& outputs, const std::vector<std::string>& inputs)
{
    // Where a path leads: the file it names, or for a file still to be
    // created its folder and name.
    struct Identity {
        dev_t dev = 0;
        ino_t ino = 0;
        std::string name;
        bool operator==(const Identity&) const = default;
    };
    auto identityOf = [](const std::string& path, Identity& id) {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0) {
            id = {st.st_dev, st.st_ino, ""};
            return true;
        }
        const std::size_t slash = path.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        if (stat(dir.c_str(), &st) != 0)
            return false;
        id = {st.st_dev, st.st_ino, slash == std::string::npos ? path : path.substr(slash + 1)};
        return true;
    };
    std::vector<Identity> ids;
    std::vector<int> oldFds; // the locked files to be backed up, -1 for none
    auto closeOld = [&] {
        for (int& fd : oldFds)
            if (fd >= 0)
                close(fd), fd = -1;
    };
    try {
        // Every output is checked, and every existing one locked, before
        // anything changes.
        for (const OutputSpec& out : outputs) {
            if (out.kind != OutputKind::Series)
                throw Failure("series and appended outputs cannot share one set");
            Entry e;
            e.path = out.path;
            e.series = true;
            oldFds.push_back(-1);
            struct stat st {};
            const bool exists = stat(out.path.c_str(), &st) == 0;
            if (exists && S_ISCHR(st.st_mode)) {
                e.fd = open(out.path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
                if (e.fd < 0)
                    failCall("cannot open " + out.path + " for writing");
                entries_.push_back(e);
                ids.push_back({});
                continue;
            }
            if (exists && !S_ISREG(st.st_mode))
                throw FileError("cannot write " + out.path +
                                ": it is neither a regular file nor a character device such as /dev/null");
            Identity id;
            if (!identityOf(out.path, id))
                failCall("cannot write " + out.path);
            for (const std::string& input : inputs) {
                Identity in;
                if (input == out.path || (identityOf(input, in) && in == id))
                    throw FileError("the output file " + out.path + " is the input file " + input);
            }
            for (std::size_t k = 0; k < entries_.size(); ++k)
                if (entries_[k].regular && (entries_[k].path == out.path || ids[k] == id))
                    throw FileError("the output files " + entries_[k].path + " and " + out.path +
                                    " are the same file");
            e.regular = true;
            entries_.push_back(e);
            ids.push_back(id);
            if (!exists)
                continue;
            oldFds.back() = open(out.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (oldFds.back() < 0)
                failCall("cannot open " + out.path);
            struct stat locked {}, now {};
            const bool busy = flock(oldFds.back(), LOCK_EX | LOCK_NB) != 0;
            if (busy && errno != EWOULDBLOCK)
                failCall("cannot lock " + out.path);
            // Locked, and still the file under that name: another run that
            // held it may have moved it away meanwhile.
            if (busy || fstat(oldFds.back(), &locked) != 0 || stat(out.path.c_str(), &now) != 0 ||
                locked.st_dev != now.st_dev || locked.st_ino != now.st_ino)
                throw FileError("another run is writing " + out.path +
                                " (it holds the file's lock); wait for it to end or choose another output file");
            std::string last;
            entries_.back().backupCut = locked.st_size > 0 && readAt(oldFds.back(), locked.st_size - 1, 1, last) &&
                                        last != "\n";
        }
        // Back up, create and lock.
        for (std::size_t k = 0; k < entries_.size(); ++k) {
            Entry& e = entries_[k];
            if (!e.regular)
                continue;
            if (oldFds[k] >= 0) {
                const std::size_t slash = e.path.rfind('/');
                const std::string dir = slash == std::string::npos ? std::string() : e.path.substr(0, slash + 1);
                const std::string base = slash == std::string::npos ? e.path : e.path.substr(slash + 1);
                for (int n = 1; n < 100000 && e.backup.empty(); ++n) {
                    const std::string candidate = dir + "#" + base + "." + std::to_string(n) + "#";
                    if (renameat2(AT_FDCWD, e.path.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0)
                        e.backup = candidate;
                    else if (errno != EEXIST)
                        failCall("cannot back up " + e.path + " to " + candidate);
                }
                if (e.backup.empty())
                    throw FileError("cannot back up " + e.path + ": too many backups beside it");
            }
            e.fd = open(e.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (e.fd < 0 && errno == EEXIST)
                throw FileError("another run is writing " + e.path + "; wait for it to end or choose another output file");
            if (e.fd < 0)
                failCall("cannot open " + e.path + " for writing");
            e.created = true;
            if (flock(e.fd, LOCK_EX | LOCK_NB) != 0)
                throw FileError("another run is writing " + e.path + "; wait for it to end or choose another output file");
        }
    } catch (...) {
        closeOld();
        open_ = true;
        rollback();
        throw;
    }
    closeOld();
    open_ = true;
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

} // namespace kavet
