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
    : guard_(guard)
{
    struct stat in {};
    const bool haveInput = stat(input.c_str(), &in) == 0;
    entries_.reserve(outputs.size());
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
            if (haveInput && st.st_dev == in.st_dev && st.st_ino == in.st_ino)
                throw FileError("the output file " + out.path + " is the input file " + input);
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

    if (guard_) {
        std::vector<GuardedOutput> guarded;
        for (const Entry& e : entries_)
            guarded.push_back({e.fd, e.length, e.regular, e.created, e.path.c_str()});
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
    release();
}

void OutputSet::rollback()
{
    if (!open_)
        return;
    unguard();
    for (const Entry& e : entries_) {
        if (e.created)
            unlink(e.path.c_str());
        else if (e.regular)
            (void)!ftruncate(e.fd, static_cast<off_t>(e.length));
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

} // namespace kavet
