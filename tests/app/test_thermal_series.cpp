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

// The rows of a series CSV text, each without its born and died fields
// (which count from the first frame a run analyses), and the header line.
std::vector<std::string> rowsOf(const std::string& text, std::string* note = nullptr)
{
    std::vector<std::string> lines = test::linesOf(text), out;
    if (note)
        *note = !lines.empty() && lines[0][0] == '#' ? lines[0] : "";
    std::vector<std::string> names;
    for (const std::string& line : lines) {
        if (line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string f; std::getline(in, f, ',');)
            fields.push_back(f);
        if (names.empty()) {
            names = fields;
            continue;
        }
        std::string row;
        for (std::size_t c = 0; c < fields.size(); ++c)
            if (names[c] != "born" && names[c] != "died")
                row += fields[c] + ",";
        out.push_back(row);
    }
    return out;
}

int closedOf(const std::string& row)
{
    std::istringstream in(row);
    std::string f;
    for (int c = 0; c < 10; ++c)
        std::getline(in, f, ',');
    return std::stoi(f); // the tenth column
}

TEST(ThermalSeries, RecoversEveryCageOfANoisyCrystalWithTheSameRowsHoweverRun)
{
    const std::string dir = test::freshDirectory("thermal");
    test::writeFile(dir + "/traj.gro", test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--guests",
                                                         "1", "--frames", "9", "--jitter", "0.12", "--seed", "3"}));
    auto run = [&](std::vector<std::string> args, std::string* note = nullptr) {
        args.insert(args.begin(), {"-f", "traj.gro", "-t", "traj.gro", "-ot", "s.csv"});
        const test::RunResult r = test::runKavetBinary(args, dir);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        return rowsOf(test::readFile(dir + "/s.csv"), note);
    };
    std::string note;
    const std::vector<std::string> plain = run({"-nt", "1"}, &note);
    EXPECT_EQ(note, "");
    const std::vector<std::string> whole = run({"-thermal", "-nt", "1"}, &note);
    EXPECT_EQ(note, "# thermal frames (-thermal): each row from the atoms' mean positions over 5 frames, 2 on each "
                    "side");
    ASSERT_EQ(whole.size(), 9u);
    int missed = 0;
    for (std::size_t f = 0; f < whole.size(); ++f) {
        EXPECT_EQ(closedOf(whole[f]), 64) << f;
        missed += closedOf(plain[f]) < 64;
    }
    EXPECT_GE(missed, 5);
    EXPECT_EQ(run({"-thermal", "-nt", "2"}), whole);
    // Split at 40 ps (frames 10 ps apart): each part reads the frames its
    // edge frames need.
    std::vector<std::string> split = run({"-thermal", "-e", "30"});
    for (const std::string& row : run({"-thermal", "-b", "40"}))
        split.push_back(row);
    EXPECT_EQ(split, whole);
    const std::vector<std::string> even = run({"-thermal", "-dt", "20"});
    ASSERT_EQ(even.size(), 5u);
    for (std::size_t k = 0; k < even.size(); ++k)
        EXPECT_EQ(even[k], whole[2 * k]);
}

} // namespace
} // namespace kavet
