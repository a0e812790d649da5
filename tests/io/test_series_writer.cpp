// The .xvg form of the series, byte for byte: time as x, closed first,
// frame left out, the cage types typeset and shown, the other sets hidden,
// and F4 in a file of its own.
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
        ASSERT_NE(w.f4File(), nullptr);
        w.row({"0", "0", "368", "64", "48", "0", "0.912848"});
        w.row({"1", "0.6", "368", "3", "1", "1", "nan"});
    }
    EXPECT_EQ(test::readFile(dir + "/s.xvg"),
              "# kavet census series: one row per frame\n"
              "# x is time_ps; the sets follow in the order of their legends\n"
              "# F4 is in " + dir + "/s~f4.xvg\n"
              "# xmgrace -nxy shows the closed cages by type; the other sets are hidden\n"
              "@    title \"kavet census\"\n"
              "@    xaxis  label \"Time (ps)\"\n"
              "@    yaxis  label \"Closed cages\"\n"
              "@TYPE xy\n"
              "@ view 0.15, 0.15, 0.95, 0.85\n"
              "@ legend on\n"
              "@ legend 1.0, 0.85\n"
              "@ legend char size 0.8\n"
              "@ s0 line color 1\n"
              "@ s0 legend \"closed\"\n"
              "@ s1 hidden true\n"
              "@ s1 legend \"waters\"\n"
              "@ s2 line color 2\n"
              "@ s2 legend \"5\\S12\\N6\\S2\\N\"\n"
              "@ s3 line color 3\n"
              "@ s3 legend \"other_closed\"\n"
              "0  64  368  48  0\n"
              "0.6  3  368  1  1\n");
    EXPECT_EQ(test::readFile(dir + "/s~f4.xvg"),
              "# kavet census series: the F4 order parameter of each frame of " + dir + "/s.xvg\n"
              "@    title \"kavet census: F\\s4\\N\"\n"
              "@    xaxis  label \"Time (ps)\"\n"
              "@    yaxis  label \"F\\s4\\N\"\n"
              "@TYPE xy\n"
              "0  0.912848\n"
              "0.6  nan\n");
    // No file is made beside a device.
    ASSERT_EQ(::symlink("/dev/null", (dir + "/null.xvg").c_str()), 0);
    EXPECT_EQ(SeriesWriter(dir + "/null.xvg", {"time_ps", "f4"}).f4File(), nullptr);
    struct stat st;
    EXPECT_NE(::stat((dir + "/null~f4.xvg").c_str(), &st), 0);
    EXPECT_EQ(graceText("4^3-5^6-6^3"), "4\\S3\\N5\\S6\\N6\\S3\\N");
    EXPECT_EQ(graceText("occupied_5^12 \"x\"^-6^"), "occupied_5\\S12\\N ''x''^-6^");
}

} // namespace
} // namespace kavet
