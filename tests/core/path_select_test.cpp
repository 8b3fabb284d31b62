#include <gtest/gtest.h>

#include <cstdint>

#include "core/path_select.h"

using vekr::takesFourWidePath;

// The count must be a multiple of four (zero and negatives included) and
// every named array 16-byte aligned.
TEST(PathSelect, CountAndEveryNamedArrayDecide)
{
    alignas(16) float a[8] = {};
    alignas(16) int32_t m[8] = {};
    EXPECT_TRUE(takesFourWidePath(8, a));
    EXPECT_TRUE(takesFourWidePath(0, a));
    EXPECT_TRUE(takesFourWidePath(-4, a));
    EXPECT_FALSE(takesFourWidePath(9, a));
    EXPECT_FALSE(takesFourWidePath(-3, a));
    EXPECT_TRUE(takesFourWidePath(4, a, m, a + 4));
    EXPECT_FALSE(takesFourWidePath(4, a, m, a + 1));
    EXPECT_FALSE(takesFourWidePath(4, a + 2, m));
    EXPECT_FALSE(takesFourWidePath(4, a, m + 3));
}
