// Which atoms are a water's hydrogens. The water table takes the two atoms
// after each oxygen (core/frame.h); here each is checked to lie where an O-H
// bond puts it. Where they do not, as when a virtual site stands between the
// oxygen and its hydrogens (TIP4P written OW MW HW1 HW2), the first two atoms
// of the oxygen's residue whose names begin with H are taken instead.
#pragma once

#include <cstdint>
#include <string>

#include "core/frame.h"

namespace kavet {

// An atom taken as a hydrogen lies this far from its oxygen (angstrom). The
// O-H bonds of water models are 0.96-1.0 A long; their virtual sites lie
// closer (TIP4P's M 0.15 A, TIP5P's lone pairs 0.7 A), the next molecule's
// atoms farther.
inline constexpr float shortestHydrogenDistance = 0.8f;
inline constexpr float longestHydrogenDistance = 1.3f;

// Checks and completes the frame's water table as above. Throws FormatError,
// naming `name`, the oxygen and the atoms found, for a water that has no two
// such hydrogens either way (with checkFrame's message when checkFrame
// refuses the frame as it stands). Returns the number of waters whose hydrogens
// were taken by name. A frame of waters without hydrogens is not given to it.
int64_t placeHydrogens(Frame& frame, const std::string& name);

} // namespace kavet
