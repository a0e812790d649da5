// The order parameters of the series take their oxygen pairs from the
// analysis' list when it reaches far enough; every value must be, bit for
// bit, what their own pair searches give (the analysis without that reach).
#include <gtest/gtest.h>

#include <cstring>

#include "census/census.h"
#include "io/gro_reader.h"
#include "support/support.h"

namespace kavet {
namespace {

bool sameBits(const std::vector<double>& x, const std::vector<double>& y)
{
    return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0);
}

TEST(SharedPairs, OrderParametersAndBondsAsFromTheirOwnSearches)
{
    int cases = 0;
    for (const char* shape : {"--cells 2 2 2", "--cells 2 1 1 --shear xy", "--structure sII"})
        for (const char* sigma : {"0.2", "0.6"})
            for (float hb : {3.2f, 3.5f, 3.6f}) {
                std::vector<std::string> args{"--displace", sigma, "--seed", std::to_string(++cases)};
                for (std::string w; const char c : std::string(shape) + " ") {
                    if (c != ' ') {
                        w += c;
                    } else if (!w.empty()) {
                        args.push_back(w);
                        w.clear();
                    }
                }
                const Frame frame = parseConfiguration(test::latticeGro(args), "l.gro", "SOL", "OW");
                Criteria shared = seriesCriteria(), own = shared;
                shared.hbDistance = own.hbDistance = hb;
                own.pairsReach = 0.0f;
                const Analysis a = analyse(frame, shared), b = analyse(frame, own);
                ASSERT_GE(a.pairs.other.item.size(), b.pairs.other.item.size()) << cases;
                EXPECT_EQ(a.net.edgeList, b.net.edgeList) << cases;
                EXPECT_EQ(a.rings.ringList, b.rings.ringList) << cases;
                const FrameCensus x = censusOf(frame, a), y = censusOf(frame, b);
                EXPECT_TRUE(x.chill.label == y.chill.label && x.chill.count == y.chill.count &&
                            x.chill.largestIce == y.chill.largestIce &&
                            x.chill.largestClathrate == y.chill.largestClathrate)
                    << cases;
                EXPECT_TRUE(sameBits(x.f3.perWater, y.f3.perWater) && sameBits(x.qTet.perWater, y.qTet.perWater))
                    << cases;
                ASSERT_EQ(x.qbar.perWater.size(), y.qbar.perWater.size());
                for (std::size_t k = 0; k < x.qbar.perWater.size(); ++k)
                    EXPECT_TRUE(sameBits(x.qbar.perWater[k], y.qbar.perWater[k])) << cases << " " << k;
                EXPECT_TRUE(sameBits(x.f4PerWater, y.f4PerWater) && sameBits({x.f4}, {y.f4}) &&
                            x.f4Pairs == y.f4Pairs)
                    << cases;
            }
}

} // namespace
} // namespace kavet
