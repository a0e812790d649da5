// The .xvg series: time as x, closed first, no frame, cage types typeset and
// shown, the other sets hidden, F4 in a file of its own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "io/series_writer.h"
#include "support/support.h"

namespace kavet {
namespace {

TEST(SeriesWriter, XvgPutsClosedFirstAndF4InItsOwnFile)
{
    const std::string dir = test::freshDirectory("serieswriter");
    {
        SeriesWriter w(dir + "/s.xvg", {"frame", "time_ps", "waters", "closed", "5^12-6^2", "other_closed", "f4"});
        w.row({"0", "0", "368", "64", "48", "0", "0.912848"});
        w.row({"1", "0.6", "368", "3", "1", "1", "nan"});
    }
    const std::string xvg = test::readFile(dir + "/s.xvg");
    EXPECT_NE(xvg.find("\n# F4 is in " + dir + "/s~f4.xvg\n"), std::string::npos);
    EXPECT_EQ(xvg.substr(xvg.find("@ s0")), "@ s0 line color 1\n@ s0 legend \"closed\"\n"
                                            "@ s1 hidden true\n@ s1 legend \"waters\"\n"
                                            "@ s2 line color 2\n@ s2 legend \"5\\S12\\N6\\S2\\N\"\n"
                                            "@ s3 line color 3\n@ s3 legend \"other_closed\"\n"
                                            "0  64  368  48  0\n0.6  3  368  1  1\n");
    const std::string f4 = test::readFile(dir + "/s~f4.xvg");
    EXPECT_EQ(f4.substr(f4.find("@    yaxis")), "@    yaxis  label \"F\\s4\\N\"\n@TYPE xy\n0  0.912848\n0.6  nan\n");
    // No file is made beside a device.
    ASSERT_EQ(::symlink("/dev/null", (dir + "/null.xvg").c_str()), 0);
    EXPECT_EQ(SeriesWriter(dir + "/null.xvg", {"time_ps", "f4"}).f4File(), nullptr);
    struct stat st;
    EXPECT_NE(::stat((dir + "/null~f4.xvg").c_str(), &st), 0);
}

} // namespace
} // namespace kavet
