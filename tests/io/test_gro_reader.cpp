// Reading one frame of a .gro configuration into the atom table, and the
// rejection of frames that break the layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>

#include "core/error.h"
#include "io/gro_reader.h"
#include "io/trajectory.h"
#include "support/support.h"

namespace kavet {
namespace {

const std::string box3 = "   3.00000   3.00000   3.00000";

// An atom line: ten residue columns, five atom-name columns, atom number, x y z.
std::string atomLine(const std::string& res, const std::string& atm, const std::string& xyz = "   0.100   0.200   0.300")
{
    return res + atm + "    1" + xyz;
}

std::string frame(const std::vector<std::string>& atoms, const std::string& box = box3)
{
    std::string text = "a test frame\n" + std::to_string(atoms.size()) + "\n";
    for (const std::string& a : atoms)
        text += a + "\n";
    return text + box + "\n";
}

Frame parse(const std::string& text, const std::string& water = "SOL", const std::string& oxygen = "OW")
{
    return parseConfiguration(text, "c.gro", water, oxygen);
}

// The failure message of reading `text`, or "accepted".
std::string rejection(const std::string& text, const std::string& path = "")
{
    try {
        if (path.empty()) {
            parse(text);
        } else {
            test::writeFile(path, text);
            readConfiguration(path, "SOL", "OW");
        }
    } catch (const FormatError& failure) {
        return "\n!!! ERROR !!! " + std::string(failure.what()) + "\n\n";
    }
    return "accepted";
}

// Every field of the table, floats with all their digits; with `names`
// false, the coordinates alone (what a trajectory reader fills).
std::string describe(const Frame& frame, bool names = true)
{
    const Topology& t = frame.topology();
    char buf[160];
    if (names)
        std::snprintf(buf, sizeof buf, "%d atoms, W=%d, box %.9g %.9g %.9g\n", t.atomCount, t.waterCount, frame.box.x,
                      frame.box.y, frame.box.z);
    else
        std::snprintf(buf, sizeof buf, "%zu atoms, box %.9g %.9g %.9g\n", frame.positions.size(), frame.box.x,
                      frame.box.y, frame.box.z);
    std::string d = buf;
    for (std::size_t i = 0; i < frame.positions.size(); ++i) {
        const Vec3& p = frame.positions[i];
        if (names)
            std::snprintf(buf, sizeof buf, "[%s] [%s] %d %.9g %.9g %.9g\n", t.residue.at(i).c_str(),
                          t.atomName.at(i).c_str(), t.isWaterOxygen.at(i), p.x, p.y, p.z);
        else
            std::snprintf(buf, sizeof buf, "%.9g %.9g %.9g\n", p.x, p.y, p.z);
        d += buf;
    }
    return d;
}

TEST(GroAtoms, FieldsAreCutByColumnNamesTrimmedOfBlanksAndLengthsTimesTen)
{
    const Frame t = parse(frame({atomLine("    1SOL  ", "   OW", "   1.234   2.395  -0.612"),
                                     "12345ABCDEHW12345678-100.0001234.567   0.001",
                                     atomLine("\t  1SOL   ", "\tOW  ", "   1.2    +3e-1 4.5     "),
                                     atomLine("          ", "     ")},
                                    "   3.00000   4.50000   0.10000"));
    EXPECT_EQ(t.positions[0].x, 1.234f * 10.0f);
    // 0.001f * 10.0f is 0.0100000007; a product taken in double precision
    // would round to 0.00999999978.
    EXPECT_EQ(t.positions[1].z, 0.001f * 10.0f);
    EXPECT_EQ(describe(t), "4 atoms, W=1, box 30 45 1\n"
                           "[1SOL] [OW] 1 12.3400002 23.9500008 -6.11999989\n"
                           "[12345ABCDE] [HW123] 0 -1000 12345.6699 0.0100000007\n"
                           "[\t  1SOL] [\tOW] 0 12 3 45\n"
                           "[] [] 0 1 2 3\n");
}

// Coordinates as GROMACS writes them (%8.3f, or wider fields with more
// decimals), and their edge cases, read to the same bits as strtof's value
// times ten.
TEST(GroAtoms, FixedDecimalFieldsReadAsStrtofReadsThem)
{
    std::mt19937 random(5);
    for (const int decimals : {3, 5, 7}) {
        const int width = decimals + 5;
        std::vector<std::string> fields;
        for (const double edge : {0.0, -0.0, 1e-7, -1e-7, 999.25, -999.25, 0.001, 0.5}) {
            char text[32];
            std::snprintf(text, sizeof text, "%.*f", decimals, edge);
            fields.push_back(text);
        }
        const int64_t largest = static_cast<int64_t>(std::pow(10.0, decimals + 3)) - 1; // fills the field
        std::uniform_int_distribution<int64_t> whole(-largest, largest);
        for (int k = 0; k < 3000; ++k) {
            char text[32];
            const int64_t m = whole(random) >> (k % 24);
            std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(m) / std::pow(10.0, decimals));
            fields.push_back(text);
        }
        for (std::size_t at = 0; at < fields.size(); at += 3) {
            std::string xyz;
            for (std::size_t c = 0; c < 3; ++c) {
                const std::string& f = fields[std::min(at + c, fields.size() - 1)];
                xyz += std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(f.size()))), ' ') + f;
            }
            const Frame t = parse(frame({atomLine("    1SOL  ", "   OW", xyz)}));
            for (std::size_t c = 0; c < 3; ++c) {
                const std::string& f = fields[std::min(at + c, fields.size() - 1)];
                const float v = (c == 0 ? t.positions[0].x : c == 1 ? t.positions[0].y : t.positions[0].z);
                const float expected = std::strtof(f.c_str(), nullptr) * 10.0f;
                ASSERT_EQ(std::memcmp(&v, &expected, sizeof v), 0) << f << " read as " << v;
            }
        }
    }
}

