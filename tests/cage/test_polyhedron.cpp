// Closed polyhedra against open sheets of the same rings, and the shape of
// every cage of melting and interface frames against the polyhedron rules
// read literally.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "cage/analysis.h"
#include "cage/polyhedron.h"
#include "io/gro_reader.h"
#include "io/trajectory.h"
#include "support/support.h"

namespace kavet {
namespace {

TEST(Polyhedron, LatticeCagesAreClosedAndLoseClosureWithAnyFace)
{
    const Frame frame = parseConfiguration(
        test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1", "--seed", "1"}),
        "si.gro", "SOL", "OW");
    const Analysis a = analyse(frame, Criteria{});
    ASSERT_EQ(a.cages.cageList.size(), 64u);
    for (const auto& cage : a.cages.cageList) {
        const Polyhedron p = polyhedronOf(cage, a.rings);
        EXPECT_EQ(p.shape, CageShape::Closed);
        // A regular dodecahedron of 2.76 angstrom edges holds 161 cubic angstrom.
        EXPECT_EQ(p.vertices - p.edges + p.faces, 2);
        EXPECT_NEAR(enclosedVolume(cage, a.rings, a.geo, frame), p.faces == 12 ? 166.0 : 230.0, 15.0);
        EXPECT_EQ(p.vertices, p.faces == 12 ? 20 : 24);
        // Without one face the cage is an open sheet (a bowl): the edges of
        // the missing face belong to one face only.
        std::vector<int32_t> bowl(cage.begin() + 1, cage.end());
        EXPECT_EQ(polyhedronOf(bowl, a.rings).shape, CageShape::Open);
    }
}

// The shape by the rules as written, with maps and searches: edges in two
// faces; at each vertex, its faces joined through the edges they share there
// form one connected set of three or more (each face has two edges at the
// vertex, so connected means one cycle); all faces joined through edges; and
// V - E + F = 2. Second: the surface test without the vertex rule.
std::pair<CageShape, bool> shapeByTheRules(const std::vector<std::vector<int32_t>>& faces)
{
    std::map<std::pair<int32_t, int32_t>, std::vector<int>> facesOf; // edge -> faces
    std::map<int32_t, std::set<int>> at;                            // vertex -> faces
    for (std::size_t f = 0; f < faces.size(); ++f)
        for (std::size_t k = 0; k < faces[f].size(); ++k) {
            const int32_t a = faces[f][k], b = faces[f][(k + 1) % faces[f].size()];
            facesOf[{std::min(a, b), std::max(a, b)}].push_back(static_cast<int>(f));
            at[a].insert(static_cast<int>(f));
        }
    for (const auto& [edge, fs] : facesOf)
        if (fs.size() != 2)
            return {CageShape::Open, false};
    // The faces reached from `start` through edges at vertex v (any edge for v < 0).
    auto reach = [&](int start, int32_t v) {
        std::set<int> seen{start};
        for (std::size_t before = 0; before != seen.size();) {
            before = seen.size();
            for (const auto& [e, fs] : facesOf)
                if ((v < 0 || e.first == v || e.second == v) && (seen.count(fs[0]) || seen.count(fs[1])))
                    seen.insert(fs.begin(), fs.end());
        }
        return seen;
    };
    bool cycles = true;
    for (const auto& [v, fs] : at)
        cycles = cycles && fs.size() >= 3 && reach(*fs.begin(), v) == fs;
    const bool euler = std::ssize(at) - std::ssize(facesOf) + std::ssize(faces) == 2;
    if (!cycles)
        return {CageShape::Defective, euler};
    return {euler && reach(0, -1).size() == faces.size() ? CageShape::Closed : CageShape::Open, euler};
}

// A hydrate-liquid interface: a 3 x 3 x 2 cell slab of structure-I hydrate
// under a slab as thick of liquid water cut from spc216.gro tiled 2 x 2 x 2,
// less the liquid waters within 2.5 angstrom of one already placed.
Frame interfaceFrame(const Frame& liquid)
{
    const Frame s = parseConfiguration(
        test::latticeGro({"--structure", "sI", "--cells", "3", "3", "2", "--displace", "0.1", "--seed", "3"}),
        "si.gro", "SOL", "OW");
    const Box box{s.box.x, s.box.y, 2 * s.box.z};
    std::vector<test::Water> w;
    for (int t = -1; t < 8; ++t) { // the crystal, then the liquid's tiles
        const Frame& f = t < 0 ? s : liquid;
        const Vec3 tile = t < 0 ? Vec3{} : Vec3{(t & 1) * f.box.x, (t >> 1 & 1) * f.box.y, (t >> 2) * f.box.z};
        for (int32_t i = 0; i < f.atomCount; ++i) {
            const Vec3 o = f.positions[i] + tile, p = t < 0 ? o : o + Vec3{0.0f, 0.0f, s.box.z};
            bool skip = !f.isWaterOxygen[i] || (t >= 0 && (o.x >= s.box.x || o.y >= s.box.y || o.z >= s.box.z));
            for (std::size_t k = 0; t >= 0 && k < w.size() && !skip; ++k)
                skip = dot(minimumImage(p, w[k].o, box), minimumImage(p, w[k].o, box)) < 2.5f * 2.5f;
            if (!skip)
                w.push_back({p, p + minimumImage(f.positions[i + 1], f.positions[i], f.box),
                             p + minimumImage(f.positions[i + 2], f.positions[i], f.box)});
        }
    }
    return test::atomsFromWaters(w, box);
}

TEST(Polyhedron, EveryCageOfMeltingAndInterfaceFramesIsShapedByTheRules)
{
    // Tetrahedra of 3-rings: one; two that touch at vertex 3, where the faces
    // form two cycles; two apart, with V - E + F = 4.
    RingSearch tetrahedra;
    tetrahedra.ringList = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}, {3, 4, 5},  {3, 4, 6},
                           {3, 5, 6}, {4, 5, 6}, {7, 8, 9}, {7, 8, 10}, {7, 9, 10}, {8, 9, 10}};
    EXPECT_EQ(polyhedronOf(std::vector<int32_t>{0, 1, 2, 3}, tetrahedra).shape, CageShape::Closed);
    EXPECT_EQ(polyhedronOf(std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7}, tetrahedra).shape, CageShape::Defective);
    EXPECT_EQ(polyhedronOf(std::vector<int32_t>{0, 1, 2, 3, 8, 9, 10, 11}, tetrahedra).shape, CageShape::Open);

    std::vector<Frame> frames;
    const std::string melting = test::sourcePath("examples/si-2x2x2-melting.gro");
    Frame frame = readConfiguration(melting, "SOL", "OW");
    for (auto traj = openTrajectory(melting); traj->next(frame);)
        frames.push_back(frame);
    ASSERT_EQ(frames.size(), 12u);
    if (const std::string spc216 = "/usr/share/gromacs/top/spc216.gro"; std::filesystem::exists(spc216))
        frames.push_back(interfaceFrame(readConfiguration(spc216, "SOL", "OW")));
    const Criteria series = seriesCriteria();
    std::map<CageShape, int> seen;
    for (const Frame& f : frames) {
        const Analysis a = analyse(f, series);
        for (const std::span<const int32_t> cage : a.cages.cageList) {
            std::vector<std::vector<int32_t>> faces;
            for (int32_t r : cage)
                faces.emplace_back(a.rings.ringList[r].begin(), a.rings.ringList[r].end());
            const Polyhedron p = polyhedronOf(cage, a.rings);
            ASSERT_EQ(std::pair(p.shape, p.edges > 0 && p.vertices - p.edges + p.faces == 2), shapeByTheRules(faces)) << cageLabel(cage, a.rings);
            ++seen[p.shape];
        }
    }
    // Every shape met: closed cages, open sheets, and defective surfaces
    // (three heptagons on a 3-ring, in the liquid).
    EXPECT_GT(seen[CageShape::Closed], 400);
    EXPECT_GT(seen[CageShape::Defective], 5);
    EXPECT_GT(seen[CageShape::Open], 1000);
}

} // namespace
} // namespace kavet
