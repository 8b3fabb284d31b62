#include <gtest/gtest.h>

#include <limits>

#include "volume/resize_plan.h"

#include <cstring>
#include <new>

#define VEKR_ISA_NS sse3
#include "volume/resize_caching.h"
#undef VEKR_ISA_NS

using namespace vekr::volume;

TEST(ResizePlan, RegionEdgesAndReciprocals)
{
    VekrResizePlan plan;
    // srcVoi.x = 4, factor 2: the scaled region starts at column 8; it is
    // trimmed to the volume (width 10 - 4 = 6) and cut by dstVoi in y.
    ASSERT_EQ(planResize(VekrVolume{10, 10, 10}, VekrCuboid{4, 0, 2, 50, 10, 3}, VekrCuboid{0, 5, 0, 100, 8, 100}, 2,
                         2, 0.5, 0, 0, 0.25, &plan),
              vekStsOk);
    EXPECT_EQ(plan.x.begin, 8);
    EXPECT_EQ(plan.x.end, 20);
    EXPECT_EQ(plan.y.begin, 5);
    EXPECT_EQ(plan.y.end, 13);
    EXPECT_EQ(plan.z.begin, 1);  // 2 * 0.5 + 0.25 = 1.25 -> 1
    EXPECT_EQ(plan.z.end, 3);    // 5 * 0.5 + 0.25 = 2.75 -> 3
    EXPECT_DOUBLE_EQ(plan.z.invFactor, 2.0);
    EXPECT_DOUBLE_EQ(plan.z.offset, -0.5);
    EXPECT_EQ(plan.width(), 12);

    // A region overhanging the volume by less than its corner is trimmed
    // too: (4, 3, 2) + (8, 9, 10) in a volume of 10 keeps 6, 7 and 8
    // voxels, so every axis ends at 10 (x scaled by 2: at 20).
    ASSERT_EQ(planResize(VekrVolume{10, 10, 10}, VekrCuboid{4, 3, 2, 8, 9, 10}, VekrCuboid{0, 0, 0, 100, 100, 100}, 2,
                         1, 1, 0, 0, 0, &plan),
              vekStsOk);
    EXPECT_EQ(plan.x.begin, 8);
    EXPECT_EQ(plan.x.end, 20);
    EXPECT_EQ(plan.y.end, 10);
    EXPECT_EQ(plan.z.end, 10);

    // A shift that moves the region left of dstVoi empties it.
    EXPECT_EQ(planResize(VekrVolume{10, 10, 10}, VekrCuboid{0, 0, 0, 10, 10, 10}, VekrCuboid{0, 0, 0, 10, 10, 10}, 1,
                         1, 1, -10, 0, 0, &plan),
              vekStsNoVoxelsWarn);
    // Non-finite edges leave the region empty; absurd factors and shifts
    // saturate instead of overflowing.
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(planResize(VekrVolume{10, 10, 10}, VekrCuboid{0, 0, 0, 10, 10, 10}, VekrCuboid{0, 0, 0, 10, 10, 10}, 1,
                         1, 1, 0, nan, 0, &plan),
              vekStsNoVoxelsWarn);
    EXPECT_EQ(planResize(VekrVolume{10, 10, 10}, VekrCuboid{0, 0, 0, 10, 10, 10}, VekrCuboid{0, 0, 0, 10, 10, 10}, inf,
                         1, 1, 0, 0, 0, &plan),
              vekStsNoVoxelsWarn);
    EXPECT_EQ(planResize(VekrVolume{10, 10, 10}, VekrCuboid{1, 0, 0, 10, 10, 10}, VekrCuboid{0, 0, 0, 10, 10, 10},
                         1e300, 1, 1, 0, 0, 0, &plan),
              vekStsNoVoxelsWarn);
}

TEST(ResizePlan, FaceRuleKeepsEveryTapInside)
{
    for (int n = 1; n <= 5; ++n) {
        for (int i = -3; i <= n + 2; ++i) {
            const LinearTaps l = clampLinearTaps(i, n);
            EXPECT_TRUE(l.t0 >= 0 && l.t1 <= n - 1 && l.t0 <= l.t1) << n << " " << i;
            const CubicTaps c = clampCubicTaps(i, n);
            for (int k = 0; k < 4; ++k) EXPECT_TRUE(c.t[k] >= 0 && c.t[k] <= n - 1) << n << " " << i << " " << k;
        }
    }
    EXPECT_EQ(linearFixedWeight(0.25), 4096);
    // A denormal factor makes positions infinite: index saturated, fraction 0.
    const SplitPosition far = splitPosition(std::numeric_limits<double>::infinity());
    EXPECT_EQ(far.i, INT32_MAX);
    EXPECT_EQ(far.fraction, 0.0);
    EXPECT_EQ(splitPosition(-2.25).i, -3);
    EXPECT_EQ(splitPosition(-2.25).fraction, 0.75);
    EXPECT_EQ(linearFixedWeight(0.0), 0);
}

// The row and plane caches: a new cache holds nothing, even in memory that
// held keys before; a claimed slot is found again; a claim never takes a
// slot whose key is still needed, and takes the first free one.
TEST(ResizeCaching, SlotCacheStartsEmptyAndKeepsNeededKeys)
{
    using Cache = vekr::volume::sse3::SlotCache<4>;
    alignas(Cache) unsigned char memory[sizeof(Cache)];
    std::memset(memory, 0, sizeof memory);  // as if keys 0 were there
    Cache* cache = new (memory) Cache();
    for (int64_t key : {0, 1, 5}) EXPECT_EQ(cache->find(key), -1) << key;

    // Each new row claimed while the rows before it are still needed.
    const int64_t rows[4] = {10, 11, 12, 13};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(cache->claim(rows[k], rows, k), k);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(cache->find(rows[k]), k);
    // Rows 10 and 12 still needed: the first free slot is 1 (row 11's).
    const int64_t needed[2] = {10, 12};
    EXPECT_EQ(cache->claim(20, needed, 2), 1);
    EXPECT_EQ(cache->find(11), -1);
    EXPECT_EQ(cache->find(20), 1);
    const int64_t allButLast[3] = {10, 20, 12};
    EXPECT_EQ(cache->claim(21, allButLast, 3), 3);
    cache->~Cache();
}
