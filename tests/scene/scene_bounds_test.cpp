// The scene box: worked edge cases and seeded scenes against a reference.
#include <gtest/gtest.h>

#include <array>
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

// No vertex (a count of 0 or below) leaves the box inverted by the largest
// float less its margin; a single vertex at the origin gets the smallest
// margin, that of the smallest normal float.
TEST(SceneBounds, EmptySceneAndVertexAtTheOrigin)
{
    const float v[3] = {0, 0, 0};
    const float big = FLT_MAX - 0.0001f * FLT_MAX, tiny = 0.0001f * FLT_MIN;
    ASSERT_GT(tiny, 0.0f);
    for (int32_t count : {0, -5}) EXPECT_EQ(box(v, count), (std::array<float, 6>{big, big, big, -big, -big, -big}));
    EXPECT_EQ(box(v, 1), (std::array<float, 6>{-tiny, -tiny, -tiny, tiny, tiny, tiny}));
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
// that of the other values, and an axis without any stays inverted. Each
// axis spans a different range, so the margin must follow the largest
// magnitude of all six bounds, not the axis's own.
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
