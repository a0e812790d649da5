// The same crystal in a rectangular cell and in equivalent triclinic cells:
// a structure-I hydrate built in cells sheared along xy, xz and yz has the
// bonds, rings and census of its rectangular twin, and hexagonal ice in its
// native cell (a = b, gamma = 120 degrees, sheared to GROMACS's limit) has two
// rings per water, as its orthorhombic twin does, with the cell in the CRYST1
// record. Each crystal repeats with its own cell only (protons and
// displacements are its own), so a cell read as rectangular breaks it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "cage/analysis.h"
#include "support/support.h"

namespace kavet::test {
namespace {

// A crystal built in the cell itself, so that it repeats with that cell and
// with no smaller one: the oxygens of `unit` (one rectangular cell of the
// lattice tool) tiled n[0] x n[1] x n[2] times and wrapped along c, b and a
// into the cell with those diagonal lengths and the off-diagonal terms yx,
// zx, zy (whole numbers of unit-cell lengths, so the tiles hold every oxygen
// of the cell once); protons by the ice rules in that cell, each bond
// oriented as an Euler circuit of the four-bonded network walks it (every
// oxygen is entered and left twice); whole molecules displaced at random.
// Returned as .gro text with a nine-number box line.
std::string crystalIn(const Frame& unit, const int n[3], double yx, double zx, double zy)
{
    const double u[3] = {unit.box.x, unit.box.y, unit.box.z};
    const double X = n[0] * u[0], Y = n[1] * u[1], Z = n[2] * u[2];
    struct Point {
        double x, y, z;
    };
    std::vector<Point> o;
    for (int i = 0; i < n[0]; ++i)
        for (int j = 0; j < n[1]; ++j)
            for (int k = 0; k < n[2]; ++k)
                for (int32_t m = 0; m < unit.numAtom; ++m) {
                    if (!unit.isOW[m])
                        continue;
                    Point p{unit.atmXYZ[m].x + i * u[0], unit.atmXYZ[m].y + j * u[1], unit.atmXYZ[m].z + k * u[2]};
                    const double fc = std::floor(p.z / Z);
                    p = {p.x - fc * zx, p.y - fc * zy, p.z - fc * Z};
                    const double fb = std::floor(p.y / Y);
                    p = {p.x - fb * yx, p.y - fb * Y, p.z};
                    p.x -= std::floor(p.x / X) * X;
                    o.push_back(p);
                }
    // Bonds: the images within 3.1 angstrom, searched by brute force.
    struct Bond {
        int i, j;
        Point d;
    };
    std::vector<Bond> bonds;
    std::vector<std::vector<int>> at(o.size());
    for (int i = 0; i < static_cast<int>(o.size()); ++i)
        for (int j = i + 1; j < static_cast<int>(o.size()); ++j)
            for (int p = -1; p <= 1; ++p)
                for (int q = -1; q <= 1; ++q)
                    for (int r = -1; r <= 1; ++r) {
                        const Point d{o[j].x - o[i].x + p * X + q * yx + r * zx, o[j].y - o[i].y + q * Y + r * zy,
                                      o[j].z - o[i].z + r * Z};
                        if (d.x * d.x + d.y * d.y + d.z * d.z < 3.1 * 3.1) {
                            at[i].push_back(static_cast<int>(bonds.size()));
                            at[j].push_back(static_cast<int>(bonds.size()));
                            bonds.push_back({i, j, d});
                        }
                    }
    std::vector<std::vector<Point>> donated(o.size());
    std::vector<char> used(bonds.size(), 0);
    std::vector<std::size_t> next(o.size(), 0);
    for (int start = 0; start < static_cast<int>(o.size()); ++start) {
        std::vector<int> walk{start};
        while (!walk.empty()) {
            const int v = walk.back();
            while (next[v] < at[v].size() && used[at[v][next[v]]])
                ++next[v];
            if (next[v] == at[v].size()) {
                walk.pop_back();
                continue;
            }
            const Bond& b = bonds[at[v][next[v]]];
            used[at[v][next[v]]] = 1;
            donated[v].push_back(v == b.i ? b.d : Point{-b.d.x, -b.d.y, -b.d.z});
            walk.push_back(v == b.i ? b.j : b.i);
        }
    }
    std::mt19937 rng(11);
    std::normal_distribution<double> shift(0.0, 0.1);
    std::string text = "crystal\n" + std::to_string(3 * o.size()) + "\n";
    char line[128];
    for (std::size_t m = 0; m < o.size(); ++m) {
        EXPECT_EQ(donated[m].size(), 2u) << "oxygen " << m;
        const Point p{o[m].x + shift(rng), o[m].y + shift(rng), o[m].z + shift(rng)};
        const int res = static_cast<int>(m + 1) % 100000;
        std::snprintf(line, sizeof line, "%5d%-5s%5s%5d%8.3f%8.3f%8.3f\n", res, "SOL", "OW", 1, p.x / 10, p.y / 10,
                      p.z / 10);
        text += line;
        for (std::size_t h = 0; h < 2 && h < donated[m].size(); ++h) {
            const Point& d = donated[m][h];
            const double s = 0.96 / std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            std::snprintf(line, sizeof line, "%5d%-5s%5s%5d%8.3f%8.3f%8.3f\n", res, "SOL", h ? "HW2" : "HW1", 1,
                          (p.x + s * d.x) / 10, (p.y + s * d.y) / 10, (p.z + s * d.z) / 10);
            text += line;
        }
    }
    std::snprintf(line, sizeof line, "%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f\n", X / 10, Y / 10,
                  Z / 10, 0.0, 0.0, yx / 10, 0.0, zx / 10, zy / 10);
    return text + line;
}

struct Outcome {
    std::size_t bonds = 0, rings = 0;
    std::map<std::string, int32_t> census;
};

Outcome analysed(const std::string& gro)
{
    const Analysis a = analyse(parseConfiguration(gro, "crystal.gro", "SOL", "OW"), Criteria{});
    return {a.net.edgeList.size() / 2, a.rings.ringList.size(), a.classes.cageCensus};
}

TEST(TriclinicCell, ShearedHydrateHasTheBondsRingsAndCensusOfItsRectangularTwin)
{
    const Frame unit = parseConfiguration(
        latticeGro({"--structure", "sI", "--cells", "1", "1", "1", "--seed", "3"}), "sI.gro",
        "SOL", "OW");
    const int n[3] = {3, 3, 3};
    const double a = unit.box.x;
    const Outcome rect = analysed(crystalIn(unit, n, 0, 0, 0));
    EXPECT_EQ(rect.bonds, 2u * 46 * 27);
    EXPECT_EQ(rect.rings, 54u * 27);
    EXPECT_EQ(rect.census, (std::map<std::string, int32_t>{{"5^12", 2 * 27}, {"5^12-6^2", 6 * 27}}));
    const double shears[][3] = {{a, 0, 0}, {0, -a, 0}, {0, 0, a}, {a, a, -a}};
    for (const auto& s : shears) {
        const Outcome tric = analysed(crystalIn(unit, n, s[0], s[1], s[2]));
        EXPECT_EQ(tric.bonds, rect.bonds) << "shear " << s[0] << " " << s[1] << " " << s[2];
        EXPECT_EQ(tric.rings, rect.rings) << "shear " << s[0] << " " << s[1] << " " << s[2];
        EXPECT_EQ(tric.census, rect.census) << "shear " << s[0] << " " << s[1] << " " << s[2];
    }
}

TEST(TriclinicCell, NativeHexagonalIceHasTwoRingsPerWaterAndItsCellInCryst1)
{
    // The orthorhombic cell is a x sqrt(3) a x c; the hexagonal cell of 6 x 6 x 3
    // unit cells is a1 = (6a, 0, 0), a2 = (-3a, 3 sqrt(3) a, 0), a3 = (0, 0, 3c).
    const Frame unit = parseConfiguration(
        latticeGro({"--structure", "ice", "--cells", "1", "1", "1", "--seed", "2"}), "ice.gro",
        "SOL", "OW");
    const int n[3] = {6, 3, 3};
    const std::string dir = freshDirectory("hexagonal");
    std::string cryst1;
    for (const double shear : {0.0, -3.0 * unit.box.x}) {
        writeFile(dir + "/ice.gro", crystalIn(unit, n, shear, 0, 0));
        const RunResult r = runKavetBinary({"-f", "ice.gro", "-or", "r.pdb"}, dir);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("     OW:       432\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("     Ring: 864\n"), std::string::npos) << r.out;
        const std::string rings = readFile(dir + "/r.pdb");
        cryst1 += rings.substr(rings.rfind("CRYST1"), 72);
    }
    EXPECT_EQ(cryst1, "CRYST1   27.120   23.487   22.080  90.00  90.00  90.00  P 1           1\n"
                      "CRYST1   27.120   27.120   22.080  90.00  90.00 120.00  P 1           1\n");
}

} // namespace
} // namespace kavet::test
