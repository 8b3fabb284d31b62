#include <gtest/gtest.h>

#include <omp.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "support/alloc_hook.h"
#include "vekcore.h"

TEST(VekMalloc, AlignedWritableAndNullForNonPositiveSizes)
{
    EXPECT_EQ(vekMalloc(0), nullptr);
    EXPECT_EQ(vekMalloc(-5), nullptr);
    // Sizes on both sides of where blocks move to 2 MB pages, odd ones too.
    for (int32_t size : {1, 7, 64, 1000, 1 << 20, (4 << 20) - 129, (4 << 20) - 128, (4 << 20) + 4093, 9 << 20}) {
        void* p = vekMalloc(size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % VEK_MALLOC_ALIGNMENT, 0u);
        std::memset(p, 0x5A, static_cast<size_t>(size));
        vekFree(p);
    }
    vekFree(nullptr);
}

TEST(VekMalloc, HookSeesEveryBlockAndCanFail)
{
    vekr_test::CountingAllocator counter(2);
    void* a = vekMalloc(100);
    void* b = vekMalloc(100);  // the second call fails
    void* c = vekMalloc(100);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(counter.live(), 2);
    vekFree(a);
    vekFree(c);
    EXPECT_EQ(counter.live(), 0);
    EXPECT_EQ(counter.calls(), 3);
}

TEST(VekMalloc, BlockOutlivingItsAllocatorIsReleasedByIt)
{
    void* p = nullptr;
    long liveAfter = -1;
    {
        vekr_test::CountingAllocator counter;
        p = vekMalloc(32);
        vekSetAllocator(nullptr, nullptr, nullptr);  // back to the default while p lives
        void* q = vekMalloc(32);                     // from the default heap
        vekFree(q);
        vekFree(p);                                  // goes back to the counter
        liveAfter = counter.live();
    }
    EXPECT_EQ(liveAfter, 0);
}

TEST(VekMalloc, SafeFromSeveralThreads)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) {
                void* p = vekMalloc(16 + i % 100);
                ASSERT_NE(p, nullptr);
                vekFree(p);
            }
        });
    for (auto& t : threads) t.join();
}

TEST(NumThreads, DefaultFollowsOpenMPAndSetOverrides)
{
    // Nothing before this test sets a count, and it leaves the default
    // behind: a process that never calls vekSetNumThreads follows OpenMP.
    EXPECT_EQ(ownGetNumThreads(), omp_get_max_threads() >= 1 ? omp_get_max_threads() : 1);
    vekSetNumThreads(0);
    EXPECT_EQ(ownGetNumThreads(), omp_get_max_threads() >= 1 ? omp_get_max_threads() : 1);
    vekSetNumThreads(7);
    EXPECT_EQ(ownGetNumThreads(), 7);
    vekSetNumThreads(-3);
    EXPECT_GE(ownGetNumThreads(), 1);
    EXPECT_EQ(ownGetNumThreads(), omp_get_max_threads());
}
