// Index groups as GROMACS writes them: a water group selects the waters that
// -wat/-oxy select on the example, a guest group the molecules that -guest
// selects, and a missing group or a malformed file is refused by name.
#include <gtest/gtest.h>

#include <numeric>

#include "core/error.h"
#include "io/gro_reader.h"
#include "io/index_groups.h"
#include "support/support.h"

namespace kavet::test {
namespace {

// An index file of `groups` (gmx reads any number of atoms to a line).
std::string ndxText(const std::vector<std::pair<std::string, std::vector<int32_t>>>& groups)
{
    std::string t;
    for (const auto& [name, atoms] : groups) {
        t += "[ " + name + " ]\n";
        for (int32_t a : atoms)
            t += std::to_string(a + 1) + "\n";
    }
    return t;
}

TEST(IndexGroups, SelectWatersAndGuestsAsResidueNamesDo)
{
    const std::string dir = freshDirectory("ndx");
    Frame f = parseConfiguration(
        latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--guests", "0.5", "--displace", "0.1"}), "g.gro",
        "SOL", "OW");
    const Frame example = readConfiguration(sourcePath("examples/si-2x2x2.gro"), "SOL", "OW");
    std::vector<int32_t> water, guests, exampleWater;
    for (int32_t a = 0; a < f.topology().atomCount; ++a)
        (f.topology().residue[a].find("SOL") != std::string::npos ? water : guests).push_back(a);
    for (int32_t a = 0; a < example.topology().atomCount; ++a)
        if (example.topology().residue[a].find("SOL") != std::string::npos)
            exampleWater.push_back(a);
    writeFile(dir + "/index.ndx", ndxText({{"System", {}}, {"SOL", exampleWater}, {"CH4", guests}, {"Water", water}}));
    const std::vector<IndexGroup> groups = readIndexGroups(dir + "/index.ndx");
    ASSERT_EQ(groups.size(), 4u);

    Frame selected = example;
    selected.editTopology().isWaterOxygen.assign(selected.editTopology().isWaterOxygen.size(), 0);
    selected.editTopology().water.clear();
    selectWaterGroup(selected, findIndexGroup(groups, "sol", dir + "/index.ndx"), "OW");
    EXPECT_EQ(selected.editTopology().isWaterOxygen, example.topology().isWaterOxygen);
    EXPECT_EQ(selected.editTopology().waterCount, example.topology().waterCount);
    EXPECT_EQ(waterOxygens(selected), waterOxygens(example));

    const GuestMolecules byGroup = guestGroupMolecules(f, findIndexGroup(groups, "CH4", ""));
    const GuestMolecules byName = selectGuests(f, "CH4");
    EXPECT_EQ(byGroup.firstAtom, byName.firstAtom);
    EXPECT_EQ(byGroup.atomCount, byName.atomCount);
    EXPECT_FALSE(byName.firstAtom.empty());

    try {
        findIndexGroup(groups, "Methane", "index.ndx");
        ADD_FAILURE() << "no error for a missing group";
    } catch (const InputError& e) {
        EXPECT_NE(std::string(e.what()).find("its groups are: System, SOL, CH4, Water"), std::string::npos) << e.what();
    }
    writeFile(dir + "/bad.ndx", "[ SOL ]\n1 2 x3\n");
    EXPECT_THROW(readIndexGroups(dir + "/bad.ndx"), FormatError);
    // A group reaching past the structure's atoms.
    EXPECT_THROW(selectWaterGroup(selected, IndexGroup{"big", {example.topology().atomCount}}, "OW"), InputError);
}

// A trajectory of the waters alone, analysed with the whole structure and
// the group of the saved atoms, gives the series of the whole frames.
TEST(IndexGroups, TrajectoryOfTheSavedGroupOnly)
{
    const std::string dir = freshDirectory("ndxsaved");
    const std::string full = latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--guests", "1",
                                         "--displace", "0.1", "--frames", "2", "--disorder", "0.3"});
    // The guests come after the 368 waters: the saved frames keep the waters.
    std::vector<int32_t> water(368 * 3);
    std::iota(water.begin(), water.end(), 0);
    const std::vector<std::string> lines = linesOf(full);
    std::string saved;
    for (std::size_t k = 0; k + 1 < lines.size(); k += std::stoul(lines[k + 1]) + 3) {
        saved += lines[k] + "\n" + std::to_string(water.size()) + "\n";
        for (std::size_t a = 0; a < water.size(); ++a)
            saved += lines[k + 2 + a] + "\n";
        saved += lines[k + 2 + std::stoul(lines[k + 1])] + "\n";
    }
    writeFile(dir + "/full.gro", full);
    writeFile(dir + "/saved.gro", saved);
    writeFile(dir + "/index.ndx",
              ndxText({{"SOL", water}}));
    ASSERT_EQ(runKavetBinary({"-f", "full.gro", "-t", "full.gro", "-ot", "full.csv"}, dir).status, 0);
    const RunResult r =
        runKavetBinary({"-f", "full.gro", "-n", "index.ndx", "-traj-group", "SOL", "-t", "saved.gro", "-ot", "s.csv"},
                       dir);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(readFile(dir + "/s.csv"), readFile(dir + "/full.csv"));
    EXPECT_EQ(linesOf(readFile(dir + "/s.csv")).size(), 3u);
}

