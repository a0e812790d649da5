// Warnings for a run whose results are empty for a reason the user can mend:
// a selection without water oxygens, a frame without hydrogen bonds. The run
// goes on; these only say why its counts are zero.
#pragma once

#include <cstdint>
#include <string>

#include "app/settings.h"
#include "core/frame.h"

namespace kavet {

// When the frame read from `file` has no selected water oxygen: which
// residue and atom names it holds (the most common few), or "" when it has
// water oxygens.
std::string emptySelectionWarning(const Frame& frame, const Settings& s, const std::string& file);

// A frame of `waters` waters without any hydrogen bond under the settings'
// criteria: the units the distance is taken in, and what a distance in
// nanometres looks like.
std::string noBondWarning(const Settings& s, int64_t waters);

// A network far denser than water's (but not so dense that the analysis
// refuses it, see kMaxMeanDegree), or a largest ring size that makes the
// ring and cage search grow past a minute; "" when neither. `bondEnds` counts
// both ends of every bond after pruning (negative: not known yet, only the
// ring size is judged). A whole run on 368 waters takes about 3 s at 10
// members and 8 times longer with each member more.
std::string growthWarning(int64_t waters, int64_t bondEnds, int32_t ringMax);

} // namespace kavet
