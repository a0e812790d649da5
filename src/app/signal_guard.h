// The program's side of guarded outputs: while a run's output set is open,
// SIGINT, SIGTERM and SIGHUP put every output back as it was, write a notice
// to standard output and end the process by the same signal, as the shell
// expects. The notice may hold %F, written as the last frame the series
// outputs were cut back to ("frame 7", or "none"). Once the outputs are
// committed those signals are ignored until the process ends: the run has
// succeeded. Signal handlers belong to the process, so this lives with the
// program and not in the library; one guard is active at a time.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "io/output_set.h"

namespace kavet {

class SignalGuard : public OutputGuard {
public:
    // `notice` gives the text written when a signal such as "SIGTERM" ends
    // the run.
    explicit SignalGuard(std::function<std::string(const std::string& signal)> notice);
    ~SignalGuard() override;
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

    // Throws Failure when another guard is active or the outputs are too
    // many for the handler's table.
    void guard(const std::vector<GuardedOutput>& outputs) override;
    void unguard() override;
    void beginFrame() override;
    void endFrame(const std::vector<long long>& lengths, int64_t frame) override;
    void committed() override;

private:
    std::function<std::string(const std::string& signal)> notice_;
    bool active_ = false;
};

} // namespace kavet
