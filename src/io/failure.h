// The one way a run fails: a message for the user and exit status 1.
// Phases throw RunFailure; the driver prints its text on standard output and
// ends the run.
#pragma once

#include <stdexcept>
#include <string>

namespace kavet {

struct RunFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The program's error style: "\n!!! ERROR !!! <what>\n\n".
inline RunFailure runFailure(const std::string& what)
{
    return RunFailure("\n!!! ERROR !!! " + what + "\n\n");
}

} // namespace kavet
