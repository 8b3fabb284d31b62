#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "support/random_scene.h"
#include "support/alloc_hook.h"
#include "support/test_buffers.h"
#include "vekr.h"

using vekr_test::TriangleSoup;
using vekr_test::Vec3;

namespace {

std::vector<float> normals(const TriangleSoup& s)
{
    std::vector<float> n(3 * s.triangleCount(), -7.0f);
    EXPECT_EQ(vekrTriangleNormal_32f(s.vertices.data(), s.triangles.data(), n.data(), s.triangleCount()), vekStsOk);
    return n;
}

Vec3 normalOf(const Vec3& a, const Vec3& b, const Vec3& c)
{
    TriangleSoup s;
    s.addTriangle(a, b, c);
    const auto n = normals(s);
    return {n[0], n[1], n[2]};
}

// Extended precision: the cross product of float-valued edges is exact or
// nearly so, so this is the correctly rounded unit normal in all but
// pathological cases.
Vec3 extendedNormal(const Vec3& a, const Vec3& b, const Vec3& c)
{
    long double e1[3], e2[3];
    for (int k = 0; k < 3; ++k) {
        e1[k] = (long double)a[k] - c[k];
        e2[k] = (long double)b[k] - c[k];
    }
    const long double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                              e1[0] * e2[1] - e1[1] * e2[0]};
    const long double sq = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
    if (sq < std::ldexp(1.0L, -52)) return {0, 0, 0};
    const long double len = std::sqrt(sq);
    return {float(n[0] / len), float(n[1] / len), float(n[2] / len)};
}

int64_t ulpDistance(float x, float y)
{
    int32_t a, b;
    std::memcpy(&a, &x, 4);
    std::memcpy(&b, &y, 4);
    if (a < 0) a = INT32_MIN - a;
    if (b < 0) b = INT32_MIN - b;
    return std::llabs(int64_t(a) - int64_t(b));
}

}  // namespace

TEST(TriangleNormal, HandCases)
{
    EXPECT_EQ(normalOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), (Vec3{0, 0, 1}));
    EXPECT_EQ(normalOf({0, 1, 0}, {1, 0, 0}, {0, 0, 0}), (Vec3{0, 0, -1}));  // clockwise: flipped
    EXPECT_EQ(normalOf({1, 2, 3}, {1, 2, 3}, {4, 5, 6}), (Vec3{0, 0, 0}));    // repeated vertex
    EXPECT_EQ(normalOf({0, 0, 0}, {1, 1, 1}, {3, 3, 3}), (Vec3{0, 0, 0}));    // collinear
    // The cut-off is on the squared length of the unnormalised normal:
    // legs of 1e-4 give 1e-16 < 2^-52, legs of 2e-4 give 1.6e-15.
    EXPECT_EQ(normalOf({0, 0, 0}, {1e-4f, 0, 0}, {0, 1e-4f, 0}), (Vec3{0, 0, 0}));
    EXPECT_EQ(normalOf({2e-4f, 0, 0}, {0, 2e-4f, 0}, {0, 0, 0}), (Vec3{0, 0, 1}));
}

TEST(TriangleNormal, NullPointersBeforeCountAndNothingWrittenBelowOne)
{
    TriangleSoup s;
    s.addTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    float n[3] = {5, 5, 5};
    for (int32_t count : {1, 0, -1}) {
        EXPECT_EQ(vekrTriangleNormal_32f(nullptr, s.triangles.data(), n, count), vekStsNullPtrErr);
        EXPECT_EQ(vekrTriangleNormal_32f(s.vertices.data(), nullptr, n, count), vekStsNullPtrErr);
        EXPECT_EQ(vekrTriangleNormal_32f(s.vertices.data(), s.triangles.data(), nullptr, count), vekStsNullPtrErr);
    }
    EXPECT_EQ(vekrTriangleNormal_32f(s.vertices.data(), s.triangles.data(), n, 0), vekStsOk);
    EXPECT_EQ(vekrTriangleNormal_32f(s.vertices.data(), s.triangles.data(), n, -4), vekStsOk);
    EXPECT_EQ(n[0], 5.0f);
    EXPECT_EQ(n[1], 5.0f);
    EXPECT_EQ(n[2], 5.0f);
}

TEST(TriangleNormal, MatchesExtendedPrecisionNormals)
{
    const TriangleSoup s = vekr_test::randomTriangles(99, 3000);
    const auto n = normals(s);
    int exact = 0, compared = 0;
    for (int32_t j = 0; j < s.triangleCount(); ++j) {
        const int32_t* t = &s.triangles[4 * j];
        const Vec3 want = extendedNormal(s.vertex(t[0]), s.vertex(t[1]), s.vertex(t[2]));
        for (int k = 0; k < 3; ++k) {
            ++compared;
            exact += n[3 * j + k] == want[k];
            EXPECT_LE(ulpDistance(n[3 * j + k], want[k]), 1) << "triangle " << j << " axis " << k;
        }
    }
    EXPECT_GE(exact, compared * 99 / 100);
}

// Each thread writes a contiguous block; the output must not depend on how
// many threads the call was given.
TEST(TriangleNormal, SameOutputForAnyThreadCount)
{
    const TriangleSoup s = vekr_test::randomTriangles(5, 1003);
    std::vector<float> base;
    for (int threads : {1, 2, 7}) {
        vekr_test::ScopedThreads scoped(threads);
        vekr_test::OffsetArray<float> out(3 * s.triangleCount(), 4);
        out.fill(-7.0f);
        ASSERT_EQ(vekrTriangleNormal_32f(s.vertices.data(), s.triangles.data(), out.data(), s.triangleCount()),
                  vekStsOk);
        EXPECT_TRUE(out.guardsIntact());
        if (base.empty())
            base = out.copy();
        else
            EXPECT_EQ(std::memcmp(base.data(), out.data(), base.size() * 4), 0) << threads << " threads";
    }
}
