#include "app/signal_guard.h"

#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <exception>
#include <utility>

#include "core/error.h"

namespace kavet {
namespace {

// What the signal handler needs, in plain memory: only async-signal-safe
// calls touch it there.
constexpr int maxGuarded = 16;
constexpr int guardedSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr const char* guardedNames[] = {"SIGINT", "SIGTERM", "SIGHUP"};
constexpr int numGuardedSignals = 3;

GuardedOutput guarded[maxGuarded];
int numGuarded = 0;
std::string notices[numGuardedSignals];
struct sigaction previousActions[numGuardedSignals];
volatile sig_atomic_t guardActive = 0;

// Series outputs: the lengths after the last complete frame, in two tables
// of which `current` is whole while the other is filled, and the frame.
// `writing` holds the thread writing a frame, 0 when none; a signal taken on
// another thread waits for that frame to complete, so no file gains a row
// after it was cut back.
long long frameLengths[2][maxGuarded];
std::atomic<int> current{0};
std::atomic<int64_t> lastFrame{-1};
std::atomic<bool> framesKept{false};
std::atomic<long> writing{0};
std::atomic<bool> interrupted{false};
std::atomic<bool> finished{false};
std::terminate_handler previousTerminate = nullptr;

long threadId()
{
    return static_cast<long>(syscall(SYS_gettid));
}

// The frame number as text, without allocating.
void writeFrame(int64_t frame)
{
    char digits[24];
    int n = 0;
    if (frame < 0) {
        (void)!write(STDOUT_FILENO, "none", 4);
        return;
    }
    do {
        digits[n++] = static_cast<char>('0' + frame % 10);
        frame /= 10;
    } while (frame > 0 && n < 24);
    char text[32] = "frame ";
    int len = 6;
    while (n > 0)
        text[len++] = digits[--n];
    (void)!write(STDOUT_FILENO, text, static_cast<std::size_t>(len));
}

void restoreGuarded()
{
    if (framesKept.load()) {
        const long long* lengths = frameLengths[current.load()];
        for (int k = 0; k < numGuarded; ++k)
            if (guarded[k].regular)
                (void)!ftruncate(guarded[k].fd, static_cast<off_t>(lengths[k]));
            else if (guarded[k].table && guarded[k].created)
                unlink(guarded[k].path);
        return;
    }
    for (int k = 0; k < numGuarded; ++k) {
        if (guarded[k].created) {
            unlink(guarded[k].path);
            if (guarded[k].backup)
                (void)!rename(guarded[k].backup, guarded[k].path);
        } else if (guarded[k].regular) {
            (void)!ftruncate(guarded[k].fd, static_cast<off_t>(guarded[k].length));
        }
    }
}

// Waits, a few seconds at most, for a frame another thread is writing.
void awaitFrame()
{
    interrupted.store(true);
    const long writer = writing.load();
    if (writer == 0 || writer == threadId())
        return;
    const timespec pause{0, 1000000};
    for (int k = 0; k < 5000 && writing.load() != 0; ++k)
        nanosleep(&pause, nullptr);
}

extern "C" void onGuardedSignal(int sig)
{
    // Once the outputs are committed the run has succeeded; what is left is
    // tearing down.
    if (finished.load())
        return;
    if (guardActive) {
        guardActive = 0;
        awaitFrame();
        restoreGuarded();
        for (int k = 0; k < numGuardedSignals; ++k) {
            if (guardedSignals[k] != sig)
                continue;
            const std::string& notice = notices[k];
            const std::size_t mark = notice.find("%F");
            if (mark == std::string::npos) {
                (void)!write(STDOUT_FILENO, notice.data(), notice.size());
            } else {
                (void)!write(STDOUT_FILENO, notice.data(), mark);
                writeFrame(lastFrame.load());
                (void)!write(STDOUT_FILENO, notice.data() + mark + 2, notice.size() - mark - 2);
            }
        }
    }
    // End the process by the same signal, as the shell expects.
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
}

// A failure that ends the process without unwinding (a thread that could
// not be started) still puts the outputs back.
void onTerminate()
{
    if (guardActive && !finished.load()) {
        guardActive = 0;
        restoreGuarded();
    }
    if (previousTerminate)
        previousTerminate();
    std::abort();
}

} // namespace

SignalGuard::SignalGuard(std::function<std::string(const std::string& signal)> notice) : notice_(std::move(notice))
{
}

SignalGuard::~SignalGuard()
{
    unguard();
}

void SignalGuard::guard(const std::vector<GuardedOutput>& outputs)
{
    if (numGuarded > 0)
        throw Failure("the outputs of another run are guarded already");
    if (outputs.size() > static_cast<std::size_t>(maxGuarded))
        throw Failure("too many output files");
    numGuarded = static_cast<int>(outputs.size());
    for (int k = 0; k < numGuarded; ++k)
        guarded[k] = outputs[static_cast<std::size_t>(k)];
    framesKept = false;
    lastFrame = -1;
    writing = 0;
    interrupted = false;
    finished = false;
    for (int k = 0; k < numGuardedSignals; ++k) {
        notices[k] = notice_(guardedNames[k]);
        struct sigaction act {};
        act.sa_handler = onGuardedSignal;
        sigemptyset(&act.sa_mask);
        for (int s : guardedSignals)
            sigaddset(&act.sa_mask, s);
        sigaction(guardedSignals[k], &act, &previousActions[k]);
    }
    previousTerminate = std::set_terminate(onTerminate);
    active_ = true;
    guardActive = 1;
}

void SignalGuard::beginFrame()
{
    writing.store(threadId());
    // A signal taken meanwhile on another thread cuts the files back and
    // ends the process: this frame is not to be started.
    while (interrupted.load())
        pause();
}

void SignalGuard::endFrame(const std::vector<long long>& lengths, int64_t frame)
{
    const int spare = 1 - current.load();
    for (std::size_t k = 0; k < lengths.size() && k < static_cast<std::size_t>(maxGuarded); ++k)
        frameLengths[spare][k] = lengths[k];
    lastFrame.store(frame);
    current.store(spare);
    framesKept.store(true);
    writing.store(0);
}

void SignalGuard::committed()
{
    finished.store(true);
}

void SignalGuard::unguard()
{
    if (!active_)
        return;
    guardActive = 0;
    std::set_terminate(previousTerminate);
    // After a commit the signals stay harmless until the process ends: the
    // run has succeeded whatever arrives while it tears down.
    for (int k = 0; k < numGuardedSignals; ++k) {
        if (finished.load()) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            sigaction(guardedSignals[k], &ignore, nullptr);
        } else {
            sigaction(guardedSignals[k], &previousActions[k], nullptr);
        }
    }
    numGuarded = 0;
    active_ = false;
}

} // namespace kavet
