#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include <tbb/global_control.h>

#include "app/run.h"
#include "app/settings.h"

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define KAVET_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KAVET_SANITIZED 1
#endif

// A large frame's tables (hundreds of MB at 10^6 waters, made and freed
// phase by phase) are touched in fresh 4 KiB pages; on a virtual machine the
// page faults took up to a sixth of a run's processor time. glibc backs
// its heap and large blocks with transparent huge pages when its tunable
// glibc.malloc.hugetlb=1 is set, which it reads only when a program starts.
// Where the kernel gives huge pages only on request ("madvise" in
// /sys/kernel/mm/transparent_hugepage/enabled), the program therefore starts
// itself once more with the tunable added to GLIBC_TUNABLES. It does not when
// KAVET_HUGE_PAGES=0, when the tunable is already set (either way), under
// valgrind (the new image would run outside it) or a sanitizer (which brings
// its own allocator). Nothing else changes: the arguments, the standard
// streams and the results are the same; if the start fails, the run goes on
// without.
void restartWithHugePages(char** argv)
{
#if defined(__GLIBC__) && !defined(KAVET_SANITIZED)
    if (argv == nullptr || argv[0] == nullptr)
        return;
    if (const char* off = std::getenv("KAVET_HUGE_PAGES"); off != nullptr && std::strcmp(off, "0") == 0)
        return;
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables != nullptr && std::strstr(tunables, "glibc.malloc.hugetlb") != nullptr)
        return;
    if (const char* preload = std::getenv("LD_PRELOAD"); preload != nullptr && std::strstr(preload, "vgpreload") != nullptr)
        return;
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    const std::string modes((std::istreambuf_iterator<char>(mode)), std::istreambuf_iterator<char>());
    if (modes.find("[madvise]") == std::string::npos)
        return;
    const std::string before = tunables != nullptr ? tunables : "";
    const std::string with = before.empty() ? "glibc.malloc.hugetlb=1" : before + ":glibc.malloc.hugetlb=1";
    if (setenv("GLIBC_TUNABLES", with.c_str(), 1) != 0)
        return;
    execv("/proc/self/exe", argv);
    if (tunables != nullptr)
        setenv("GLIBC_TUNABLES", before.c_str(), 1);
    else
        unsetenv("GLIBC_TUNABLES");
#else
    (void)argv;
#endif
}

} // namespace

int main(int argc, char** argv)
{
    restartWithHugePages(argv);
    // Each run sets its threads in its own arena (-nt); the program, which
    // owns the process, lets an arena have as many as asked for, also beyond
    // the cores the machine has. Threads are started only on demand.
    tbb::global_control ceiling(tbb::global_control::max_allowed_parallelism,
                                static_cast<std::size_t>(kavet::largestThreadCount));
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return kavet::runKavet(args);
}
