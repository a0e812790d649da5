#include "core/frame.h"

namespace kavet {

const Topology& Frame::none()
{
    static const Topology empty;
    return empty;
}

Topology& Frame::editTopology()
{
    if (!topology_ || !owned_ || topology_.use_count() > 1) {
        topology_ = topology_ ? std::make_shared<Topology>(*topology_) : std::make_shared<Topology>();
        owned_ = true;
    }
    // Made here, by make_shared of a Topology that is not const.
    return const_cast<Topology&>(*topology_);
}

void selectWaters(Topology& t, const std::string& waterName, const std::string& oxygenName)
{
    const std::size_t n = t.atomName.size();
    t.isWaterOxygen.assign(n, 0);
    t.waterCount = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (t.atomName[i] == oxygenName && t.residue[i].find(waterName) != std::string::npos) {
            t.isWaterOxygen[i] = 1;
            ++t.waterCount;
        }
    }
    indexWaters(t);
}

void indexWaters(Topology& t)
{
    const int64_t n = static_cast<int64_t>(t.isWaterOxygen.size());
    const int64_t atoms = t.atomCount;
    t.water.clear();
    for (int64_t i = 0; i < n; ++i) {
        if (!t.isWaterOxygen[i])
            continue;
        Water w;
        w.oxygen = static_cast<int32_t>(i);
        for (int64_t k = 0; k < 2; ++k)
            w.hydrogen[k] = i + 1 + k < atoms ? static_cast<int32_t>(i + 1 + k) : -1;
        t.water.push_back(w);
    }
}

void dropHydrogens(Topology& t)
{
    for (Water& w : t.water)
        w.hydrogen = {-1, -1};
}

std::vector<int32_t> waterOxygens(const Topology& t)
{
    std::vector<int32_t> oxygens;
    oxygens.reserve(t.water.size());
    for (const Water& w : t.water)
        oxygens.push_back(w.oxygen);
    return oxygens;
}

} // namespace kavet
