// Every output byte is the same for any number of threads: the report (times
// aside), standard error and the three files, on the bundled example, a
// larger lattice and a disordered, liquid-like configuration.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/support.h"

namespace kavet {
namespace {

TEST(Threads, OutputsAreByteIdenticalForOneTwoAndThreeThreads)
{
    const std::string dir = test::freshDirectory("threads");
    test::writeFile(dir + "/example.gro", test::readFile(test::sourcePath("examples/si-2x2x2.gro")));
    test::writeFile(dir + "/lattice.gro", test::latticeGro({"--structure", "sII", "--cells", "2", "2", "2",
                                                             "--displace", "0.1", "--seed", "5"}));
    test::writeFile(dir + "/liquid.gro", test::latticeGro({"--structure", "sI", "--cells", "3", "3", "3",
                                                            "--displace", "0.3", "--seed", "8"}));
    for (const std::string name : {"example", "lattice", "liquid"}) {
        std::string first;
        for (const std::string threads : {"1", "2", "3"}) {
            const std::string run = dir + "/" + name + "-" + threads;
            std::filesystem::create_directory(run);
            test::writeFile(run + "/conf.gro", test::readFile(dir + "/" + name + ".gro"));
            const test::RunResult r = test::runKavetBinary({"-nt", threads}, run);
            ASSERT_EQ(r.status, 0) << r.out;
            const std::string all = test::maskTimes(r.out) + "\n--\n" + r.err + "\n--\n" +
                                    test::readFile(run + "/conf~ring.pdb") + test::readFile(run + "/conf~cage.pdb") +
                                    test::readFile(run + "/conf~cage.dat");
            if (threads == "1")
                first = all;
            else
                EXPECT_TRUE(all == first) << name << " differs with " << threads << " threads";
        }
    }
}

} // namespace
} // namespace kavet
