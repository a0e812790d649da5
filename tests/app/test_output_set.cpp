// Output files across runs that fail, are interrupted, run at the same time or
// name the same file: a run that does not complete leaves every output as it
// was, and a run never appends after a block an earlier run left cut off.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "io/output_set.h"
#include "support/support.h"

namespace kavet {
namespace {

const std::vector<std::string> outputArgs = {"-or", "r.pdb", "-oc", "c.pdb", "-od", "c.dat"};
const std::vector<std::string> outputFiles = {"r.pdb", "c.pdb", "c.dat"};

std::vector<std::string> contents(const std::string& dir)
{
    std::vector<std::string> c;
    for (const std::string& f : outputFiles)
        c.push_back(test::fileExists(dir + "/" + f) ? test::readFile(dir + "/" + f) : "(none)");
    return c;
}

// Starts the kavet binary in `dir` on `conf` with the standard outputs, its
// report in dir/.out; `fileLimit` > 0 sets the largest file it may write.
pid_t startKavet(const std::string& dir, const std::string& conf, long long fileLimit = 0)
{
    std::vector<std::string> args = {"-f", conf};
    args.insert(args.end(), outputArgs.begin(), outputArgs.end());
    return test::startKavet(dir, args, RLIMIT_FSIZE, fileLimit);
}

int finish(pid_t pid) { return test::finishKavet(pid); }

// Waits until `path` holds more than `size` bytes.
bool waitForGrowth(const std::string& path, std::uintmax_t size)
{
    for (int k = 0; k < 20000; ++k) {
        std::error_code ec;
        if (std::filesystem::file_size(path, ec) > size && !ec)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

std::string hydrate(int cells)
{
    const std::string n = std::to_string(cells);
    return test::latticeGro({"--structure", "sI", "--cells", n, n, n, "--displace", "0.1", "--seed", "1"});
}

TEST(OutputSet, FailedRunLeavesFilesAsTheyWereAndACutBlockIsRefusedUntilRepaired)
{
    const std::string dir = test::freshDirectory("outputs-fail");
    test::writeFile(dir + "/si.gro", hydrate(2));
    ASSERT_EQ(finish(startKavet(dir, "si.gro")), 0) << test::readFile(dir + "/.out");
    const std::vector<std::string> first = contents(dir);
    EXPECT_EQ(first[2], "  5^12:16  5^12-6^2:48\n");

    // A file-size limit (a full disk) part-way through the ring file, then
    // through the cage file: nothing of either run stays.
    for (const std::size_t file : {0u, 1u}) {
        const int status = finish(startKavet(dir, "si.gro", static_cast<long long>(first[file].size() * 3 / 2)));
        EXPECT_EQ(status, 1) << test::readFile(dir + "/.out");
        EXPECT_NE(test::readFile(dir + "/.out").find("File too large"), std::string::npos);
        EXPECT_EQ(contents(dir), first);
    }
    ASSERT_EQ(finish(startKavet(dir, "si.gro")), 0);
    for (std::size_t k = 0; k < first.size(); ++k)
        EXPECT_EQ(contents(dir)[k], first[k] + first[k]) << outputFiles[k];

    // A block cut off (as by SIGKILL) is refused, naming the offset to cut at.
    const std::string whole = test::readFile(dir + "/r.pdb");
    test::writeFile(dir + "/r.pdb", whole + first[0].substr(0, 5000));
    const std::vector<std::string> cut = contents(dir);
    EXPECT_EQ(finish(startKavet(dir, "si.gro")), 1);
    const std::string report = test::readFile(dir + "/.out");
    EXPECT_NE(report.find("r.pdb ends inside a block"), std::string::npos) << report;
    EXPECT_NE(report.find("truncate -s " + std::to_string(whole.size()) + " r.pdb"), std::string::npos) << report;
    EXPECT_EQ(contents(dir), cut);
    std::filesystem::resize_file(dir + "/r.pdb", whole.size());
    EXPECT_EQ(finish(startKavet(dir, "si.gro")), 0);
}

TEST(OutputSet, InterruptedRunLeavesFilesAsTheyWereAndConcurrentRunIsRefused)
{
    const std::string dir = test::freshDirectory("outputs-signal");
    test::writeFile(dir + "/si.gro", hydrate(6));
    test::writeFile(dir + "/small.gro", hydrate(2));
    ASSERT_EQ(finish(startKavet(dir, "small.gro")), 0);
    const std::vector<std::string> before = contents(dir);

    // The ring file is written before the cages are sought: the run is
    // still going while it grows.
    const pid_t first = startKavet(dir, "si.gro");
    ASSERT_TRUE(waitForGrowth(dir + "/r.pdb", before[0].size()));
    const test::RunResult second = test::runKavetBinary({"-f", "small.gro", "-or", "other.pdb", "-oc", "c.pdb"}, dir);
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.out.find("another run is writing c.pdb"), std::string::npos) << second.out;
    EXPECT_FALSE(test::fileExists(dir + "/other.pdb"));
    kill(first, SIGTERM);
    EXPECT_EQ(finish(first), 128 + SIGTERM);
    EXPECT_NE(test::readFile(dir + "/.out").find("interrupted by SIGTERM"), std::string::npos);
    EXPECT_EQ(contents(dir), before);

    // Left alone, the concurrent pair gives one complete run and one refusal.
    const pid_t again = startKavet(dir, "si.gro");
    ASSERT_TRUE(waitForGrowth(dir + "/r.pdb", before[0].size()));
    EXPECT_EQ(test::runKavetBinary({"-f", "small.gro", "-od", "c.dat"}, dir).status, 1);
    EXPECT_EQ(finish(again), 0);
    EXPECT_EQ(contents(dir)[2], before[2] + "  5^12:432  5^12-6^2:1296\n");
}

TEST(OutputSet, OutputsThatAreTheInputOrEachOtherOrNoFileAreRefusedUntouched)
{
    const std::string dir = test::freshDirectory("outputs-alias");
    test::writeFile(dir + "/si.gro", hydrate(2));
    mkfifo((dir + "/fifo").c_str(), 0644);
    const std::string input = test::readFile(dir + "/si.gro");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-or", "si.gro"}, "the output file si.gro is the input file si.gro"},
        {{"-or", "./x.pdb", "-oc", "x.pdb"}, "the output files ./x.pdb and x.pdb are the same file"},
        {{"-od", "fifo"}, "fifo: it is neither a regular file nor a character device"},
        {{"-n", "idx.ndx", "-od", "idx.ndx"}, "the output file idx.ndx is the input file idx.ndx"},
    };
    test::writeFile(dir + "/idx.ndx", "[ SOL ]\n1 2 3\n");
    for (const auto& [extra, message] : cases) {
        std::vector<std::string> args = {"-f", "si.gro"};
        args.insert(args.end(), extra.begin(), extra.end());
        const test::RunResult r = test::runKavetBinary(args, dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(message), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(">>>> Node degree"), std::string::npos) << "refused only after the analysis";
        EXPECT_FALSE(test::fileExists(dir + "/x.pdb"));
        EXPECT_FALSE(test::fileExists(dir + "/conf~ring.pdb"));
    }
    EXPECT_EQ(test::readFile(dir + "/si.gro"), input);
    EXPECT_EQ(test::readFile(dir + "/idx.ndx"), "[ SOL ]\n1 2 3\n");
    // /dev/null may take more than one output.
    EXPECT_EQ(test::runKavetBinary({"-f", "si.gro", "-or", "/dev/null", "-oc", "/dev/null", "-od", "/dev/null"}, dir)
                  .status,
              0);
}

TEST(OutputSet, CutBlocksAreRecognisedAtTheirLastCompleteBlock)
{
    const std::string ring = "CRYST1 x\nMODEL        1\nHETATM a\nCONECT b\nENDMDL\n";
    const std::string cage = "REMARK  5^12:1\nCRYST1 x\nMODEL        1\nHETATM a\nENDMDL\n";
    EXPECT_FALSE(endsInsideBlock(ring + ring, OutputKind::RingFile));
    EXPECT_FALSE(endsInsideBlock(cage + "REMARK \nCRYST1 x\n", OutputKind::CageFile));
    EXPECT_FALSE(endsInsideBlock("  5^12:1\n", OutputKind::DataFile));
    for (std::size_t cut = 1; cut < ring.size() - 1; ++cut)
        EXPECT_TRUE(endsInsideBlock(ring + ring.substr(0, cut), OutputKind::RingFile)) << cut;
    EXPECT_EQ(lastBlockStart(ring + ring.substr(0, 20), OutputKind::RingFile), static_cast<long long>(ring.size()));
    EXPECT_EQ(lastBlockStart(cage + cage.substr(0, 20), OutputKind::CageFile), static_cast<long long>(cage.size()));
    EXPECT_EQ(lastBlockStart("  5^12:1\n  5^1", OutputKind::DataFile), 9);
}

} // namespace
} // namespace kavet
