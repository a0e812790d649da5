// The frame file for viewers, read back by ASE (Debian's python3-ase) as a
// user would: every frame, with its labels, one cage particle per closed cage
// of the series and every water oxygen. Skipped where ASE is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "support/support.h"

namespace kavet::test {
namespace {

TEST(ViewFile, AseReadsEveryFrameWithItsLabels)
{
    if (std::system("/usr/bin/python3 -c 'import ase.io' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-ase is not installed";
    const std::string dir = freshDirectory("viewfile");
    writeFile(dir + "/t.gro", latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1",
                                          "--frames", "3", "--disorder", "0.6", "--seed", "2"}));
    const RunResult r = runKavetBinary({"-f", "t.gro", "-t", "t.gro", "-ot", "s.csv", "-oview", "v.xyz"}, dir);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // Per frame: waters, cage particles, and waters with a CHILL+ label and a cage.
    const std::string script =
        "import ase.io\n"
        "for a in ase.io.read('v.xyz', index=':'):\n"
        "    k, c, n = a.arrays['kind'], a.arrays['chill'], a.arrays['cages']\n"
        "    w = k == 'OW'\n"
        "    assert (a.pbc.all() and a.cell.lengths()[0] > 20 and (c[~w] == -1).all()"
        " and (a.arrays['cluster'][w] >= 0).all())\n"
        "    print(int(w.sum()), int((~w).sum()), int((c[w] > 0).sum()), int((n[w] > 0).sum()))\n";
    writeFile(dir + "/read.py", script);
    ASSERT_EQ(std::system(("cd " + dir + " && /usr/bin/python3 read.py > read.txt").c_str()), 0);
    const std::vector<std::string> read = linesOf(readFile(dir + "/read.txt"));
    const std::vector<std::string> series = linesOf(readFile(dir + "/s.csv"));
    ASSERT_EQ(read.size(), 3u);
    ASSERT_EQ(series.size(), 4u);
    auto fields = [](const std::string& line, char separator) {
        std::vector<std::string> out;
        std::istringstream in(line);
        for (std::string v; std::getline(in, v, separator);)
            out.push_back(v);
        return out;
    };
    const std::vector<std::string> names = fields(series[0], ',');
    const auto closed = std::find(names.begin(), names.end(), "closed") - names.begin();
    for (std::size_t f = 0; f < 3; ++f) {
        const std::vector<std::string> v = fields(read[f], ' ');
        ASSERT_EQ(v.size(), 4u);
        EXPECT_EQ(v[0], "368");
        EXPECT_EQ(v[1], fields(series[f + 1], ',')[static_cast<std::size_t>(closed)]) << f;
    }
    // The crystal's first frame: labelled waters, and waters in cages.
    EXPECT_NE(fields(read[0], ' ')[2], "0");
    EXPECT_NE(fields(read[0], ' ')[3], "0");
}

} // namespace
} // namespace kavet::test
