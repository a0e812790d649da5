// Reading .xtc and .trr trajectories that GROMACS's own trjconv writes from a
// three-frame .gro, and the failures for files cut short, missing, foreign or
// corrupt; the positions are GROMACS's own to the bit.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "core/error.h"
#include "io/trajectory.h"
#ifdef KAVET_GMX_REFERENCE
#include "support/gmx_reference.h"
#endif

namespace kavet {
namespace {

// The test support header still brings the analysis layers' own atom table,
// which clashes with core/frame.h; these two stand in for its file helpers.
std::string readFile(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}
void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

constexpr int atomCount = 12; // over nine, so that .xtc compresses the positions
constexpr std::size_t numFrame = 3;

// Atom i of frame f in nm, distinct for every atom, frame and axis.
Vec3 nm(std::size_t f, int i)
{
    const float base = 0.137f * static_cast<float>(i) + 0.011f * static_cast<float>(f);
    return {base + 0.1f, base + 0.2f, base + 0.3f};
}

// Everything a reader gives for `file`, up to its end or its failure.
struct Reading {
    int32_t atomCount = 0;
    std::vector<Frame> frames;
    bool readPastEnd = false;
    std::string failure;
};

Reading readAll(const std::string& file, int32_t expectedAtoms = -1)
{
    Reading r;
    try {
        auto reader = openGmxTrajectory(file, expectedAtoms);
        r.atomCount = reader->atomCount();
        Frame frame;
        frame.editTopology().atomName = {"kept"};
        while (reader->next(frame))
            r.frames.push_back(frame);
        r.readPastEnd = reader->next(frame);
    } catch (const Failure& e) {
        r.failure = e.what();
    }
    return r;
}

class GmxTrajectory : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (std::system("command -v gmx >/dev/null 2>&1") != 0) {
            skip = "gmx is not on PATH";
            return;
        }
        dir = (std::filesystem::temp_directory_path() / ("kavet-test-gmx-" + std::to_string(getpid()))).string();
        std::filesystem::create_directories(dir);
        std::string gro;
        for (std::size_t f = 0; f < numFrame; ++f) {
            gro += "t= " + std::to_string(10 * f) + " step= " + std::to_string(5000 * f) + "\n12\n";
            for (int i = 0; i < atomCount; ++i) {
                char line[64];
                const Vec3 p = nm(f, i);
                std::snprintf(line, sizeof line, "%5dSOL  %5s%5d%8.3f%8.3f%8.3f\n", i / 3 + 1, i % 3 ? "HW" : "OW",
                              i + 1, p.x, p.y, p.z);
                gro += line;
            }
            gro += "   2.00000   2.10000   2.20000   0.00000   0.00000   0.30000   0.00000   0.40000   0.50000\n";
        }
        writeFile(dir + "/in.gro", gro);
        for (const char* ext : {"xtc", "trr"}) {
            const std::string cmd = "cd " + dir + " && gmx -quiet trjconv -f in.gro -o out." + ext + " </dev/null >log 2>&1";
            ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile(dir + "/log");
        }
    }
    static void TearDownTestSuite()
    {
        if (!dir.empty())
            std::filesystem::remove_all(dir);
    }
    void SetUp() override
    {
        if (!skip.empty())
            GTEST_SKIP() << skip;
    }
    static std::string path(const std::string& ext) { return dir + "/out." + ext; }

    inline static std::string dir, skip;
};

TEST_F(GmxTrajectory, ReadsEveryFrameQuietly)
{
    for (const char* ext : {"trr", "xtc"}) {
        SCOPED_TRACE(ext);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const Reading r = readAll(path(ext));
        EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");
        ASSERT_EQ(r.failure, "");
        EXPECT_EQ(r.atomCount, atomCount);
        EXPECT_FALSE(r.readPastEnd);
        ASSERT_EQ(r.frames.size(), numFrame);
        for (std::size_t f = 0; f < numFrame; ++f) {
            const Frame& frame = r.frames[f];
            EXPECT_EQ(frame.topology().atomName, std::vector<std::string>{"kept"});
            ASSERT_EQ(frame.positions.size(), std::size_t{atomCount});
            std::vector<std::pair<Vec3, Vec3>> pairs{{frame.box.a(), {20.0f, 0.0f, 0.0f}},
                                                     {frame.box.b(), {3.0f, 21.0f, 0.0f}},
                                                     {frame.box.c(), {4.0f, 5.0f, 22.0f}}};
            for (int i = 0; i < atomCount; ++i)
                pairs.push_back({frame.positions[static_cast<std::size_t>(i)], nm(f, i) * 10.0f});
            for (const auto& [got, want] : pairs) // .xtc keeps 0.001 nm
                EXPECT_LT(std::fabs(got.x - want.x) + std::fabs(got.y - want.y) + std::fabs(got.z - want.z), 0.006f);
            EXPECT_TRUE(frame.hasTime);
            EXPECT_EQ(frame.time, 10.0 * static_cast<double>(f));
            EXPECT_EQ(frame.step, 5000 * static_cast<int64_t>(f));
        }
    }
}

