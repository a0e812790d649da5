// Reading .xtc and .trr trajectories written by GROMACS's own trjconv from a
// three-frame .gro, and the failures for files cut short, missing or foreign.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/error.h"
#include "io/trajectory.h"

namespace kavet {
namespace {

// The test support header still carries the atom table of the analysis layers,
// which clashes with core/frame.h; these two stand in for its file helpers.
std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

constexpr int numAtom = 12; // over nine, so that .xtc compresses the positions
constexpr int numFrame = 3;

// Position of atom i in frame f along an axis, nm: distinct for every atom and frame.
float nm(int f, int i, int axis)
{
    return 0.1f * static_cast<float>(axis + 1) + 0.137f * static_cast<float>(i) + 0.011f * static_cast<float>(f);
}

class GmxTrajectory : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (std::system("command -v gmx >/dev/null 2>&1") != 0) {
            skip = "gmx is not on PATH";
            return;
        }
        const auto base = std::filesystem::temp_directory_path() / ("kavet-test-gmx-" + std::to_string(getpid()));
        std::filesystem::remove_all(base);
        std::filesystem::create_directories(base);
        dir = base.string();
        std::string gro;
        for (int f = 0; f < numFrame; ++f) {
            gro += "three frames t= " + std::to_string(10 * f) + ".00000 step= " + std::to_string(5000 * f) + "\n" +
                   std::to_string(numAtom) + "\n";
            for (int i = 0; i < numAtom; ++i) {
                char line[64];
                std::snprintf(line, sizeof line, "%5dSOL  %5s%5d%8.3f%8.3f%8.3f\n", i / 3 + 1, i % 3 ? "HW" : "OW",
                              i + 1, nm(f, i, 0), nm(f, i, 1), nm(f, i, 2));
                gro += line;
            }
            gro += "   2.00000   2.10000   2.20000   0.00000   0.00000   0.30000   0.00000   0.40000   0.50000\n";
        }
        writeFile(dir + "/in.gro", gro);
        for (const char* ext : {"xtc", "trr"}) {
            const std::string cmd =
                "cd " + dir + " && gmx -quiet trjconv -f in.gro -o out." + ext + " </dev/null >trjconv.log 2>&1";
            ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile(dir + "/trjconv.log");
        }
        try {
            openGmxTrajectory(path("xtc"));
        } catch (const Failure& e) {
            if (std::string(e.what()) == "reading " + path("xtc") +
                                             " needs GROMACS's library: install Debian's libgromacs-dev and rebuild kavet")
                skip = "kavet was built without GROMACS's library";
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

    // A copy of out.EXT cut to `size` bytes.
    static std::string cutCopy(const std::string& ext, std::size_t size)
    {
        const std::string cut = dir + "/cut." + ext;
        writeFile(cut, readFile(path(ext)).substr(0, size));
        return cut;
    }

    inline static std::string dir, skip;
};

TEST_F(GmxTrajectory, ReadsEveryFrameQuietly)
{
    for (const char* ext : {"trr", "xtc"}) { // .trr first: GROMACS announces the first .trr of a process
        SCOPED_TRACE(ext);
        std::vector<Frame> frames;
        int32_t atoms = 0;
        bool readPastEnd = true;
        std::string failure;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        try {
            auto reader = openGmxTrajectory(path(ext));
            atoms = reader->numAtom();
            Frame frame;
            frame.atmName = {"kept"};
            while (reader->next(frame))
                frames.push_back(frame);
            readPastEnd = reader->next(frame);
        } catch (const Failure& e) {
            failure = e.what();
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        ASSERT_EQ(failure, "");
        EXPECT_EQ(atoms, numAtom);
        EXPECT_FALSE(readPastEnd);
        ASSERT_EQ(frames.size(), std::size_t{numFrame});
        for (int f = 0; f < numFrame; ++f) {
            const Frame& frame = frames[static_cast<std::size_t>(f)];
            EXPECT_EQ(frame.atmName, std::vector<std::string>{"kept"});
            ASSERT_EQ(frame.atmXYZ.size(), std::size_t{numAtom});
            for (int i = 0; i < numAtom; ++i) {
                const Vec3 p = frame.atmXYZ[static_cast<std::size_t>(i)];
                EXPECT_NEAR(p.x, nm(f, i, 0) * 10.0f, 0.006f); // .xtc keeps 0.001 nm
                EXPECT_NEAR(p.y, nm(f, i, 1) * 10.0f, 0.006f);
                EXPECT_NEAR(p.z, nm(f, i, 2) * 10.0f, 0.006f);
            }
            const Box& b = frame.box;
            const float cell[9] = {b.a.x, b.a.y, b.a.z, b.b.x, b.b.y, b.b.z, b.c.x, b.c.y, b.c.z};
            const float want[9] = {20.0f, 0.0f, 0.0f, 3.0f, 21.0f, 0.0f, 4.0f, 5.0f, 22.0f};
            for (int k = 0; k < 9; ++k)
                EXPECT_NEAR(cell[k], want[k], 1e-5f) << k;
            EXPECT_TRUE(frame.hasTime);
            EXPECT_EQ(frame.time, 10.0 * f);
            EXPECT_EQ(frame.step, 5000 * f);
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
        const std::size_t size = readFile(path(ext)).size();
        int boundaries = 0, lastGood = 0;
        for (std::size_t cut = 1; cut < size; ++cut) {
            const std::string file = cutCopy(ext, cut);
            int good = 0;
            std::string failure;
            try {
                auto reader = openGmxTrajectory(file);
                Frame frame;
                while (reader->next(frame))
                    ++good;
            } catch (const Failure& e) {
                failure = e.what();
            }
            ASSERT_GE(good, lastGood) << cut;
            lastGood = good;
            if (failure.empty()) {
                ++boundaries;
                continue;
            }
            ASSERT_NE(failure.find(file + ": frame " + std::to_string(good) + " is truncated"), std::string::npos)
                << cut << ": " << failure;
            if (cut == size - 10) {
                EXPECT_NE(failure.find("the last good frame is frame 1 at 10 ps"), std::string::npos) << failure;
            }
        }
        EXPECT_EQ(boundaries, numFrame - 1);
        EXPECT_EQ(lastGood, numFrame - 1);
    }
}

TEST_F(GmxTrajectory, OpenFailuresNameTheFile)
{
    auto failure = [](const std::string& file) {
        try {
            openGmxTrajectory(file);
        } catch (const Failure& e) {
            return std::string(e.what());
        }
        return std::string("opened");
    };
    EXPECT_EQ(failure(dir + "/none.xtc"), "cannot open the trajectory " + dir + "/none.xtc: No such file or directory");
    writeFile(dir + "/gro.xtc", readFile(dir + "/in.gro"));
    EXPECT_EQ(failure(dir + "/gro.xtc"),
              dir + "/gro.xtc: frame 0 is not an .xtc frame (wrong magic number); there is no good frame before it");
    EXPECT_EQ(failure(dir + "/in.gro"), dir + "/in.gro: not an .xtc or .trr trajectory");
}

} // namespace
} // namespace kavet