TEST(GroSelection, ResidueFieldMustContainTheWaterName)
{
    const std::string text = frame({atomLine("    1SOL  ", "   OW"), atomLine(" 1234SOL  ", "   OW"),
                                    atomLine("     SOL  ", "   OW"), atomLine("    7HOH  ", "   OW"),
                                    atomLine("   12HOL  ", "   OW")});
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
        {"SOL", {1, 1, 1, 0, 0}}, {"OL", {1, 1, 1, 0, 1}}, {"", {1, 1, 1, 1, 1}},
        {"12", {0, 1, 0, 0, 1}},  {"sol", {0, 0, 0, 0, 0}}, {"4SOL", {0, 1, 0, 0, 0}},
    };
    for (const auto& [water, selected] : cases) {
        const Frame t = parse(text, water);
        EXPECT_EQ(t.topology().isWaterOxygen, selected) << "water name [" << water << "]";
        EXPECT_EQ(t.topology().waterCount, std::count(selected.begin(), selected.end(), 1))
            << "water name [" << water << "]";
    }
}

TEST(GroSelection, AtomNameMustEqualTheOxygenNameExactly)
{
    const std::string text = frame({atomLine("    1SOL  ", "   OW"), atomLine("    1SOL  ", "  OW1"),
                                    atomLine("    1SOL  ", "   ow"), atomLine("    1SOL  ", "  HW1")});
    EXPECT_EQ(parse(text, "SOL", "OW").topology().isWaterOxygen, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(parse(text, "SOL", "OW1").topology().isWaterOxygen, (std::vector<uint8_t>{0, 1, 0, 0}));
    EXPECT_EQ(parse(text, "SOL", "O").topology().isWaterOxygen, (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(parse(text, "HOH", "OW").topology().waterCount, 0);
}

TEST(GroFrame, VelocitiesLongLinesCrlfAndLooseCountLinesReadLikePlainLines)
{
    const std::vector<std::string> atoms = {atomLine("    1SOL  ", "   OW"), atomLine("    1SOL  ", "  HW1")};
    const std::string plain = describe(parse(frame(atoms)));
    const std::string velocities = "  0.1000 -0.2000  0.3000";
    EXPECT_EQ(describe(parse(frame({atoms[0] + velocities, atoms[1] + velocities + std::string(60, ' ') + "9 x"}))),
              plain);
    EXPECT_EQ(describe(parse("title\r\n2\r\n" + atoms[0] + "\r\n" + atoms[1] + "\r\n" + box3 + "\r\n")), plain);
    EXPECT_EQ(describe(parse("\n \t2 \t\n" + atoms[0] + "\n" + atoms[1] + "\n" + box3)), plain);
    EXPECT_EQ(describe(parse("no atoms\n0\n" + box3 + "\n")), "0 atoms, W=0, box 30 30 30\n");
}

// Fewer than nine numbers: the first three, as GROMACS reads such a line.
TEST(GroFrame, BoxIsTheFirstThreeNumbersOfItsLineAndZeroIsNotPeriodic)
{
    const std::vector<std::string> atoms = {atomLine("    1SOL  ", "   OW")};
    const std::string triclinic = "   3.00000   4.00000   5.00000   0.00000   0.00000   1.00000   0.00000   1.00000";
    EXPECT_EQ(describe(parse(frame(atoms, triclinic))).substr(0, 27), "1 atoms, W=1, box 30 40 50\n");
    EXPECT_EQ(describe(parse(frame(atoms, "0\t2.5  3 trailing words"))).substr(0, 26), "1 atoms, W=1, box 0 25 30\n");
}

// Nine numbers are the cell in GROMACS's order v1(x) v2(y) v3(z) v1(y) v1(z)
// v2(x) v2(z) v3(x) v3(y); all-zero off-diagonals are the rectangular cell.
// A cell outside GROMACS's form is refused on its line: v1 off the x axis or
// v2 off the xy plane, a length that is not positive, a shear beyond half a
// length (past GROMACS's 0.1 % margin), an off-diagonal that is not a number.
TEST(GroBox, NineNumbersAreATriclinicCellInGromacsFormOrAreRefused)
{
    const std::string head = "t\n1\n" + atomLine("    1SOL  ", "   OW") + "\n";
    const Box box = parse(head + "2.4 2.5 2.6 0 0 1.2 0 -1.1 1.25\n").box;
    EXPECT_EQ(std::vector<float>({box.x, box.y, box.z, box.yx, box.zx, box.zy}),
              std::vector<float>({24.0f, 25.0f, 26.0f, 12.0f, -11.0f, 12.5f}));
    EXPECT_EQ(describe(parse(head + box3 + "   0.00000   0.00000   0.00000  -0.00000   0.00000   0.00000\n")),
              describe(parse(head + box3 + "\n")));
    EXPECT_FALSE(parse(head + box3 + "   0.00000   0.00000   0.00000  -0.00000   0.00000   0.00000\n").box.triclinic());
    EXPECT_EQ(rejection(head + "3 3 3 0 0 1.5015 0 -1.5015 1.5015\n"), "accepted");

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"3 3 3 0.1 0 0 0 0 0", "the box component v1(y) is 0.10000: a triclinic box needs v1 along x and v2 in the "
                                "xy plane (v1(y), v1(z) and v2(z) 0)"},
        {"3 3 3 0 0 1 -0.2 0 0", "the box component v2(z) is -0.20000: a triclinic box needs v1 along x and v2 in "
                                 "the xy plane (v1(y), v1(z) and v2(z) 0)"},
        {"3 0 3 0 0 1 0 0 0", "the box length v2(y) is 0.00000: a triclinic box needs three positive lengths"},
        {"3 3 -3 0 0 0 0 0 1", "the box length v3(z) is -3.00000: a triclinic box needs three positive lengths"},
        {"3 3 3 0 0 1.502 0 0 0", "the triclinic box is not reduced: |v2(x)| = 1.50200 is more than half of v1(x) = "
                                  "3.00000"},
        {"3 3 3 0 0 0 0 -1.6 0", "the triclinic box is not reduced: |v3(x)| = 1.60000 is more than half of v1(x) = "
                                 "3.00000"},
        {"3 2 3 0 0 0 0 0 1.1", "the triclinic box is not reduced: |v3(y)| = 1.10000 is more than half of v2(y) = "
                                "2.00000"},
        {"3 3 3 0 0 nan 0 0 0", "the box component v2(x) is not a finite number"},
    };
    for (const auto& [line, what] : cases)
        EXPECT_EQ(rejection(head + line + "\n"), "\n!!! ERROR !!! c.gro line 4: " + what + "\n\n") << line;
}

TEST(GroFrame, OnlyTheFirstFrameIsRead)
{
    const std::string first = frame({atomLine("    1SOL  ", "   OW"), atomLine("    1SOL  ", "  HW1")});
    const std::string alone = describe(parse(first));
    const std::string second = frame({atomLine("    2SOL  ", "   OW", "   9.000   9.000   9.000")}, "9 9 9");
    EXPECT_EQ(describe(parse(first + second)), alone);
    EXPECT_EQ(describe(parse(first + "not\na frame\n-5\n")), alone);
}

TEST(GroFrame, FileReadInBlocksMatchesTheSameTextInMemory)
{
    // A frame of more than a megabyte with CRLF ends; the title lengths move
    // the line ends across any block edge of a power of two.
    const std::string dir = test::freshDirectory("gro-blocks");
    for (std::size_t title : {43u, 44u, 45u}) {
        std::string text = std::string(title, 't') + "\r\n23000\r\n";
        for (int i = 0; i < 23000; ++i)
            text += atomLine("    1SOL  ", i % 3 ? "  HW1" : "   OW",
                             "   " + std::to_string(i % 10) + ".125   0.500   1.000") + "\r\n";
        text += box3 + "\r\n";
        test::writeFile(dir + "/big.gro", text);
        const Frame fromFile = readConfiguration(dir + "/big.gro", "SOL", "OW");
        EXPECT_EQ(fromFile.topology().waterCount, 7667);
        EXPECT_EQ(describe(fromFile), describe(parse(text)));
    }
}

TEST(GroRejection, EachBrokenLayoutGetsItsMessage)
{
    const std::string ow = atomLine("    1SOL  ", "   OW");
    const std::string head = "t\n1\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "line 1: the file is empty (expected a title line)"},
        {"title only\n", "line 2: the file ends before the atom count"},
        {"t\nthree\n", "line 2: no atom count (a whole number) on the count line"},
        {"t\n\n" + ow + "\n" + box3, "line 2: no atom count (a whole number) on the count line"},
        {"t\n-1\n" + box3, "line 2: negative atom count -1"},
        {"t\n1 atom\n" + ow + "\n" + box3, "line 2: the count line holds more than the atom count"},
        {"t\n2147483648\n", "line 2: the atom count is too large"},
        {"t\n99999999999999999999\n", "line 2: the atom count is too large"},
        {"t\n3\n" + ow + "\n" + ow + "\n", "line 5: the file ends after 2 of the 3 atom lines announced on line 2"},
        {"t\n2\n" + ow + "\n" + box3 + "\n", "line 4: the atom line is too short (30 characters; the coordinates need 44)"},
        {head + ow.substr(0, 43) + "\r\n" + box3, "line 3: the atom line is too short (43 characters; the coordinates need 44)"},
        {head + atomLine("    1SOL  ", "   OW", "           2.000   3.000") + "\n" + box3, "line 3: no number in the x column"},
        {head + atomLine("    1SOL  ", "   OW", "   1.000   abc     3.000") + "\n" + box3, "line 3: no number in the y column"},
        {head + atomLine("    1SOL  ", "   OW", "   1.000   2.000        ") + "\n" + box3, "line 3: no number in the z column"},
        {head + atomLine("    1SOL  ", "   OW", "     nan   2.000   3.000") + "\n" + box3, "line 3: the x coordinate is not a finite number"},
        {head + atomLine("    1SOL  ", "   OW", "   1.000    1e39   3.000") + "\n" + box3, "line 3: the y coordinate is not a finite number"},
        {head + atomLine("    1SOL  ", "   OW", "   1.000   2.000    -inf") + "\n" + box3, "line 3: the z coordinate is not a finite number"},
        {head + atomLine("    1SOL  ", "   OW", "    3e38   2.000   3.000") + "\n" + box3, "line 3: the x coordinate is too large"},
        {head + ow + "\n", "line 4: the file ends before the box line"},
        {head + ow + "\n   3.00000   3.00000\n", "line 4: the box line needs three box lengths, found 2"},
        {head + ow + "\nbox\n", "line 4: the box line needs three box lengths, found 0"},
        {head + ow + "\n3 nan 3\n", "line 4: the y box length is not a finite number"},
        {head + ow + "\n-2.4 -2.4 -2.4\n",
         "line 4: the x box length is -2.40000 nm: a box length is positive, or 0 for an axis that is not periodic"},
        {head + ow + "\n2 2 -0.5 0 0 0 0 0 0\n",
         "line 4: the z box length is -0.50000 nm: a box length is positive, or 0 for an axis that is not periodic"},
        {head + ow.substr(0, 30), "line 3: the file ends inside this atom line (30 characters): the file is truncated"},
        {head + ow + "\n   3.00000   3.0", "line 4: the file ends inside the box line: the file is truncated"},
        {head + ow.substr(0, 25) + '\0' + ow.substr(26) + "\n" + box3,
         "line 3: column 26 holds a NUL byte, which has no place in a .gro file"},
        {std::string("t\n1\0x\n", 6) + ow + "\n" + box3, "line 2: column 2 holds a NUL byte, which has no place in a .gro file"},
        {head + ow + "\n" + box3 + '\0' + " 1", "line 4: column 31 holds a NUL byte, which has no place in a .gro file"},
    };
    for (const auto& [text, what] : cases)
        EXPECT_EQ(rejection(text), "\n!!! ERROR !!! c.gro " + what + "\n\n") << "input:\n" << text;
}

