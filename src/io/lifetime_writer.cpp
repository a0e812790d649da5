#include "io/lifetime_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

#include "census/series_row.h"
#include "core/error.h"

namespace kavet {
namespace {

std::string numbers(const std::vector<int32_t>& list)
{
    std::string s;
    for (std::size_t k = 0; k < list.size(); ++k) {
        if (k > 0)
            s += ' ';
        s += std::to_string(list[k]);
    }
    return s;
}

void writeAll(int fd, const std::string& text, const std::string& name)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Failure("writing " + name + " failed: " + std::strerror(n < 0 ? errno : EIO));
        done += static_cast<std::size_t>(n);
    }
}

// Whether two paths name one file: by identity when both exist, otherwise by
// their resolved names.
bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ea, eb;
    const std::filesystem::path ca = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
    const std::filesystem::path cb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
    return !ea && !eb ? ca == cb : a == b;
}

} // namespace

std::string timeText(double time)
{
    return formatValue(SeriesColumn::Time, time);
}

std::string lifetimeTable(const CageTracker& tracker)
{
    std::string text = "id,type,first_frame,last_frame,first_time_ps,last_time_ps,frames_present,alive_at_end,"
                       "closed,first_index,last_index,run_frames,waters\n";
    const std::string runFrames = std::to_string(tracker.frames());
    for (const CageLife& c : tracker.lives()) {
        text += std::to_string(c.id) + "," + csvField(c.type) + "," + std::to_string(c.firstFrame) + "," +
                std::to_string(c.lastFrame) + "," + timeText(c.firstTime) + "," + timeText(c.lastTime) + "," +
                std::to_string(c.framesPresent) + "," + (tracker.aliveAtEnd(c) ? "1" : "0") + "," +
                (c.closed ? "1" : "0") + "," + std::to_string(c.firstIndex) + "," + std::to_string(c.lastIndex) +
                "," + runFrames + "," + numbers(c.waters) + "\n";
    }
    return text;
}

void replaceFile(const std::string& path, const std::string& text)
{
    std::string target = path;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved) {
            target = resolved;
            std::free(resolved);
        }
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            throw Failure("cannot open " + path + " for writing: " + std::strerror(errno));
        try {
            writeAll(fd, text, path);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (::close(fd) != 0)
            throw Failure("writing " + path + " failed: " + std::strerror(errno));
        return;
    }

    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp;
    int fd = -1;
    for (int k = 0; fd < 0; ++k) {
        temp = dir + "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(k) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || k >= 1000))
            throw Failure("cannot write " + path + ": cannot create " + temp + ": " + std::strerror(errno));
    }
    try {
        if (exists && ::fchmod(fd, st.st_mode & 07777) != 0)
            throw Failure("cannot write " + path + ": " + std::strerror(errno));
        writeAll(fd, text, temp);
        if (::fsync(fd) != 0)
            throw Failure("writing " + temp + " failed: " + std::strerror(errno));
        const int closed = ::close(fd);
        fd = -1;
        if (closed != 0)
            throw Failure("writing " + temp + " failed: " + std::strerror(errno));
        if (std::rename(temp.c_str(), target.c_str()) != 0)
            throw Failure("cannot replace " + path + " by " + temp + ": " + std::strerror(errno));
    } catch (...) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
}

void checkOutputPath(const std::string& path, const std::vector<std::string>& inputs,
                     const std::vector<std::string>& others)
{
    if (path.empty())
        throw FileError("an output file name is empty");
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISCHR(st.st_mode))
            return;
        if (!S_ISREG(st.st_mode))
            throw FileError("cannot write " + path +
                            ": it is neither a regular file nor a character device such as /dev/null");
    }
    for (const std::string& input : inputs)
        if (!input.empty() && sameFile(path, input))
            throw FileError("the output file " + path + " is the input file " + input);
    for (const std::string& other : others)
        if (!other.empty() && sameFile(path, other))
            throw FileError(other == path ? "the file " + path + " is given for two outputs"
                                          : "the output files " + other + " and " + path + " are the same file");
    std::error_code error;
    const std::filesystem::path target = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
    const std::string folder = error ? std::string(".") : target.parent_path().string();
    if (::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0) {
        const int err = errno;
        throw FileError("cannot write " + path + ": its folder " + folder + " is not writable: " + std::strerror(err),
                        err);
    }
}

GuestTableWriter::GuestTableWriter(const std::string& path, const OutputSet* outputs) : file_(path, outputs)
{
    file_.write("frame,time_ps,guest,cage_id\n");
}

void GuestTableWriter::frame(int64_t frame, double time, const std::vector<int32_t>& guests,
                             const std::vector<int32_t>& cageIds)
{
    if (cageIds.size() != guests.size())
        throw Failure("guest table: " + std::to_string(guests.size()) + " guests but " +
                      std::to_string(cageIds.size()) + " cage ids in frame " + std::to_string(frame));
    const std::string head = std::to_string(frame) + "," + timeText(time) + ",";
    std::string text;
    for (std::size_t g = 0; g < guests.size(); ++g)
        text += head + std::to_string(guests[g]) + "," + std::to_string(cageIds[g]) + "\n";
    file_.write(text);
}

} // namespace kavet
