// Cages followed through series mode, end to end: ids that hold over a
// crystal that does not move, births and deaths that add up over a melting
// run, outputs that do not depend on the threads, a split run that merges
// into the whole one, and a lifetime table that a failed run leaves alone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "support/support.h"

namespace kavet {
namespace {

// The rows of a CSV file as maps from column name to field.
std::vector<std::map<std::string, std::string>> csvRows(const std::string& text)
{
    std::vector<std::string> lines = test::linesOf(text);
    std::vector<std::string> names;
    std::istringstream head(lines.at(0));
    for (std::string name; std::getline(head, name, ',');)
        names.push_back(name);
    std::vector<std::map<std::string, std::string>> rows;
    for (std::size_t k = 1; k < lines.size(); ++k) {
        std::istringstream line(lines[k]);
        std::map<std::string, std::string> row;
        for (const std::string& name : names)
            std::getline(line, row[name], ',');
        rows.push_back(row);
    }
    return rows;
}

int64_t number(const std::map<std::string, std::string>& row, const char* name)
{
    return std::stoll(row.at(name));
}

TEST(CageLifetimes, AStillCrystalKeepsEveryIdAndThreadsChangeNoByte)
{
    const std::string one = test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0",
                                              "--guests", "0.5", "--seed", "6"});
    std::string ten;
    for (int k = 0; k < 10; ++k)
        ten += one;
    std::map<std::string, std::string> first;
    for (const char* threads : {"1", "2"}) {
        const std::string dir = test::freshDirectory("lifetimes");
        test::writeFile(dir + "/conf.gro", one);
        test::writeFile(dir + "/traj.gro", ten);
        test::RunResult r =
            test::runKavetBinary({"-t", "traj.gro", "-ot", "s.csv", "-ocages", "c.jsonl", "-olife", "l.csv", "-guest",
                                  "CH4", "-oguests", "g.csv", "-tol", "1", "-nt", threads},
                                 dir);
        ASSERT_EQ(r.status, 0) << r.out;
        r.out.replace(r.out.find("threads: "), 10, "threads: N");
        std::map<std::string, std::string> outputs = {{"stdout", r.out}, {"stderr", r.err}};
        for (const char* name : {"s.csv", "s~types.csv", "c.jsonl", "l.csv", "g.csv"})
            outputs[name] = test::readFile(dir + "/" + name);
        if (first.empty())
            first = outputs;
        else
            EXPECT_EQ(outputs, first);
    }

    // Every cage present all along under one id; all born at frame 0, none after, none dead.
    const auto series = csvRows(first["s.csv"]);
    ASSERT_EQ(series.size(), 10u);
    for (const auto& row : series) {
        EXPECT_EQ(number(row, "closed"), 64);
        EXPECT_EQ(number(row, "born"), number(row, "frame") == 0 ? 64 : 0);
        EXPECT_EQ(number(row, "died"), 0);
    }
    const auto lives = csvRows(first["l.csv"]);
    ASSERT_EQ(lives.size(), 64u);
    for (const auto& life : lives) {
        EXPECT_EQ(life.at("first_frame") + life.at("last_frame") + life.at("frames_present"), "0910");
        EXPECT_EQ(life.at("alive_at_end") + life.at("closed"), "11");
    }
    // Each guest in one cage all along: 32 residences of 10 frames (10 ps, frames 1 ps apart).
    const auto guests = csvRows(first["g.csv"]);
    ASSERT_EQ(guests.size(), 320u);
    std::map<std::string, std::set<std::string>> cagesOf;
    for (const auto& row : guests)
        cagesOf[row.at("guest")].insert(row.at("cage_id"));
    EXPECT_EQ(cagesOf.size(), 32u);
    for (const auto& [guest, cages] : cagesOf)
        EXPECT_TRUE(cages.size() == 1 && *cages.begin() != "0") << guest;
    EXPECT_NE(first["stdout"].find(">>>> Guest residence\n"), std::string::npos) << first["stdout"];
    const std::size_t total = first["stdout"].find("\n     5^12 ", first["stdout"].find(">>>> Guest residence"));
    ASSERT_NE(total, std::string::npos);
    std::istringstream line(first["stdout"].substr(total + 10));
    long long runs = 0;
    double frames = 0, ps = 0;
    line >> runs >> frames >> ps;
    EXPECT_GT(runs, 0);
    EXPECT_EQ(frames, 10.0);
    EXPECT_EQ(ps, 10.0);
}

TEST(CageLifetimes, MeltingAddsUpASplitRunMergesAndAFailedRunKeepsTheTable)
{
    const std::string dir = test::freshDirectory("lifetimes");
    const std::string conf = test::sourcePath("examples/si-2x2x2.gro");
    const std::string traj = test::sourcePath("examples/si-2x2x2-melting.gro");
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-f", conf, "-t", traj});
        return test::runKavetBinary(args, dir);
    };
    for (const char* tol : {"0", "2"}) {
        const std::string t = tol;
        ASSERT_EQ(run({"-ot", "s.csv", "-olife", "whole.csv", "-tol", tol}).status, 0);
        int64_t closed = 0, born = 0;
        for (const auto& row : csvRows(test::readFile(dir + "/s.csv"))) {
            EXPECT_EQ(number(row, "closed"), closed + number(row, "born") - number(row, "died")) << row.at("frame");
            closed = number(row, "closed");
            born += number(row, "born");
        }
        EXPECT_GT(born, 64);

        ASSERT_EQ(run({"-ot", "a.csv", "-e", "50", "-olife", "a-" + t + ".csv", "-tol", tol}).status, 0);
        ASSERT_EQ(run({"-ot", "b.csv", "-b", "60", "-olife", "b-" + t + ".csv", "-tol", tol}).status, 0);
        const std::string merge = "cd " + dir + " && python3 " + test::sourcePath("tools/merge-lifetimes") +
                                  " --tolerance " + t + " -o merged.csv a-" + t + ".csv b-" + t + ".csv";
        ASSERT_EQ(std::system(merge.c_str()), 0);
        EXPECT_EQ(test::readFile(dir + "/merged.csv"), test::readFile(dir + "/whole.csv")) << "tolerance " << t;
    }

    // A run that fails on a cut trajectory, or is refused, leaves the table as it was.
    const std::string text = test::readFile(traj);
    test::writeFile(dir + "/cut.gro", text.substr(0, text.size() / 2));
    const std::string before = test::readFile(dir + "/whole.csv");
    test::RunResult r = test::runKavetBinary({"-f", conf, "-t", "cut.gro", "-ot", "cut.csv", "-olife", "whole.csv"}, dir);
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-olife", "fifo"}, {"-olife", conf}, {"-olife", "x.csv", "-ot", "x.csv"},
          {"-oguests", "g.csv"}, {"-tol", "-1"}}) {
        r = run(args);
        EXPECT_EQ(r.status, 1) << args[0] << " " << args[1];
    }
    EXPECT_EQ(test::readFile(dir + "/whole.csv"), before);
    EXPECT_FALSE(test::fileExists(dir + "/x.csv"));
}

} // namespace
} // namespace kavet
