// Hit points and flat and smooth normals: worked cases, double-precision
// references, and where the 4-wide path must or may differ from the scalar
// one.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "ray_packets.h"
#include "vekr.h"

using namespace vekr_test;

TEST(HitPoint, BothExportsMatchDoublePrecisionOnBothPaths)
{
    Rng rng(21);
    const size_t n = 1000;
    Packet origin = randomPacket(rng, n, -10.0f, 10.0f), dir = randomPacket(rng, n, -1.0f, 1.0f);
    auto dist = randomValues(rng, n, 0.0f, 50.0f);
    auto tri = randomMask(rng, n, {&dir});
    // Ray 0 from (1, 2, 3) along (0, 0, 2) to distance 5 lands exactly on
    // z = 3 + 2 x 5 x 0.75; ray 1 misses.
    for (int k = 0; k < 3; ++k) origin.c[k][0] = float(k + 1), dir.c[k][0] = k == 2 ? 2.0f : 0.0f;
    dist[0] = 5.0f, tri[0] = 7, tri[1] = -1;
    const float shared[3] = {origin.c[0][0], origin.c[1][0], origin.c[2][0]};
    const float eps = 0.75f;
    for (bool perRay : {false, true})
        for (size_t off : {kAligned, kMisaligned}) {  // 4-wide, scalar
            Planes3 O = planes(origin, off), D = planes(dir, off), H = outPlanes(n, off);
            auto d = array(dist, off);
            auto t = array(tri, off);
            ASSERT_EQ(perRay ? vekrHitPoint3DEpsM0_32f_M(O.cp, D.cp, d.data(), t.data(), H.p, n, eps)
                             : vekrHitPoint3DEpsS0_32f_M(shared, D.cp, d.data(), t.data(), H.p, n, eps),
                      vekStsOk);
            const Packet h = take(H);
            EXPECT_TRUE(h.c[0][0] == 1.0f && h.c[2][0] == 10.5f && h.c[2][1] == 0.0f) << "worked rays";
            for (size_t i = 0; i < n; ++i)
                for (int k = 0; k < 3; ++k) {
                    const double o = perRay ? origin.c[k][i] : origin.c[k][0];
                    const double want = tri[i] < 0 ? 0.0 : o + double(dir.c[k][i]) * dist[i] * eps;
                    ASSERT_TRUE(near(h.c[k][i], want, 60.0, 2e-7)) << "ray " << i << " offset " << off;
                }
        }
}

namespace {

// Vertex normals and index records of four entries per triangle (three
// vertex numbers and a spare).
struct Mesh {
    std::vector<float> vertNormal;
    std::vector<int32_t> index;
};

Result smoothNormals(const Mesh& m, const std::vector<int32_t>& tri, const std::vector<float>& u,
                     const std::vector<float>& v, size_t offset, size_t count)
{
    auto vn = array(m.vertNormal, offset);
    auto index = array(m.index, offset);
    auto t = array(tri, offset);
    auto ua = array(u, offset), va = array(v, offset);
    const float* uv[2] = {ua.data(), va.data()};
    Planes3 out = outPlanes(count, offset);
    EXPECT_EQ(vekrSurfSmoothNormal_32f(vn.data(), index.data(), t.data(), uv, out.p, int32_t(count), 4), vekStsOk);
    return {take(out), {}, {}};
}

}  // namespace

TEST(SurfFlatNormal, CopiesTheTriangleNormalBitForBitOnIdenticalPaths)
{
    Rng rng(22);
    auto triNormal = randomValues(rng, 30, -1.0f, 1.0f);
    triNormal[6] = bitsFloat(0x7FA00001u);  // a signalling NaN comes through as it is
    triNormal[8] = 123.0f;                  // no normalisation
    auto tri = randomMask(rng, 400);
    tri[0] = 2;
    const Result r = expectIdenticalPaths(
        [&](size_t off, size_t count) {
            auto tn = array(triNormal, off);
            auto t = array(tri, off);
            Planes3 out = outPlanes(count, off);
            EXPECT_EQ(vekrSurfFlatNormal_32f(tn.data(), t.data(), out.p, int32_t(count)), vekStsOk);
            return Result{take(out), {}, {}};
        },
        tri.size());
    for (size_t i = 0; i < tri.size(); ++i)
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(floatBits(r.p3.c[k][i]), tri[i] < 0 ? 0u : floatBits(triNormal[3 * tri[i] + k])) << i;
}

