// An .xtc or .trr file as GROMACS's own library reads it, the reference for
// kavet's readers. Built only when GROMACS's development files are there
// (KAVET_GMX_REFERENCE).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavet::test {

struct GmxReferenceFrame {
    std::vector<float> x; // nm, three a position; empty when the frame has none
    float box[9] = {};    // nm, row by row
    float time = 0.0f;
    int64_t step = 0;
};

// Every frame of `path` through read_first_frame and read_next_frame.
std::vector<GmxReferenceFrame> readWithGromacs(const std::string& path);

} // namespace kavet::test
