#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "support/test_buffers.h"
#include "vekr.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Bounds of the non-NaN coordinates, then one float margin for all sides.
std::array<float, 6> referenceBox(const std::vector<float>& v)
{
    float lo[3] = {FLT_MAX, FLT_MAX, FLT_MAX}, hi[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
    for (size_t i = 0; i < v.size(); ++i) {
        if (std::isnan(v[i])) continue;
        lo[i % 3] = std::min(lo[i % 3], v[i]);
        hi[i % 3] = std::max(hi[i % 3], v[i]);
    }
    float m = FLT_MIN;
    for (int k = 0; k < 3; ++k) m = std::max({m, std::fabs(lo[k]), std::fabs(hi[k])});
    const float e = 0.0001f * m;
    return {lo[0] - e, lo[1] - e, lo[2] - e, hi[0] + e, hi[1] + e, hi[2] + e};
}

std::array<float, 6> box(const float* v, int32_t count)
{
    std::array<float, 6> b;
    EXPECT_EQ(vekrSetBoundBox_32f(v, count, b.data()), vekStsOk);
    return b;
}

}  // namespace

TEST(SceneBounds, EmptySceneGivesInvertedBox)
{
    const float v[3] = {1, 2, 3};
    const float e = 0.0001f * FLT_MAX;
    for (int32_t count : {0, -5}) {
        const auto b = box(v, count);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(b[k], FLT_MAX - e);
            EXPECT_EQ(b[3 + k], -FLT_MAX + e);
        }
    }
}

TEST(SceneBounds, SingleVertexAtOriginGetsSmallestMargin)
{
    const float v[3] = {0, 0, 0};
    const auto b = box(v, 1);
    const float e = 0.0001f * FLT_MIN;
    ASSERT_GT(e, 0.0f);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(b[k], -e);
        EXPECT_EQ(b[3 + k], e);
    }
}

// The margin follows the largest magnitude of all six bounds, here a
// negative minimum on another axis than the one measured.
TEST(SceneBounds, MarginIsRelativeToLargestMagnitude)
{
    const float v[6] = {1, 2, -1000, 3, 4, 5};
    const auto b = box(v, 2);
    const float e = 0.0001f * 1000.0f;
    EXPECT_EQ(b[0], 1.0f - e);
    EXPECT_EQ(b[2], -1000.0f - e);
    EXPECT_EQ(b[3], 3.0f + e);
}

TEST(SceneBounds, NullVertexArrayIsReportedAndNothingWritten)
{
    float b[6] = {7, 7, 7, 7, 7, 7};
    EXPECT_EQ(vekrSetBoundBox_32f(nullptr, 4, b), vekStsNullPtrErr);
    EXPECT_EQ(vekrSetBoundBox_32f(nullptr, 0, b), vekStsNullPtrErr);
    for (float x : b) EXPECT_EQ(x, 7.0f);
}

// Counts around the four-vertex grouping, misaligned arrays, and NaN in
// every position of a group (for some counts on every x): the box is always
// that of the other values, and an axis without any stays inverted.
TEST(SceneBounds, RandomScenesWithNaNsMatchReference)
{
    vekr_test::Rng rng(4242);
    std::uniform_real_distribution<float> coord(-50.0f, 50.0f);
    for (int32_t count = 1; count <= 27; ++count) {
        for (size_t offset : {0u, 4u, 8u}) {
            vekr_test::OffsetArray<float> v(3 * count, offset);
            std::vector<float> copy(3 * count);
            for (int i = 0; i < 3 * count; ++i) {
                const bool nan = (i + count) % 7 == 0 || (count % 9 == 0 && i % 3 == 0);
                copy[i] = v[i] = nan ? kNaN : coord(rng) * (i % 3 + 1);
            }
            const auto got = box(v.data(), count);
            const auto want = referenceBox(copy);
            for (int k = 0; k < 6; ++k) EXPECT_EQ(got[k], want[k]) << "count " << count << " offset " << offset;
        }
    }
}