TEST(GroFrame, FirstFrameInPiecesReadsAsTheLineByLineReader)
{
    // A frame of a few hundred kilobytes, read in parallel pieces, against
    // the trajectory reader, which takes the same text in runs of lines cut
    // in pieces of their own: the same coordinates, or the same first fault,
    // wherever the faults fall (a frame of 70 000 atoms spans two runs).
    const std::string dir = test::freshDirectory("gro-pieces");
    const std::vector<std::string> faults = {"", "    1SOL     OW    1   1.250   zzzzz   1.000", "short", "\r",
                                             std::string("    1SOL     OW    1   1.250\0  0.500   1.000", 44)};
    std::mt19937 random(5);
    for (int trial = 0; trial < 30; ++trial) {
        const int atoms = trial < 24 ? 6000 : 70000;
        std::vector<std::string> text = {"pieces t= 1.0", std::to_string(atoms)};
        for (int i = 0; i < atoms; ++i)
            text.push_back(atomLine("    1SOL  ", i % 3 ? "  HW1" : "   OW", "   1.250   0.500   1.000"));
        text.push_back(box3);
        for (int k = 0; k < 3; ++k) {
            const std::size_t at = 2 + random() % (atoms + 1);
            text[at] = faults[random() % faults.size()];
        }
        if (trial % 4 == 0)
            text.resize(2 + random() % (atoms + 2)); // cut short
        std::string joined;
        for (const std::string& l : text)
            joined += l + (trial % 2 ? "\r\n" : "\n");
        if (trial % 3 == 0)
            joined.resize(joined.size() - 1 - random() % 20); // a partial last line
        test::writeFile(dir + "/f.gro", joined);
        std::string byLine;
        try {
            GroTrajectory reader(dir + "/f.gro");
            Frame frame;
            reader.next(frame);
            byLine = describe(frame, false);
        } catch (const Failure& failure) {
            byLine = failure.what();
            byLine = byLine.substr(0, byLine.rfind(" (frame 0)"));
        }
        std::string inPieces;
        try {
            inPieces = describe(readConfiguration(dir + "/f.gro", "SOL", "OW"), false);
        } catch (const Failure& failure) {
            inPieces = failure.what();
        }
        EXPECT_EQ(inPieces, byLine) << "trial " << trial;
    }
}

