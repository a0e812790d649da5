// Series mode end to end: frame selection, split jobs that concatenate to
// the whole run, the .xvg form, and bad trajectories that keep the rows
// already written.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>

#include "support/support.h"

namespace kavet {
namespace {

struct Trajectory {
    std::string dir;
    Trajectory()
    {
        dir = test::freshDirectory("series");
        test::writeFile(dir + "/traj.gro", test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace",
                                                             "0.1", "--frames", "4", "--disorder", "0.5", "--seed", "3"}));
        const std::string all = test::readFile(dir + "/traj.gro");
        test::writeFile(dir + "/conf.gro", all.substr(0, all.find("Generated", 10)));
    }
    test::RunResult run(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"-t", "traj.gro"});
        return test::runKavetBinary(args, dir);
    }
};

TEST(Series, SelectsFramesByTimeAndSplitJobsConcatenateToTheWholeRun)
{
    const Trajectory t;
    test::RunResult r = t.run({"-ot", "all.csv", "-nt", "1"});
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(t.run({"-ot", "three.csv", "-nt", "3"}).status, 0);
    EXPECT_EQ(test::readFile(t.dir + "/three.csv"), test::readFile(t.dir + "/all.csv"));
    EXPECT_EQ(test::readFile(t.dir + "/three~types.csv"), test::readFile(t.dir + "/all~types.csv"));
    const std::vector<std::string> all = test::linesOf(test::readFile(t.dir + "/all.csv"));
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[0], "frame,time_ps,waters,hbonds,rings_3,rings_4,rings_5,rings_6,rings_7,closed,defective,5^12,"
                      "5^12-6^2,5^12-6^3,5^12-6^4,4^3-5^6-6^3,5^12-6^8,other_closed,cups_5^6,cups_6^1-5^6,free_cups,"
                      "born,died,clusters,largest_cluster,"
                      "chill_cubic,chill_hexagonal,chill_interfacial_ice,chill_clathrate,chill_interfacial_clathrate,"
                      "chill_liquid,largest_ice,largest_clathrate,f4,volume");
    EXPECT_EQ(all[1], "0,0,368,736,0,0,384,48,0,64,0,16,48,0,0,0,0,0,192,96,0,64,0,1,64,0,0,0,364,4,0,0,368,0.914631,13824.000000");
    EXPECT_EQ(test::linesOf(test::readFile(t.dir + "/all~types.csv"))[1], "0,0,5^12,1,16");
    EXPECT_NE(r.out.find("     Frames: 4\n"), std::string::npos);

    // Pieces of a run give its rows, but for born and died: each piece
    // starts from no cages.
    auto untracked = [](std::vector<std::string> rows) {
        for (std::string& row : rows) {
            std::size_t at = 0;
            for (int field = 0; field < 21; ++field) // up to born
                at = row.find(',', at) + 1;
            const std::size_t end = row.find(',', row.find(',', at) + 1);
            row.erase(at, end - at + 1);
        }
        return rows;
    };
    ASSERT_EQ(t.run({"-ot", "a.csv", "-e", "10"}).status, 0);
    ASSERT_EQ(t.run({"-ot", "b.csv", "-b", "20"}).status, 0);
    std::vector<std::string> joined = test::linesOf(test::readFile(t.dir + "/a.csv"));
    const std::vector<std::string> b = test::linesOf(test::readFile(t.dir + "/b.csv"));
    joined.insert(joined.end(), b.begin() + 1, b.end());
    EXPECT_EQ(untracked(joined), untracked(all));

    ASSERT_EQ(t.run({"-ot", "c.csv", "-dt", "20"}).status, 0);
    EXPECT_EQ(untracked(test::linesOf(test::readFile(t.dir + "/c.csv"))),
              untracked({all[0], all[1], all[3]}));

    // A second run keeps the first file as GROMACS does; .xvg starts with the closed cages, F4 beside it.
    ASSERT_EQ(t.run({"-ot", "c.csv", "-dt", "20"}).status, 0);
    EXPECT_EQ(test::readFile(t.dir + "/#c.csv.1#"), test::readFile(t.dir + "/c.csv"));
    ASSERT_EQ(t.run({"-ot", "x.xvg"}).status, 0);
    const std::string xvg = test::readFile(t.dir + "/x.xvg");
    EXPECT_NE(xvg.find("@ s0 legend \"closed\"\n@ s1 hidden true\n@ s1 legend \"waters\"\n"), std::string::npos);
    EXPECT_NE(xvg.find("\n0  64  368  "), std::string::npos);
    EXPECT_NE(test::readFile(t.dir + "/x~f4.xvg").find("\n0  0.914631\n"), std::string::npos);
}

