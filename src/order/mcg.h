// The mutually coordinated guest (MCG) order parameters of Barnes, Beckham,
// Wu and Sum, J. Chem. Phys. 140, 164506 (2014), as used by Barnes et al.,
// J. Phys. Chem. B 118, 13236 (2014). Two guests are linked when their
// centres are within 9 angstrom and at least 5 water oxygens lie within
// 6 angstrom of both and inside both 45-degree cones about the guest-guest
// axis: the angle at each guest between the other guest and the water is at
// most 45 degrees (up to the single precision of the positions). MCG-n is
// the size of the largest cluster of guests that have at least n links each,
// joined by their links: guests only. The paper's cluster has two
// components, the guests and the waters they share; the waters of the
// largest cluster are the distinct water oxygens that count towards a link
// between two of its guests (mcg1Waters, mcg3Waters), and the paper's
// nucleus size is the sum of the two. Of two largest clusters, the one with
// the guest first in the input.
#pragma once

#include <cstdint>
#include <vector>

#include "order/pairs.h"

namespace kavet {

struct McgRule {
    double guestDistance = 9.0; // angstrom
    double waterDistance = 6.0; // angstrom, from each guest
    double coneAngle = 45.0;    // degrees, half-angle of each cone
    int32_t minWaters = 5;
};

struct Mcg {
    int32_t mcg1 = 0;           // largest cluster of guests with at least 1 link
    int32_t mcg3 = 0;           // the same with at least 3 links
    int32_t mcg1Waters = 0;     // waters shared by the links within the MCG-1 cluster
    int32_t mcg3Waters = 0;     // the same for the MCG-3 cluster
    std::vector<int32_t> links; // per guest
};

// Guests are given by their centres, waters by their oxygens, in the cell
// `box` (at least twice the guest distance wide across every pair of faces,
// so that one image of each pair counts). Double precision.
Mcg mcgOf(const std::vector<Vec3>& guests, const std::vector<Vec3>& oxygens, const Box& box,
          const McgRule& rule = {});

} // namespace kavet
