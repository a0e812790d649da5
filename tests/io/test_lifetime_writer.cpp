// The lifetime table's file is replaced whole or not at all; the guest table's
// rows.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/error.h"
#include "io/lifetime_writer.h"
#include "io/output_set.h"
#include "support/support.h"

namespace kavet {
namespace {

TEST(LifetimeWriter, ReplacesWholeOrLeavesThePreviousFile)
{
    const std::string dir = test::freshDirectory("lifetime");
    const std::string path = dir + "/life.csv";
    test::writeFile(path, "previous\n");
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    auto replaceFile = [](const std::string& file, const std::string& text) {
        SeriesOutputs outputs({{file, OutputKind::Table}}, std::vector<std::string>{});
        outputs.replace(file, text);
        outputs.commit();
    };
    replaceFile(path, "new\n");
    EXPECT_EQ(test::readFile(path), "new\n");
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));

    // A write cut short by the file-size limit fails, and leaves neither the
    // file changed nor the new file behind.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            replaceFile(path, std::string(100000, 'x'));
        } catch (const Failure&) {
            _exit(0);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(test::readFile(path), "new\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);

    {
        GuestTableWriter guests(dir + "/guests.csv");
        guests.frame(4, 12.5, {1105, 1110}, {3, 0});
    }
    EXPECT_EQ(test::readFile(dir + "/guests.csv"), "frame,time_ps,guest,cage_id\n4,12.5,1105,3\n4,12.5,1110,0\n");
}

} // namespace
} // namespace kavet
