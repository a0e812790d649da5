// Series mode: the frames of a trajectory analysed one by one into the census
// time series, with a live progress line and a closing summary. Returns the
// exit status.
#pragma once

#include "app/settings.h"
#include "census/series_row.h"

namespace kavet {

int runSeries(const Settings& s);

// Whether series mode analyses a frame at time t (ps), by -b, -e and -dt.
// A frame past -e does not end the reading: a trajectory joined from
// restarts may come back into range.
bool frameSelected(const SeriesSettings& s, double t);

} // namespace kavet
