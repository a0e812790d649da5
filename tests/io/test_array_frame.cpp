// Frames from arrays: atoms given in any order land in the frame as the
// caller's atoms (positions, waters and guests followed back through the
// caller's indices), and arrays that do not fit are refused naming the array.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "core/error.h"
#include "io/array_frame.h"

namespace kavet {
namespace {

// Six waters 2.8 A apart along x, hydrogens 0.96 A along y and z, and two
// guests of two atoms beside them: O H H ... then guest atoms.
struct Atoms {
    std::vector<float> xyz;
    std::vector<int64_t> oxygens, hydrogens, guests;
    std::vector<double> box = {20, 20, 20};
};

Atoms line()
{
    Atoms a;
    for (int w = 0; w < 6; ++w) {
        const float x = 2.8f * static_cast<float>(w);
        a.xyz.insert(a.xyz.end(), {x, 0, 0, x, 0.96f, 0, x, 0, 0.96f});
    }
    a.xyz.insert(a.xyz.end(), {1.4f, 5, 5, 2.4f, 5, 5, 8.4f, 5, 5, 9.4f, 5, 5});
    for (int64_t w = 0; w < 6; ++w)
        a.oxygens.push_back(3 * w), a.hydrogens.insert(a.hydrogens.end(), {3 * w + 1, 3 * w + 2});
    a.guests = {18, 19, 20, 21};
    return a;
}

ArrayFrame build(const Atoms& a, bool hydrogens = true)
{
    ArrayFrameInput in;
    in.positions = {a.xyz.data(), {static_cast<int64_t>(a.xyz.size() / 3), 3}};
    in.box = {a.box.data(), {static_cast<int64_t>(a.box.size())}};
    in.oxygens = {a.oxygens.data(), {static_cast<int64_t>(a.oxygens.size())}};
    if (hydrogens)
        in.hydrogens = ArrayView<int64_t>{a.hydrogens.data(), {static_cast<int64_t>(a.oxygens.size()), 2}};
    in.guests = ArrayView<int64_t>{a.guests.data(), {static_cast<int64_t>(a.guests.size() / 2), 2}};
    return arrayFrame(in);
}

TEST(ArrayFrame, AtomsInAnyOrderAreTheCallersAtoms)
{
    const Atoms plain = line();
    const ArrayFrame kept = build(plain, false);
    EXPECT_TRUE(kept.userIndex.empty()); // the order serves as it is
    std::mt19937 random(3);
    for (int trial = 0; trial < 20; ++trial) {
        // Atom i of the line becomes atom where[i]; waters and guests listed in a shuffled order.
        const std::size_t n = plain.xyz.size() / 3;
        std::vector<int64_t> where(n);
        std::iota(where.begin(), where.end(), 0);
        std::shuffle(where.begin(), where.end(), random);
        std::vector<int> waters = {0, 1, 2, 3, 4, 5}, guests = {0, 1};
        std::shuffle(waters.begin(), waters.end(), random);
        std::shuffle(guests.begin(), guests.end(), random);
        Atoms a;
        a.xyz.resize(plain.xyz.size());
        for (std::size_t i = 0; i < n; ++i)
            std::copy_n(&plain.xyz[3 * i], 3, &a.xyz[3 * static_cast<std::size_t>(where[i])]);
        for (int w : waters)
            a.oxygens.push_back(where[3 * w]), a.hydrogens.insert(a.hydrogens.end(), {where[3 * w + 1], where[3 * w + 2]});
        for (int g : guests)
            a.guests.insert(a.guests.end(), {where[18 + 2 * g], where[19 + 2 * g]});
        const ArrayFrame f = build(a);

        ASSERT_EQ(f.frame.topology().waterCount, 6);
        for (int32_t k = 0; k < f.frame.topology().atomCount; ++k) {
            const float* p = &a.xyz[3 * static_cast<std::size_t>(f.user(k))];
            EXPECT_TRUE(f.frame.positions[k].x == p[0] && f.frame.positions[k].y == p[1] && f.frame.positions[k].z == p[2]);
        }
        for (std::size_t w = 0; w < 6; ++w) {
            const Water& water = f.frame.topology().water[w];
            EXPECT_EQ(f.user(water.oxygen), a.oxygens[w]);
            EXPECT_EQ(f.user(water.hydrogen[0]), a.hydrogens[2 * w]);
            EXPECT_EQ(f.user(water.hydrogen[1]), a.hydrogens[2 * w + 1]);
        }
        ASSERT_EQ(f.guests.firstAtom.size(), 2u);
        for (std::size_t g = 0; g < 2; ++g) {
            EXPECT_EQ(f.guests.atomCount[g], 2);
            EXPECT_EQ(f.user(f.guests.firstAtom[g]), a.guests[2 * g]);
            EXPECT_EQ(f.user(f.guests.firstAtom[g] + 1), a.guests[2 * g + 1]);
        }
    }
}

TEST(ArrayFrame, ArraysThatDoNotFitAreRefusedNamingTheArray)
{
    const Atoms good = line();
    struct Case {
        const char* name;
        void (*change)(Atoms&);
        const char* fragment;
    };
    const Case cases[] = {
        {"guest an oxygen", [](Atoms& a) { a.guests[3] = 3; }, "guests: atom 3 is a water oxygen"},
        {"guest a hydrogen", [](Atoms& a) { a.guests[0] = 4; }, "guests: atom 4 is a water hydrogen"},
        {"guest atom twice", [](Atoms& a) { a.guests[2] = 19; }, "guests: atom 19 is given twice"},
        {"guest outside", [](Atoms& a) { a.guests[1] = 22; }, "guests: atom index 22 is outside 0..21"},
        {"hydrogen an oxygen", [](Atoms& a) { a.hydrogens[0] = 3; }, "hydrogens: atom 3 is a water oxygen"},
        {"oxygen twice", [](Atoms& a) { a.oxygens[1] = 0; }, "oxygens: atom 0 is given twice"},
        {"box of four", [](Atoms& a) { a.box.push_back(1); }, "box: give three lengths"},
        {"negative box", [](Atoms& a) { a.box[1] = -20; }, "must not be negative"},
        {"huge box", [](Atoms& a) { a.box[2] = 1e300; }, "not finite"},
        {"flat cell", [](Atoms& a) { a.box = {20, 20, 20, 90, 90, 180}; }, "give no cell"},
    };
    for (const Case& c : cases) {
        Atoms a = good;
        c.change(a);
        try {
            build(a);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const Failure& e) {
            EXPECT_NE(std::string(e.what()).find(c.fragment), std::string::npos) << c.name << ": " << e.what();
        }
    }
}

} // namespace
} // namespace kavet
