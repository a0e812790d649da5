// The command line before the scan: help and version, and arguments that are
// no option (refused in series mode and beside any new option, warned of on
// the classic command line).
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/settings.h"
#include "core/error.h"
#include "support/support.h"

namespace kavet {
namespace {

// "warn: ..." per warning, "refuse: ...", or "" for a command line taken silently.
std::string outcome(const std::vector<std::string>& args)
{
    try {
        std::string text;
        for (const std::string& w : checkArguments(args))
            text += "warn: " + w + "\n";
        return text;
    } catch (const InputError& e) {
        return std::string("refuse: ") + e.what();
    }
}

TEST(CommandLine, ArgumentsThatAreNoOptionAreRefusedBesideNewOptionsAndWarnedOfOnTheClassicLine)
{
    const std::string list = "; kavet -h lists every option";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        // Values, negative numbers and option look-alikes among them, are values.
        {{"-f", "a.gro", "-wat", "-SOL", "-cage", "-1", "85"}, ""},
        {{"-t", "t.xtc", "-cage", "-1", "85", "-b", "-5", "-nt", "2"}, ""},
        // The classic line ignores what is no option, and warns of what looks like one.
        {{"-f", "a.gro", "1000", "-5", "x"}, ""},
        {{"-f", "a.gro", "-o", "x", "-F", "--verbose"},
         "warn: -o is not an option of kavet and is ignored (did you mean -or, -oc or -od?)" + list +
             "\nwarn: -F is not an option of kavet and is ignored (did you mean -f?)" + list +
             "\nwarn: --verbose is not an option of kavet and is ignored" + list + "\n"},
        {{"-t", "t.xtc", "-o", "s.csv"}, "refuse: unknown option -o (did you mean -ot?)" + list},
        {{"-t", "t.xtc", "-ocage", "c.csv"}, "refuse: unknown option -ocage (did you mean -ocages?)" + list},
        {{"-f", "a.gro", "-nt", "2", "-sealde"}, "refuse: unknown option -sealde (did you mean -sealed?)" + list},
        {{"-sealed", "-hb=3"}, "refuse: unknown option -hb=3 (did you mean -hb?)" + list},
        {{"-t", "t.xtc", "-help"}, "refuse: unknown option -help (did you mean --help?)" + list},
        {{"-t", "t.xtc", "1000"},
         "refuse: the argument \"1000\" is the value of no option; kavet -h lists every option and the values it takes"},
    };
    for (const auto& [args, expected] : cases)
        EXPECT_EQ(outcome(args), expected) << ::testing::PrintToString(args);
    EXPECT_EQ(requestOf({"-f", "a.gro", "-h"}), Request::Help);
    EXPECT_EQ(requestOf({"--version", "--help"}), Request::Version);
    EXPECT_EQ(requestOf({"-wat", "-h"}), Request::Run);
}

TEST(CommandLine, HelpListsEveryOptionOfTheTableWithItsDefaultAndTheBannerStaysOut)
{
    const std::string dir = test::freshDirectory("help");
    for (const char* ask : {"-h", "--help"}) {
        const test::RunResult r = test::runKavetBinary({"-f", "none.gro", ask}, dir);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.find(bannerText().substr(0, 40)), std::string::npos);
        std::string flat; // the text with each run of blanks as one space: defaults may wrap
        for (char c : r.out)
            if (!((c == ' ' || c == '\n') && !flat.empty() && flat.back() == ' '))
                flat += c == '\n' ? ' ' : c;
        for (const OptionSpec& o : optionTable()) {
            EXPECT_NE(r.out.find("\n  " + std::string(o.name) + " "), std::string::npos) << o.name;
            const std::string given = o.defaults;
            EXPECT_TRUE(given.empty() || flat.find("[default: " + given + "]") != std::string::npos) << o.name;
        }
    }
    const test::RunResult v = test::runKavetBinary({"--version"}, dir);
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("kavet ", 0), 0u) << v.out;
}

} // namespace
} // namespace kavet
