// Hit points and flat and smooth normals: worked cases, double-precision
// references, and where the 4-wide path must or may differ from the scalar
// one.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "ray_packets.h"
#include "vekr.h"

using namespace vekr_test;

namespace {

// Rays with both hit-point exports run over the same data.
struct HitRays {
    Packet origin, dir;
    std::vector<float> dist;
    std::vector<int32_t> tri;
};

HitRays randomHitRays(Rng& rng, size_t n)
{
    HitRays r{randomPacket(rng, n, -10.0f, 10.0f), randomPacket(rng, n, -1.0f, 1.0f),
              randomValues(rng, n, 0.0f, 50.0f), randomMask(rng, n)};
    poisonInactive(r.dir, r.tri);
    return r;
}

// Runs the single-origin export (origin taken from ray 0's origin) or the
// per-ray one over the first `count` rays.
Packet hitPoints(const HitRays& r, bool perRay, int32_t count, size_t offset, float eps)
{
    Planes3 O = planes(r.origin, offset), D = planes(r.dir, offset), H = emptyPlanes(count, offset);
    auto dist = array(r.dist, offset);
    auto tri = array(r.tri, offset);
    const float shared[3] = {r.origin.c[0][0], r.origin.c[1][0], r.origin.c[2][0]};
    const VekStatus st = perRay ? vekrHitPoint3DEpsM0_32f_M(O.cp, D.cp, dist.data(), tri.data(), H.p, count, eps)
                                : vekrHitPoint3DEpsS0_32f_M(shared, D.cp, dist.data(), tri.data(), H.p, count, eps);
    EXPECT_EQ(st, vekStsOk);
    EXPECT_TRUE(guardsIntact(H));
    Packet out;
    for (int k = 0; k < 3; ++k) out.c[k] = H[k].copy();
    return out;
}

}  // namespace

TEST(HitPoint, WorkedRayAndMissOnBothPathsOfBothExports)
{
    // Ray 1 is the worked ray; rays 0, 2 and 3 miss.
    HitRays r{{{{9, 1, 9, 9}, {9, 2, 9, 9}, {9, 3, 9, 9}}}, {{{0, 0, 0, 0}, {0, 0, 0, 0}, {2, 2, 2, 2}}},
              {5, 5, 5, 5}, {-1, 0, -1, -1}};
    for (bool perRay : {false, true})
        for (int32_t count : {4, 3}) {
            r.origin.c[0][0] = perRay ? 9.0f : 1.0f;  // the shared origin is ray 0's
            r.origin.c[1][0] = perRay ? 9.0f : 2.0f;
            r.origin.c[2][0] = perRay ? 9.0f : 3.0f;
            const Packet h = hitPoints(r, perRay, count, kAligned, 1.0f);
            for (int k = 0; k < 3; ++k)
                for (int32_t i = 0; i < count; ++i)
                    EXPECT_EQ(h.c[k][i], i == 1 ? float(k == 2 ? 13 : k + 1) : 0.0f)
                        << (perRay ? "per-ray" : "shared") << " count " << count << " ray " << i;
        }
}

TEST(HitPoint, RandomRaysMatchDoublePrecisionOnBothPaths)
{
    Rng rng(21);
    const size_t n = 1000;
    const HitRays r = randomHitRays(rng, n);
    const float eps = 0.999f;
    for (bool perRay : {false, true}) {
        const Packet fourWide = hitPoints(r, perRay, n, kAligned, eps);
        const Packet scalar = hitPoints(r, perRay, n, kMisaligned, eps);
        for (size_t i = 0; i < n; ++i)
            for (int k = 0; k < 3; ++k) {
                const double origin = perRay ? r.origin.c[k][i] : r.origin.c[k][0];
                const double want = r.tri[i] < 0 ? 0.0 : origin + double(r.dir.c[k][i]) * r.dist[i] * eps;
                ASSERT_TRUE(near(fourWide.c[k][i], want, 60.0, 2e-7)) << "4-wide ray " << i;
                ASSERT_TRUE(near(scalar.c[k][i], want, 60.0, 2e-7)) << "scalar ray " << i;
                if (r.tri[i] < 0) {
                    ASSERT_EQ(floatBits(fourWide.c[k][i]), 0u);
                    ASSERT_EQ(floatBits(scalar.c[k][i]), 0u);
                }
            }
    }
}

