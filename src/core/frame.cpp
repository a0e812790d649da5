#include "core/frame.h"

namespace kavet {

void selectWaters(Frame& frame, const std::string& waterName, const std::string& oxygenName)
{
    const std::size_t n = frame.atmName.size();
    frame.isOW.assign(n, 0);
    frame.numWater = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (frame.atmName[i] == oxygenName && frame.resName[i].find(waterName) != std::string::npos) {
            frame.isOW[i] = 1;
            ++frame.numWater;
        }
    }
}

} // namespace kavet
