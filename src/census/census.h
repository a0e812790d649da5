// What one frame amounts to, as the time series reports it: counts of the
// network, the rings and the cages, guest occupancy, clusters of face-sharing
// cages and F4, and optionally one record per cage.
//
// A cage is closed when it is a polyhedron (censusShape: every face edge in
// two faces, one cycle of faces at every vertex, one surface, V - E + F = 2),
// defective when only its vertices fail and it encloses room for a guest;
// other cage entries are not counted. Its type lists every face size
// (cageLabel), 3-rings included. Cups (findCups) count the incomplete cages.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cage/analysis.h"
#include "cage/occupancy.h"
#include "order/chill.h"

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
    int64_t mcg1 = 0, mcg3 = 0;               // MCG-1 and MCG-3 of the guests (order/mcg.h), with guests
    Chill chill;                              // CHILL+ label of each water (order/chill.h), table order
    double f4 = 0.0;                          // not a number without a pair of waters within f4Cutoff
    int64_t f4Pairs = 0;
    std::vector<double> f4PerWater;           // F4 of each water (F4::perWater), table order
    double volume = 0.0;                      // of the cell, A^3; not a number when an axis is not periodic
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
};

FrameCensus censusOf(const Frame& frame, const Analysis& analysis, const CensusOptions& options = {});

} // namespace kavet