namespace {

// A small mesh: per-triangle normals, per-vertex normals and index records of
// four entries (three vertex numbers and a spare).
struct Mesh {
    std::vector<float> triNormal, vertNormal;
    std::vector<int32_t> index;
    static constexpr int32_t kStride = 4;
};

Mesh randomMesh(Rng& rng, int32_t triangles, int32_t vertices)
{
    Mesh m;
    m.triNormal = randomValues(rng, 3 * triangles, -1.0f, 1.0f);
    m.vertNormal = randomValues(rng, 3 * vertices, -1.0f, 1.0f);
    std::uniform_int_distribution<int32_t> v(0, vertices - 1);
    for (int32_t t = 0; t < triangles; ++t) m.index.insert(m.index.end(), {v(rng), v(rng), v(rng), -99});
    return m;
}

struct Shading {
    std::vector<int32_t> tri;
    std::vector<float> u, v;
};

Packet smoothNormals(const Mesh& m, const Shading& s, int32_t count, size_t offset)
{
    auto vn = array(m.vertNormal, offset);
    auto index = array(m.index, offset);
    auto tri = array(s.tri, offset);
    auto u = array(s.u, offset), v = array(s.v, offset);
    const float* uv[2] = {u.data(), v.data()};
    Planes3 out = emptyPlanes(count, offset);
    EXPECT_EQ(vekrSurfSmoothNormal_32f(vn.data(), index.data(), tri.data(), uv, out.p, count, Mesh::kStride),
              vekStsOk);
    EXPECT_TRUE(guardsIntact(out));
    Packet r;
    for (int k = 0; k < 3; ++k) r.c[k] = out[k].copy();
    return r;
}

Packet flatNormals(const Mesh& m, const std::vector<int32_t>& tri, int32_t count, size_t offset)
{
    auto tn = array(m.triNormal, offset);
    auto t = array(tri, offset);
    Planes3 out = emptyPlanes(count, offset);
    EXPECT_EQ(vekrSurfFlatNormal_32f(tn.data(), t.data(), out.p, count), vekStsOk);
    EXPECT_TRUE(guardsIntact(out));
    Packet r;
    for (int k = 0; k < 3; ++k) r.c[k] = out[k].copy();
    return r;
}

}  // namespace

TEST(SurfFlatNormal, CopiesTheTriangleNormalBitForBitOnBothPaths)
{
    Rng rng(22);
    Mesh m = randomMesh(rng, 16, 4);
    m.triNormal[6] = bitsFloat(0x7FA00001u);  // a signalling NaN must come through as it is
    m.triNormal[7] = -0.0f;
    m.triNormal[8] = 123.0f;  // no normalisation
    const size_t n = 400;
    auto tri = randomMask(rng, n);
    tri[0] = 2;
    const Packet fourWide = flatNormals(m, tri, n, kAligned);
    const Packet scalar = flatNormals(m, tri, n - 1, kAligned);
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            const uint32_t want = tri[i] < 0 ? 0u : floatBits(m.triNormal[3 * tri[i] + k]);
            ASSERT_EQ(floatBits(fourWide.c[k][i]), want) << "ray " << i;
            if (i < n - 1) {
                ASSERT_EQ(floatBits(scalar.c[k][i]), want) << "ray " << i;
            }
        }
}

TEST(SurfSmoothNormal, WorkedCasesOnBothPaths)
{
    // Triangle 3 has its vertex numbers at index entries 12, 13, 14.
    Mesh m;
    m.vertNormal = {3, 0, 4,  /**/ 0, 2, 0, /**/ 0, -2, 0, /**/ 0, 0, 7};
    m.index.assign(4 * Mesh::kStride, -99);
    m.index[12] = 0;
    m.index[13] = 1;
    m.index[14] = 2;
    // Ray 0: u = 1 gives vertex 0's normal, normalised. Ray 1: vertices 1 and
    // 2 cancel. Ray 2 misses. Ray 3: u = v = 0 gives vertex 2, normalised.
    const Shading s = {{3, 3, -1, 3}, {1.0f, 0.0f, 0.3f, 0.0f}, {0.0f, 0.5f, 0.3f, 0.0f}};
    for (int32_t count : {4, 3}) {
        const Packet r = smoothNormals(m, s, count, kAligned);
        const float want[4][3] = {{0.6f, 0.0f, 0.8f}, {0, 0, 0}, {0, 0, 0}, {0, -1, 0}};
        for (int32_t i = 0; i < count; ++i)
            for (int k = 0; k < 3; ++k)
                EXPECT_TRUE(near(r.c[k][i], want[i][k], 1.0, 4e-7)) << "count " << count << " ray " << i;
        EXPECT_EQ(floatBits(r.c[0][2]) | floatBits(r.c[1][2]) | floatBits(r.c[2][2]), 0u);
    }
}

