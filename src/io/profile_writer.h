// The slab profile of a series (-oprofile): per analysed frame, one CSV line
// per slab along an axis, counting the waters of each CHILL+ class and the
// centres of the closed cages in the slab, so that a hydrate-liquid
// boundary can be followed through the frames. Long format, one header line:
//
//   frame,time_ps,slab,position,chill_cubic,chill_hexagonal,
//   chill_interfacial_ice,chill_clathrate,chill_interfacial_clathrate,
//   chill_liquid,cages
//
//   slab      0 .. slabs-1 from the cell's origin along the axis;
//   position  the slab's centre (A): its fractional coordinate along the
//             axis's cell vector times the cell's height along that axis
//             (the distance between the cell faces the vector crosses: the
//             box length in a rectangular cell);
//   the rest  counts. A water is placed by its oxygen, a cage by its centre,
//             each wrapped into the cell.
// The slab count is the height divided by the width asked for, rounded (at
// least 1), so the slabs fill the cell exactly and their width follows the
// cell when it breathes. Written and flushed frame by frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "census/census.h"
#include "core/frame.h"
#include "io/series_writer.h"

namespace kavet {

struct ProfileAxis {
    int32_t axis = 2;    // 0 x (cell vector a), 1 y (b), 2 z (c)
    double width = 2.0;  // slab width asked for, A
};

// The header line of the profile file.
std::string profileHeader();

// The text of one frame: its slab lines. `time` as the series writes it.
// Throws InputError when the cell is not periodic along the axis.
std::string profileFrameText(int64_t number, const std::string& time, const Frame& frame,
                             const std::vector<CageRecord>& cages, const std::vector<ChillLabel>& labels,
                             const ProfileAxis& axis);

class ProfileWriter {
public:
    // With `outputs`, the file is the set's (see FreshFile).
    ProfileWriter(const std::string& path, const ProfileAxis& axis, const SeriesOutputs* outputs = nullptr);
    void frame(int64_t number, const std::string& time, const Frame& frame, const std::vector<CageRecord>& cages,
               const std::vector<ChillLabel>& labels);
    const FreshFile& file() const { return file_; }

private:
    FreshFile file_;
    ProfileAxis axis_;
};

} // namespace kavet
