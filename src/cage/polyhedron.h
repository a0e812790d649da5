// Whether a cage is a polyhedron, what it encloses and how it is labelled.
//
// A cage is closed when its faces (rings) form a polyhedron:
//   - every edge of every face is an edge of exactly two faces;
//   - at every vertex, the faces that meet there form one cycle of at least
//     three faces, consecutive faces sharing an edge at that vertex;
//   - the faces form one connected surface;
//   - V - E + F = 2, with V and E counted from the faces.
// The vertex condition is what makes the surface a polyhedron rather than a
// set of rings that merely pair their edges: without it, three heptagons and
// a 3-ring whose waters mostly lie in two faces pass for a cage. A surface
// that meets the edge condition but not the vertex condition is defective: a
// real cavity at times (a 5^12 with one bond replaced by a chain of three),
// often a sliver of a few cubic angstrom.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/dvec3.h"
#include "core/frame.h"
#include "network/plane_fit.h"
#include "network/ring_search.h"

namespace kavet {

enum class CageShape : uint8_t {
    Open,      // an edge in one face only or in three or more, or a closed surface that is not a sphere
    Defective, // every edge in two faces, but the faces at some vertex do not form one cycle of three or more
    Closed,    // a polyhedron by all four conditions above
};

struct Polyhedron {
    int32_t vertices = 0; // distinct waters of the faces
    int32_t edges = 0;    // distinct ring edges
    int32_t faces = 0;
    CageShape shape = CageShape::Open;
};

// The polyhedron of the faces `cage` (ring numbers into rings.ringList).
// Vertices and edges are counted only when every edge is shared by exactly
// two faces; otherwise they are 0 and the cage is open. Scratch is kept per
// thread; safe to call from several threads at once.
Polyhedron polyhedronOf(std::span<const int32_t> cage, const RingSearch& rings);

// The triangles of a cage's faces, three corners each: per face, the fan of
// its ring centre and consecutive members, every position at its minimum
// image from `origin` and given relative to it. Every face is turned so that
// the faces agree in orientation (each edge shared by two faces runs one way
// in one and the other way in the other). Returns false when the faces
// cannot be so oriented.
bool cageSurface(std::span<const int32_t> cage, const RingSearch& rings, const RingGeometry& geo,
                 const std::vector<Vec3>& xyz, const Box& box, Vec3 origin, std::vector<DVec3>& corners);

// The volume the faces of `cage` enclose, in cubic angstrom: by the
// divergence theorem over the triangles of cageSurface taken around the
// centre of the cage's first ring. Meaningful for a surface whose every edge
// lies in two faces (closed or defective); 0 when the faces cannot be
// oriented consistently. A 5^12 of structure-I hydrate encloses about 164.
double enclosedVolume(std::span<const int32_t> cage, const RingSearch& rings, const RingGeometry& geo,
                      const Frame& frame);

// The least volume (cubic angstrom) a defective cage must enclose to be
// counted: about the room a guest needs.
inline constexpr double defectiveVolumeMin = 100.0;

// The shape as the census counts it: Closed for a polyhedron, Defective for a
// defective surface enclosing at least defectiveVolumeMin, Open otherwise.
CageShape censusShape(std::span<const int32_t> cage, const RingSearch& rings, const RingGeometry& geo,
                      const Frame& frame);

// The label of a set of faces from their sizes (in any order): "n^k" for each
// size n present, k its faces, sizes ascending, joined by '-', e.g.
// "5^12-6^2" or "3^1-7^3". Every size counts, 3-rings included. Sizes below 1
// are ignored.
std::string faceLabel(const std::vector<int32_t>& faceSizes);

// The label of `cage` from the sizes of its rings.
std::string cageLabel(std::span<const int32_t> cage, const RingSearch& rings);

} // namespace kavet
