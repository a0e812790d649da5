// Plausibility of a frame as a configuration of water, judged after reading
// and before the analysis, frame by frame. The thresholds lie far outside
// anything a real liquid, ice or hydrate reaches.
#pragma once

#include <string>
#include <vector>

#include "core/frame.h"

namespace kavet {

// Two water oxygens closer than this are impossible (a molecule given twice,
// or coordinates wrapped into a box in another unit); closer than the second,
// suspicious. Real water keeps them about 2.8 angstrom apart.
inline constexpr float impossibleOxygenDistance = 1.0f;
inline constexpr float suspiciousOxygenDistance = 2.0f;
// A water's hydrogens (from the frame's water table) lie about 1 angstrom
// from its oxygen; one farther than this is not bonded to it.
inline constexpr float impossibleHydrogenDistance = 2.0f;
inline constexpr float suspiciousHydrogenDistance = 1.3f;
// A periodic box this many times smaller than the atoms' extent along an axis
// is in another unit than the coordinates.
inline constexpr float impossibleSpreadRatio = 50.0f;

// Throws FormatError, naming `name`, the atoms and what was expected, for the
// impossible (a position, cell or time that is not a finite number among
// it); returns one warning per suspicious finding.
std::vector<std::string> checkFrame(const Frame& frame, const std::string& name);

} // namespace kavet
