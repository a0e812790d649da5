// Series mode: the frames of a trajectory analysed one by one into the census
// time series, with a live progress line and a closing summary. Returns the
// exit status.
#pragma once

#include "app/settings.h"

namespace kavet {

int runSeries(const Settings& s);

} // namespace kavet
