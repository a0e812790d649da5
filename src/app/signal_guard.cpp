#include "app/signal_guard.h"

#include <signal.h>
#include <unistd.h>

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

void restoreGuarded()
{
    for (int k = 0; k < numGuarded; ++k) {
        if (guarded[k].created)
            unlink(guarded[k].path);
        else if (guarded[k].regular)
            (void)!ftruncate(guarded[k].fd, static_cast<off_t>(guarded[k].length));
    }
}

extern "C" void onGuardedSignal(int sig)
{
    if (guardActive) {
        guardActive = 0;
        restoreGuarded();
        for (int k = 0; k < numGuardedSignals; ++k) {
            if (guardedSignals[k] == sig)
                (void)!write(STDOUT_FILENO, notices[k].data(), notices[k].size());
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
    for (int k = 0; k < numGuardedSignals; ++k) {
        notices[k] = notice_(guardedNames[k]);
        struct sigaction act {};
        act.sa_handler = onGuardedSignal;
        sigemptyset(&act.sa_mask);
        for (int s : guardedSignals)
            sigaddset(&act.sa_mask, s);
        sigaction(guardedSignals[k], &act, &previousActions[k]);
    }
    active_ = true;
    guardActive = 1;
}

void SignalGuard::unguard()
{
    if (!active_)
        return;
    guardActive = 0;
    for (int k = 0; k < numGuardedSignals; ++k)
        sigaction(guardedSignals[k], &previousActions[k], nullptr);
    numGuarded = 0;
    active_ = false;
}

} // namespace kavet
