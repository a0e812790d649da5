// Reads arbitrary bytes as a .gro frame. Rejecting a frame with Failure is
// the expected outcome for malformed input; any other exception, crash or
// sanitizer report is a fault. An accepted frame must be self-consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/error.h"
#include "io/gro_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const kavet::Frame t = kavet::parseConfiguration(text, "fuzz.gro", "SOL", "OW");
        const std::size_t n = static_cast<std::size_t>(t.numAtom);
        if (t.numAtom < 0 || t.resName.size() != n || t.atmName.size() != n || t.atmXYZ.size() != n ||
            t.isOW.size() != n || t.numWater < 0 || t.numWater > t.numAtom)
            std::abort(); // the table does not match the count it accepted
    } catch (const kavet::Failure&) {
        // a rejected frame
    }
    return 0;
}
