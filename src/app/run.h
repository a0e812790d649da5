// The run sequence: banner, option scan, settings echo, then every phase in
// order, each reporting on standard output. Returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace kavet {

int runKavet(const std::vector<std::string>& args);

} // namespace kavet
