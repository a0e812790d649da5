// Cage identities across frames: a hand-made run against its known ids,
// lifetimes and residences; births and deaths against the closed counts on
// random runs; and a run split in pieces, merged by tools/merge-lifetimes,
// against the whole run's lifetime table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>

#include "io/lifetime_writer.h"
#include "support/support.h"

namespace kavet {
namespace {

CageRecord cage(bool closed, const std::string& type, std::vector<int32_t> waters, std::vector<int32_t> guests = {})
{
    CageRecord c;
    c.closed = closed;
    c.type = type;
    c.waters = std::move(waters);
    c.guests = std::move(guests);
    return c;
}

// Eight frames (numbers 0, 2, ..., times 0, 10, ... ps): closed cage P
// changes its water set at frame 5 (becoming P'), closed cage Q is missing at
// frame 3 only, R is defective throughout. Guest 100 sits in P, then P'; guest
// 200 in Q. At frame 7 Q holds guest 100 as well: it stays in P'.
TEST(CageTracker, HandMadeRunWithAndWithoutTolerance)
{
    for (int32_t tolerance : {0, 1}) {
        SCOPED_TRACE(tolerance);
        // Q after its gap and P' (P, Q, R are 1, 2, 3): with tolerance 1 Q keeps id 2.
        const int32_t q = tolerance == 0 ? 4 : 2, p = tolerance == 0 ? 5 : 4;
        const std::vector<std::vector<int32_t>> ids = {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 3},
                                                       {1, q, 3}, {p, q, 3}, {p, q, 3}, {p, q, 3}};
        const std::vector<int64_t> born = {2, 0, 0, 0, 1, 1, 0, 0}, died = {0, 0, 0, 1, 0, 1, 0, 0};
        const std::vector<std::vector<int32_t>> guestCage = {{1, 2}, {1, 2}, {1, 2}, {1, 0},
                                                             {1, q}, {p, q}, {p, q}, {p, q}};
        CageTracker tracker(tolerance);
        for (int f = 0; f < 8; ++f) {
            SCOPED_TRACE(f);
            std::vector<CageRecord> cages;
            cages.push_back(f < 5 ? cage(true, "5^12", {1, 2, 3, 4, 5}, {100})
                                  : cage(true, "4^1-5^10-6^2", {1, 2, 3, 4, 6}, {100}));
            if (f != 3)
                cages.push_back(cage(true, "5^12-6^2", {10, 11, 12, 13, 14}, f == 7 ? std::vector{100, 200}
                                                                                   : std::vector{200}));
            cages.push_back(cage(false, "5^4", {20, 21, 22}));
            const FrameIds got = tracker.add(2 * f, 10.0 * f, cages, {100, 200});
            EXPECT_EQ(got.ids, ids[f]);
            EXPECT_EQ(got.born, born[f]);
            EXPECT_EQ(got.died, died[f]);
            EXPECT_EQ(got.returned, tolerance == 1 && f == 4 ? 1 : 0);
            EXPECT_EQ(got.guestCage, guestCage[f]);
        }
        EXPECT_EQ(lifetimeTable(tracker),
                  tolerance == 0 ? "id,type,first_frame,last_frame,first_time_ps,last_time_ps,frames_present,"
                                   "alive_at_end,closed,first_index,last_index,run_frames,waters\n"
                                   "1,5^12,0,8,0,40,5,0,1,0,4,8,1 2 3 4 5\n"
                                   "2,5^12-6^2,0,4,0,20,3,0,1,0,2,8,10 11 12 13 14\n"
                                   "3,5^4,0,14,0,70,8,1,0,0,7,8,20 21 22\n"
                                   "4,5^12-6^2,8,14,40,70,4,1,1,4,7,8,10 11 12 13 14\n"
                                   "5,4^1-5^10-6^2,10,14,50,70,3,1,1,5,7,8,1 2 3 4 6\n"
                                 : "id,type,first_frame,last_frame,first_time_ps,last_time_ps,frames_present,"
                                   "alive_at_end,closed,first_index,last_index,run_frames,waters\n"
                                   "1,5^12,0,8,0,40,5,0,1,0,4,8,1 2 3 4 5\n"
                                   "2,5^12-6^2,0,14,0,70,7,1,1,0,7,8,10 11 12 13 14\n"
                                   "3,5^4,0,14,0,70,8,1,0,0,7,8,20 21 22\n"
                                   "4,4^1-5^10-6^2,10,14,50,70,3,1,1,5,7,8,1 2 3 4 6\n");
        // Guest 100: 5 frames (50 ps) in P, 3 in P' up to the end (70 ps + one 10 ps step).
        // Guest 200: frames 0-2 (30 ps) and 4-7 (40 ps) in Q; with tolerance 1,
        // Q keeps its id through its gap and the guest one residence of 8
        // frames (80 ps).
        const auto r = tracker.residence();
        ASSERT_EQ(r.size(), 3u);
        EXPECT_EQ(r.at("5^12").runs, 1);
        EXPECT_DOUBLE_EQ(r.at("5^12").meanTime(), 50.0);
        EXPECT_EQ(r.at("4^1-5^10-6^2").frames, 3);
        EXPECT_DOUBLE_EQ(r.at("4^1-5^10-6^2").meanTime(), 30.0);
        EXPECT_EQ(r.at("5^12-6^2").runs, tolerance == 0 ? 2 : 1);
        EXPECT_DOUBLE_EQ(r.at("5^12-6^2").meanFrames(), tolerance == 0 ? 3.5 : 8.0);
        EXPECT_DOUBLE_EQ(r.at("5^12-6^2").meanTime(), tolerance == 0 ? 35.0 : 80.0);
    }
}

// A random run: each of a pool of water sets (one of them both closed and
// defective) present in a frame with probability 0.6, now and then twice, in
// shuffled order; frame numbers with gaps.
struct RandomRun {
    std::vector<int64_t> frame;
    std::vector<std::vector<CageRecord>> cages;
};

RandomRun randomRun(uint32_t seed, int frames)
{
    std::mt19937 rng(seed);
    const char* types[] = {"5^12", "5^12-6^2", "5^12-6^4"};
    std::vector<CageRecord> pool;
    for (int32_t k = 0; k < 14; ++k)
        pool.push_back(cage(k % 4 != 0, types[k % 3], {k, k + 1, k + 3 + k % 2}));
    pool.push_back(cage(false, "5^3", pool[1].waters));
    RandomRun run;
    std::bernoulli_distribution present(0.6), twice(0.05);
    for (int f = 0; f < frames; ++f) {
        run.frame.push_back(f == 0 ? 0 : run.frame.back() + 1 + static_cast<int64_t>(rng() % 3));
        std::vector<CageRecord> cages;
        for (const CageRecord& c : pool) {
            if (present(rng))
                cages.push_back(c);
            if (twice(rng))
                cages.push_back(c);
        }
        std::shuffle(cages.begin(), cages.end(), rng);
        run.cages.push_back(std::move(cages));
    }
    return run;
}

TEST(CageTracker, BirthsAndDeathsAddUpOnRandomRuns)
{
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        const RandomRun run = randomRun(seed, 60);
        const int32_t tolerance = static_cast<int32_t>(seed % 3);
        CageTracker tracker(tolerance);
        int64_t closedBefore = 0;
        std::map<std::pair<bool, std::vector<int32_t>>, std::vector<int32_t>> before; // water set -> ids
        for (std::size_t f = 0; f < run.frame.size(); ++f) {
            const std::size_t knownIds = tracker.lives().size();
            const FrameIds got = tracker.add(run.frame[f], 0.5 * static_cast<double>(run.frame[f]), run.cages[f]);
            EXPECT_EQ(got.closed, closedBefore + got.born - got.died) << "seed " << seed << " frame " << f;
            closedBefore = got.closed;
            std::map<std::pair<bool, std::vector<int32_t>>, std::vector<int32_t>> now;
            int64_t newClosed = 0;
            for (std::size_t q = 0; q < got.ids.size(); ++q) {
                now[{run.cages[f][q].closed, run.cages[f][q].waters}].push_back(got.ids[q]);
                newClosed += run.cages[f][q].closed && static_cast<std::size_t>(got.ids[q]) > knownIds;
            }
            EXPECT_EQ(got.born - got.returned, newClosed);
            std::set<int32_t> distinct(got.ids.begin(), got.ids.end());
            EXPECT_EQ(distinct.size(), got.ids.size());
            // A water set present once here and once in the previous frame keeps its id.
            for (const auto& [key, list] : now) {
                if (list.size() == 1 && before.count(key) && before[key].size() == 1) {
                    EXPECT_EQ(list[0], before[key][0]);
                }
            }
            before = std::move(now);
        }
    }
}