TEST(SurfSmoothNormal, WorkedCasesOnBothPaths)
{
    // Triangle 3's vertex numbers sit at index entries 12, 13, 14.
    Mesh m{{3, 0, 4, /**/ 0, 2, 0, /**/ 0, -2, 0}, std::vector<int32_t>(16, -99)};
    m.index[12] = 0, m.index[13] = 1, m.index[14] = 2;
    // Ray 0: u = 1 gives vertex 0's normal, normalised. Ray 1: the opposite
    // normals of vertices 1 and 2 cancel. Ray 2 misses. Ray 3: u = v = 0
    // gives vertex 2's.
    const float want[4][3] = {{0.6f, 0, 0.8f}, {0, 0, 0}, {0, 0, 0}, {0, -1, 0}};
    for (size_t count : {4, 3}) {
        const Result r = smoothNormals(m, {3, 3, -1, 3}, {1, 0, kNaN, 0}, {0, 0.5f, kNaN, 0}, kAligned, count);
        for (size_t i = 0; i < count; ++i)
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(near(r.p3.c[k][i], want[i][k], 1.0, 4e-7)) << count << "," << i;
        EXPECT_EQ(floatBits(r.p3.c[0][2]) | floatBits(r.p3.c[1][2]) | floatBits(r.p3.c[2][2]), 0u);
    }
}

TEST(SurfSmoothNormal, SquaredLengthAtTheEpsilonIsZeroOnlyOnThe4WidePath)
{
    // With u = 1 the normal is vertex 0's: for triangle 0 (2^-12, 2^-12, 0),
    // squared length exactly 2^-23; for triangle 1 (-2^-13, 0, 0), shorter.
    const Mesh m{{0x1p-12f, 0x1p-12f, 0, /**/ -0x1p-13f, 0, 0, /**/ 1, 1, 1}, {0, 2, 2, 0, /**/ 1, 2, 2, 0}};
    const std::vector<int32_t> tri = {0, 1, 0, 1};
    const Result fourWide = smoothNormals(m, tri, {1, 1, 1, 1}, {0, 0, 0, 0}, kAligned, 4);
    const Result scalar = smoothNormals(m, tri, {1, 1, 1, 1}, {0, 0, 0, 0}, kMisaligned, 4);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(fourWide.p3.c[k][0], 0.0f);
        EXPECT_TRUE(near(scalar.p3.c[k][0], k < 2 ? std::sqrt(0.5) : 0.0, 1.0, 1e-7));
        EXPECT_EQ(fourWide.p3.c[k][1], 0.0f);  // possibly -0
        EXPECT_EQ(floatBits(scalar.p3.c[k][1]), 0u);
    }
}

TEST(SurfSmoothNormal, RandomHitsMatchDoublePrecisionWithinEachPathsAccuracy)
{
    Rng rng(23);
    Mesh m{randomValues(rng, 120, -1.0f, 1.0f), {}};
    std::uniform_int_distribution<int32_t> vertex(0, 39);
    for (int t = 0; t < 10; ++t) m.index.insert(m.index.end(), {vertex(rng), vertex(rng), vertex(rng), -99});
    const size_t n = 1000;
    Packet uv{{randomValues(rng, n, 0.0f, 0.5f), randomValues(rng, n, 0.0f, 0.5f), {}}};
    const auto tri = randomMask(rng, n);
    const Result fourWide = smoothNormals(m, tri, uv.c[0], uv.c[1], kAligned, n);
    const Result scalar = smoothNormals(m, tri, uv.c[0], uv.c[1], kAligned, n - 1);
    for (size_t i = 0; i < n - 1; ++i) {
        double nd[3] = {0, 0, 0}, len = 0;
        if (tri[i] >= 0) {
            const double w[3] = {uv.c[0][i], uv.c[1][i], 1.0 - uv.c[0][i] - uv.c[1][i]};
            for (int k = 0; k < 3; ++k) {
                for (int c = 0; c < 3; ++c) nd[k] += w[c] * m.vertNormal[3 * m.index[4 * tri[i] + c] + k];
                len += nd[k] * nd[k];
            }
        }
        if (len > 0 && len < 1e-4) continue;  // too short for a meaningful direction
        // Rounding in the blend is relative to the vertex normals (length
        // about 1), so it grows as the blended normal gets shorter.
        const double scale = len > 0 ? 1.0 + 1.0 / std::sqrt(len) : 1.0;
        for (int k = 0; k < 3; ++k) {
            const double want = len > 0 ? nd[k] / std::sqrt(len) : 0.0;
            ASSERT_TRUE(near(fourWide.p3.c[k][i], want, scale, 6e-7)) << "4-wide ray " << i;
            ASSERT_TRUE(near(scalar.p3.c[k][i], want, scale, 3e-7)) << "scalar ray " << i;
            ASSERT_TRUE(tri[i] >= 0 || floatBits(fourWide.p3.c[k][i]) == 0u) << "4-wide miss " << i;
        }
    }
}
