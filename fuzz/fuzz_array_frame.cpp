// Frames made from arrays (io/array_frame.h), as the Python module and the
// MDAnalysis adapter build them, and the analysis of those that pass. The
// input decodes into a small frame: waters on a cubic grid 2.8 A apart (each
// coordinate moved by up to 0.6 A, or replaced by a hostile number), guests
// at the cubes' centres, a box of one of the accepted shapes or not, index
// arrays that follow the atoms or come from the bytes (out of range,
// repeated, 0/1 masks), and criteria and a thread count from tables of
// meaningful and hostile values. A frame that passes the checks must be
// analysable; a refusal must be kavet's own error, any other exception is a
// fault. Sizes are bounded (8 waters, 4 guests). The cage search costs a
// hundred times the checks, so one input in 32 (by a hash of all its bytes,
// which a small mutation changes) goes on to the analysis; the whole-run
// target searches the analysis itself.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <vector>

#include <tbb/task_arena.h>

#include "cage/analysis.h"
#include "census/census.h"
#include "core/error.h"
#include "io/array_frame.h"

namespace {

// The bytes, read from the front; zeros once they run out.
struct Bytes {
    const uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    uint8_t next() { return at < size ? data[at++] : 0; }
};

template <class T, std::size_t N>
T pick(const T (&table)[N], uint8_t byte)
{
    return table[byte % N];
}

constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float inf = std::numeric_limits<float>::infinity();
const float hostile[] = {nan, inf, -inf, 1e30f, -1e30f, std::numeric_limits<float>::max(), 1e-30f, -0.0f};
const double hostileLengths[] = {std::nan(""), INFINITY, -8.4, 0.0, 1e300, 0.084, -0.0, 1e-300};
const double angles[] = {90, 60, 120, 0, 180, -90, std::nan(""), 89.999, 1e300, 70.5};

const float hbDistances[] = {3.5f, 0.0f, -1.0f, 2.5f, 3.0f, 5.0f, 10.0f, 1e30f};
const float hbAngles[] = {30.0f, 0.0f, -30.0f, 90.0f, 120.0f, 180.0f, 45.0f, 360.0f};
const int32_t ringMins[] = {4, 0, -3, 3, 5, 8, 2};
const int32_t ringMaxes[] = {7, 0, -1, 3, 6, 8, 10, 4};
const float deviations[] = {100.0f, 0.0f, -1.0f, 0.1f, 0.5f, 1e30f};
const float cageDistances[] = {1.0f, 0.0f, -1.0f, 0.5f, 5.0f, 100.0f};
const float cageAngles[] = {85.0f, 0.0f, -10.0f, 90.0f, 135.0f, 180.0f, 360.0f, 45.0f};
const int threadCounts[] = {1, 2, 3};

constexpr float spacing = 2.8f;

// A coordinate: the grid's value moved by up to 0.6 A, or a hostile number.
float coordinate(float base, uint8_t byte)
{
    if (byte >= 248)
        return hostile[byte - 248];
    return base + (static_cast<float>(byte) - 124.0f) / 124.0f * 0.6f;
}

// An index array from the bytes: signed values, so that some lie outside
// the atoms.
std::vector<int64_t> rawIndices(Bytes& in, std::size_t count)
{
    std::vector<int64_t> v(count);
    for (int64_t& i : v)
        i = static_cast<int8_t>(in.next());
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace kavet;
    Bytes in{data, size};
    const uint8_t shape = in.next(), indexModes = in.next(), boxMode = in.next(), guestByte = in.next();
    const int side = 1 + shape % 2; // 1 or 2 grid points along an axis
    const bool oneSite = (shape >> 2) & 1; // positions of oxygens (and guests) alone
    const int waters = side * side * side - (shape >> 3) % 4; // a few grid points may stay empty
    const int guests = guestByte % 5, perGuest = 1 + (guestByte >> 4) % 3;
    const int perWater = oneSite ? 1 : 3;
    const int atoms = std::max(waters, 0) * perWater + guests * perGuest;
    const float length = spacing * static_cast<float>(side);

    std::vector<float> xyz;
    xyz.reserve(3 * static_cast<std::size_t>(atoms));
    for (int w = 0; w < waters; ++w) {
        const float o[3] = {spacing * static_cast<float>(w % side), spacing * static_cast<float>(w / side % side),
                            spacing * static_cast<float>(w / side / side)};
        for (int k = 0; k < 3; ++k)
            xyz.push_back(coordinate(o[k], in.next()));
        // Hydrogens about 1 A along +x and +y, toward two neighbours.
        for (int h = 0; h < perWater - 1; ++h)
            for (int k = 0; k < 3; ++k)
                xyz.push_back(coordinate(o[k] + (k == h ? 0.96f : 0.0f), in.next()) );
    }
    for (int g = 0; g < guests; ++g)
        for (int a = 0; a < perGuest; ++a)
            for (int k = 0; k < 3; ++k)
                xyz.push_back(coordinate(spacing * (0.5f + static_cast<float>((g >> k) & 1)) + 0.3f * a, in.next()));

    // The box.
    std::vector<double> box;
    std::vector<int64_t> boxShape;
    const double l = length, shear = (static_cast<double>(in.next()) - 128.0) / 64.0;
    switch (boxMode % 8) {
    case 0: box = {l, l, l}; boxShape = {3}; break;
    case 1: box = {0, 0, 0}; boxShape = {3}; break;
    case 2: box = {l, 0, 0, shear, l, 0, -shear, shear, l}; boxShape = {3, 3}; break;
    case 3: box = {l, shear, 0, 0, l, 0, 0, 0, l}; boxShape = {3, 3}; break; // not lower triangular
    case 4:
        box = {l, l, l, pick(angles, in.next()), pick(angles, in.next()), pick(angles, in.next())};
        boxShape = {6};
        break;
    case 5:
        box = {pick(hostileLengths, in.next()), l, pick(hostileLengths, in.next())};
        boxShape = {3};
        break;
    case 6: box = {l, l, l, 90}; boxShape = {4}; break;
    default: box = {l, l, l, 90, 90, 90}; boxShape = {2, 3}; break;
    }

    // The index arrays: as the atoms lie, reversed, from the bytes, or a mask.
    std::vector<int64_t> oxygens, hydrogens, guestAtoms;
    const int waterCount = std::max(waters, 0);
    switch (indexModes % 4) {
    case 0:
    case 1:
        for (int w = 0; w < waterCount; ++w)
            oxygens.push_back(static_cast<int64_t>(perWater) * w);
        if (indexModes % 4 == 1)
            oxygens.assign(oxygens.rbegin(), oxygens.rend());
        break;
    case 2: oxygens = rawIndices(in, static_cast<std::size_t>(waterCount)); break;
    default:
        for (int a = 0; a < atoms; ++a)
            oxygens.push_back(a % perWater == 0 && a < waterCount * perWater ? 1 : 0);
        break;
    }
    const int hydrogenMode = (indexModes >> 2) % 4; // none, as the atoms lie, swapped, from the bytes
    if (hydrogenMode == 1 || hydrogenMode == 2)
        for (int64_t o : oxygens) {
            hydrogens.push_back(o + (hydrogenMode == 1 ? 1 : 2));
            hydrogens.push_back(o + (hydrogenMode == 1 ? 2 : 1));
        }
    else if (hydrogenMode == 3)
        hydrogens = rawIndices(in, 2 * oxygens.size());
    const int guestMode = (indexModes >> 4) % 4; // none, as the atoms lie, rows from the bytes, a 3-d array
    if (guestMode == 1 || guestMode == 3)
        for (int a = waterCount * perWater; a < atoms; ++a)
            guestAtoms.push_back(a);
    else if (guestMode == 2)
        guestAtoms = rawIndices(in, static_cast<std::size_t>(guests * perGuest));

    ArrayFrameInput input;
    input.positions = {xyz.data(), {atoms, 3}};
    input.box = {box.data(), boxShape};
    input.oxygens = {oxygens.data(), {static_cast<int64_t>(oxygens.size())}};
    if (hydrogenMode != 0)
        input.hydrogens = ArrayView<int64_t>{hydrogens.data(), {static_cast<int64_t>(oxygens.size()), 2}};
    if (guestMode == 1 || guestMode == 2)
        input.guests = ArrayView<int64_t>{guestAtoms.data(), {guests, perGuest}};
    else if (guestMode == 3)
        input.guests = ArrayView<int64_t>{guestAtoms.data(), {1, guests, perGuest}};
    const uint8_t timeByte = in.next();
    if (timeByte & 1)
        input.time = timeByte >= 248 ? static_cast<double>(hostile[timeByte - 248]) : timeByte * 0.5;

    Criteria criteria = seriesCriteria();
    criteria.hbDistance = pick(hbDistances, in.next());
    criteria.hbAngle = pick(hbAngles, in.next());
    criteria.ringMin = pick(ringMins, in.next());
    criteria.ringMax = pick(ringMaxes, in.next());
    criteria.ringDeviation = pick(deviations, in.next());
    criteria.cageDistance = pick(cageDistances, in.next());
    criteria.cageAngle = pick(cageAngles, in.next());
    const uint8_t flags = in.next();
    criteria.sealed = flags & 1;

    ArrayFrame frame;
    try {
        frame = arrayFrame(input);
    } catch (const Failure&) {
        return 0; // refused with a message
    }
    // What the checks passed holds together.
    const Topology& topology = frame.frame.topology();
    if (topology.waterCount != static_cast<int32_t>(oxygens.size()) ||
        frame.frame.positions.size() != static_cast<std::size_t>(topology.atomCount) ||
        frame.guests.firstAtom.size() != frame.guests.atomCount.size())
        __builtin_trap();
    for (std::size_t g = 0; g < frame.guests.firstAtom.size(); ++g)
        if (frame.guests.firstAtom[g] < 0 ||
            frame.guests.firstAtom[g] + frame.guests.atomCount[g] > topology.atomCount)
            __builtin_trap();
    uint32_t hash = 2166136261u; // FNV-1a
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    if (hash % 32 != 0)
        return 0;
    criteria.distanceOnly = frame.oneSite;
    CensusOptions options;
    if (frame.hasGuests)
        options.guests = &frame.guests;
    options.cageRecords = true;
    // One arena per thread count for the whole run: threads are not started
    // anew for every input.
    static tbb::task_arena arenas[std::size(threadCounts)] = {tbb::task_arena(threadCounts[0]),
                                                             tbb::task_arena(threadCounts[1]),
                                                             tbb::task_arena(threadCounts[2])};
    arenas[(flags >> 1) % std::size(threadCounts)].execute([&] {
        try {
            const Analysis analysis = analyse(frame.frame, criteria);
            censusOf(frame.frame, analysis, options);
        } catch (const InputError&) {
            // a network too dense to search for rings, refused with its reason
        }
    });
    return 0;
}
