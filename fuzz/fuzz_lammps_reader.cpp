// Reads arbitrary bytes as a LAMMPS dump and as a LAMMPS data file, and names
// what is accepted by type. Rejecting input with Failure is the expected
// outcome for malformed input; any other exception, crash or sanitizer report
// is a fault. An accepted frame must be self-consistent (atoms in strictly
// increasing id order, one entry of each table per atom), the structure read
// must be the trajectory's first frame, and passing over a frame with skip()
// must reach the same next frame as reading it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/error.h"
#include "io/lammps_data.h"
#include "io/lammps_dump.h"
#include "io/structure.h"

namespace {

void checkConsistent(const kavet::LammpsStructure& s)
{
    const std::size_t n = s.atoms.id.size();
    if (s.frame.positions.size() != n ||
        s.atoms.type.size() != n || (!s.atoms.molecule.empty() && s.atoms.molecule.size() != n))
        std::abort(); // the tables do not match the count accepted
    for (std::size_t k = 1; k < n; ++k)
        if (s.atoms.id[k] <= s.atoms.id[k - 1])
            std::abort(); // not in order of id
}

void nameByType(const kavet::LammpsStructure& s)
{
    kavet::TypeSelection types;
    types.oxygenType = 1;
    types.hydrogenType = 2;
    types.guestTypes = {3};
    try {
        const kavet::Frame frame = kavet::typedFrame(s, types, "fuzz");
        const kavet::Topology& f = frame.topology();
        if (f.residue.size() != frame.positions.size() || f.isWaterOxygen.size() != frame.positions.size() ||
            static_cast<std::size_t>(f.atomCount) != frame.positions.size() ||
            static_cast<std::size_t>(f.waterCount) != f.water.size())
            std::abort();
    } catch (const kavet::Failure&) {
    }
}

// The steps and positions of the even frames, reading
// (or, with `skipping`, passing over) the odd ones; the even ones are kept.
std::string later(const std::string& text, bool skipping)
{
    std::string d;
    try {
        kavet::LammpsDumpTrajectory reader(text, "fuzz.lammpstrj", 1.0);
        kavet::Frame f;
        for (int64_t k = 0;; ++k) {
            const bool more = skipping && k % 2 == 1 ? reader.skip() : reader.next(f);
            if (!more)
                break;
            if (k % 2 == 1)
                continue;
            d += "|" + std::to_string(f.step);
            for (const kavet::Vec3& p : f.positions)
                d += "," + std::to_string(p.x) + " " + std::to_string(p.y) + " " + std::to_string(p.z);
        }
    } catch (const kavet::Failure&) {
        d += "!";
    }
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const kavet::LammpsStructure s = kavet::parseLammpsDump(text, "fuzz.lammpstrj");
        checkConsistent(s);
        nameByType(s);
        kavet::LammpsDumpTrajectory reader(text, "fuzz.lammpstrj", 1.0);
        kavet::Frame f;
        if (!reader.next(f) || f.positions.size() != s.frame.positions.size() || f.step != s.frame.step)
            std::abort(); // the structure is not the first frame
        for (std::size_t k = 0; k < f.positions.size(); ++k)
            if (f.positions[k].x != s.frame.positions[k].x || f.positions[k].z != s.frame.positions[k].z)
                std::abort();
        // Frames 0, 2, 4, ... read both ways must agree up to the first
        // failure, which a skip may find later than a read.
        const std::string read = later(text, false), skipped = later(text, true);
        if (read.find('!') == std::string::npos && skipped != read)
            std::abort(); // skip() lost its place
    } catch (const kavet::Failure&) {
    }
    try {
        const kavet::LammpsStructure s = kavet::parseLammpsData(text, "fuzz.data");
        checkConsistent(s);
        nameByType(s);
    } catch (const kavet::Failure&) {
    }
    return 0;
}
