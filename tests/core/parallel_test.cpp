#include <gtest/gtest.h>

#include <omp.h>

#include <vector>

#include "core/parallel.h"

namespace {

// Runs the helper and records which thread took each item and the share
// sizes; every item must be taken exactly once.
struct Coverage {
    std::vector<int> owner;
    std::vector<int> shareSize;
    int granted = 0;
};

Coverage cover(int requested, int work)
{
    Coverage c;
    c.owner.assign(work, -1);
    c.shareSize.assign(64, -1);
    vekr::runPartitioned(requested, work, [&](const vekr::WorkShare& s) {
#pragma omp master
        c.granted = s.threadCount;
        c.shareSize[s.thread] = s.count;
        for (int i = s.begin; i < s.begin + s.count; ++i) c.owner[i] = s.thread;
    });
    return c;
}

}  // namespace

// Every item is taken exactly once for any thread count; shares are the
// quotient, and the last thread also takes the remainder.
TEST(Parallel, EveryItemTakenOnceAndRemainderGoesToTheLastThread)
{
    for (int threads : {1, 2, 3, 7})
        for (int work : {0, 1, 5, 64, 101}) {
            Coverage c = cover(threads, work);
            for (int i = 0; i < work; ++i) EXPECT_GE(c.owner[i], 0) << threads << " " << work << " " << i;
        }
    Coverage c = cover(4, 17);
    ASSERT_EQ(c.granted, 4) << "the runtime declined to fork";
    for (int t = 0; t < 4; ++t) EXPECT_EQ(c.shareSize[t], t < 3 ? 4 : 5) << t;
    for (int i = 0; i < 17; ++i) EXPECT_EQ(c.owner[i], i < 16 ? i / 4 : 3) << i;
}

TEST(Parallel, InsideAnotherRegionRunsOnTheCallingThreadAlone)
{
    omp_set_max_active_levels(1);
    int granted = -1;
    std::vector<int> owner(10, -1);
#pragma omp parallel num_threads(2)
    {
#pragma omp single
        vekr::runPartitioned(4, 10, [&](const vekr::WorkShare& s) {
            granted = s.threadCount;
            for (int i = s.begin; i < s.begin + s.count; ++i) owner[i] = s.thread;
        });
    }
    EXPECT_EQ(granted, 1);
    for (int o : owner) EXPECT_EQ(o, 0);
}
