// The library entry point: one call analyses a frame built in memory, prints
// nothing, and tells an observer about every phase in order.
#include <gtest/gtest.h>

#include "cage/analysis.h"
#include "io/gro_reader.h"
#include "support/support.h"

namespace kavet {
namespace {

struct PhaseLog : Observer {
    std::vector<std::pair<bool, Phase>> events;
    void started(Phase p, const Analysis&) override { events.emplace_back(true, p); }
    void finished(Phase p, const Analysis&) override { events.emplace_back(false, p); }
};

TEST(Analysis, AFrameBuiltInMemoryGivesItsCagesQuietlyWithEveryPhaseObserved)
{
    const Frame parsed = parseConfiguration(
        test::latticeGro({"--structure", "sI", "--cells", "2", "2", "2", "--displace", "0.1", "--seed", "1"}),
        "si.gro", "SOL", "OW");
    // The same frame as a library user builds it.
    Frame frame;
    frame.box = parsed.box;
    frame.positions = parsed.positions;
    frame.editTopology().atomName = parsed.topology().atomName;
    frame.editTopology().residue = parsed.topology().residue;
    frame.editTopology().atomCount = static_cast<int32_t>(frame.positions.size());
    selectWaters(frame.editTopology(), "SOL", "OW");
    ASSERT_EQ(frame.editTopology().waterCount, 368);

    PhaseLog log;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const Analysis a = analyse(frame, Criteria{}, &log);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(censusText(a.classes.cageCensus), "  5^12:16  5^12-6^2:48");
    EXPECT_EQ(a.rings.ringList.size(), 432u);
    ASSERT_EQ(log.events.size(), 16u);
    for (std::size_t k = 0; k < log.events.size(); ++k)
        EXPECT_EQ(log.events[k], std::make_pair(k % 2 == 0, static_cast<Phase>(k / 2)));
}

} // namespace
} // namespace kavet
