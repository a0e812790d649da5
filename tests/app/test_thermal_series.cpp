// Series mode -thermal end to end, on a lattice whose every frame has its
// own thermal noise (O-H bonds turned past the 30 degree criterion here and
// there): the mode finds every cage in every frame where the default does
// not, and its rows are the same whatever the threads and however the run
// is split or thinned.
#include <gtest/gtest.h>

#include <sstream>

#include "support/support.h"

namespace kavet {
namespace {

TEST(ThermalSeries, RecoversEveryCageOfANoisyCrystalWithTheSameRowsHoweverRun)
{
    const std::string dir = test::freshDirectory("thermal");
    test::writeFile(dir + "/traj.gro", test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--guests",
                                                         "1", "--frames", "9", "--jitter", "0.12", "--seed", "3"}));
    // The rows, each as its fields but born and died (columns 22 and 23,
    // counted from a run's first frame), after the header lines; the first
    // line of the file.
    std::string first;
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-f", "traj.gro", "-t", "traj.gro", "-ot", "s.csv"});
        const test::RunResult r = test::runKavetBinary(args, dir);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        std::vector<std::vector<std::string>> rows;
        const std::vector<std::string> lines = test::linesOf(test::readFile(dir + "/s.csv"));
        first = lines.at(0);
        for (const std::string& line : lines) {
            std::vector<std::string> fields;
            std::istringstream in(line);
            for (std::string f; std::getline(in, f, ',');)
                fields.size() == 21 || fields.size() == 22 ? void(fields.push_back("")) : fields.push_back(f);
            if (line[0] != '#' && line[0] != 'f')
                rows.push_back(fields);
        }
        return rows;
    };
    const auto plain = run({"-nt", "1"});
    EXPECT_EQ(first.rfind("frame,time_ps,", 0), 0u);
    const auto whole = run({"-thermal", "-nt", "1"});
    EXPECT_EQ(first, "# thermal frames (-thermal): each row from the atoms' mean positions over 5 frames, 2 on each "
                     "side");
    ASSERT_EQ(whole.size(), 9u);
    int missed = 0;
    for (std::size_t f = 0; f < whole.size(); ++f) {
        EXPECT_EQ(whole[f].at(9), "64") << f; // closed
        missed += plain[f].at(9) != "64";
    }
    EXPECT_GE(missed, 5);
    EXPECT_EQ(run({"-thermal", "-nt", "2"}), whole);
    // Split at 40 ps (frames 10 ps apart): each part reads the frames its
    // edge frames need.
    auto split = run({"-thermal", "-e", "30"});
    for (const auto& row : run({"-thermal", "-b", "40"}))
        split.push_back(row);
    EXPECT_EQ(split, whole);
    const auto even = run({"-thermal", "-dt", "20"});
    ASSERT_EQ(even.size(), 5u);
    for (std::size_t k = 0; k < even.size(); ++k)
        EXPECT_EQ(even[k], whole[2 * k]);
}

} // namespace
} // namespace kavet