TEST(GroRejection, HugeAtomCountInAShortFileIsRejectedQuickly)
{
    const std::string dir = test::freshDirectory("gro-count");
    std::string text = "t\n2000000000\n";
    for (int i = 0; i < 8; ++i)
        text += atomLine("    1SOL  ", "   OW") + "\n";
    const auto start = std::chrono::steady_clock::now();
    const std::string what = rejection(text, dir + "/c.gro");
    EXPECT_EQ(what, "\n!!! ERROR !!! " + dir + "/c.gro line 11: the file ends after 8 of the 2000000000 atom lines "
                    "announced on line 2\n\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// A file that cannot be opened is a file error, with its errno; a file kavet
// does not read is the caller's error.
TEST(GroRejection, AMissingFileIsAFileErrorAndAnUnknownTrajectoryKindAnInputError)
{
    try {
        readConfiguration("/nonexistent/c.gro", "SOL", "OW");
        ADD_FAILURE() << "accepted";
    } catch (const FileError& e) {
        EXPECT_EQ(e.error(), ENOENT);
        EXPECT_STREQ(e.what(), "open file  /nonexistent/c.gro  failed !");
    }
    EXPECT_THROW(openTrajectory("/nonexistent/t.gro"), FileError);
    EXPECT_THROW(openTrajectory("t.pdb"), InputError);
}

} // namespace
} // namespace kavet
