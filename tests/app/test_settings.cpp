// The option scan, the start-up banner and the settings echo.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "app/settings.h"
#include "core/error.h"
#include "support/support.h"

namespace kavet {
namespace {

const std::string defaultEcho = ">>>> Settings\n"
                                "     conf  File: conf.gro\n"
                                "     ring  File: conf~ring.pdb\n"
                                "     cage  File: conf~cage.pdb\n"
                                "     data  File: conf~cage.dat\n"
                                "     water Name: SOL\n"
                                "     OW    Name: OW\n"
                                "     hb    Criteria: 3.5(A)  30(degree)\n"
                                "     ring  Criteria: 4 7 100(A)\n"
                                "     cage  Criteria: 1(A)  85(degree)\n";

// The failure message of the scan, or "accepted".
std::string scanFailure(const std::vector<std::string>& args)
{
    try {
        scanOptions(args);
    } catch (const InputError& failure) {
        return "\n!!! ERROR !!! " + std::string(failure.what()) + "\n\n";
    }
    return "accepted";
}

TEST(OptionScan, WithoutArgumentsOrWithUnknownOnesEveryDefaultHolds)
{
    EXPECT_EQ(settingsText(scanOptions({})), defaultEcho);
    EXPECT_EQ(settingsText(scanOptions({"-h", "--help", "-F", "f", "-ring5", "-hb=3", ""})), defaultEcho);
}

TEST(OptionScan, SealedTakesNoValueAndAddsOneEchoLine)
{
    EXPECT_TRUE(scanOptions({"-sealed", "-f", "a.gro"}).criteria.sealed);
    EXPECT_FALSE(scanOptions({"-sealed=1", "-Sealed"}).criteria.sealed);
    EXPECT_EQ(settingsText(scanOptions({"-sealed"})), defaultEcho + "     cage  Test: sealed\n");
}

TEST(OptionScan, EchoLinesShowTheValuesAsConverted)
{
    struct Case {
        std::vector<std::string> args;
        std::size_t line; // 1-based line of the echo
        std::string text;
    };
    const std::vector<Case> cases = {
        {{"-f", "a.gro", "-f", "b.gro"}, 2, "     conf  File: b.gro"},
        {{"-or", "r.pdb", "-oc", "c.pdb"}, 3, "     ring  File: r.pdb"},
        {{"-or", "r.pdb", "-oc", "c.pdb"}, 4, "     cage  File: c.pdb"},
        {{"-od", "my data.dat"}, 5, "     data  File: my data.dat"},
        {{"-oxy", "O", "-wat", "HOH"}, 6, "     water Name: HOH"},
        {{"-oxy", "O", "-wat", "HOH"}, 7, "     OW    Name: O"},
        {{"-ring", "5", "6", "0.5"}, 9, "     ring  Criteria: 5 6 0.5(A)"},
        {{"-hb", "abc", "20"}, 8, "     hb    Criteria: 0(A)  20(degree)"},
        {{"-hb", "1", "2", "-hb", "3.5A", " 2.5"}, 8, "     hb    Criteria: 3.5(A)  2.5(degree)"},
        {{"-cage", "0x10", "-7"}, 10, "     cage  Criteria: 16(A)  -7(degree)"},
        // Single precision shows: 10000050.4 rounds to 10000050 and 1e-50 to
        // 0, where the double values would print as 1.00001e+07 and 1e-50.
        {{"-hb", "0.1", "10000050.4"}, 8, "     hb    Criteria: 0.1(A)  1e+07(degree)"},
        {{"-cage", "1e-50", "3e38"}, 10, "     cage  Criteria: 0(A)  3e+38(degree)"},
        // Ring sizes are whole-number prefixes, never checked for consistency.
        {{"-ring", "5.9", " 7x", "2.5"}, 9, "     ring  Criteria: 5 7 2.5(A)"},
        {{"-ring", "0x10", "+6", "abc"}, 9, "     ring  Criteria: 0 6 0(A)"},
        {{"-ring", "9", "-3", "1"}, 9, "     ring  Criteria: 9 -3 1(A)"},
        // A value that equals an option name also acts as that option.
        {{"-wat", "-f", "b.gro"}, 6, "     water Name: -f"},
        {{"-wat", "-f", "b.gro"}, 2, "     conf  File: b.gro"},
        {{"-f", "-hb", "2", "40"}, 2, "     conf  File: -hb"},
        {{"-f", "-hb", "2", "40"}, 8, "     hb    Criteria: 2(A)  40(degree)"},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> lines = test::linesOf(settingsText(scanOptions(c.args)));
        ASSERT_EQ(lines.size(), 10u);
        EXPECT_EQ(lines[c.line - 1], c.text) << "arguments: " << ::testing::PrintToString(c.args);
    }
}

// Every default the table states is the value in force without the option;
// the names are unique and each option reads as many values as it states.
TEST(OptionTable, DefaultsHoldAndNamesAreUnique)
{
    std::set<std::string> names;
    for (const OptionSpec& o : optionTable()) {
        EXPECT_TRUE(names.insert(o.name).second) << o.name;
        EXPECT_EQ(findOption(o.name), &o);
        if (std::string(o.defaults).empty() || std::string(o.name) == "-nt")
            continue;
        std::vector<std::string> args = {"-t", "x.gro", o.name};
        std::istringstream words(o.defaults);
        for (std::string w; words >> w;)
            args.push_back(w);
        EXPECT_EQ(args.size(), 3u + static_cast<std::size_t>(o.arity)) << o.name;
        // The profile's slabs need its file.
        std::vector<std::string> base = {"-t", "x.gro"};
        if (std::string(o.name) == "-profile")
            base.insert(base.end(), {"-oprofile", "p.csv"});
        args.insert(args.begin() + 2, base.begin() + 2, base.end());
        const Settings given = scanOptions(args), none = scanOptions(base);
        EXPECT_EQ(settingsText(given) + seriesSettingsText(given), settingsText(none) + seriesSettingsText(none))
            << o.name;
    }
    EXPECT_EQ(findOption("-x"), nullptr);
}

TEST(OptionScan, LargestRingSizeAbove127IsRefused)
{
    EXPECT_EQ(scanFailure({"-ring", "4", "128", "1"}),
              "\n!!! ERROR !!! the largest ring size (-ring, second value) is 128, but a ring can have at most "
              "127 members\n\n");
    EXPECT_EQ(scanFailure({"-ring", "4", "127", "1"}), "accepted");
    // Only the value in force after the scan counts.
    EXPECT_EQ(scanFailure({"-ring", "4", "500", "1", "-ring", "4", "7", "1"}), "accepted");
}

TEST(OptionScan, NonFiniteNumbersAndWholeNumbersBeyond32BitsAreRefused)
{
    EXPECT_EQ(scanFailure({"-ring", "4", "4294967303", "100"}),
              "\n!!! ERROR !!! option -ring: the whole number 4294967303 is out of range\n\n");
    EXPECT_EQ(scanFailure({"-ring", "-2147483649", "7", "100"}),
              "\n!!! ERROR !!! option -ring: the whole number -2147483649 is out of range\n\n");
    for (const char* v : {"inf", "-inf", "nan", "1e39", "1e400"})
        EXPECT_EQ(scanFailure({"-hb", "3.5", v}),
                  "\n!!! ERROR !!! option -hb: " + std::string(v) + " is not a finite number\n\n");
    // The numeric prefix still counts, as atoi and atof read it.
    EXPECT_EQ(scanFailure({"-ring", "4x", "-2147483648", "1e30", "-cage", "3.4e38", "abc"}), "accepted");
}

TEST(OptionScan, ValuesRunningPastTheEndOfTheCommandLineAreRefused)
{
    const std::string end = " at the end of the command line\n\n";
    for (const char* option : {"-f", "-or", "-oc", "-od", "-wat", "-oxy"})
        EXPECT_EQ(scanFailure({"-hb", "3", "30", option}),
                  "\n!!! ERROR !!! option " + std::string(option) + " takes 1 value, but none follows" + end);
    EXPECT_EQ(scanFailure({"-hb", "3"}), "\n!!! ERROR !!! option -hb takes 2 values, but only 1 follows" + end);
    EXPECT_EQ(scanFailure({"-cage"}), "\n!!! ERROR !!! option -cage takes 2 values, but none follows" + end);
    EXPECT_EQ(scanFailure({"-ring", "5", "6"}),
              "\n!!! ERROR !!! option -ring takes 3 values, but only 2 follows" + end);
    // A last value that is itself an option name acts as that option too.
    EXPECT_EQ(scanFailure({"-wat", "-f"}), "\n!!! ERROR !!! option -f takes 1 value, but none follows" + end);
    EXPECT_EQ(scanFailure({"-f", "-hb", "1"}), "\n!!! ERROR !!! option -hb takes 2 values, but only 1 follows" + end);
    EXPECT_EQ(scanFailure({"-ring", "4", "7", "-od"}), "\n!!! ERROR !!! option -od takes 1 value, but none follows" + end);
}

TEST(Banner, IsTheUsageTextInTwentyNinePaddedLinesAndAnEmptyLine)
{
    const std::string rule(79, '-');
    const std::vector<std::string> expected = {
        ">>>>>>>>>>>>>>>>>>>>>>>>>>           kavet           <<<<<<<<<<<<<<<<<<<<<<<<<<",
        "",
        ">>>>>>>>>>>>>>>>>>>>>>>>>>    2022-09-04 23:34:20    <<<<<<<<<<<<<<<<<<<<<<<<<<",
        ">>  Usage:   kavet [-f FILE.gro]       [-wat WATER]          [-oxy WATEROXYGEN]",
        "                   [-or RING.pdb]      [-oc CAGE.pdb]        [-od CAGE.dat]",
        "                   [-hb   DISTACE ANGLE]",
        "                   [-ring MIN MAX DEVIATION]",
        "                   [-cage DISTACE ANGLE]",
        ">>  Default: kavet  -f  conf.gro       -wat  SOL            -oxy  OW",
        "                    -or conf~ring.pdb  -oc   conf~cage.pdb  -od   conf~cage.dat",
        "                    -hb 3.5 30         -ring 4 7 100        -cage 1 85",
        rule,
        ">> Option:",
        "    -f   : input configuration file",
        "    -wat : residue name of water",
        "    -oxy : atom name of water oxygen",
        "    -or  : output ring file",
        "    -oc  : output cage file",
        "    -od  : output cage data",
        "    -hb  : criteria of hydrogen bonding(A, degree)",
        "    -ring: min, max number of members, max deviation of atoms from plane(A)",
        "    -cage: distance from center along normal to define ray starting point(A)",
        "           max angle between normal and ray in the same cage(degree)",
        rule,
        ">> Warning:",
        "   !!! 1. Need Eigen to compile the code",
        "   !!! 2. Support single frame gro only",
        "   !!! 3. Use JMOL to view output pdbs",
        rule,
    };
    const std::string banner = bannerText();
    EXPECT_EQ(banner.substr(banner.size() - 2), "\n\n");
    const std::vector<std::string> lines = test::linesOf(banner);
    ASSERT_EQ(lines.size(), 30u);
    EXPECT_EQ(lines[29], "");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i].size(), i == 10 ? 81u : 79u) << "line " << i + 1;
        if (i == 1)
            continue;
        std::string line = lines[i];
        line.erase(line.find_last_not_of(' ') + 1);
        EXPECT_EQ(line, expected[i]) << "line " << i + 1;
    }
    // The credit line: 26 '>', a 27-character field holding the credit text, 26 '<'.
    EXPECT_EQ(lines[1].substr(0, 26), std::string(26, '>'));
    EXPECT_NE(lines[1].substr(26, 27).find_first_not_of(' '), std::string::npos);
    EXPECT_EQ(lines[1].substr(53), std::string(26, '<'));
}

} // namespace
} // namespace kavet