TEST(SurfSmoothNormal, SquaredLengthAtTheEpsilonIsZeroOnlyOnThe4WidePath)
{
    // n = (2^-12, 2^-12, 0): squared length exactly 2^-23. Ray 1 is shorter
    // still, with a negative component.
    Mesh m;
    m.vertNormal = {0x1p-12f, 0x1p-12f, 0.0f, /**/ -0x1p-13f, 0.0f, 0.0f, /**/ 1.0f, 1.0f, 1.0f};
    m.index = {0, 2, 2, 0, /**/ 1, 2, 2, 0};
    const Shading s = {{0, 1, 0, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}};
    const Packet fourWide = smoothNormals(m, s, 4, kAligned);
    const Packet scalar = smoothNormals(m, s, 4, kMisaligned);
    EXPECT_EQ(fourWide.c[0][0], 0.0f);
    EXPECT_EQ(fourWide.c[1][0], 0.0f);
    EXPECT_TRUE(near(scalar.c[0][0], std::sqrt(0.5), 1.0, 1e-7));
    EXPECT_TRUE(near(scalar.c[1][0], std::sqrt(0.5), 1.0, 1e-7));
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(fourWide.c[k][1], 0.0f);  // possibly -0
        EXPECT_EQ(floatBits(scalar.c[k][1]), 0u);
    }
}

TEST(SurfSmoothNormal, RandomHitsMatchDoublePrecisionWithinEachPathsAccuracy)
{
    Rng rng(23);
    const Mesh m = randomMesh(rng, 10, 40);
    const size_t n = 1000;
    Shading s{randomMask(rng, n), randomValues(rng, n, 0.0f, 0.5f), randomValues(rng, n, 0.0f, 0.5f)};
    for (size_t i = 0; i < n; ++i)
        if (s.tri[i] < 0) s.u[i] = s.v[i] = std::numeric_limits<float>::quiet_NaN();
    const Packet fourWide = smoothNormals(m, s, n, kAligned);
    const Packet scalar = smoothNormals(m, s, n - 1, kAligned);
    for (size_t i = 0; i < n; ++i) {
        double nd[3] = {0, 0, 0}, len = 0;
        if (s.tri[i] >= 0) {
            const int32_t* vtx = &m.index[s.tri[i] * Mesh::kStride];
            const double w[3] = {s.u[i], s.v[i], 1.0 - s.u[i] - s.v[i]};
            for (int k = 0; k < 3; ++k) {
                for (int c = 0; c < 3; ++c) nd[k] += w[c] * m.vertNormal[3 * vtx[c] + k];
                len += nd[k] * nd[k];
            }
        }
        if (len > 0 && len < 1e-4) continue;  // too short for a meaningful direction
        // Rounding in the blend is relative to the vertex normals (length
        // about 1), so it grows as the blended normal gets shorter.
        const double scale = len > 0 ? 1.0 + 1.0 / std::sqrt(len) : 1.0;
        for (int k = 0; k < 3; ++k) {
            const double want = len > 0 ? nd[k] / std::sqrt(len) : 0.0;
            ASSERT_TRUE(near(fourWide.c[k][i], want, scale, 6e-7)) << "4-wide ray " << i;
            if (i < n - 1) {
                ASSERT_TRUE(near(scalar.c[k][i], want, scale, 3e-7)) << "scalar ray " << i;
            }
            if (s.tri[i] < 0) {
                ASSERT_EQ(floatBits(fourWide.c[k][i]), 0u);
            }
        }
    }
}