// Frames passed over with skip() leave the reader where reading them would:
// the next frame read is the same, in every format.
TEST_F(GmxTrajectory, SkippedFramesLeadToTheSameNextFrame)
{
    for (const std::string& file : {dir + "/in.gro", path("xtc"), path("trr")}) {
        SCOPED_TRACE(file);
        for (std::size_t k = 0; k <= numFrame; ++k) {
            auto all = openTrajectory(file), skipping = openTrajectory(file);
            Frame want, got;
            for (std::size_t j = 0; j < k; ++j) {
                ASSERT_TRUE(all->next(want));
                ASSERT_TRUE(skipping->skip());
            }
            const bool more = all->next(want);
            ASSERT_EQ(skipping->next(got), more);
            if (!more)
                want = Frame{};
            EXPECT_EQ(got.time, want.time);
            ASSERT_EQ(got.positions.size(), want.positions.size());
            if (!got.positions.empty()) {
                EXPECT_EQ(std::memcmp(got.positions.data(), want.positions.data(), sizeof(Vec3) * got.positions.size()), 0);
            }
            EXPECT_EQ(skipping->atomCount(), atomCount);
            EXPECT_EQ(skipping->skip(), k + 1 < numFrame);
        }
    }
}

// Every cut of the file either ends cleanly at a frame boundary or fails with
// a Failure naming the cut frame, after the whole frames before it were read;
// GROMACS never gets to end the process.
TEST_F(GmxTrajectory, EveryCutIsATruncationOrAFrameBoundary)
{
    for (const char* ext : {"xtc", "trr"}) {
        SCOPED_TRACE(ext);
        const std::string whole = readFile(path(ext)), file = dir + "/cut." + ext;
        std::size_t boundaries = 0, lastGood = 0;
        for (std::size_t cut = 1; cut < whole.size(); ++cut) {
            writeFile(file, whole.substr(0, cut));
            const Reading r = readAll(file);
            ASSERT_GE(r.frames.size(), lastGood) << cut;
            lastGood = r.frames.size();
            if (r.failure.empty()) {
                ++boundaries;
                continue;
            }
            ASSERT_EQ(r.failure.find(file + ": frame " + std::to_string(lastGood) + " is truncated"), 0u) << cut;
            if (cut == whole.size() - 10) {
                EXPECT_NE(r.failure.find("the last good frame is frame 1 at 10 ps"), std::string::npos) << r.failure;
            }
        }
        EXPECT_EQ(boundaries, numFrame - 1);
        EXPECT_EQ(lastGood, numFrame - 1);
    }
}

TEST_F(GmxTrajectory, OpenFailuresNameTheFile)
{
    EXPECT_EQ(readAll(dir + "/none.xtc").failure,
              "cannot open the trajectory " + dir + "/none.xtc: No such file or directory");
    std::filesystem::create_directory(dir + "/dir.xtc");
    EXPECT_EQ(readAll(dir + "/dir.xtc").failure, "cannot read the trajectory " + dir + "/dir.xtc: it is a directory");
    writeFile(dir + "/gro.xtc", readFile(dir + "/in.gro"));
    EXPECT_EQ(readAll(dir + "/gro.xtc").failure,
              dir + "/gro.xtc: frame 0 is not an .xtc frame (wrong magic number); there is no good frame before it");
    EXPECT_EQ(readAll(dir + "/in.gro").failure, dir + "/in.gro: not an .xtc or .trr trajectory");
}

// A big-endian word put into `bytes` at `at`.
void put(std::string& bytes, std::size_t at, uint32_t word)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(word >> (24 - 8 * i));
}
uint32_t wordAt(const std::string& bytes, std::size_t at)
{
    uint32_t w = 0;
    for (std::size_t i = 0; i < 4; ++i)
        w = (w << 8) | static_cast<unsigned char>(bytes[at + i]);
    return w;
}
// Where frame 1 of a three-frame file of the fixture starts.
std::size_t secondFrame(const std::string& bytes, bool xtc)
{
    if (xtc)
        return 92 + (wordAt(bytes, 88) + 3) / 4 * 4;
    std::size_t end = 84;
    for (std::size_t block = 32; block <= 60; block += 4)
        end += wordAt(bytes, block);
    return end;
}

constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float inf = std::numeric_limits<float>::infinity();

// One changed field of frame 1 and the failure it must give, after "frame 1 ".
struct Corruption {
    const char* ext;
    std::size_t at; // from the start of frame 1
    uint32_t word;
    const char* failure;
};
uint32_t bits(float f)
{
    uint32_t w;
    std::memcpy(&w, &f, sizeof w);
    return w;
}

TEST_F(GmxTrajectory, CorruptFieldsAreRefusedWithTheFrame)
{
    // .trr: 12 header words after the version, then time, lambda, the box
    // and the positions from byte 120 of the frame.
    const Corruption table[] = {
        {"xtc", 0, 1996, "is not an .xtc frame (wrong magic number)"},
        {"xtc", 52, 13, "has a corrupt header (atom count)"},
        {"xtc", 12, bits(nan), "has a time that is not a finite number"},
        {"xtc", 16, bits(inf), "has an unusable cell: the x box length is not a finite number"},
        {"xtc", 16 + 4 * 4, bits(nan), "has an unusable cell: the y box length is not a finite number"},
        {"xtc", 16 + 4 * 7, bits(nan), "has an unusable cell: the box component v3(y) is not a finite number"},
        {"xtc", 16 + 4 * 6, bits(-inf), "has an unusable cell: the box component v3(x) is not a finite number"},
        {"xtc", 16 + 4 * 1, bits(0.1f), "has an unusable cell: the box component v1(y) is 0.10000: a triclinic box"},
        {"xtc", 16 + 4 * 3, bits(1.5f), "has an unusable cell: the triclinic box is not reduced: |v2(x)| = 1.50000"},
        {"xtc", 56, bits(nan), "has a corrupt header (precision nan (not a finite positive number))"},
        {"xtc", 56, bits(inf), "has a corrupt header (precision inf (not a finite positive number))"},
        {"xtc", 56, bits(0.0f), "has a corrupt header (precision 0 (not a finite positive number))"},
        {"xtc", 56, bits(-1000.0f), "has a corrupt header (precision -1000 (not a finite positive number))"},
        {"xtc", 56, bits(1e-40f), "has a corrupt header (precision 9.99995e-41 (not a finite positive number))"},
        {"xtc", 60, 0x7fffffff, "has a corrupt header (coordinate range: minimum above maximum)"},
        {"xtc", 64, 0x80000000, "has a corrupt header (coordinate range too wide)"},
        {"xtc", 84, 8, "has a corrupt header (small-integer index 8 outside 9..72)"},
        {"xtc", 84, 73, "has a corrupt header (small-integer index 73 outside 9..72)"},
        {"xtc", 84, 0x80000000, "has a corrupt header (small-integer index -2147483648 outside 9..72)"},
        {"xtc", 88, 0xffffffff, "has a corrupt header (byte count -1)"},
        {"xtc", 88, 1, "has a corrupt header (byte count 1, too few for 12 atoms)"},
        {"xtc", 88, 161, "has a corrupt header (byte count 161, more than 12 atoms can take)"},
        {"xtc", 88, 0x7ffffffc, "has a corrupt header (byte count 2147483644, more than 12 atoms can take)"},
        {"trr", 0, 1994, "is not a .trr frame (wrong magic number)"},
        {"trr", 64, 0, "has a corrupt header (atom count)"},
        {"trr", 76, bits(nan), "has a time that is not a finite number"},
        {"trr", 84, bits(nan), "has an unusable cell: the x box length is not a finite number"},
        {"trr", 84 + 4 * 5, bits(inf), "has an unusable cell: the box component v2(z) is not a finite number"},
        {"trr", 120 + 4 * 7, bits(nan), "has a coordinate of atom 3 that is not a finite number"},
        {"trr", 120 + 4 * 35, bits(-inf), "has a coordinate of atom 12 that is not a finite number"},
    };
    for (const Corruption& c : table) {
        SCOPED_TRACE(std::string(c.ext) + " at " + std::to_string(c.at));
        std::string bytes = readFile(path(c.ext));
        const std::size_t frame1 = secondFrame(bytes, std::string(c.ext) == "xtc");
        put(bytes, frame1 + c.at, c.word);
        const std::string file = dir + "/corrupt." + c.ext;
        writeFile(file, bytes);
        const Reading r = readAll(file);
        EXPECT_EQ(r.failure.find(file + ": frame 1 " + c.failure), 0u) << r.failure;
        EXPECT_NE(r.failure.find("; the last good frame is frame 0 at 0 ps"), std::string::npos) << r.failure;
        EXPECT_EQ(r.frames.size(), 1u);
    }
}

