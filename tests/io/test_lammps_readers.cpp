// The LAMMPS readers: frames written in every position style, box and order
// read back to the positions they came from; the selection by type; and the
// messages for malformed dumps and data files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>

#include "core/error.h"
#include "io/lammps_data.h"
#include "io/lammps_dump.h"
#include "io/structure.h"

namespace kavet {
namespace {

std::string num(double v)
{
    char t[40];
    std::snprintf(t, sizeof t, "%.9g", v);
    return t;
}

// A dump frame of `r` (positions relative to the cell's corner, inside the
// cell) written as LAMMPS writes it: the bounding box of a tilted cell, the
// low corner at `lo`, atoms in the order `order`, positions in `style`
// (0 x, 1 xu, 2 xs, 3 xsu), unwrapped positions moved by whole cells.
std::string dumpFrame(int64_t step, const std::vector<Vec3>& r, const Box& b, const double lo[3],
                      const std::vector<std::size_t>& order, int style, std::mt19937& rng)
{
    const double xy = b.yx, xz = b.zx, yz = b.zy;
    const bool tilted = b.triclinic();
    std::string t = "ITEM: TIMESTEP\n" + std::to_string(step) + "\nITEM: NUMBER OF ATOMS\n" +
                    std::to_string(r.size()) + "\nITEM: BOX BOUNDS " + (tilted ? "xy xz yz " : "") + "pp pp pp\n";
    const double bound[3][2] = {{lo[0] + std::min({0.0, xy, xz, xy + xz}), lo[0] + b.x + std::max({0.0, xy, xz, xy + xz})},
                                {lo[1] + std::min(0.0, yz), lo[1] + b.y + std::max(0.0, yz)},
                                {lo[2], lo[2] + b.z}};
    const double tilt[3] = {xy, xz, yz};
    for (int k = 0; k < 3; ++k)
        t += num(bound[k][0]) + " " + num(bound[k][1]) + (tilted ? " " + num(tilt[k]) : "") + "\n";
    const char* names[4] = {"x y z", "xu yu zu", "xs ys zs", "xsu ysu zsu"};
    t += std::string("ITEM: ATOMS id type ") + names[style] + "\n";
    std::uniform_int_distribution<int> image(-2, 2);
    for (std::size_t i : order) {
        const double fz = r[i].z / b.z, fy = (r[i].y - fz * yz) / b.y, fx = (r[i].x - fy * xy - fz * xz) / b.x;
        double f[3] = {fx, fy, fz};
        if (style == 1 || style == 3)
            for (double& v : f)
                v += image(rng);
        double p[3] = {f[0] * b.x + f[1] * xy + f[2] * xz + lo[0], f[1] * b.y + f[2] * yz + lo[1], f[2] * b.z + lo[2]};
        const double* v = style >= 2 ? f : p;
        t += std::to_string(i + 10) + " " + std::to_string(i % 3 + 1) + " " + num(v[0]) + " " + num(v[1]) + " " +
             num(v[2]) + "\n";
    }
    return t;
}

TEST(LammpsDump, EveryStyleBoxAndOrderReadsBackThePositions)
{
    std::mt19937 rng(39);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 16; ++trial) {
        const int style = trial % 4;
        Box b{20.0f + 5.0f * static_cast<float>(unit(rng)), 18.0f, 22.0f};
        if (trial >= 8) {
            b.yx = static_cast<float>((unit(rng) - 0.5) * b.x);
            b.zx = static_cast<float>((unit(rng) - 0.5) * b.x);
            b.zy = static_cast<float>((unit(rng) - 0.5) * b.y);
        }
        const double lo[3] = {-3.5, 1.25, 0.0};
        std::vector<Vec3> r(30);
        for (Vec3& p : r) {
            const double f[3] = {unit(rng), unit(rng), unit(rng)};
            p = Vec3{static_cast<float>(f[0] * b.x + f[1] * b.yx + f[2] * b.zx),
                     static_cast<float>(f[1] * b.y + f[2] * b.zy), static_cast<float>(f[2] * b.z)};
        }
        std::vector<std::size_t> order(r.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::shuffle(order.begin(), order.end(), rng);
        const std::string text = dumpFrame(500, r, b, lo, order, style, rng) + dumpFrame(1000, r, b, lo, order, style, rng);
        LammpsDumpTrajectory reader(text, "t.lammpstrj", 2.0);
        Frame f;
        for (int frame = 0; frame < 2; ++frame) {
            ASSERT_TRUE(reader.next(f)) << trial;
            EXPECT_EQ(f.step, 500 * (frame + 1));
            EXPECT_DOUBLE_EQ(f.time, frame == 0 ? 1.0 : 2.0);
            EXPECT_EQ(f.box.x, b.x);
            EXPECT_EQ(f.box.yx, b.yx);
            EXPECT_EQ(f.box.zy, b.zy);
            ASSERT_EQ(f.positions.size(), 30u);
            for (std::size_t i = 0; i < r.size(); ++i) {
                EXPECT_EQ(reader.atoms().id[i], static_cast<int64_t>(i) + 10);
                EXPECT_EQ(reader.atoms().type[i], static_cast<int32_t>(i % 3) + 1);
                const Vec3 d = f.positions[i] - r[i];
                EXPECT_LT(std::sqrt(dot(d, d)), 1e-4f) << "trial " << trial << " atom " << i;
            }
        }
        EXPECT_FALSE(reader.next(f));
    }
}

TEST(LammpsTypes, WatersByMoleculeOrByOrderAndGuestsByMoleculeOrByAtom)
{
    // Water 1 is molecule 1 with its hydrogens apart in id order (wrapped
    // across x), water 2 has no molecule; a two-atom guest molecule and a
    // one-site guest of type 4.
    const std::string data = "title\n\n9 atoms\n4 atom types\n\n0 10 xlo xhi\n0 10 ylo yhi\n0 10 zlo zhi\n\n"
                             "Atoms # full\n\n"
                             "1 1 1 0 0.2 5 5\n2 2 3 0 3 3 3\n3 2 3 0 3.5 3 3\n4 1 2 0 9.5 5 5\n5 1 2 0 0.6 5.9 5\n"
                             "6 0 1 0 5 5 1\n7 0 2 0 5.9 5 1\n8 0 2 0 4.7 5.9 1\n9 0 4 0 7 7 7\n";
    LammpsStructure s = parseLammpsData(data, "w.data");
    ASSERT_EQ(s.frame.positions.size(), 9u);
    EXPECT_NEAR(s.frame.positions[3].x, -0.5f, 1e-5f); // made whole around its oxygen
    TypeSelection types;
    types.oxygenType = 1;
    types.hydrogenType = 2;
    types.guestTypes = {3, 4};
    const Frame f = typedFrame(s, types, "w.data");
    ASSERT_EQ(f.topology().water.size(), 2u);
    EXPECT_EQ(f.topology().water[0].hydrogen, (std::array<int32_t, 2>{3, 4}));
    EXPECT_EQ(f.topology().water[1].hydrogen, (std::array<int32_t, 2>{6, 7}));
    const std::vector<std::string> names = {"1SOL", "1GST", "1GST", "1SOL", "1SOL", "2SOL", "2SOL", "2SOL", "2GST"};
    EXPECT_EQ(f.topology().residue, names);
    EXPECT_EQ(f.topology().atomName[4], "HW2");
    EXPECT_EQ(f.topology().waterCount, 2);

    types.hydrogenType = 4;
    types.guestTypes = {3};
    EXPECT_THROW(typedFrame(s, types, "w.data"), FormatError);
}

// The message of reading `text` as a dump (or a data file), or "accepted".
std::string rejection(const std::string& text, bool data)
{
    try {
        if (data) {
            parseLammpsData(text, "b.data");
        } else {
            parseLammpsDump(text, "b.lammpstrj");
            LammpsDumpTrajectory reader(text, "b.lammpstrj", 1.0);
            Frame f;
            while (reader.next(f)) {
            }
        }
        return "accepted";
    } catch (const Failure& e) {
        return e.what();
    }
}

TEST(LammpsReaders, MalformedFilesAreRefusedWithFileLineAndReason)
{
    const std::string head = "ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n2\nITEM: BOX BOUNDS pp pp pp\n0 10\n0 10\n0 10\n";
    const std::string atoms = "ITEM: ATOMS id type x y z\n1 1 1 1 1\n2 1 4 4 4\n";
    const std::string frame = head + atoms;
    const std::string data = "t\n\n2 atoms\n\n0 10 xlo xhi\n0 10 ylo yhi\n0 10 zlo zhi\n\nAtoms # atomic\n\n";
    const struct {
        std::string text;
        bool data;
        std::string message;
    } cases[] = {
        {frame + frame, false, "accepted"},
        {"", false, "b.lammpstrj line 1: the file holds no frame (a dump frame starts with ITEM: TIMESTEP)"},
        {"hello\n", false, "b.lammpstrj line 1: a frame starts with an ITEM: line, not 'hello'"},
        {head + "ITEM: ATOMS id type x y z\n1 1 1 1 1\n", false,
         "b.lammpstrj line 11: the file ends after 1 of the 2 atom lines announced before line 9"},
        {head + "ITEM: ATOMS id type x y z\n1 1 1 1 1\n1 1 4 4 4\n", false,
         "b.lammpstrj line 11: the atom id 1 is given twice"},
        {head + "ITEM: ATOMS id type x y z\n1 1 1 1\n", false,
         "b.lammpstrj line 10: the atom line has 4 values for the 5 columns of ITEM: ATOMS"},
        {head + "ITEM: ATOMS id type x y z\n1 0 1 1 1\n", false,
         "b.lammpstrj line 10: the atom type 0 is not a type (1 or more)"},
        {head + "ITEM: ATOMS id type x y z\n1 1 1 nan 1\n", false,
         "b.lammpstrj line 10: the position 'nan' is not a finite number"},
        {head + "ITEM: ATOMS id type xs ys zs\n1 1 0.5 1e300 0.5\n", false,
         "b.lammpstrj line 10: the atom's y position 1e+301 A from the box's corner is beyond any frame"},
        {head + "ITEM: ATOMS id x y z\n", false,
         "b.lammpstrj line 9: ITEM: ATOMS needs the columns id and type (dump custom ... id type x y z)"},
        {head + "ITEM: ATOMS id type vx vy vz\n", false,
         "b.lammpstrj line 9: ITEM: ATOMS needs positions: the columns x y z, xu yu zu, xs ys zs or xsu ysu zsu"},
        {"ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n99999999999\n", false,
         "b.lammpstrj line 4: the atom count 99999999999 is out of range (0 to 2147483647)"},
        {"ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n2000000000\nITEM: BOX BOUNDS pp pp pp\n0 10\n0 10\n0 10\n" + atoms,
         false, "b.lammpstrj line 12: the file ends after 2 of the 2000000000 atom lines announced before line 9"},
        {"ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n2\n" + atoms, false,
         "b.lammpstrj line 5: the frame that starts on line 1 has no ITEM: BOX BOUNDS"},
        {"ITEM: UNITS\nlj\n" + frame, false,
         "b.lammpstrj line 2: the dump's units are 'lj': kavet reads lengths in angstrom, as units real and metal write "
         "them"},
        {"ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n2\nITEM: BOX BOUNDS xy xz yz pp pp pp\n0 16 6\n0 10 0\n0 10 0\n" + atoms,
         false,
         "b.lammpstrj line 6: the triclinic box is not reduced: |v2(x)| = 0.60000 is more than half of v1(x) = 1.00000 "
         "(LAMMPS's xy, xz, yz are v2(x), v3(x), v3(y))"},
        {"ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n2\nITEM: BOX BOUNDS pp pp pp\n0 10\n5 5\n0 10\n" + atoms, false,
         "b.lammpstrj line 6: the box's y bounds 5.000000 5.000000 leave no room (hi must be above lo)"},
        {frame + head + "ITEM: ATOMS id type x y z\n1 1 1 1 1\n3 1 4 4 4\n", false,
         "b.lammpstrj frame 1 (step 0): its atom 2 in order of id is id 3 of type 1, but the first frame's is id 2 "
         "of type 1: every frame must hold the same atoms"},
        {data + "1 1 1 1 1\n2 1 4 4 4\n", true, "accepted"},
        {data + "1 1 1 1 1\n", true, "b.data line 12: the file ends after 1 of the 2 atoms of the Atoms section on line 9"},
        {data + "1 1 1 1 1\n\nVelocities\n", true,
         "b.data line 13: the Atoms section on line 9 ends after 1 of the header's 2 atoms"},
        {"t\n\n2 atoms\n\n0 10 xlo xhi\n0 10 ylo yhi\n\nAtoms\n", true,
         "b.data line 8: the header has no zlo zhi line before the first section"},
        {"t\n\n0 10 xlo xhi\n\nAtoms\n", true,
         "b.data line 5: the header has no atom count (a line 'N atoms') before the first section"},
        {"t\n\n2 atoms\n\n0 10 xlo xhi\n0 10 ylo yhi\n0 10 zlo zhi\n\nAtoms # sphere\n", true,
         "b.data line 9: the atom style 'sphere' is not read: kavet reads atomic, charge, molecular, bond, angle and "
         "full"},
        {"t\n\n2 atoms\n\n0 10 xlo xhi\n0 10 ylo yhi\n0 10 zlo zhi\n\nAtoms\n\n1 1 1 1 1 1\n", true,
         "b.data line 11: an atom line of 6 values, and no style named: give it as 'Atoms # full' (or atomic, charge, "
         "molecular)"},
        {data + "1 1 1 1 1 0 0\n", true,
         "b.data line 11: the atom line has 7 values; style atomic has 5 (or 8 with image flags)"},
        {"t\n\n2 atoms\n\n0 10 xlo xhi\n0 10 ylo yhi\n0 10 zlo zhi\n\nMasses\n\n1 1\n", true,
         "b.data line 11: the file has no Atoms section"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rejection(c.text, c.data), c.message) << c.text;
}

} // namespace
} // namespace kavet
