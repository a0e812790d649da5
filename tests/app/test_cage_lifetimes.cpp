// Cages followed in series mode, end to end: ids over a still crystal, the
// same bytes whatever the threads, births and deaths that add up over a melt,
// a split run merged into the whole, a lifetime table a failed run keeps.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "support/support.h"

namespace kavet {
namespace {

// The field `name` of every row of a CSV text.
std::vector<std::string> column(const std::string& text, const std::string& name)
{
    std::vector<std::string> out;
    std::ptrdiff_t at = -1;
    for (const std::string& line : test::linesOf(text)) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string f; std::getline(in, f, ',');)
            fields.push_back(f);
        if (at < 0)
            at = std::find(fields.begin(), fields.end(), name) - fields.begin();
        else
            out.push_back(fields.at(static_cast<std::size_t>(at)));
    }
    return out;
}

TEST(CageLifetimes, AStillCrystalKeepsEveryIdAndThreadsChangeNoByte)
{
    const std::string one = test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0", "--guests", "0.5", "--seed", "6"});
    std::map<std::string, std::string> first;
    for (const char* threads : {"1", "2"}) {
        const std::string dir = test::freshDirectory("lifetimes");
        test::writeFile(dir + "/conf.gro", one);
        std::string ten;
        for (int k = 0; k < 10; ++k)
            ten += one;
        test::writeFile(dir + "/traj.gro", ten);
        test::RunResult r = test::runKavetBinary({"-t", "traj.gro", "-ot", "s.csv", "-ocages", "c.jsonl", "-olife",
                                                  "l.csv", "-guest", "CH4", "-oguests", "g.csv", "-nt", threads},
                                                 dir);
        ASSERT_EQ(r.status, 0) << r.out;
        std::map<std::string, std::string> out = {{"out", r.out.replace(r.out.find("threads: "), 10, "")}};
        for (const char* name : {"s.csv", "c.jsonl", "l.csv", "g.csv"})
            out[name] = test::readFile(dir + "/" + name);
        if (first.empty())
            first = out;
        EXPECT_EQ(out, first);
    }
    std::vector<std::string> born(10, "0");
    born[0] = "64";
    EXPECT_EQ(column(first["s.csv"], "born"), born);
    EXPECT_EQ(column(first["s.csv"], "died"), std::vector<std::string>(10, "0"));
    EXPECT_EQ(column(first["l.csv"], "frames_present"), std::vector<std::string>(64, "10"));
    // 32 guests, each caged all along: residences of 10 frames, 10 ps (frames 1 ps apart).
    const std::vector<std::string> cage = column(first["g.csv"], "cage_id");
    EXPECT_EQ(cage.size(), 320u);
    EXPECT_EQ(std::count(cage.begin(), cage.end(), "0"), 0);
    EXPECT_NE(first["out"].find("    10.0000" + std::string(13, ' ') + "10\n"), std::string::npos) << first["out"];
}

TEST(CageLifetimes, MeltingAddsUpASplitRunMergesAndAFailedRunKeepsTheTable)
{
    const std::string dir = test::freshDirectory("lifetimes");
    std::string traj = test::sourcePath("examples/si-2x2x2-melting.gro");
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-f", test::sourcePath("examples/si-2x2x2.gro"), "-t", traj});
        return test::runKavetBinary(args, dir).status;
    };
    for (const std::string tol : {"0", "2"}) {
        ASSERT_EQ(run({"-ot", "s.csv", "-olife", "whole.csv", "-tol", tol}), 0);
        const std::string s = test::readFile(dir + "/s.csv");
        const auto closed = column(s, "closed"), born = column(s, "born"), died = column(s, "died");
        for (std::size_t t = 0; t < closed.size(); ++t)
            EXPECT_EQ(std::stoi(closed[t]), (t ? std::stoi(closed[t - 1]) : 0) + std::stoi(born[t]) - std::stoi(died[t]));
        ASSERT_EQ(run({"-ot", "a.csv", "-e", "50", "-olife", "a~life.csv", "-tol", tol}), 0);
        ASSERT_EQ(run({"-ot", "b.csv", "-b", "60", "-olife", "b~life.csv", "-tol", tol}), 0);
        ASSERT_EQ(std::system(("cd " + dir + " && " + test::sourcePath("tools/merge-lifetimes") + " --tolerance " +
                               tol + " -o merged.csv a~life.csv b~life.csv").c_str()), 0);
        EXPECT_EQ(test::readFile(dir + "/merged.csv"), test::readFile(dir + "/whole.csv")) << tol;
    }
    // A run that fails on a cut trajectory, or is refused at the start, leaves the table as it was.
    const std::string before = test::readFile(dir + "/whole.csv");
    EXPECT_EQ(run({"-olife", "whole.csv", "-b", "5000"}), 1); // no frame analysed
    test::writeFile(dir + "/cut.gro", test::readFile(traj).substr(0, test::readFile(traj).size() / 2));
    traj = dir + "/cut.gro";
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-olife", "whole.csv"}, {"-olife", "fifo"},
                                                 {"-olife", "x.csv", "-ot", "x.csv"}, {"-oguests", "g.csv"}})
        EXPECT_EQ(run(args), 1) << args[1];
    EXPECT_EQ(test::readFile(dir + "/whole.csv"), before);
}

} // namespace
} // namespace kavet
