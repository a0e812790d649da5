// Reading .xtc and .trr trajectories that GROMACS's own trjconv writes from a
// three-frame .gro, and the failures for files cut short, missing or foreign.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/error.h"
#include "io/trajectory.h"

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

constexpr int numAtom = 12; // over nine, so that .xtc compresses the positions
constexpr std::size_t numFrame = 3;

// Atom i of frame f in nm, distinct for every atom, frame and axis.
Vec3 nm(std::size_t f, int i)
{
    const float base = 0.137f * static_cast<float>(i) + 0.011f * static_cast<float>(f);
    return {base + 0.1f, base + 0.2f, base + 0.3f};
}

// Everything a reader gives for `file`, up to its end or its failure.
struct Reading {
    int32_t numAtom = 0;
    std::vector<Frame> frames;
    bool readPastEnd = false;
    std::string failure;
};

Reading readAll(const std::string& file)
{
    Reading r;
    try {
        auto reader = openGmxTrajectory(file);
        r.numAtom = reader->numAtom();
        Frame frame;
        frame.atmName = {"kept"};
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
            for (int i = 0; i < numAtom; ++i) {
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
        const std::string stub = "reading " + path("xtc") + " needs GROMACS's library: install Debian's libgromacs-dev"
                                                             " and rebuild kavet";
        if (readAll(path("xtc")).failure == stub)
            skip = "kavet was built without GROMACS's library";
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
    for (const char* ext : {"trr", "xtc"}) { // .trr first: GROMACS announces the first .trr of a process
        SCOPED_TRACE(ext);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const Reading r = readAll(path(ext));
        EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");
        ASSERT_EQ(r.failure, "");
        EXPECT_EQ(r.numAtom, numAtom);
        EXPECT_FALSE(r.readPastEnd);
        ASSERT_EQ(r.frames.size(), numFrame);
        for (std::size_t f = 0; f < numFrame; ++f) {
            const Frame& frame = r.frames[f];
            EXPECT_EQ(frame.atmName, std::vector<std::string>{"kept"});
            ASSERT_EQ(frame.atmXYZ.size(), std::size_t{numAtom});
            std::vector<std::pair<Vec3, Vec3>> pairs{{frame.box.a(), {20.0f, 0.0f, 0.0f}},
                                                     {frame.box.b(), {3.0f, 21.0f, 0.0f}},
                                                     {frame.box.c(), {4.0f, 5.0f, 22.0f}}};
            for (int i = 0; i < numAtom; ++i)
                pairs.push_back({frame.atmXYZ[static_cast<std::size_t>(i)], nm(f, i) * 10.0f});
            for (const auto& [got, want] : pairs) // .xtc keeps 0.001 nm
                EXPECT_LT(std::fabs(got.x - want.x) + std::fabs(got.y - want.y) + std::fabs(got.z - want.z), 0.006f);
            EXPECT_TRUE(frame.hasTime);
            EXPECT_EQ(frame.time, 10.0 * static_cast<double>(f));
            EXPECT_EQ(frame.step, 5000 * static_cast<int64_t>(f));
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
    writeFile(dir + "/gro.xtc", readFile(dir + "/in.gro"));
    EXPECT_EQ(readAll(dir + "/gro.xtc").failure,
              dir + "/gro.xtc: frame 0 is not an .xtc frame (wrong magic number); there is no good frame before it");
    EXPECT_EQ(readAll(dir + "/in.gro").failure, dir + "/in.gro: not an .xtc or .trr trajectory");
}

} // namespace
} // namespace kavet
