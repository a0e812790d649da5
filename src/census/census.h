// What one frame amounts to, as the time series reports it: counts of the
// network, the rings and the cages, guest occupancy, clusters of face-sharing
// cages and F4, and optionally one record per cage.
//
// A cage is closed when it is a polyhedron (censusShape: every face edge in
// two faces, one cycle of faces at every vertex, one surface, V - E + F = 2),
// defective when only its vertices fail and it encloses room for a guest;
// other cage entries are not counted. Room for a guest (cage/cavity.h): a
// defective cage, and a closed one with a 3-ring face, count only with a free
// radius of cageFreeRadiusMin or more, which drops the 3^4 tetrahedra of four
// touching one-site waters and the fused surfaces of displaced ice. Its type
// lists every face size (cageLabel), 3-rings included. Cups (findCups) count
// the incomplete cages.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cage/analysis.h"
#include "cage/occupancy.h"
#include "order/chill.h"
#include "order/f3.h"
#include "order/steinhardt.h"
#include "order/tetrahedral.h"

namespace kavet {

// One cage of a frame. Numbers are those of the output files: cages and rings
// count from 1 in the order of the cage and ring files' models, atoms from 1
// in the order of the input.
struct CageRecord {
    int32_t id = 0;
    std::string type;
    bool closed = false;         // a closed cage; otherwise a defective one
    DVec3 centre;                // mean of the ring centres, unwrapped around the first ring's centre
    int32_t faces = 0;
    std::vector<int32_t> waters; // atom numbers of its waters, ascending
    std::vector<int32_t> rings;  // ring numbers, seed ring first, then ascending
    std::vector<int32_t> guests; // atom number of each guest's first atom, ascending (closed cages only)
    int32_t cluster = 0;         // cluster number from 1; 0 for a cage that is not closed
};

// One cluster of closed cages that share faces (cage/clusters.h).
struct ClusterRecord {
    int64_t cages = 0;
    std::map<std::string, int64_t> types; // its cages by type
    int64_t occupied = 0;                 // its cages holding a guest
    int64_t guests = 0;                   // distinct guests in its cages
    int64_t waters = 0;                   // distinct waters of its cages
    DVec3 centre;                         // angstrom (ClusterShape)
    double rg = 0.0;                      // angstrom
    int32_t spans = 0;                    // 0 to 3
};

struct FrameCensus {
    int64_t frame = 0;                        // the frame's number in the trajectory, from 0
    double time = 0.0;                        // ps
    // Closed cages new in this frame and closed cages of the previous frame
    // gone from it; set by the ordered step that follows cages (CageTracker).
    int64_t born = 0, died = 0;
    int64_t waters = 0;
    int64_t hbonds = 0;                       // bonds of the full network
    std::vector<int64_t> rings;               // rings[n]: rings of n members left after the flatness limit
    int64_t closed = 0, defective = 0;
    std::map<std::string, int64_t> closedTypes, defectiveTypes;
    int64_t cupsPentagon = 0, cupsHexagon = 0, freeCups = 0; // 5^6 and 6^1-5^6 cups; cups of no closed cage
    // Guests, when asked for.
    bool withGuests = false;
    int64_t guests = 0;                       // guest molecules selected
    int64_t guestsCaged = 0;                  // guests inside at least one closed cage
    int64_t occupiedCages = 0;                // closed cages holding at least one guest
    std::map<std::string, int64_t> occupied;  // the same per type
    int64_t multiplyOccupied = 0;             // closed cages holding two guests or more
    int64_t clusters = 0, largestCluster = 0; // clusters of closed cages sharing a face; cages in the largest
    std::vector<ClusterRecord> clusterTable;  // cluster k + 1 at index k
    // The largest cluster (the first of the most cages): its waters, guests
    // and spans; 0 without a cluster.
    int64_t largestClusterWaters = 0, largestClusterGuests = 0, largestClusterSpans = 0;
    // Hydrate-like waters: per water of the table, the closed cages it is a
    // vertex of and whether it is a member of a cup; the waters in at least
    // one closed cage, and the largest set of them joined by hydrogen bonds.
    std::vector<uint8_t> closedCagesOfWater, inCup;
    int64_t hydrateWaters = 0, largestHydrateWaters = 0;
    int64_t roomless = 0;                     // closed or defective surfaces dropped for want of room
    int64_t wrappingRings = 0;                // rings that close only around the periodic cell
    int64_t mcg1 = 0, mcg3 = 0;               // MCG-1 and MCG-3 of the guests (order/mcg.h), with guests
    int64_t mcg1Waters = 0, mcg3Waters = 0;   // the waters of those clusters (Mcg::mcg1Waters)
    Chill chill;                              // CHILL+ label of each water (order/chill.h), table order
    double f4 = 0.0;                          // not a number without a pair of waters within f4Cutoff
    int64_t f4Pairs = 0;
    std::vector<double> f4PerWater;           // F4 of each water (F4::perWater), table order
    double volume = 0.0;                      // of the cell, A^3; not a number when an axis is not periodic
    // Per-water structure (docs/structure.md), table order, over the same
    // O-O pairs within 3.5 angstrom as CHILL+.
    F3 f3;
    Tetrahedral qTet;
    Steinhardt qbar;                          // for CensusOptions::qbarDegrees
    std::vector<CageRecord> cages;            // closed and defective cages, when asked for
};

struct CensusOptions {
    const GuestMolecules* guests = nullptr; // counts guests when given
    bool cageRecords = false;               // fills FrameCensus::cages
    // Without cageRecords: fills FrameCensus::cages with records that hold
    // only id, type, closed, waters and guests (what CageTracker reads), of
    // every cage or of the closed ones only.
    enum class Members { None, Closed, All };
    Members cageMembers = Members::None;
    // The degrees l of the averaged bond-orientational order q̄_l.
    std::vector<int32_t> qbarDegrees{kDefaultQbarDegrees.begin(), kDefaultQbarDegrees.end()};
};

// The warning for a frame with rings that wrap the periodic cell, or ""
// without such rings (`rings` of them in frame `frameNumber`): a ring that closes only around the cell is an
// artefact of a cell narrower than the ring (7 bonds of 3.5 A reach 24.5 A),
// and the cages it bounds are not those of a larger system.
std::string wrappingRingWarning(int64_t frameNumber, int64_t rings, const Box& box);

// The id of every cluster of a frame (index k: cluster k + 1 of `clusters`
// clusters): the smallest run-wide id among its cages, so that a cluster
// keeps its id as long as its oldest cage does. `ids[k]` is the id of
// cages[k] (CageTracker); cages not closed are skipped.
std::vector<int32_t> clusterIds(const std::vector<CageRecord>& cages, const std::vector<int32_t>& ids,
                                std::size_t clusters);

FrameCensus censusOf(const Frame& frame, const Analysis& analysis, const CensusOptions& options = {});

} // namespace kavet
