// The frame census on hydrate lattices with guests at the cage centres: a
// filled cell, one guest taken out, a guest outside every cage, a guest of
// several atoms across the periodic boundary, and two clusters of cages
// against a plain search for them.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "census/census.h"
#include "core/error.h"
#include "io/gro_reader.h"
#include "support/support.h"

namespace kavet {
namespace {

Frame latticeFrame(const std::vector<std::string>& args)
{
    return parseConfiguration(test::latticeGro(args), "lattice.gro", "SOL", "OW");
}

FrameCensus censusWithGuests(const Frame& frame, const std::string& name = "CH4")
{
    Criteria criteria;
    criteria.sealed = true;
    const Analysis a = analyse(frame, criteria);
    const GuestMolecules guests = selectGuests(frame, name);
    CensusOptions options;
    options.guests = &guests;
    options.cageRecords = true;
    return censusOf(frame, a, options);
}

void eraseAtom(Frame& frame, std::size_t i)
{
    Topology& t = frame.editTopology();
    frame.positions.erase(frame.positions.begin() + static_cast<std::ptrdiff_t>(i));
    t.residue.erase(t.residue.begin() + static_cast<std::ptrdiff_t>(i));
    t.atomName.erase(t.atomName.begin() + static_cast<std::ptrdiff_t>(i));
    t.isWaterOxygen.erase(t.isWaterOxygen.begin() + static_cast<std::ptrdiff_t>(i));
    --t.atomCount;
    indexWaters(t);
}

TEST(Guests, AFilledCellThenOneGuestOutAndOneOfThreeAtomsAcrossTheBoundary)
{
    Frame frame = latticeFrame(
        {"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1", "--seed", "2", "--guests", "1"});
    FrameCensus f = censusWithGuests(frame);
    EXPECT_EQ(f.guests, 64);
    EXPECT_EQ(f.guestsCaged, 64);
    EXPECT_EQ(f.occupied, (std::map<std::string, int64_t>{{"5^12", 16}, {"5^12-6^2", 48}}));
    EXPECT_EQ(f.multiplyOccupied, 0);
    for (const CageRecord& c : f.cages)
        EXPECT_EQ(c.guests.size(), 1u) << "cage " << c.id;

    // Without the guest of the first 5^12 cage, that cage alone is empty.
    int32_t removed = -1;
    for (const CageRecord& c : f.cages)
        if (c.type == "5^12" && removed < 0)
            removed = c.guests[0];
    ASSERT_GT(removed, 0);
    Frame fewer = frame;
    eraseAtom(fewer, static_cast<std::size_t>(removed - 1));
    f = censusWithGuests(fewer);
    EXPECT_EQ(f.guests, 63);
    EXPECT_EQ(f.guestsCaged, 63);
    EXPECT_EQ(f.occupied, (std::map<std::string, int64_t>{{"5^12", 15}, {"5^12-6^2", 48}}));

    // The guest at the cage centre nearest the box corner becomes a linear
    // molecule of three atoms along x whose ends wrap to the far side of the
    // box: its centre, taken around its first atom, stays in that cage. A
    // second guest in the same cage makes it multiply occupied.
    std::size_t corner = 0;
    float best = 1e9f;
    Topology& t = frame.editTopology();
    for (std::size_t i = 0; i < t.residue.size(); ++i) {
        if (t.atomName[i] != "C")
            continue;
        const Vec3 d = minimumImage(frame.positions[i], Vec3{}, frame.box);
        if (dot(d, d) < best) {
            best = dot(d, d);
            corner = i;
        }
    }
    const Vec3 c = frame.positions[corner];
    auto wrap = [&](float x) { return x < 0.0f ? x + frame.box.x : (x >= frame.box.x ? x - frame.box.x : x); };
    const std::string res = t.residue[corner];
    const std::ptrdiff_t after = static_cast<std::ptrdiff_t>(corner) + 1;
    for (float dx : {1.16f, -1.16f}) {
        frame.positions.insert(frame.positions.begin() + after, Vec3{wrap(c.x + dx), c.y, c.z});
        t.residue.insert(t.residue.begin() + after, res);
        t.atomName.insert(t.atomName.begin() + after, "O");
        t.isWaterOxygen.insert(t.isWaterOxygen.begin() + after, 0);
        ++t.atomCount;
    }
    frame.positions.push_back(c + Vec3{0.5f, 0.5f, 0.5f});
    t.residue.push_back("999CH4");
    t.atomName.push_back("C");
    t.isWaterOxygen.push_back(0);
    ++t.atomCount;
    indexWaters(t);
    f = censusWithGuests(frame);
    EXPECT_EQ(f.guests, 65);
    EXPECT_EQ(f.guestsCaged, 65);
    EXPECT_EQ(f.occupiedCages, 64);
    EXPECT_EQ(f.multiplyOccupied, 1);
    for (const CageRecord& cage : f.cages) {
        if (cage.guests.size() > 1) {
            EXPECT_EQ(cage.guests, (std::vector<int32_t>{static_cast<int32_t>(corner) + 1, frame.topology().atomCount}));
        }
    }

    // Names select exactly; an empty name is refused.
    EXPECT_TRUE(selectGuests(frame, "CH").firstAtom.empty());
    EXPECT_THROW(selectGuests(frame, ""), Failure);
    EXPECT_THROW(guestPositions(fewer, selectGuests(frame, "CH4")), Failure); // the last guest is beyond its atoms
    EXPECT_EQ(residueNames(frame), (std::vector<std::string>{"SOL", "CH4"}));
}

// The clusters of closed cages by a plain search: two cages are joined when
// they share a ring.
std::multiset<int> plainClusterSizes(const std::vector<CageRecord>& cages)
{
    std::vector<int> seen(cages.size(), 0);
    std::multiset<int> sizes;
    for (std::size_t s = 0; s < cages.size(); ++s) {
        if (!cages[s].closed || seen[s])
            continue;
        std::vector<std::size_t> stack{s};
        seen[s] = 1;
        int size = 0;
        while (!stack.empty()) {
            const std::size_t c = stack.back();
            stack.pop_back();
            ++size;
            const std::set<int32_t> rings(cages[c].rings.begin(), cages[c].rings.end());
            for (std::size_t d = 0; d < cages.size(); ++d)
                if (cages[d].closed && !seen[d])
                    for (int32_t r : cages[d].rings)
                        if (rings.count(r)) {
                            seen[d] = 1;
                            stack.push_back(d);
                            break;
                        }
        }
        sizes.insert(size);
    }
    return sizes;
}

TEST(Clusters, TwoSlabsOfHydrateAndTheGuestsBetweenThem)
{
    // 2 x 2 x 4 cells with the waters of two 3 angstrom slabs across z taken
    // out: two slabs of intact cages remain, and the guests of the broken
    // cages are outside every cage.
    Frame frame = latticeFrame(
        {"--structure", "sI", "--cells", "2", "2", "4", "--displace", "0.1", "--seed", "4", "--guests", "1"});
    for (std::size_t i = frame.topology().residue.size(); i-- > 0;) {
        const std::string& name = frame.topology().atomName[i];
        const std::size_t first = i - (name == "HW2" ? 2 : name == "HW1" ? 1 : 0);
        const float z = frame.positions[first].z;
        if (name != "C" && ((z >= 0.0f && z < 3.0f) || (z >= 24.0f && z < 27.0f)))
            eraseAtom(frame, i);
    }
    selectWaters(frame.editTopology(), "SOL", "OW");
    const FrameCensus f = censusWithGuests(frame);

    const std::multiset<int> sizes = plainClusterSizes(f.cages);
    EXPECT_EQ(sizes.size(), 2u);
    EXPECT_EQ(f.clusters, static_cast<int64_t>(sizes.size()));
    EXPECT_EQ(f.largestCluster, *sizes.rbegin());
    std::map<int32_t, int> perCluster;
    for (const CageRecord& c : f.cages) {
        EXPECT_EQ(c.cluster > 0, c.closed);
        if (c.closed)
            ++perCluster[c.cluster];
    }
    EXPECT_EQ(perCluster.size(), 2u);
    EXPECT_EQ(perCluster.begin()->first, 1);

    // Every intact cage keeps its guest; the others are free.
    EXPECT_EQ(f.guests, 128);
    EXPECT_EQ(f.guestsCaged, f.closed);
    EXPECT_EQ(f.occupiedCages, f.closed);
    EXPECT_GT(f.guests - f.guestsCaged, 0);
    EXPECT_EQ(f.multiplyOccupied, 0);
}

} // namespace
} // namespace kavet
