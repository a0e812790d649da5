#include "core/frame.h"

#include <algorithm>
#include <functional>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_reduce.h>

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
    t.waterCount = static_cast<int32_t>(tbb::parallel_reduce(
        tbb::blocked_range<std::size_t>(0, n, 1 << 14), int64_t(0),
        [&](const tbb::blocked_range<std::size_t>& b, int64_t count) {
            for (std::size_t i = b.begin(); i < b.end(); ++i)
                if (t.atomName[i] == oxygenName && t.residue[i].find(waterName) != std::string::npos) {
                    t.isWaterOxygen[i] = 1;
                    ++count;
                }
            return count;
        },
        std::plus<int64_t>()));
    indexWaters(t);
}

void indexWaters(Topology& t)
{
    const int64_t n = static_cast<int64_t>(t.isWaterOxygen.size());
    const int64_t atoms = t.atomCount;
    // Blocks of atoms counted, then filled, in parallel: each block's waters
    // start where the waters of the blocks before it end.
    constexpr int64_t block = 1 << 16;
    const int64_t blocks = (n + block - 1) / block;
    std::vector<std::size_t> first(static_cast<std::size_t>(blocks) + 1, 0);
    tbb::parallel_for(int64_t(0), blocks, [&](int64_t b) {
        std::size_t count = 0;
        for (int64_t i = b * block; i < std::min(n, (b + 1) * block); ++i)
            count += t.isWaterOxygen[static_cast<std::size_t>(i)] != 0;
        first[static_cast<std::size_t>(b) + 1] = count;
    });
    for (std::size_t b = 0; b < static_cast<std::size_t>(blocks); ++b)
        first[b + 1] += first[b];
    t.water.resize(first.back());
    tbb::parallel_for(int64_t(0), blocks, [&](int64_t b) {
        std::size_t at = first[static_cast<std::size_t>(b)];
        for (int64_t i = b * block; i < std::min(n, (b + 1) * block); ++i) {
            if (!t.isWaterOxygen[static_cast<std::size_t>(i)])
                continue;
            Water& w = t.water[at++];
            w.oxygen = static_cast<int32_t>(i);
            for (int64_t k = 0; k < 2; ++k)
                w.hydrogen[static_cast<std::size_t>(k)] = i + 1 + k < atoms ? static_cast<int32_t>(i + 1 + k) : -1;
        }
    });
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