std::string lifetimesOf(const RandomRun& run, std::size_t begin, std::size_t end, int32_t tolerance)
{
    CageTracker tracker(tolerance);
    for (std::size_t f = begin; f < end; ++f)
        tracker.add(run.frame[f], 0.5 * static_cast<double>(run.frame[f]), run.cages[f]);
    return lifetimeTable(tracker);
}

TEST(CageTracker, SplitRunMergedGivesTheWholeRunsTable)
{
    const std::string dir = test::freshDirectory("lifetimes");
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        const RandomRun run = randomRun(seed, 40);
        const int32_t tolerance = static_cast<int32_t>(seed % 2) * 2;
        std::string cmd = "python3 " + test::sourcePath("tools/merge-lifetimes") + " --tolerance " +
                          std::to_string(tolerance);
        const std::vector<std::size_t> cuts = {0, 9 + seed, 17, 18 + 3 * seed, 40};
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
            const std::string piece = dir + "/piece" + std::to_string(k) + ".csv";
            test::writeFile(piece, lifetimesOf(run, cuts[k], cuts[k + 1], tolerance));
            cmd += " " + piece;
        }
        test::writeFile(dir + "/whole.csv", lifetimesOf(run, 0, 40, tolerance));
        ASSERT_EQ(std::system((cmd + " -o " + dir + "/merged.csv").c_str()), 0) << cmd;
        EXPECT_EQ(test::readFile(dir + "/merged.csv"), test::readFile(dir + "/whole.csv")) << "seed " << seed;
    }
}

} // namespace
} // namespace kavet