// A frame whose header claims more atoms than the structure has is refused
// from its header: a 92-byte .xtc claiming 10^8 atoms, and a .trr frame with
// a cell but no positions claiming 2^31 - 1.
TEST_F(GmxTrajectory, AtomCountsAreCheckedBeforeAnythingIsRead)
{
    std::string xtc = readFile(path("xtc")).substr(0, 92);
    put(xtc, 4, 100000000);
    put(xtc, 52, 100000000);
    writeFile(dir + "/huge.xtc", xtc);
    EXPECT_EQ(readAll(dir + "/huge.xtc", atomCount).failure,
              dir + "/huge.xtc: frame 0 has 100000000 atoms, but the structure has 12; there is no good frame before it");
    EXPECT_EQ(readAll(dir + "/huge.xtc").failure,
              dir + "/huge.xtc: frame 0 has a corrupt header (byte count " + std::to_string(wordAt(xtc, 88)) +
                  ", too few for 100000000 atoms); there is no good frame before it");

    const std::string trr = readFile(path("trr"));
    std::string empty = trr.substr(0, 120); // frame 0's header, time, lambda and box
    put(empty, 52, 0);                      // no positions
    put(empty, 64, 0x7fffffff);
    writeFile(dir + "/huge.trr", trr.substr(0, secondFrame(trr, false)) + empty);
    EXPECT_EQ(readAll(dir + "/huge.trr", atomCount).failure,
              dir + "/huge.trr: frame 1 has 2147483647 atoms, but the structure has 12; the last good frame is frame 0 "
                    "at 0 ps");
    EXPECT_EQ(readAll(dir + "/huge.trr").failure,
              dir + "/huge.trr: frame 1 has 2147483647 atoms where frame 0 has 12; the last good frame is frame 0 at "
                    "0 ps");
    writeFile(dir + "/huge.trr", empty); // alone it holds no positions at all
    const Reading alone = readAll(dir + "/huge.trr");
    EXPECT_EQ(alone.failure, "");
    EXPECT_EQ(alone.frames.size(), 0u);
}

#ifdef KAVET_GMX_REFERENCE
// A single-precision .trr as the same file in double precision.
std::string widened(const std::string& single)
{
    std::string wide;
    for (std::size_t at = 0; at < single.size();) {
        std::string head = single.substr(at, 76);
        std::size_t reals = 2; // time and lambda, then the blocks
        for (std::size_t block = 32; block <= 60; block += 4) {
            reals += wordAt(head, block) / 4;
            put(head, block, 2 * wordAt(head, block));
        }
        wide += head;
        for (std::size_t r = 0; r < reals; ++r) {
            const uint32_t w = wordAt(single, at + 76 + 4 * r);
            float f;
            std::memcpy(&f, &w, sizeof f);
            const double d = f;
            uint64_t u;
            std::memcpy(&u, &d, sizeof d);
            std::string eight(8, '\0');
            put(eight, 0, static_cast<uint32_t>(u >> 32));
            put(eight, 4, static_cast<uint32_t>(u));
            wide += eight;
        }
        at += 76 + 4 * reals;
    }
    return wide;
}

// A .gro trajectory of side^3 waters on a grid 0.3 nm apart, hydrogens 0.1 nm
// from their oxygen, every position moved by up to `jitter` nm times the
// frame's number, so that the packed differences span small and large.
std::string waterGrid(int side, int frames, double jitter, bool triclinic)
{
    std::mt19937 random(static_cast<unsigned>(side * 7 + frames));
    std::uniform_real_distribution<double> move(-1.0, 1.0);
    std::string gro;
    const double edge = 0.3 * side;
    for (int f = 0; f < frames; ++f) {
        gro += "t= " + std::to_string(2 * f) + ".5 step= " + std::to_string(100 * f) + "\n" +
               std::to_string(3 * side * side * side) + "\n";
        for (int i = 0; i < 3 * side * side * side; ++i) {
            const int w = i / 3;
            const double hx = i % 3 == 1 ? 0.1 : 0.0, hy = i % 3 == 2 ? 0.1 : 0.0;
            char line[80];
            std::snprintf(line, sizeof line, "%5dSOL  %5s%5d%8.3f%8.3f%8.3f\n", w % 99999 + 1,
                          i % 3 ? "HW" : "OW", i % 99999 + 1, 0.3 * (w % side) + hx + f * jitter * move(random),
                          0.3 * (w / side % side) + hy + f * jitter * move(random),
                          0.3 * (w / side / side) + f * jitter * move(random));
            gro += line;
        }
        char box[128];
        std::snprintf(box, sizeof box, "%10.5f%10.5f%10.5f%s\n", edge, edge, edge,
                      triclinic ? "   0.00000   0.00000   0.40000   0.00000  -0.50000   0.30000" : "");
        gro += box;
    }
    return gro;
}

