#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "support/random_scene.h"
#include "support/test_buffers.h"
#include "vekr.h"

using vekr_test::TriangleSoup;
using vekr_test::Vec3;

namespace {

// The record as its definition reads: projection table, det = +-N[k], every
// field from double values and rounded once.
VekrTriangleAccel referenceRecord(const Vec3& a, const Vec3& b, const Vec3& c)
{
    double e1[3], e2[3];
    for (int i = 0; i < 3; ++i) {
        e1[i] = double(a[i]) - double(c[i]);
        e2[i] = double(b[i]) - double(c[i]);
    }
    const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    const double ax = std::fabs(n[0]), ay = std::fabs(n[1]), az = std::fabs(n[2]);
    const int k = (az > std::max(ax, ay)) ? 2 : (ay > ax ? 1 : 0);
    VekrTriangleAccel r{};
    if (n[k] == 0.0) return r;
    const int u = k == 0 ? 1 : 0;
    const int v = k == 2 ? 1 : 2;
    const double det = k == 1 ? -n[k] : n[k];
    const double tiny = std::ldexp(1.0, -52);
    const bool along = std::fabs(n[u]) < tiny && std::fabs(n[v]) < tiny;
    r.axes = (k << 4) | (u << 2) | v | (along ? INT32_MIN : 0);
    r.nu = along ? 0.0f : float(n[u] * (1.0 / n[k]));
    r.nv = along ? 0.0f : float(n[v] * (1.0 / n[k]));
    r.pk = c[k];
    r.pu = c[u];
    r.pv = c[v];
    r.e2u = float(e2[u] * (1.0 / det));
    r.e2v = float(e2[v] * (1.0 / det));
    r.e1u = float(e1[u] * (1.0 / det));
    r.e1v = float(e1[v] * (1.0 / det));
    return r;
}

std::vector<VekrTriangleAccel> initRecords(const TriangleSoup& s)
{
    std::vector<VekrTriangleAccel> rec(s.triangleCount());
    EXPECT_EQ(vekrTriangleAccelInit(rec.data(), s.vertices.data(), s.triangles.data(), s.triangleCount()), vekStsOk);
    return rec;
}

VekrTriangleAccel recordOf(const Vec3& a, const Vec3& b, const Vec3& c)
{
    TriangleSoup s;
    s.addTriangle(a, b, c);
    return initRecords(s)[0];
}

bool sameBits(const VekrTriangleAccel& x, const VekrTriangleAccel& y)
{
    return std::memcmp(&x, &y, sizeof x) == 0;
}

// Barycentric weights of point p read from a record, as the intersection
// code uses them.
std::array<double, 3> weights(const VekrTriangleAccel& r, const Vec3& p)
{
    const int u = (r.axes >> 2) & 3, v = r.axes & 3;
    const double hu = double(p[u]) - r.pu, hv = double(p[v]) - r.pv;
    const double w0 = double(r.e2v) * hu - double(r.e2u) * hv;
    const double w1 = double(r.e1u) * hv - double(r.e1v) * hu;
    return {w0, w1, 1.0 - w0 - w1};
}

}  // namespace

TEST(TriangleAccel, WorkedExampleAlongY)
{
    const Vec3 a = {0, 0, 0}, b = {0, 0, 1}, c = {1, 0, 0};
    const VekrTriangleAccel r = recordOf(a, b, c);
    EXPECT_EQ(static_cast<uint32_t>(r.axes), 0x80000012u);
    const float expected[9] = {0, 0, 0, 1, 0, 1, -1, 1, 0};  // nu pk nv pu pv e2u e2v e1u e1v
    const float got[9] = {r.nu, r.pk, r.nv, r.pu, r.pv, r.e2u, r.e2v, r.e1u, r.e1v};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(got[i], expected[i]) << "word " << i + 1;
    EXPECT_EQ(weights(r, a), (std::array<double, 3>{1, 0, 0}));
    EXPECT_EQ(weights(r, b), (std::array<double, 3>{0, 1, 0}));
}

TEST(TriangleAccel, DegenerateTrianglesGetTenZeroWordsAndOthersFollow)
{
    TriangleSoup s;
    s.addTriangle({1, 2, 3}, {1, 2, 3}, {4, 5, 6});  // repeated vertex
    s.addTriangle({0, 0, 0}, {1, 1, 1}, {3, 3, 3});  // collinear
    s.addTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    std::vector<VekrTriangleAccel> rec(3);
    std::memset(rec.data(), 0x5A, sizeof(VekrTriangleAccel) * 3);
    ASSERT_EQ(vekrTriangleAccelInit(rec.data(), s.vertices.data(), s.triangles.data(), 3), vekStsOk);
    const VekrTriangleAccel zero{};
    EXPECT_TRUE(sameBits(rec[0], zero));
    EXPECT_TRUE(sameBits(rec[1], zero));
    EXPECT_EQ(static_cast<uint32_t>(rec[2].axes), 0x80000021u);  // plane z = 0: k = 2, u = 0, v = 1
}

