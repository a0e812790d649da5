// LAMMPS files on the command line, against rows made from the same frames
// converted to .gro (five decimals) by a converter of their own: an mW sI
// hydrate dump (triclinic, scaled positions, unsorted ids, one-site guests)
// and a TIP4P/2005 one (molecules, hydrogens wrapped apart), each also with
// the run's final data file (atomic; full with bonds) as the structure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "support/support.h"

namespace kavet {
namespace {

// Rows equal but for f4 (the last column), which may differ by the .gro
// file's rounding of 0.00001 nm.
void expectRows(const std::string& got, const std::string& golden)
{
    const std::vector<std::string> a = test::linesOf(got), b = test::linesOf(golden);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        const std::size_t ca = a[k].rfind(','), cb = b[k].rfind(',');
        EXPECT_EQ(a[k].substr(0, ca), b[k].substr(0, cb)) << "row " << k;
        const std::string fa = a[k].substr(ca + 1), fb = b[k].substr(cb + 1);
        if (k > 0 && fa != "nan")
            EXPECT_NEAR(std::atof(fa.c_str()), std::atof(fb.c_str()), 1e-4) << "row " << k;
        else
            EXPECT_EQ(fa, fb);
    }
}

TEST(LammpsFiles, DumpsAndDataFilesGiveTheRowsOfTheirConvertedFrames)
{
    const std::string dir = test::freshDirectory("lammps");
    const std::string data = test::sourcePath("tests/data/lammps/");
    const struct {
        std::string name;
        std::vector<std::string> select;
        std::string census; // the classic run's cage data on the data file
    } systems[] = {
        {"mw-sI", {"-wat-type", "1", "-nohyd", "-guest-type", "2", "-timestep", "10"},
         "  5^12:15  5^12-6^2:46  5^19-6^1:2  5^20-6^1:1  5^21-6^1:3  5^22-6^1:6  5^22-6^2:1  5^23-6^1:1  "
         "5^23-6^2:6  5^24-6^2:5  5^25-6^2:3  5^26-6^2:1  5^28-6^2:1\n"},
        {"tip4p-sI", {"-wat-type", "1", "2", "-guest-type", "3", "-timestep", "2"}, "  5^12:16  5^12-6^2:48\n"},
    };
    for (const auto& s : systems) {
        const std::string golden = test::readFile(data + s.name + ".rows.csv");
        for (const std::string structure : {".lammpstrj", ".data"}) {
            std::vector<std::string> args = {"-f", data + s.name + structure, "-t", data + s.name + ".lammpstrj",
                                             "-ot", s.name + ".csv"};
            args.insert(args.end(), s.select.begin(), s.select.end());
            const test::RunResult r = test::runKavetBinary(args, dir);
            ASSERT_EQ(r.status, 0) << r.out << r.err;
            expectRows(test::readFile(dir + "/" + s.name + ".csv"), golden);
        }
        std::vector<std::string> classic = {"-f", data + s.name + ".data", "-od", s.name + ".dat"};
        classic.insert(classic.end(), s.select.begin(), s.select.begin() + 3);
        ASSERT_EQ(test::runKavetBinary(classic, dir).status, 0);
        EXPECT_EQ(test::readFile(dir + "/" + s.name + ".dat"), s.census);
    }
    // Without a selection by type, the message names the options.
    const test::RunResult r = test::runKavetBinary({"-f", data + "tip4p-sI.data"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("tip4p-sI.data is a LAMMPS data file: its atoms have types but no names, so the waters are "
                         "selected by type: give -wat-type OTYPE HTYPE (or -wat-type OTYPE -nohyd for one-site water), "
                         "and the guests with -guest-type TYPE...; its types are 1 (368), 2 (736), 3 (64)"),
              std::string::npos)
        << r.out;
}

} // namespace
} // namespace kavet
