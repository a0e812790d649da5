// Reads arbitrary bytes as a .gro frame. Rejecting a frame with Failure is
// the expected outcome for malformed input; any other exception, crash or
// sanitizer report is a fault. An accepted frame must be self-consistent,
// and the frame (or the message) must be the one that the line-by-line
// trajectory reader and the reader of a file give for the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "core/error.h"
#include "io/gro_reader.h"

namespace {

// The frame's fields (without `names`, its coordinates only, as a
// trajectory reader fills them), or the failure message without a frame
// context.
template <class Read>
std::string outcome(Read read, bool names = true)
{
    try {
        const kavet::Frame t = read();
        const kavet::Topology& top = t.topology();
        std::string d = std::to_string(t.positions.size()) + " " + std::to_string(t.box.x) + " " +
                        std::to_string(t.box.zy);
        for (std::size_t i = 0; i < t.positions.size(); ++i)
            d += (names ? "|" + top.residue[i] + "|" + top.atomName[i] + "|" : std::string("|")) +
                 std::to_string(t.positions[i].x) + "," + std::to_string(t.positions[i].y) + "," +
                 std::to_string(t.positions[i].z);
        return d;
    } catch (const kavet::Failure& failure) {
        std::string what = failure.what();
        const std::size_t context = what.rfind(" (frame 0)");
        return context == std::string::npos ? what : what.substr(0, context);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const kavet::Frame frame = kavet::parseConfiguration(text, "fuzz.gro", "SOL", "OW");
        const kavet::Topology& t = frame.topology();
        const std::size_t n = static_cast<std::size_t>(t.atomCount);
        if (t.atomCount < 0 || t.residue.size() != n || t.atomName.size() != n || frame.positions.size() != n ||
            t.isWaterOxygen.size() != n || t.waterCount < 0 || t.waterCount > t.atomCount)
            std::abort(); // the table does not match the count it accepted
    } catch (const kavet::Failure&) {
        // a rejected frame
    }

    static const std::string path = "/tmp/kavet-fuzz-" + std::to_string(::getpid()) + ".gro";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0)
        return 0;
    const std::string inMemory = outcome([&] { return kavet::parseConfiguration(text, path, "SOL", "OW"); });
    const std::string fromFile = outcome([&] { return kavet::readConfiguration(path, "SOL", "OW"); });
    const std::string byLine = outcome(
        [&] {
            kavet::GroTrajectory reader(path);
            kavet::Frame frame;
            reader.next(frame);
            return frame;
        },
        false);
    const std::string coordinates =
        outcome([&] { return kavet::parseConfiguration(text, path, "SOL", "OW"); }, false);
    if (inMemory != fromFile || coordinates != byLine)
        std::abort(); // the readers disagree
    return 0;
}
