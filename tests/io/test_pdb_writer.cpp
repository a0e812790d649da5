// The ring file, the cage data file and the cage file: record layouts, what
// each model holds, appending runs, and the census of a whole hydrate lattice.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "io/pdb_writer.h"
#include "support/ring_stage.h"
#include "support/support.h"

namespace kavet::test {
namespace {

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string format(const char* fmt, auto... values)
{
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, values...);
    return buf;
}

std::string hetatm(int serial, const char* name, const char* res, Vec3 p, int occ, int temp, const char* element)
{
    return format("HETATM%5d %4s %3s A%4d    %8.3f%8.3f%8.3f%6d%6d      SEG %2s\n", serial, name, res, serial, p.x,
                  p.y, p.z, occ, temp, element);
}

std::string cryst1(const Box& b)
{
    return format("%6s%9.3f%9.3f%9.3f%7.2f%7.2f%7.2f %s\n", "CRYST1", b.x, b.y, b.z, 90.0, 90.0, 90.0,
                  " P 1           1");
}

TEST(CageFileElements, cycleFromLithiumAndRestartAfter108Cages)
{
    EXPECT_STREQ(cageElement(0), "Li");
    EXPECT_STREQ(cageElement(1), "Be");
    EXPECT_STREQ(cageElement(5), " O");
    EXPECT_STREQ(cageElement(107), "Ds");
    EXPECT_STREQ(cageElement(108), "Li");
}

const std::vector<std::string> hydrate{"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1", "--seed", "1"};

struct LatticeCages {
    RingStage s;
    CageSearch cages;
    CageClasses classes;
};

LatticeCages latticeCages()
{
    LatticeCages l{ringStage(latticeGro(hydrate)), {}, {}};
    l.cages = assembledCages(l.s);
    deduplicateCages(l.cages);
    classifyCages(l.cages, l.s.rings, l.s.geo.numNode, l.s.net, 4, 7, l.classes);
    return l;
}

TEST(CageFile, pentagonalDodecahedronModelAndMirroredNormalTip)
{
    const LatticeCages l = latticeCages();
    // The 5^12 cage that straddles the periodic boundary the most.
    std::size_t i = l.classes.cageType.size();
    float widest = 0.0f;
    for (std::size_t k = 0; k < l.classes.cageType.size(); ++k)
        for (int32_t r : l.cages.cageList[k])
            for (int32_t a : l.s.rings.ringList[r]) {
                const float apart = norm(l.s.atoms.positions[a] - l.s.geo.centRing[l.cages.cageList[k][0]]);
                if (l.classes.cageType[k] == "5^12" && apart > widest) {
                    widest = apart;
                    i = k;
                }
            }
    ASSERT_GT(widest, 12.0f);
    EXPECT_EQ(l.classes.cageVEF[i], (std::array<float, 4>{20, 30, 12, 2}));
    const int32_t r0 = l.cages.cageList[i][0];
    const Vec3 c0 = l.s.geo.centRing[r0], tip = l.s.geo.normRing[r0];
    const std::string dir = freshDirectory("cage-model");
    for (int32_t sign : {1, -1}) {
        // The cage alone, as cage number 5, built from either side of its seed.
        CageSearch one;
        CageClasses cls;
        for (std::size_t k = 0; k < 6; ++k) {
            one.cageList.append(l.cages.cageList[i]);
            one.cageNorm.push_back(sign);
            cls.cageVEF.push_back({20, 30, 12, k == 5 ? 2.0f : 1.0f});
            cls.cageType.push_back("5^12");
        }
        const std::string path = dir + "/cage" + std::to_string(sign) + ".pdb";
        writeCageFile(path, "  5^12:6", l.s.atoms, l.s.rings, l.s.geo, l.s.net, one, cls);
        const std::string text = readFile(path);
        const auto lines = linesOf(text);
        ASSERT_EQ(lines.size(), 3u + 33u + 31u + 1u);
        EXPECT_EQ(lines[0], "REMARK   5^12:6");
        EXPECT_EQ(lines[1] + "\n", cryst1(l.s.atoms.box));
        EXPECT_EQ(lines[2], "MODEL        6     V= 20 E= 30 F= 12   V-E+F= 2    cage: 5^12");
        for (int serial = 1; serial <= 33; ++serial)
            EXPECT_EQ(std::stoi(lines[2 + serial].substr(6, 5)), serial);
        EXPECT_EQ(count(text, "SEG He\n"), 5u);
        EXPECT_EQ(count(text, "SEG  O\n"), 15u);
        EXPECT_EQ(count(text, "SEG  X\n"), 12u);
        EXPECT_EQ(lines[36], "CONECT    1    2");
        EXPECT_EQ(count(text, "\nCONECT"), 31u);
        EXPECT_EQ(lines.back(), "ENDMDL");
        // The tip points to the side the cage was built from; every atom is
        // drawn next to the seed centre.
        const Vec3 p = sign > 0 ? tip : c0 * 2.0f - tip;
        EXPECT_EQ(lines[3] + "\n", hetatm(1, "H", "NRM", p, r0 + 1, -1, " H"));
        for (int serial = 2; serial <= 33; ++serial) {
            const Vec3 q{std::stof(lines[2 + serial].substr(30, 8)), std::stof(lines[2 + serial].substr(38, 8)),
                         std::stof(lines[2 + serial].substr(46, 8))};
            EXPECT_LT(norm(q - c0), 9.0f) << lines[2 + serial];
        }
    }
}

TEST(RingAndCageFiles, lonelyRingRunAppendsOneBlockPerRunToEveryFile)
{
    const std::string dir = freshDirectory("lonely-ring");
    const Box box{30.0f, 30.0f, 30.0f};
    const std::string gro = groFromWaters(hexagonOfWaters(), box);
    writeFile(dir + "/hex.gro", gro);
    const RingStage s = ringStage(gro);
    ASSERT_EQ(s.numRing, 1);
    std::string model = cryst1(s.atoms.box) + "MODEL        1\n";
    const auto& ring = s.rings.ringList[0];
    for (std::size_t k = 0; k < ring.size(); ++k)
        model += hetatm(static_cast<int>(k) + 1, "O", "OW", s.atoms.positions[ring[k]], 1, ring[k] + 1, " O");
    model += hetatm(7, "X", "CNT", s.geo.centRing[0], 1, -1, " X");
    model += hetatm(8, "H", "NRM", s.geo.normRing[0], 1, -1, " H");
    for (int k = 1; k <= 6; ++k)
        model += format("%6s%5d%5d\n", "CONECT", k, k % 6 + 1);
    model += "ENDMDL\n";
    const std::string cageBlock = "REMARK   6^1:1\n" + cryst1(s.atoms.box);
    for (int run = 1; run <= 2; ++run) {
        const RunResult r = runKavetBinary({"-f", "hex.gro", "-or", "r.pdb", "-oc", "c.pdb", "-od", "c.dat"}, dir);
        ASSERT_EQ(r.status, 0) << r.out;
    }
    EXPECT_EQ(readFile(dir + "/r.pdb"), model + model);
    EXPECT_EQ(readFile(dir + "/c.dat"), "  6^1:1\n  6^1:1\n");
    EXPECT_EQ(readFile(dir + "/c.pdb"), cageBlock + cageBlock); // a one-face entry is no model
}

TEST(RingAndCageFiles, fileInAMissingFolderEndsTheRunNamingIt)
{
    const std::string dir = freshDirectory("missing-folder");
    writeFile(dir + "/hex.gro", groFromWaters(hexagonOfWaters(), Box{30.0f, 30.0f, 30.0f}));
    for (const char* option : {"-or", "-od", "-oc"}) {
        const RunResult r = runKavetBinary({"-f", "hex.gro", option, "absent/out.file"}, dir);
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_NE(r.out.find("absent/out.file"), std::string::npos) << option << "\n" << r.out;
        EXPECT_FALSE(fileExists(dir + "/absent"));
    }
}

TEST(RingAndCageFiles, hydrateLatticeCensusInAnyMoleculeOrder)
{
    const std::string dir = freshDirectory("hydrate-census");
    std::vector<std::string> shuffled = hydrate;
    shuffled.push_back("--shuffle");
    writeFile(dir + "/si.gro", latticeGro(hydrate));
    writeFile(dir + "/shuffled.gro", latticeGro(shuffled));
    for (const std::string c : {"si", "shuffled"}) {
        const RunResult r =
            runKavetBinary({"-f", c + ".gro", "-or", c + "~r.pdb", "-oc", c + "~c.pdb", "-od", c + "~c.dat"}, dir);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(readFile(dir + "/" + c + "~c.dat"), "  5^12:16  5^12-6^2:48\n");
        const std::string cages = readFile(dir + "/" + c + "~c.pdb");
        EXPECT_EQ(cages.rfind("REMARK   5^12:16  5^12-6^2:48\n", 0), 0u);
        EXPECT_EQ(count(cages, "\nMODEL"), 64u);
        EXPECT_EQ(count(cages, "   V-E+F= 2    cage: 5^12"), 64u);
        EXPECT_EQ(count(cages, "\nENDMDL"), 64u);
    }
}

} // namespace
} // namespace kavet::test

