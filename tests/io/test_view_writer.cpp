// The frame file for viewers, read back by ASE (Debian's python3-ase) as a
// user would: every frame with its labels, every water oxygen and one cage
// particle per closed cage of the series. Skipped where ASE is missing.
#include <gtest/gtest.h>

#include <cstdlib>

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
    writeFile(dir + "/read.py",
              "import ase.io, csv\n"
              "rows = list(csv.DictReader(open('s.csv')))\n"
              "frames = ase.io.read('v.xyz', index=':')\n"
              "assert len(frames) == len(rows) == 3\n"
              "for a, row in zip(frames, rows):\n"
              "    k, c, n, g = a.arrays['kind'], a.arrays['chill'], a.arrays['cages'], a.arrays['cluster']\n"
              "    w = k == 'OW'\n"
              "    assert a.pbc.all() and a.cell.lengths()[0] > 20 and a.info['frame'] == int(row['frame'])\n"
              "    assert w.sum() == 368 and (~w).sum() == int(row['closed']) and (c[~w] == -1).all()\n"
              "    assert (c[w] == 4).sum() == int(row['chill_clathrate']) and (g >= 0).all()\n"
              "assert (n[w] > 0).sum() < (frames[0].arrays['cages'] > 0).sum() == 368\n");
    EXPECT_EQ(std::system(("cd " + dir + " && /usr/bin/python3 read.py").c_str()), 0);
}

} // namespace
} // namespace kavet::test