// gmx trjconv -n saves a group's atoms in the group's order, which need not
// ascend: here the guests first, then the waters. The saved frames are
// followed in that order (the guests' series equals the whole frames'), and
// a group that gives an atom twice is refused by name.
TEST(IndexGroups, SavedGroupInItsOwnOrder)
{
    const std::string dir = freshDirectory("ndxorder");
    const std::string full = latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--guests", "1",
                                         "--displace", "0.1", "--frames", "2", "--disorder", "0.3"});
    const std::vector<std::string> lines = linesOf(full);
    const int32_t atoms = std::stoi(lines[1]);
    std::vector<int32_t> order, guests, twice = {0, 1, 2, 0};
    for (int32_t a = 368 * 3; a < atoms; ++a)
        order.push_back(a), guests.push_back(a);
    for (int32_t a = 0; a < 368 * 3; ++a)
        order.push_back(a);
    std::string saved;
    for (std::size_t k = 0; k + 1 < lines.size(); k += static_cast<std::size_t>(atoms) + 3) {
        saved += lines[k] + "\n" + lines[k + 1] + "\n";
        for (int32_t a : order)
            saved += lines[k + 2 + static_cast<std::size_t>(a)] + "\n";
        saved += lines[k + 2 + static_cast<std::size_t>(atoms)] + "\n";
    }
    writeFile(dir + "/full.gro", full);
    writeFile(dir + "/saved.gro", saved);
    writeFile(dir + "/index.ndx", ndxText({{"Saved", order}, {"CH4", guests}, {"Twice", twice}}));
    ASSERT_EQ(runKavetBinary({"-f", "full.gro", "-t", "full.gro", "-guest", "CH4", "-ot", "full.csv"}, dir).status, 0);
    const RunResult r = runKavetBinary({"-f", "full.gro", "-n", "index.ndx", "-traj-group", "Saved", "-t",
                                        "saved.gro", "-guest-group", "CH4", "-ot", "s.csv"},
                                       dir);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(readFile(dir + "/s.csv"), readFile(dir + "/full.csv"));
    const RunResult dup = runKavetBinary(
        {"-f", "full.gro", "-n", "index.ndx", "-traj-group", "Twice", "-t", "saved.gro", "-ot", "d.csv"}, dir);
    EXPECT_EQ(dup.status, 1);
    EXPECT_NE(dup.out.find("index group Twice gives atom 1 twice (at places 1 and 4 of the group)"), std::string::npos)
        << dup.out;
}

} // namespace
} // namespace kavet::test