TEST(Series, AnXtcRoundTripGivesTheSameCensus)
{
    if (std::system("command -v gmx >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gmx is not installed";
    const Trajectory t;
    ASSERT_EQ(std::system(("cd " + t.dir + " && gmx -quiet trjconv -f traj.gro -o traj.xtc </dev/null >/dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(t.run({"-ot", "gro.csv"}).status, 0);
    const test::RunResult r = test::runKavetBinary({"-t", "traj.xtc", "-ot", "xtc.csv"}, t.dir);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> gro = test::linesOf(test::readFile(t.dir + "/gro.csv"));
    const std::vector<std::string> xtc = test::linesOf(test::readFile(t.dir + "/xtc.csv"));
    // The same positions to the last bit, so every column agrees, F4 (to
    // 1e-6, as written) included, even where a water's two hydrogens lie
    // equally far from the other oxygen of a pair.
    EXPECT_EQ(xtc, gro);
}

TEST(Series, BadInputFailsClearlyAndKeepsTheRowsWritten)
{
    const Trajectory t;
    const std::string text = test::readFile(t.dir + "/traj.gro");
    std::size_t third = text.find("Generated", 10);
    third = text.find("Generated", text.find("Generated", third + 1) + 1);
    test::writeFile(t.dir + "/traj.gro", text.substr(0, third + 5000));
    test::RunResult r = t.run({"-ot", "cut.csv", "-nt", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("(frame 3, after the frame at t = 20 ps)"), std::string::npos) << r.out;
    EXPECT_EQ(test::linesOf(test::readFile(t.dir + "/cut.csv")).size(), 4u);

    test::writeFile(t.dir + "/small.gro", test::latticeGro({"--structure", "ice", "--cells", "2", "2", "2"}));
    r = t.run({"-f", "small.gro"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("the structure small.gro has 192 atoms, but frame 0 of traj.gro has 1104"),
              std::string::npos)
        << r.out;

    r = t.run({"-b", "30", "-e", "20"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("is after the last"), std::string::npos);
}

// Outputs named after the series go beside a regular file only; empty results
// warn once per run; a run that analyses no frame fails; names whose format
// kavet does not write and unknown options are refused.
TEST(Series, EmptyResultsWarnOnceAndWhatCannotBeDoneIsRefused)
{
    const Trajectory t;
    test::RunResult r = t.run({"-ot", "/dev/null"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(test::fileExists("/dev/null~types.csv"));
    EXPECT_EQ(r.out.find("ring  File"), std::string::npos) << "series mode writes no ring file";

    r = t.run({"-ot", "nm.csv", "-hb", "0.35", "30"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("no hydrogen bond"), r.err.rfind("no hydrogen bond")) << r.err;
    EXPECT_NE(r.err.find("0.35 looks like nm, which is 3.5 A"), std::string::npos) << r.err;
    r = t.run({"-ot", "wat.csv", "-wat", "WAT"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("select no water oxygen in conf.gro: its residues are SOL (368), its atom names HW1 (368), "
                         "HW2 (368), OW (368)"),
              std::string::npos)
        << r.err;

    // A network far denser than water's is said once, not per frame (one
    // denser still is refused, below); a ring size that makes the search
    // explode, before the first frame.
    r = t.run({"-ot", "dense.csv", "-nohyd", "-hb", "4.5", "30", "-ring", "3", "3", "10", "-e", "10"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("mean degree of 9."), std::string::npos) << r.err; // of whichever frame comes first
    EXPECT_EQ(r.err.find("mean degree"), r.err.rfind("mean degree")) << r.err;
    r = t.run({"-ot", "big.csv", "-ring", "4", "13", "100", "-b", "500"});
    EXPECT_NE(r.err.find("rings of up to 13 members among 368 waters"), std::string::npos) << r.err;

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"-b", "500"}, "no frame analysed: -b 500 selects none of the 4 frames read from traj.gro (t = 0 to 30 ps)"},
        {{"-ocages", "c.json"}, "the file is written as CSV (.csv) or JSON lines (.jsonl), chosen by its name, but it "
                                "ends in .json"},
        {{"-o", "s.csv"}, "unknown option -o (did you mean -ot?)"},
    };
    for (const auto& [args, message] : refused) {
        r = t.run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(message), std::string::npos) << r.out;
    }
}

// Selections that give nothing to count, or the wrong thing, and criteria
// that make the ring search explode: each told by its own option, in both
// front ends of the command line.
TEST(Series, GuestGroupsOneSiteWaterAndDenseNetworksAreToldApart)
{
    const Trajectory t;
    std::string system = "[ System ]\n", oneSite;
    const std::vector<std::string> lines = test::linesOf(test::readFile(t.dir + "/conf.gro"));
    for (std::size_t k = 2; k + 1 < lines.size(); ++k) {
        system += std::to_string(k - 1) + "\n";
        if (lines[k].find("OW") != std::string::npos)
            oneSite += lines[k] + "\n";
    }
    test::writeFile(t.dir + "/idx.ndx", system + "[ Empty ]\n");
    test::writeFile(t.dir + "/one.gro", "one site\n" + std::to_string(std::count(oneSite.begin(), oneSite.end(), '\n')) +
                                            "\n" + oneSite + lines.back() + "\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string said; // on standard error for a warning, on standard output for a failure
    };
    const std::vector<Case> cases = {
        {{"-t", "traj.gro", "-n", "idx.ndx", "-guest-group", "Empty", "-ot", "e.csv"}, 0,
         "the index group Empty (-guest-group) holds no atom: the run counts no guests"},
        {{"-t", "traj.gro", "-n", "idx.ndx", "-guest-group", "System", "-ot", "s.csv"}, 1,
         "-guest-group System holds waters (atom 1, a water oxygen), not guests only"},
        {{"-f", "one.gro"}, 1, "water of one site, without hydrogens, is analysed with -nohyd"},
        {{"-f", "one.gro", "-nohyd", "-hb", "35", "30"}, 1, "mean degree of 367.0, far above water's 4, and no ring"},
        {{"-t", "traj.gro", "-nohyd", "-hb", "5", "30", "-ot", "d.csv"}, 1, "and no ring search is run on one above 12"},
    };
    for (const Case& c : cases) {
        const test::RunResult r = test::runKavetBinary(c.args, t.dir);
        EXPECT_EQ(r.status, c.status) << c.args[1];
        EXPECT_NE((c.status ? r.out : r.err).find(c.said), std::string::npos) << r.out << r.err;
    }
}

} // namespace
} // namespace kavet
