// Series outputs across bad names, full disks, signals and restarts: every
// output is checked before the first frame, a frame is in every file or in
// none, and the exit status agrees with the files.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "support/support.h"

namespace kavet {
namespace {

pid_t start(const std::string& dir, std::vector<std::string> args, int resource = 0, long long limit = 0)
{
    return test::startKavet(dir, std::move(args), resource, limit);
}

int finish(pid_t pid) { return test::finishKavet(pid); }

std::string trajectory(const std::string& dir, int frames)
{
    test::writeFile(dir + "/traj.gro", test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace",
                                                         "0.1", "--frames", std::to_string(frames), "--seed", "3"}));
    const std::string all = test::readFile(dir + "/traj.gro");
    test::writeFile(dir + "/conf.gro", all.substr(0, all.find("Generated", 10)));
    return all;
}

// The frame numbers of the data rows of a CSV file (first field), and
// whether it ends with a whole line.
std::vector<std::string> framesOf(const std::string& path, bool& whole)
{
    const std::string text = test::readFile(path);
    whole = text.empty() || text.back() == '\n';
    std::vector<std::string> frames;
    for (const std::string& line : test::linesOf(text))
        if (!line.empty() && line[0] >= '0' && line[0] <= '9' && line.find(',') != std::string::npos) {
            const std::string f = line.substr(0, line.find(','));
            if (frames.empty() || frames.back() != f)
                frames.push_back(f);
        }
    return frames;
}

// Every file holds the same frames, each whole; returns the last one.
std::string checkWholeFrames(const std::string& dir)
{
    bool whole = false;
    const std::vector<std::string> series = framesOf(dir + "/s.csv", whole);
    EXPECT_TRUE(whole);
    for (const char* other : {"/s~types.csv", "/c.csv"}) {
        EXPECT_EQ(framesOf(dir + other, whole), series) << other;
        EXPECT_TRUE(whole) << other;
    }
    return series.empty() ? "none" : "frame " + series.back();
}

TEST(SeriesOutputs, OutputsThatAreInputsOrEachOtherOrFifosAreRefusedBeforeAnyFrame)
{
    const std::string dir = test::freshDirectory("series-guards");
    const std::string traj = trajectory(dir, 2);
    mkfifo((dir + "/fifo").c_str(), 0644);
    std::filesystem::create_symlink("traj.gro", dir + "/trajlink");
    // Every input (-f, -t, -n) against every output, the lifetime table
    // locked as the others, links to no file, extensions of other formats.
    test::writeFile(dir + "/idx.ndx", "[ SOL ]\n1 2 3\n");
    std::filesystem::create_symlink("idx.ndx", dir + "/ndxlink.csv");
    std::filesystem::create_symlink("nowhere.csv", dir + "/dangling.csv");
    test::writeFile(dir + "/locked.csv", "another run's series\n");
    const int lock = open((dir + "/locked.csv").c_str(), O_RDONLY);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-ot", "x.csv", "-n", "idx.ndx", "-ocages", "ndxlink.csv"}, "the output file ndxlink.csv is the input file idx.ndx"},
        {{"-ot", "x.csv", "-n", "idx.ndx", "-olife", "ndxlink.csv"}, "the output file ndxlink.csv is the input file idx.ndx"},
        {{"-ot", "x.csv", "-olife", "locked.csv"}, "another run is writing locked.csv"},
        {{"-ot", "x.csv", "-olife", "x.csv"}, "the output files x.csv and x.csv are the same file"},
        {{"-ot", "x.csv", "-olife", "dangling.csv"}, "dangling.csv: it is a symbolic link to nowhere.csv, which does not exist"},
        {{"-ot", "x.csv", "-oview", "v.pdb"}, "option -oview v.pdb: the file is written as extended XYZ (.xyz or .extxyz)"},
        {{"-ot", "x.csv", "-olife", "l.xvg"}, "option -olife l.xvg: the file is written as CSV (.csv)"},
        {{"-ot", "x.csv", "-guest", "CH4", "-oguests", "g.txt"}, "option -oguests g.txt: the file is written as CSV"},
        {{"-ot", "x.csv", "-ocages", "x.csv"}, "the output files x.csv and x.csv are the same file"},
        {{"-ot", "x.csv", "-ocages", "./x~types.csv"}, "the output files x~types.csv and ./x~types.csv are the same"},
        {{"-ot", "conf.gro"}, "option -ot conf.gro: the file is written as CSV (.csv) or GROMACS .xvg"},
        {{"-ot", "x.csv", "-ocages", "trajlink"}, "the output file trajlink is the input file traj.gro"},
        {{"-ot", "x.csv", "-ocages", "fifo"}, "fifo: it is neither a regular file nor a character device"},
        {{"-ot", "x.csv", "-guest", "SOL"}, "-guest SOL selects the waters"},
    };
    for (const auto& [extra, message] : cases) {
        std::vector<std::string> args = {"-t", "traj.gro"};
        args.insert(args.end(), extra.begin(), extra.end());
        const test::RunResult r = test::runKavetBinary(args, dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(message), std::string::npos) << r.out;
        for (const char* f : {"x.csv", "x~types.csv", "#conf.gro.1#", "#traj.gro.1#"})
            EXPECT_FALSE(test::fileExists(dir + "/" + f)) << f;
    }
    EXPECT_EQ(test::readFile(dir + "/traj.gro"), traj);
    EXPECT_EQ(test::readFile(dir + "/idx.ndx"), "[ SOL ]\n1 2 3\n");
    EXPECT_EQ(test::readFile(dir + "/locked.csv"), "another run's series\n");
    close(lock);
    // An output through a link is written to the file it leads to, backed
    // up beside that file; the link stays.
    std::filesystem::create_symlink("real.csv", dir + "/link.csv");
    test::writeFile(dir + "/real.csv", "old\n");
    ASSERT_EQ(test::runKavetBinary({"-t", "traj.gro", "-ot", "link.csv", "-e", "0"}, dir).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.csv"));
    EXPECT_EQ(test::readFile(dir + "/#real.csv.1#"), "old\n");
    EXPECT_EQ(test::readFile(dir + "/real.csv").substr(0, 14), "frame,time_ps,");
}

