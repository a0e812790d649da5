#include "core/frame.h"

namespace kavet {

void selectWaters(Frame& frame, const std::string& waterName, const std::string& oxygenName)
{
    const std::size_t n = frame.atomName.size();
    frame.isWaterOxygen.assign(n, 0);
    frame.waterCount = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (frame.atomName[i] == oxygenName && frame.residue[i].find(waterName) != std::string::npos) {
            frame.isWaterOxygen[i] = 1;
            ++frame.waterCount;
        }
    }
    indexWaters(frame);
}

void indexWaters(Frame& frame)
{
    const int64_t n = static_cast<int64_t>(frame.isWaterOxygen.size());
    const int64_t atoms = static_cast<int64_t>(frame.positions.size());
    frame.water.clear();
    for (int64_t i = 0; i < n; ++i) {
        if (!frame.isWaterOxygen[i])
            continue;
        Water w;
        w.oxygen = static_cast<int32_t>(i);
        for (int64_t k = 0; k < 2; ++k)
            w.hydrogen[k] = i + 1 + k < atoms ? static_cast<int32_t>(i + 1 + k) : -1;
        frame.water.push_back(w);
    }
}

void dropHydrogens(Frame& frame)
{
    for (Water& w : frame.water)
        w.hydrogen = {-1, -1};
}

std::vector<int32_t> waterOxygens(const Frame& frame)
{
    std::vector<int32_t> oxygens;
    oxygens.reserve(frame.water.size());
    for (const Water& w : frame.water)
        oxygens.push_back(w.oxygen);
    return oxygens;
}

} // namespace kavet
