// Closed polyhedra against open sheets of the same rings, and the shape of
// every cage of disordered frames against the polyhedron rules read
// literally.
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
        EXPECT_TRUE(p.closed);
        EXPECT_EQ(p.shape, CageShape::Closed);
        EXPECT_EQ(p.vertices - p.edges + p.faces, 2);
        EXPECT_EQ(p.vertices, p.faces == 12 ? 20 : 24);
        // Without one face the cage is an open sheet (a bowl): the edges of
        // the missing face belong to one face only.
        std::vector<int32_t> bowl(cage.begin() + 1, cage.end());
        EXPECT_FALSE(polyhedronOf(bowl, a.rings).closed);
        EXPECT_EQ(polyhedronOf(bowl, a.rings).shape, CageShape::Open);
    }
}

// The shape by the rules as written, with maps and searches: edges in two
// faces; at each vertex, its faces joined through the edges they share there
// form one connected set of three or more (every face has two edges at the
// vertex, so connected means one cycle); all faces joined through edges; and
// V - E + F = 2. Second: the surface test without the vertex rule (edges in
// two faces and V - E + F = 2).
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
    // Faces reachable from `start` through the edges accepted by `use`.
    auto reach = [&](int start, auto use) {
        std::set<int> seen{start};
        for (bool grew = true; grew;) {
            grew = false;
            for (const auto& [edge, fs] : facesOf)
                if (use(edge) && seen.count(fs[0]) != seen.count(fs[1])) {
                    seen.insert(fs.begin(), fs.end());
                    grew = true;
                }
        }
        return seen;
    };
    bool cycles = true;
    for (const auto& [v, fs] : at)
        cycles = cycles && fs.size() >= 3 &&
                 reach(*fs.begin(), [v = v](auto e) { return e.first == v || e.second == v; }) == fs;
    const bool euler = std::ssize(at) - std::ssize(facesOf) + std::ssize(faces) == 2;
    const bool connected = reach(0, [](auto) { return true; }).size() == faces.size();
    return {!cycles ? CageShape::Defective : (connected && euler ? CageShape::Closed : CageShape::Open), euler};
}

// A hydrate-liquid interface: a 3 x 3 x 2 cell slab of structure-I hydrate
// under a slab as thick of liquid water cut from tiled spc216.gro, less the
// liquid waters within 2.5 angstrom of one already placed.
Frame interfaceFrame(const Frame& liquid)
{
    const Frame solid = parseConfiguration(
        test::latticeGro({"--structure", "sI", "--cells", "3", "3", "2", "--displace", "0.1", "--seed", "3"}),
        "si.gro", "SOL", "OW");
    const Box box{solid.box.x, solid.box.y, 2 * solid.box.z};
    std::vector<test::Water> waters;
    auto add = [&](const Frame& from, int32_t i, Vec3 o) {
        for (const test::Water& w : waters)
            if (const Vec3 d = minimumImage(o, w.o, box); &from == &liquid && dot(d, d) < 2.5f * 2.5f)
                return;
        const Vec3 h1 = minimumImage(from.atmXYZ[i + 1], from.atmXYZ[i], from.box);
        waters.push_back({o, o + h1, o + minimumImage(from.atmXYZ[i + 2], from.atmXYZ[i], from.box)});
    };
    for (int32_t i = 0; i < solid.numAtom; ++i)
        if (solid.isOW[i])
            add(solid, i, solid.atmXYZ[i]);
    for (int t = 0; t < 8; ++t)
        for (int32_t i = 0; i < liquid.numAtom; ++i) {
            const Vec3 o = liquid.atmXYZ[i] + Vec3{(t & 1) * liquid.box.x, (t >> 1 & 1) * liquid.box.y,
                                                   (t >> 2) * liquid.box.z};
            if (liquid.isOW[i] && o.x < solid.box.x && o.y < solid.box.y && o.z < solid.box.z)
                add(liquid, i, o + Vec3{0.0f, 0.0f, solid.box.z});
        }
    return test::atomsFromWaters(waters, box);
}

TEST(Polyhedron, EveryCageOfMeltingAndInterfaceFramesIsShapedByTheRules)
{
    // Tetrahedra of 3-rings: one; two that touch at a vertex, where the faces
    // form two cycles; two apart, with V - E + F = 4.
    RingSearch tetrahedra;
    for (int32_t first : {0, 3, 10})
        for (std::vector<int32_t> f : {std::vector<int32_t>{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}}) {
            for (int32_t& v : f)
                v += first;
            tetrahedra.ringList.push_back(f);
        }
    const std::pair<std::vector<int32_t>, CageShape> made[] = {{{0, 1, 2, 3}, CageShape::Closed},
                                                               {{0, 1, 2, 3, 4, 5, 6, 7}, CageShape::Defective},
                                                               {{0, 1, 2, 3, 8, 9, 10, 11}, CageShape::Open}};
    for (const auto& [cage, shape] : made) {
        std::vector<std::vector<int32_t>> faces;
        for (int32_t r : cage)
            faces.push_back(tetrahedra.ringList[r]);
        EXPECT_EQ(polyhedronOf(cage, tetrahedra).shape, shape);
        EXPECT_EQ(shapeByTheRules(faces).first, shape);
    }

    std::vector<Frame> frames;
    const std::string melting = test::sourcePath("examples/si-2x2x2-melting.gro");
    Frame frame = readConfiguration(melting, "SOL", "OW");
    for (auto traj = openTrajectory(melting); traj->next(frame);)
        frames.push_back(frame);
    ASSERT_EQ(frames.size(), 12u);
    const std::string spc216 = "/usr/share/gromacs/top/spc216.gro";
    if (std::filesystem::exists(spc216))
        frames.push_back(interfaceFrame(readConfiguration(spc216, "SOL", "OW")));
    frames.push_back(parseConfiguration(
        test::latticeGro({"--structure", "ice", "--cells", "8", "5", "5", "--displace", "0.3", "--seed", "2"}),
        "ice.gro", "SOL", "OW"));

    Criteria series;
    series.sealed = true;
    std::map<CageShape, int> seen;
    for (const Frame& f : frames) {
        const Analysis a = analyse(f, series, nullptr, RingWalk::Once);
        for (const std::vector<int32_t>& cage : a.cages.cageList) {
            std::vector<std::vector<int32_t>> faces;
            for (int32_t r : cage)
                faces.push_back(a.rings.ringList[r]);
            const Polyhedron p = polyhedronOf(cage, a.rings);
            const auto [shape, surface] = shapeByTheRules(faces);
            ASSERT_EQ(p.shape, shape) << cageLabel(cage, a.rings);
            ASSERT_EQ(p.closed, surface) << cageLabel(cage, a.rings);
            ++seen[shape];
        }
    }
    // Every shape met: closed cages, open sheets, and defective surfaces
    // (three heptagons on a 3-ring; 6^12 and 6^14 in ice).
    EXPECT_GT(seen[CageShape::Closed], 400);
    EXPECT_GT(seen[CageShape::Defective], 10);
    EXPECT_GT(seen[CageShape::Open], 1000);
}

} // namespace
} // namespace kavet