TEST(SeriesOutputs, AFullDiskOrASignalCutsEveryFileBackToTheLastWholeFrame)
{
    const std::string dir = test::freshDirectory("series-torn");
    trajectory(dir, 60);
    const std::vector<std::string> args = {"-t", "traj.gro", "-ot", "s.csv", "-ocages", "c.csv", "-nt", "2"};
    // The cage table passes the limit part-way through frame 1.
    EXPECT_EQ(finish(start(dir, args, RLIMIT_FSIZE, 20000)), 1);
    std::string report = test::readFile(dir + "/.out");
    EXPECT_NE(report.find("File too large"), std::string::npos) << report;
    EXPECT_EQ(checkWholeFrames(dir), "frame 0");
    EXPECT_NE(report.find("last frame written whole to all of them: frame 0\n"), std::string::npos) << report;
    // A row cut off (as by SIGKILL) is pointed out when the file is backed up.
    test::writeFile(dir + "/s.csv", test::readFile(dir + "/s.csv") + "1,10,36");
    const test::RunResult again = test::runKavetBinary({"-t", "traj.gro", "-ot", "s.csv", "-e", "0"}, dir);
    EXPECT_NE(again.err.find("s.csv ended inside a line, as a run killed while writing leaves it: #s.csv.1# is not"),
              std::string::npos)
        << again.err;

    // A second run while this one holds the files is refused; then a signal
    // part-way.
    for (const int sig : {SIGINT, SIGTERM}) {
        std::vector<std::string> slow = args;
        slow.back() = "1";
        std::filesystem::remove(dir + "/c.csv");
        const pid_t run = start(dir, slow);
        std::error_code missing;
        for (int k = 0; k < 20000 && (std::filesystem::file_size(dir + "/c.csv", missing) < 30000 || missing); ++k)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        const test::RunResult other = test::runKavetBinary({"-t", "traj.gro", "-ot", "o.csv", "-ocages", "c.csv"}, dir);
        EXPECT_EQ(other.status, 1);
        EXPECT_NE(other.out.find("another run is writing c.csv"), std::string::npos) << other.out;
        EXPECT_FALSE(test::fileExists(dir + "/o.csv"));
        kill(run, sig);
        EXPECT_EQ(finish(run), 128 + sig);
        report = test::readFile(dir + "/.out");
        EXPECT_NE(report.find("last frame written whole to all of them: " + checkWholeFrames(dir) + "\n"),
                  std::string::npos)
            << report;
    }
}

TEST(SeriesOutputs, ASignalDuringTheRunOrItsTeardownAgreesWithTheFiles)
{
    // Status 0 exactly when the census line was added; otherwise the files
    // are as they were.
    const std::string dir = test::freshDirectory("series-teardown");
    test::writeFile(dir + "/si.gro", test::latticeGro({"--structure", "sI", "--cells", "6", "6", "6"}));
    const std::vector<std::string> args = {"-f", "si.gro", "-or", "/dev/null", "-oc", "/dev/null", "-od", "c.dat"};
    ASSERT_EQ(finish(start(dir, args)), 0);
    std::mt19937 random(7);
    for (int trial = 0; trial < 8; ++trial) {
        const std::string before = test::readFile(dir + "/c.dat");
        const auto began = std::chrono::steady_clock::now();
        const pid_t run = start(dir, args);
        // Late in the run: past the analysis, around the commit.
        while (test::readFile(dir + "/c.dat") == before &&
               std::chrono::steady_clock::now() - began < std::chrono::seconds(30))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        kill(run, SIGINT);
        const int status = finish(run);
        const std::string after = test::readFile(dir + "/c.dat");
        EXPECT_TRUE((status == 0 && after.size() > before.size()) || (status == 130 && after == before))
            << "status " << status;
    }
}

TEST(SeriesOutputs, ThreadsAreCappedAndTimeGoingBackIsFollowedPastTheEnd)
{
    const std::string dir = test::freshDirectory("series-threads");
    const std::string traj = trajectory(dir, 3);
#ifndef __SANITIZE_ADDRESS__ // the address sanitizer cannot map its shadow memory under a limit
    EXPECT_EQ(finish(start(dir, {"-f", "conf.gro", "-nt", "4096", "-od", "c.dat"}, RLIMIT_AS, 1500000000LL)), 0)
        << test::readFile(dir + "/.out");
#endif

    // Times 0, 10, 20, then a restart at 0 and 10: -e 10 takes frames 0, 1, 3, 4.
    const std::size_t third = traj.find("Generated", traj.find("Generated", 10) + 1);
    test::writeFile(dir + "/restart.gro", traj + traj.substr(0, third));
    ASSERT_EQ(finish(start(dir, {"-t", "restart.gro", "-ot", "s.csv", "-e", "10"})), 0) << test::readFile(dir + "/.out");
    bool whole = false;
    EXPECT_EQ(framesOf(dir + "/s.csv", whole), (std::vector<std::string>{"0", "1", "3", "4"}));
}

} // namespace
} // namespace kavet
