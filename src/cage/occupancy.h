// Guest occupancy. A guest is a molecule selected by residue name: a run of
// consecutive atoms with the same residue field (residue number and name).
// Its position is the centre of its atoms, unwrapped around its first atom.
// A guest occupies a closed cage when its position lies inside the cage's
// polyhedron: the triangle fans of its faces (each face: its centre and
// consecutive members), unwrapped around the centre of the cage's first ring
// and oriented consistently, enclose the point when the solid angles they
// subtend add up to a winding number of one. Works in double precision.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cage/assembly.h"
#include "core/dvec3.h"
#include "core/frame.h"
#include "core/offsets.h"
#include "network/plane_fit.h"

namespace kavet {

struct GuestMolecules {
    std::vector<int32_t> firstAtom; // per guest, its first atom (0-based)
    std::vector<int32_t> atomCount; // per guest, its atoms (at least one)
};

// The molecules whose residue name is exactly `name`: a residue field is the
// residue number followed by the name, so a field selects when it is `name`
// after its leading digits (the number), e.g. "12CH4" for CH4, not "12CH4X"
// nor "12XCH4". Throws InputError for an empty name, which would select residues
// without a name, and for a frame whose name and position tables differ in
// length, where a guest could have no atoms.
GuestMolecules selectGuests(const Frame& frame, const std::string& name);

// The residue names in the frame (residue fields without their leading
// digits), each once, in order of first appearance; for the message when a
// guest name selects nothing.
std::vector<std::string> residueNames(const Frame& frame);

// Each guest's position: the mean of its atoms, each taken at its minimum
// image from the first atom. Throws InputError when a guest has no atoms in
// `frame` (a selection made on a frame with more atoms).
std::vector<DVec3> guestPositions(const Frame& frame, const GuestMolecules& guests);

// The centre of a cage: the mean of its ring centres, each at its minimum
// image from the first ring's centre.
DVec3 cageCentre(std::span<const int32_t> cage, const RingGeometry& geo, const Box& box);

// The winding number of a closed, consistently oriented triangle surface
// around point p: +-1 inside, 0 outside (up to rounding).
double windingNumber(const std::vector<DVec3>& corners, DVec3 p);

struct Occupancy {
    // Per cage, the guests inside it (numbers into the guest list), ascending;
    // empty for cages that are not closed.
    OffsetArray guestsOf;
    // Per guest, the closed cages that hold it.
    std::vector<int32_t> cagesOf;
};

// Places the guests at `position` in the closed cages (closed[c] != 0).
Occupancy occupancyOf(const std::vector<DVec3>& position, const Frame& frame, const RingSearch& rings,
                      const RingGeometry& geo, const CageSearch& cages, const std::vector<uint8_t>& closed);

} // namespace kavet
