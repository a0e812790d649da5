// Runs of the kavet binary: the console report, its table figures, the early
// ends of a run and their exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/settings.h"
#include "support/support.h"

namespace kavet {
namespace {

using test::runKavetBinary;

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The report text from the line starting with `first` up to, not including,
// the line starting with `end` (or to the end of the report).
std::string section(const std::string& report, const std::string& first, const std::string& end = "")
{
    const std::size_t from = report.find("\n" + first);
    if (from == std::string::npos)
        return "<no line " + first + ">";
    const std::size_t to = end.empty() ? std::string::npos : report.find("\n" + end, from + 1);
    return report.substr(from + 1, to == std::string::npos ? std::string::npos : to - from);
}

// Four waters in a row along x, each donating a bond to the next: three bonds,
// of which only the middle one joins two nodes of degree two. No ring.
const std::string chainGro = R"(four waters in a chain
   12
    1SOL     OW    1   1.000   1.000   1.000
    1SOL    HW1    2   1.096   1.000   1.000
    1SOL    HW2    3   1.000   1.096   1.000
    2SOL     OW    4   1.280   1.000   1.000
    2SOL    HW1    5   1.376   1.000   1.000
    2SOL    HW2    6   1.280   1.096   1.000
    3SOL     OW    7   1.560   1.000   1.000
    3SOL    HW1    8   1.656   1.000   1.000
    3SOL    HW2    9   1.560   1.096   1.000
    4SOL     OW   10   1.840   1.000   1.000
    4SOL    HW1   11   1.936   1.000   1.000
    4SOL    HW2   12   1.840   1.096   1.000
   3.00000   3.00000   3.00000
)";

TEST(KavetRun, WithoutRingsReportsEveryPhaseThenNoCagesAndWritesNothing)
{
    const std::string dir = test::freshDirectory("report-chain");
    test::writeFile(dir + "/conf.gro", chainGro);
    test::writeFile(dir + "/conf~cage.dat", "earlier run\n");
    // No -f: the configuration is conf.gro in the working directory.
    const test::RunResult r = runKavetBinary({"-ring", "4", "5", "100"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string start = bannerText() + settingsText(scanOptions({"-ring", "4", "5", "100"}));
    ASSERT_EQ(r.out.substr(0, start.size()), start);
    EXPECT_EQ(test::maskTimes(r.out.substr(start.size())), R"(>>>> System
     numAtom:  12
     degree:   size=   12            capacity=   12
     resName:  size=   12            capacity=   12
     atmName:  size=   12            capacity=   12
     atmXYZ:   size=   12    3       capacity=   12    3
     isOW:     size=   12            capacity=   32
     isEdge:   size=   12   12       capacity=   12   32
>>>> Water
     OW:       4
     numNode:  size=    4            capacity=    4
     distRing: size=    4            capacity=    4
     centRing: size=    4    3       capacity=    4    3
     normRing: size=    4    3       capacity=    4    3
     tangRing: size=    4    5   12  capacity=    4    5   12
     nearRing: size=    4    4       capacity=    4    4
     edgeList: size=   16            capacity=   16
     ringList: size=    4    4       capacity=    4    4
     cageList: size=    8    4       capacity=    8    4
     cageNorm: size=    8            capacity=    8
>>>> Node degree: 
>>>> Edge Size: 6
>>>> Edge Size (degree>1): 2
>>>> Find all Rings     Iter: 1     Time(s): T
     Ring: 0
>>>> Ring Info.
     numNode:  size=    0            capacity=    4
     distRing: size=    0            capacity=    4
     centRing: size=    0    0       capacity=    4    0
     normRing: size=    0    0       capacity=    4    0
     tangRing: size=    0    0    0  capacity=    4    0    0
     nearRing: size=    0    0       capacity=    4    0
     ringList: size=    0    0       capacity=    4    0
     cageList: size=    0    0       capacity=    8    0
>>>> Fit Ring to Plane      Time(s): T
     Ring: 0
>>>> No cages.
)");
    EXPECT_EQ(filesIn(dir), (std::vector<std::string>{"conf.gro", "conf~cage.dat"}));
    EXPECT_EQ(test::readFile(dir + "/conf~cage.dat"), "earlier run\n");
}

TEST(KavetRun, FailingRunsPrintOneMessageWriteNothingAndEndWithStatusOne)
{
    struct Case {
        std::vector<std::string> args;
        bool echoed; // the settings echo comes before the message
        std::string what;
    };
    const std::vector<Case> cases = {
        {{"-f", "absent.gro"}, true, "open file  absent.gro  failed !"},
        {{"-f", "bad.gro"}, true, "bad.gro line 15: the file ends before the box line"},
        {{"-f", "bad.gro", "-hb", "3"}, false,
         "option -hb takes 2 values, but only 1 follows at the end of the command line"},
        {{"-f", "bad.gro", "-ring", "4", "128", "100"}, false,
         "the largest ring size (-ring, second value) is 128, but a ring can have at most 127 members"},
    };
    const std::string dir = test::freshDirectory("report-failing");
    test::writeFile(dir + "/bad.gro", chainGro.substr(0, chainGro.find("   3.00000")));
    for (const Case& c : cases) {
        const test::RunResult r = runKavetBinary(c.args, dir);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.out, bannerText() + (c.echoed ? settingsText(scanOptions(c.args)) : std::string()) +
                             "\n!!! ERROR !!! " + c.what + "\n\n");
    }
    EXPECT_EQ(filesIn(dir), (std::vector<std::string>{"bad.gro"}));
}

TEST(KavetReport, WithoutSelectedOxygensWaterShapesAreZeroAndWideNumbersWiden)
{
    // 33334 waters, 100002 atoms, none selected with the water name HOH.
    const std::vector<test::Water> waters(33334, test::waterPointingAt({1, 1, 1}, {2, 1, 1}, {1, 2, 1}));
    const std::string dir = test::freshDirectory("report-nowater");
    test::writeFile(dir + "/conf.gro", test::groFromWaters(waters, Box{50, 50, 50}));
    const test::RunResult r = runKavetBinary({"-wat", "HOH"}, dir);
    EXPECT_EQ(r.status, 0);
    for (const char* line : {"     numAtom:  100002\n", "     degree:   size=100002            capacity=100002\n",
                             "     isOW:     size=100002            capacity=100032\n",
                             "     isEdge:   size=100002100002       capacity=100002100032\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
    EXPECT_EQ(section(r.out, ">>>> Water", ">>>> Node degree"), R"(>>>> Water
     OW:       0
     numNode:  size=    0            capacity=    0
     distRing: size=    0            capacity=    0
     centRing: size=    0    0       capacity=    0    0
     normRing: size=    0    0       capacity=    0    0
     tangRing: size=    0    0    0  capacity=    0    0    0
     nearRing: size=    0    0       capacity=    0    0
     edgeList: size=    0            capacity=    0
     ringList: size=    0    0       capacity=    0    0
     cageList: size=    0    0       capacity=    0    0
     cageNorm: size=    0            capacity=    0
)");
    EXPECT_EQ(test::maskTimes(section(r.out, ">>>> Find all Rings", "     Ring: ")),
              ">>>> Find all Rings     Iter: 0     Time(s): T\n");
    EXPECT_EQ(test::maskTimes(section(r.out, ">>>> Fit Ring to Plane")),
              ">>>> Fit Ring to Plane      Time(s): T\n     Ring: 0\n>>>> No cages.\n");
    EXPECT_EQ(filesIn(dir), (std::vector<std::string>{"conf.gro"}));
}

TEST(KavetReport, RingInfoShowsTheTablesResizedToTheRingsFound)
{
    // Structure I, 2x2x2 cells: 368 waters and 432 rings, so ringList grows
    // past the room reserved for W and doubles it.
    const std::string dir = test::freshDirectory("report-rings");
    test::writeFile(dir + "/si.gro",
                    test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1", "--seed", "1"}));
    const std::string ringInfo = R"(     Ring: 432
>>>> Ring Info.
     numNode:  size=  432            capacity=  432
     distRing: size=  432            capacity=  432
     centRing: size=  432    3       capacity=  432    3
     normRing: size=  432    3       capacity=  432    3
     tangRing: size=  432    7   12  capacity=  432    7   12
     nearRing: size=  432  432       capacity=  432  432
     ringList: size=  432    5       capacity=  736    5
     cageList: size=  864  432       capacity=  864  432
>>>> Fit Ring to Plane      Time(s): T
)";
    test::RunResult r = runKavetBinary({"-f", "si.gro"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(test::maskTimes(section(r.out, "     Ring: ", "     Ring: ")), ringInfo);
    EXPECT_NE(r.out.find("\n     OW:       368\n"), std::string::npos);
    EXPECT_EQ(section(r.out, ">>>> Write Cages"), ">>>> Write Cages to File\n");

    // No ring is flat enough: every ring found is dropped by the plane fit.
    const std::string flatDir = test::freshDirectory("report-flat");
    test::writeFile(flatDir + "/si.gro", test::readFile(dir + "/si.gro"));
    r = runKavetBinary({"-f", "si.gro", "-ring", "4", "7", "0.001"}, flatDir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(test::maskTimes(section(r.out, "     Ring: ")), ringInfo + "     Ring: 0\n>>>> No cages.\n");
    EXPECT_EQ(filesIn(flatDir), (std::vector<std::string>{"si.gro"}));
}

TEST(KavetReport, DegenerateTrianglesAreWarnedOnStandardErrorOncePerTriangle)
{
    // A four-ring whose centre lies on the line of members 0 and 1 and on
    // that of members 2 and 3; each hydrogen points along a ring bond. The
    // oxygens are 2.2 A apart or more, as no real water is closer.
    const Vec3 p[4] = {{2.8f, 5, 5}, {7.2f, 5, 5}, {7.2f, 7.2f, 5}, {2.8f, 2.8f, 5}};
    std::vector<test::Water> waters;
    for (int k = 0; k < 4; ++k)
        waters.push_back(test::waterPointingAt(p[k], p[(k + 1) % 4], p[(k + 3) % 4]));
    const std::string dir = test::freshDirectory("report-degenerate");
    test::writeFile(dir + "/conf.gro", test::groFromWaters(waters, Box{20, 20, 20}));
    const test::RunResult r = runKavetBinary({"-hb", "6.5", "10"}, dir);
    EXPECT_EQ(r.status, 0);
    const std::string message = " !!! Error !!! Building transformation triangle from degenerate source \n";
    EXPECT_EQ(r.err, message + message);
    EXPECT_NE(r.out.find("     Ring: 1\n>>>> Neighbor"), std::string::npos) << r.out;

    // Many such rings: ten lines, then the count of the rest.
    std::vector<test::Water> many;
    for (int copy = 0; copy < 14; ++copy)
        for (const test::Water& w : waters)
            many.push_back({w.o + Vec3{12.0f * copy, 0, 0}, w.h1 + Vec3{12.0f * copy, 0, 0},
                            w.h2 + Vec3{12.0f * copy, 0, 0}});
    test::writeFile(dir + "/conf.gro", test::groFromWaters(many, Box{168, 20, 20}));
    const test::RunResult capped = runKavetBinary({"-hb", "6.5", "10"}, dir);
    std::string ten;
    for (int k = 0; k < 10; ++k)
        ten += message;
    ASSERT_EQ(capped.err.substr(0, ten.size()), ten) << capped.err;
    EXPECT_TRUE(capped.err.substr(ten.size()).starts_with(" !!! Error !!! ... and ")) << capped.err;
    EXPECT_TRUE(capped.err.ends_with(" more degenerate triangles\n")) << capped.err;
}

} // namespace
} // namespace kavet