// Water trajectories of growing disorder, in .xtc at several precisions
// (10^7 takes the decoder's path for wide ranges) and in .trr of single and
// double precision, and a frame of fewer than ten atoms, read by kavet and by
// GROMACS: the same bits (compressed .xtc positions taken as the float
// nearest to GROMACS's integer over the precision).
TEST_F(GmxTrajectory, SameBitsAsGromacs)
{
    writeFile(dir + "/small.gro", waterGrid(1, 2, 0.05, false));
    writeFile(dir + "/grid.gro", waterGrid(12, 4, 0.02, false));
    writeFile(dir + "/tilted.gro", waterGrid(8, 3, 0.3, true));
    std::size_t compared = 0;
    for (const std::string name : {"small", "grid", "tilted"}) {
        for (const std::string out : {".xtc -ndec 1", ".xtc -ndec 3", ".xtc -ndec 5", ".xtc -ndec 7", ".trr", "double"}) {
            SCOPED_TRACE(name + out);
            const std::string file = dir + "/" + name + (out == "double" ? "-double.trr" : out.substr(0, 4));
            const std::string cmd = "cd " + dir + " && gmx -quiet trjconv -f " + name + ".gro -o " + file +
                                    out.substr(4) + " </dev/null >log 2>&1";
            if (out == "double")
                writeFile(file, widened(readFile(dir + "/" + name + ".trr")));
            else
                ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile(dir + "/log");
            testing::internal::CaptureStderr(); // GROMACS announces the first .trr it reads
            const std::vector<test::GmxReferenceFrame> want = test::readWithGromacs(file);
            testing::internal::GetCapturedStderr();
            const Reading got = readAll(file);
            ASSERT_EQ(got.failure, "");
            ASSERT_EQ(got.frames.size(), want.size());
            for (std::size_t f = 0; f < want.size(); ++f) {
                const Frame& frame = got.frames[f];
                const test::GmxReferenceFrame& w = want[f];
                ASSERT_EQ(frame.positions.size() * 3, w.x.size());
                // Compressed .xtc positions: GROMACS's integer, as the float
                // nearest to its decimal (what a .gro reader makes of it). At
                // seven decimals a float no longer tells the integer: the two
                // may differ by a few units in the last place.
                const double grid = out.rfind(".xtc", 0) == 0 && name != "small" ? std::pow(10.0, out.back() - '0') : 0;
                for (std::size_t i = 0; i < w.x.size(); ++i) {
                    const float onGrid = grid > 0 ? static_cast<float>(std::nearbyint(w.x[i] * grid) / grid) : w.x[i];
                    const float mine = (&frame.positions[i / 3].x)[i % 3], theirs = onGrid * 10.0f;
                    if (grid > 1e6)
                        ASSERT_NEAR(mine, theirs, 1e-5) << "frame " << f << " number " << i;
                    else
                        ASSERT_EQ(std::memcmp(&mine, &theirs, sizeof mine), 0) << "frame " << f << " number " << i;
                }
                const float box[6] = {w.box[0] * 10.0f, w.box[4] * 10.0f, w.box[8] * 10.0f,
                                      w.box[3] * 10.0f, w.box[6] * 10.0f, w.box[7] * 10.0f};
                EXPECT_EQ(std::memcmp(&frame.box, box, sizeof box), 0);
                EXPECT_EQ(frame.time, static_cast<double>(w.time));
                EXPECT_EQ(frame.step, w.step);
                compared += w.x.size() / 3;
            }
        }
    }
    EXPECT_EQ(compared, 6u * (2 * 3 + 4 * 3 * 12 * 12 * 12 + 3 * 3 * 8 * 8 * 8));
}
#endif

} // namespace
} // namespace kavet
