// Configurations that are no water: higher-precision fields read by their
// real width, fields with more than a number refused, and the physically
// impossible refused while real liquid, ice and hydrate pass without a word.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <filesystem>

#include "core/error.h"
#include "io/frame_checks.h"
#include "io/gro_reader.h"
#include "support/support.h"

namespace kavet {
namespace {

const std::string& hydrate()
{
    static const std::string text =
        test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1", "--seed", "1"});
    return text;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        out.push_back(text.substr(at, nl - at));
    return out;
}

std::string joined(const std::vector<std::string>& ls)
{
    std::string text;
    for (const std::string& l : ls)
        text += l + "\n";
    return text;
}

// The same configuration as `gmx trjconv -ndec 5` writes it.
std::string fiveDecimals(const std::string& gro)
{
    std::vector<std::string> ls = lines(gro);
    char field[32];
    for (std::size_t k = 2; k + 1 < ls.size(); ++k) {
        std::string line = ls[k].substr(0, 20);
        for (int axis = 0; axis < 3; ++axis) {
            std::snprintf(field, sizeof field, "%10.5f", std::stod(ls[k].substr(20 + 8 * axis, 8)));
            line += field;
        }
        ls[k] = line;
    }
    return joined(ls);
}

std::string failureOf(const std::string& text)
{
    try {
        const Frame f = parseConfiguration(text, "c.gro", "SOL", "OW");
        checkFrame(f, "c.gro");
    } catch (const FormatError& failure) {
        return failure.what();
    }
    return "accepted";
}

TEST(GroFields, FiveDecimalFieldsReadAsTheirThreeDecimalTwinAndTrailingJunkIsRefused)
{
    const Frame three = parseConfiguration(hydrate(), "c.gro", "SOL", "OW");
    const Frame five = parseConfiguration(fiveDecimals(hydrate()), "c.gro", "SOL", "OW");
    ASSERT_EQ(five.positions.size(), three.positions.size());
    for (std::size_t i = 0; i < three.positions.size(); ++i)
        ASSERT_TRUE(five.positions[i].x == three.positions[i].x && five.positions[i].y == three.positions[i].y &&
                    five.positions[i].z == three.positions[i].z)
            << "atom " << i + 1;

    std::vector<std::string> ls = lines(hydrate());
    ls[6][ls[6].find('.') + 1] = 'x';
    EXPECT_NE(failureOf(joined(ls)).find("c.gro line 7: the x column (columns 21-28) holds more than one number"),
              std::string::npos)
        << failureOf(joined(ls));
    ls = lines(hydrate());
    ls[8] = " " + ls[8];
    EXPECT_NE(failureOf(joined(ls)).find("c.gro line 9: the "), std::string::npos) << failureOf(joined(ls));
}

TEST(FrameChecks, RealWaterPassesSilentlyAndImpossibleConfigurationsAreRefused)
{
    std::vector<std::string> real = {
        hydrate(), test::latticeGro({"--structure", "ice", "--cells", "4", "3", "3", "--displace", "0.1"})};
    // Equilibrated liquid water as GROMACS ships it (gromacs-data).
    for (const char* liquid : {"spc216.gro", "tip4p.gro", "tip5p.gro"}) {
        const std::string path = std::string("/usr/share/gromacs/top/") + liquid;
        if (std::filesystem::exists(path))
            real.push_back(test::readFile(path));
    }
    for (const std::string& text : real) {
        const Frame f = parseConfiguration(text, "c.gro", "SOL", "OW");
        EXPECT_EQ(checkFrame(f, "c.gro"), std::vector<std::string>{}) << text.substr(0, 60);
    }

    const std::vector<std::string> ls = lines(hydrate());
    const std::size_t n = ls.size() - 3;
    // A molecule given twice.
    std::vector<std::string> twice = ls;
    twice.insert(twice.end() - 1, {ls[2], ls[3], ls[4]});
    twice[1] = std::to_string(n + 3);
    EXPECT_NE(failureOf(joined(twice)).find("water oxygens atom 1 (1SOL OW, line 3) and atom " +
                                            std::to_string(n + 1)),
              std::string::npos)
        << failureOf(joined(twice));
    // Hydrogens written before their oxygen.
    std::vector<std::string> order = ls;
    std::swap(order[2], order[4]);
    EXPECT_NE(failureOf(joined(order)).find("should be one of its hydrogens"), std::string::npos)
        << failureOf(joined(order));
    // Coordinates in angstrom, box in nanometres.
    std::vector<std::string> scaled = ls;
    for (std::size_t k = 2; k + 1 < scaled.size(); ++k) {
        char field[64];
        std::string line = scaled[k].substr(0, 20);
        for (int axis = 0; axis < 3; ++axis) {
            std::snprintf(field, sizeof field, "%8.3f", 10 * std::stod(scaled[k].substr(20 + 8 * axis, 8)));
            line += field;
        }
        scaled[k] = line;
    }
    EXPECT_NE(failureOf(joined(scaled)).find("c.gro: atom 2 (1SOL HW1, line 4) after water oxygen atom 1"),
              std::string::npos)
        << failureOf(joined(scaled));
    // A box far too small for the atoms (here 1e-30 nm).
    std::vector<std::string> tiny = ls;
    tiny.back() = "   1e-30   1e-30   1e-30";
    EXPECT_NE(failureOf(joined(tiny)).find("box and coordinates in different units"), std::string::npos)
        << failureOf(joined(tiny));
}

// Frames from any reader, or built by a caller, go through the same check:
// not a finite number in a position, the cell or the time is refused.
TEST(FrameChecks, NumbersThatAreNotFiniteAreRefusedWhateverMadeTheFrame)
{
    const Frame good = parseConfiguration(hydrate(), "c.gro", "SOL", "OW");
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::vector<std::pair<std::function<void(Frame&)>, std::string>> cases = {
        {[&](Frame& f) { f.box.x = nan; }, "c.gro: the cell holds a number that is not finite"},
        {[&](Frame& f) { f.box.zy = -inf; }, "c.gro: the cell holds a number that is not finite"},
        {[&](Frame& f) { f.hasTime = true, f.time = std::nan(""); }, "c.gro: the time is not a finite number"},
        {[&](Frame& f) { f.positions[7].y = nan; }, "c.gro: the position of atom 8 is not a finite number"},
        {[&](Frame& f) { f.positions[1].z = inf; }, "c.gro: the position of atom 2 is not a finite number"},
    };
    for (const auto& [change, what] : cases) {
        Frame f = good;
        change(f);
        try {
            checkFrame(f, "c.gro");
            ADD_FAILURE() << what;
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.what(), what);
        }
    }
}

} // namespace
} // namespace kavet
