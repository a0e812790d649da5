// Every trajectory reader, thermal averaging included, fills a frame's
// coordinates alone: the topology the frame holds is the same object after
// each frame, with the same content.
#include <gtest/gtest.h>

#include <cstring>

#include "io/gro_reader.h"
#include "io/thermal_frames.h"
#include "io/trajectory.h"
#include "support/support.h"

namespace kavet {
namespace {

TEST(Trajectory, ReadersFillCoordinatesAndLeaveTheTopology)
{
    const Frame structure = readConfiguration(test::sourcePath("examples/si-2x2x2.gro"), "SOL", "OW");
    const Topology before = structure.topology();
    for (const char* file : {"examples/si-2x2x2-melting.gro", "examples/si-2x2x2-melting.xtc",
                             "tests/data/lammps/tip4p-sI.lammpstrj", "averaged"}) {
        SCOPED_TRACE(file);
        const bool averaged = std::string(file) == "averaged";
        std::unique_ptr<TrajectoryReader> reader =
            openTrajectory(test::sourcePath(averaged ? "examples/si-2x2x2-melting.gro" : file));
        if (averaged)
            reader = averageFrames(std::move(reader), 1, file, structure.sharedTopology());
        Frame frame;
        frame.setTopology(structure.sharedTopology());
        int frames = 0;
        for (; frames < 3 && reader->next(frame); ++frames) {
            EXPECT_EQ(frame.sharedTopology(), structure.sharedTopology());
            EXPECT_EQ(frame.positions.size(), static_cast<std::size_t>(reader->atomCount()));
        }
        EXPECT_GE(frames, 2); // the dump holds two
        const Topology& t = structure.topology();
        EXPECT_EQ(t.atomCount, before.atomCount);
        EXPECT_EQ(t.residue, before.residue);
        EXPECT_EQ(t.atomName, before.atomName);
        EXPECT_EQ(t.isWaterOxygen, before.isWaterOxygen);
        ASSERT_EQ(t.water.size(), before.water.size());
        EXPECT_EQ(std::memcmp(t.water.data(), before.water.data(), sizeof(Water) * t.water.size()), 0);
    }
}

} // namespace
} // namespace kavet
