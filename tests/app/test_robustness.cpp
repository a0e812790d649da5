// Hostile input and failing output: files that cannot be written, earlier
// results that must survive, and configurations that break or stretch the
// .gro layout. Every case runs the kavet binary as a user would.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "support/support.h"

namespace kavet {
namespace {

using test::runKavetBinary;

const std::string& hydrate()
{
    static const std::string text =
        test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1", "--seed", "1"});
    return text;
}

const std::vector<std::string> outputs = {"-or", "r.pdb", "-oc", "c.pdb", "-od", "c.dat"};

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

// The run failed with status 1 and exactly one error message, naming `path`.
void expectOneFailureNaming(const test::RunResult& r, const std::string& path, const std::string& context)
{
    EXPECT_EQ(r.status, 1) << context;
    EXPECT_EQ(count(r.out, "!!! ERROR !!!"), 1u) << context << "\n" << r.out;
    const std::size_t at = r.out.find("!!! ERROR !!!");
    ASSERT_NE(at, std::string::npos) << context;
    EXPECT_NE(r.out.find(path, at), std::string::npos) << context << "\n" << r.out.substr(at);
    EXPECT_EQ(r.out.substr(r.out.size() - 2), "\n\n") << context;
}

// Runs on the hydrate with one of the three output files replaced by `path`.
test::RunResult runWithOutput(const std::string& dir, const std::string& option, const std::string& path)
{
    std::vector<std::string> args = {"-f", "si.gro"};
    for (std::size_t k = 0; k < outputs.size(); k += 2)
        args.insert(args.end(), {outputs[k], outputs[k] == option ? path : outputs[k + 1]});
    return runKavetBinary(args, dir);
}

TEST(OutputFailure, MissingFolderAndFullDiskEachGiveOneMessageNamingTheFile)
{
    const std::string dir = test::freshDirectory("robust-out");
    test::writeFile(dir + "/si.gro", hydrate());
    for (const std::string option : {"-or", "-oc", "-od"}) {
        const std::string missing = dir + "/no such folder/out" + option;
        expectOneFailureNaming(runWithOutput(dir, option, missing), missing, option + " in a missing folder");
        EXPECT_FALSE(test::fileExists(missing));
        const test::RunResult full = runWithOutput(dir, option, "/dev/full");
        expectOneFailureNaming(full, "/dev/full", option + " on a full disk");
        EXPECT_NE(full.out.find("No space left on device"), std::string::npos) << full.out;
    }
}

TEST(OutputFailure, ReadOnlyFolderGivesOneMessageNamingTheFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "folder permissions do not stop root from writing";
    const std::string dir = test::freshDirectory("robust-readonly");
    test::writeFile(dir + "/si.gro", hydrate());
    const std::string locked = dir + "/locked";
    std::filesystem::create_directory(locked);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    for (const std::string option : {"-or", "-oc", "-od"}) {
        const std::string path = locked + "/out" + option;
        expectOneFailureNaming(runWithOutput(dir, option, path), path, option + " in a read-only folder");
    }
    chmod(locked.c_str(), 0755);
}

TEST(OutputFailure, EarlierResultsAreAppendedToAndNeverTruncated)
{
    const std::string dir = test::freshDirectory("robust-append");
    test::writeFile(dir + "/si.gro", hydrate());
    std::vector<std::string> args = {"-f", "si.gro"};
    args.insert(args.end(), outputs.begin(), outputs.end());
    ASSERT_EQ(runKavetBinary(args, dir).status, 0);
    const std::vector<std::string> files = {"r.pdb", "c.pdb", "c.dat"};
    std::vector<std::string> first;
    for (const std::string& f : files)
        first.push_back(test::readFile(dir + "/" + f));
    EXPECT_EQ(first[2], "  5^12:16  5^12-6^2:48\n");

    // A run that fails on the cage file, one whose input breaks off, then a
    // second full run: the failed runs leave the files as they were, the full
    // run doubles them.
    std::vector<std::string> failing = args;
    failing[5] = "/dev/full";
    EXPECT_EQ(runKavetBinary(failing, dir).status, 1);
    test::writeFile(dir + "/cut.gro", hydrate().substr(0, hydrate().size() / 2));
    args[1] = "cut.gro";
    EXPECT_EQ(runKavetBinary(args, dir).status, 1);
    EXPECT_EQ(test::readFile(dir + "/r.pdb"), first[0]);
    EXPECT_EQ(test::readFile(dir + "/c.pdb"), first[1]);
    EXPECT_EQ(test::readFile(dir + "/c.dat"), first[2]);
    args[1] = "si.gro";
    ASSERT_EQ(runKavetBinary(args, dir).status, 0);
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::string now = test::readFile(dir + "/" + files[k]);
        EXPECT_EQ(now.substr(0, first[k].size()), first[k]) << files[k];
        EXPECT_EQ(now.substr(now.size() - first[k].size()), first[k]) << files[k];
    }
}

// The three output files of a run on `gro` in a fresh folder, or the report
// when the run fails.
std::vector<std::string> resultsOf(const std::string& gro, const std::string& tag)
{
    const std::string dir = test::freshDirectory(tag);
    test::writeFile(dir + "/conf.gro", gro);
    const test::RunResult r = runKavetBinary({}, dir);
    if (r.status != 0)
        return {r.out};
    return {test::readFile(dir + "/conf~ring.pdb"), test::readFile(dir + "/conf~cage.pdb"),
            test::readFile(dir + "/conf~cage.dat")};
}

TEST(InputFrames, LaterFramesAndCrlfLineEndsLeaveTheResultsUnchanged)
{
    const std::vector<std::string> single = resultsOf(hydrate(), "robust-single");
    ASSERT_EQ(single.size(), 3u) << single[0];
    EXPECT_EQ(single[2], "  5^12:16  5^12-6^2:48\n");
    const std::string ice = test::latticeGro({"--structure", "ice", "--cells", "3", "2", "2"});
    EXPECT_EQ(resultsOf(hydrate() + ice + hydrate(), "robust-frames"), single);
    std::string crlf;
    for (char c : hydrate())
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(resultsOf(crlf, "robust-crlf"), single);
}

TEST(InputFrames, BinaryGarbageAndBlankAtomLinesAreRejectedWithOneMessage)
{
    std::mt19937 random(7);
    std::string garbage(65536, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    const std::string lines = hydrate().substr(0, hydrate().find("   2SOL"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {garbage, ""},
        {"garbage after a count\n3\n" + garbage, ""},
        {std::string("\0\0\0\n\0\n", 6) + garbage, ""},
        {lines.substr(0, lines.find("    1SOL    HW1")) + "\n" + hydrate().substr(lines.find("    1SOL    HW1")),
         "conf.gro line 4: the atom line is too short (0 characters; the coordinates need 44)"},
        {lines + std::string(44, ' ') + "\n", "conf.gro line 6: no number in the x column"},
    };
    for (const auto& [text, what] : cases) {
        const std::vector<std::string> r = resultsOf(text, "robust-garbage");
        ASSERT_EQ(r.size(), 1u) << "accepted:\n" << text.substr(0, 200);
        EXPECT_EQ(count(r[0], "!!! ERROR !!!"), 1u) << r[0];
        EXPECT_NE(r[0].find("conf.gro"), std::string::npos) << r[0];
        if (!what.empty()) {
            EXPECT_NE(r[0].find(what), std::string::npos) << r[0];
        }
    }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr long long hugeLines = 450'000; // about 20 MB
#else
constexpr long long hugeLines = 4'500'000; // about 200 MB
#endif

double childSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

TEST(InputFrames, HugeFileShorterThanItsAtomCountFailsFast)
{
    const std::string dir = test::freshDirectory("robust-huge");
    {
        std::string block;
        for (int i = 0; i < 10'000; ++i)
            block += "    1SOL     OW    1   0.100   0.200   0.300\n";
        std::FILE* f = std::fopen((dir + "/conf.gro").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "huge\n%lld\n", hugeLines + 1);
        for (long long n = 0; n < hugeLines; n += 10'000)
            ASSERT_EQ(std::fwrite(block.data(), 1, block.size(), f), block.size());
        ASSERT_EQ(std::fclose(f), 0);
    }
    // Processor time of the run, so that a busy machine does not count.
    const double before = childSeconds();
    const test::RunResult r = runKavetBinary({}, dir);
    const double took = childSeconds() - before;
    std::filesystem::remove(dir + "/conf.gro");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("conf.gro line " + std::to_string(hugeLines + 3) + ": the file ends after " +
                         std::to_string(hugeLines) + " of the " + std::to_string(hugeLines + 1) +
                         " atom lines announced on line 2"),
              std::string::npos)
        << r.out.substr(r.out.size() - 300);
    EXPECT_LT(took, 8.0);
}

} // namespace
} // namespace kavet