namespace kavet {
namespace {

// The HETATM record is formatted without printf; it must agree with printf's
// "%8.3f" to the byte, rounding ties to even, signs of zero and wide values
// included. Whole numbers too wide for their field keep their last digits,
// so every field stays in its columns.
TEST(HetatmRecord, MatchesPrintfForEveryKindOfCoordinate)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> uniform(-1200.0f, 1200.0f);
    std::vector<float> values{0.0f, -0.0f, 0.0625f, -0.0625f, 0.0005f, -0.0004f, 1.0005f, 2.5e-4f, 999.9995f,
                              -999.9995f, 12345.678f, -99999.99f, 1e9f, -3e12f, 1e30f, 3.4e38f};
    for (int k = 0; k < 20000; ++k) {
        const float v = uniform(random);
        values.push_back(v);
        values.push_back(std::nextafter(v, 0.0f));
        values.push_back(static_cast<float>(std::round(v * 2000.0f) / 2000.0f));
    }
    for (std::size_t k = 0; k + 2 < values.size(); ++k) {
        const Vec3 p{values[k], values[k + 1], values[k + 2]};
        const long long occupancy = static_cast<long long>(k % 3 == 0 ? -1 : k * 37);
        char expected[512];
        std::snprintf(expected, sizeof expected,
                      "HETATM%5d %4s %3s A%4d    %8.3f%8.3f%8.3f%6lld%6lld      SEG %2s\n",
                      static_cast<int>(k % 200000 % 100000), "O", "OW", static_cast<int>(k % 12000 % 10000), p.x, p.y,
                      p.z, occupancy < 0 ? occupancy : occupancy % 1000000, static_cast<long long>(k % 1000000),
                      "He");
        ASSERT_EQ((HetatmRecord{static_cast<int>(k % 200000), "O", "OW", static_cast<int>(k % 12000), p, occupancy,
                                static_cast<long long>(k), "He"}
                       .text()),
                  expected);
        if (std::fabs(p.x) < 999 && std::fabs(p.y) < 999 && std::fabs(p.z) < 999) {
            ASSERT_EQ(std::string(expected).size(), 79u) << expected;
        }
    }
}

} // namespace
} // namespace kavet
