// The room inside a cage: its free radius, the radius of the largest sphere
// centred inside the cage's surface that holds no water oxygen centre. A
// guest needs that room: methane, the smallest common hydrate former, sits
// about 3.9 A from the oxygens of a 5^12 and needs some 3.3 A (the sum of the
// methane and water Lennard-Jones radii, sigma/2 each: 3.73/2 + 3.16/2 = 3.4 A,
// less the squeeze that a guest of a damaged cage still tolerates).
#pragma once

#include <cstdint>
#include <vector>

#include "core/frame.h"
#include "network/plane_fit.h"
#include "network/ring_search.h"

namespace kavet {

// The least free radius (angstrom) of a counted defective cage, and of a
// closed cage with a 3-ring face; see docs/census.md for the measurements
// behind it.
inline constexpr double cageFreeRadiusMin = 3.3;

// The free radius of `cage` (ring numbers into rings.ringList), in angstrom,
// against the water oxygens `oxygens` (atom numbers into frame.positions, every
// water of the frame): the largest distance to the nearest oxygen of a point
// inside the cage's surface, found by a pattern search from the mean of the
// cage's waters (26 directions, the step halved from 0.5 A down to 0.005 A),
// each move kept only when it stays inside the surface (winding number).
// 0 when the faces cannot be oriented or the search cannot start inside.
double freeRadius(std::span<const int32_t> cage, const RingSearch& rings, const RingGeometry& geo,
                  const Frame& frame, const std::vector<int32_t>& oxygens);

} // namespace kavet