// The largest |N| component picks k, ties going to the lower axis. The
// along-axis flag compares the unnormalised other components with 2^-52:
// the size of the triangle matters, not the ratio of the components.
TEST(TriangleAccel, AxesWordAndPlaneTerms)
{
    struct Case {
        Vec3 e1, e2;  // C at the origin, A = e1, B = e2
        uint32_t axes;
        float nu, nv;
    };
    const Case cases[] = {
        {{1, -1, 0}, {0, 0, 1}, 0x06, 1.0f, 0.0f},   // N = (-1, -1, 0)
        {{1, -1, 0}, {0, 1, -1}, 0x06, 1.0f, 1.0f},  // N = (1, 1, 1)
        {{2, -1, 0}, {2, 0, -1}, 0x12, 0.5f, 1.0f},  // N = (1, 2, 2)
        {{1, 0, 0}, {0, 1, 1e-17f}, 0x80000021u, 0.0f, 0.0f},        // N.y = -1e-17
        {{1, 0, 0}, {0, 1, 1e-15f}, 0x21, 0.0f, -1e-15f},            // N.y = -1e-15
        {{1e-10f, 0, 0}, {0, 1e-10f, 1e-18f}, 0x80000021u, 0.0f, 0.0f},  // ratio 1e-8, but N.y = -1e-28
        {{1e10f, 0, 0}, {0, 1e10f, 1e-7f}, 0x21, 0.0f, float(-1e10 * double(1e-7f) / (1e10 * 1e10))},
    };
    for (const Case& c : cases) {
        const VekrTriangleAccel r = recordOf(c.e1, c.e2, {0, 0, 0});
        EXPECT_EQ(static_cast<uint32_t>(r.axes), c.axes);
        EXPECT_EQ(r.nu, c.nu);
        EXPECT_EQ(r.nv, c.nv);
    }
}

TEST(TriangleAccel, SizeQueryAndCountBelowOne)
{
    int32_t size = 0;
    EXPECT_EQ(vekrTriangleAccelGetSize(&size), vekStsOk);
    EXPECT_EQ(size, 40);
    EXPECT_EQ(vekrTriangleAccelGetSize(nullptr), vekStsNullPtrErr);
    // A count below 1 writes nothing.
    TriangleSoup s;
    s.addTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    for (int32_t count : {0, -1, INT32_MIN}) {
        VekrTriangleAccel r;
        std::memset(&r, 0x5A, sizeof r);
        const VekrTriangleAccel before = r;
        EXPECT_EQ(vekrTriangleAccelInit(&r, s.vertices.data(), s.triangles.data(), count), vekStsOk);
        EXPECT_TRUE(sameBits(r, before));
    }
    EXPECT_EQ(vekrTriangleAccelInit(nullptr, nullptr, nullptr, 0), vekStsOk);
}

// Every field from double values rounded once, as the record is defined;
// and what the records are for: the weights read back 1 at their own vertex
// and the plane terms put all three vertices on one plane.
TEST(TriangleAccel, RandomRecordsMatchTheDefinitionAndReproduceTheirTriangle)
{
    const TriangleSoup s = vekr_test::randomTriangles(20261205, 4000);
    const auto rec = initRecords(s);
    for (int32_t j = 0; j < s.triangleCount(); ++j) {
        const int32_t* t = &s.triangles[4 * j];
        const VekrTriangleAccel& r = rec[j];
        ASSERT_TRUE(sameBits(r, referenceRecord(s.vertex(t[0]), s.vertex(t[1]), s.vertex(t[2])))) << "triangle " << j;
        if (j % 5 == 4) continue;  // slivers: weights are ill-conditioned there
        const int k = (r.axes >> 4) & 3, u = (r.axes >> 2) & 3, v = r.axes & 3;
        const Vec3 c = s.vertex(t[2]);
        double size = 0;  // largest coordinate offset of a vertex from C
        for (int i = 0; i < 2; ++i)
            for (int q = 0; q < 3; ++q) size = std::max(size, std::fabs(double(s.vertex(t[i])[q]) - c[q]));
        for (int i = 0; i < 3; ++i) {
            const Vec3 p = s.vertex(t[i]);
            const auto w = weights(r, p);
            for (int q = 0; q < 3; ++q) ASSERT_NEAR(w[q], q == i ? 1.0 : 0.0, 1e-3) << "triangle " << j;
            const double plane = (p[k] - double(r.pk)) + r.nu * (p[u] - double(r.pu)) + r.nv * (p[v] - double(r.pv));
            ASSERT_NEAR(plane, 0.0, 1e-5 * size) << "triangle " << j;
        }
    }
}
