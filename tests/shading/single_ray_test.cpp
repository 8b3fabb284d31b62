// Every ray export on the smallest packets: one ray (always the one-at-a-time
// path) and four identical rays (the 4-wide path, on aligned planes), with a
// mask or triangle entry of 0, which is an active ray like any other
// non-negative entry. Each case is worked by hand.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

#include "vekr.h"

namespace {

// Four-lane aligned storage: the planes of a packet of up to four rays.
struct alignas(16) Lanes {
    float v[4];
};
struct alignas(16) MaskLanes {
    int32_t v[4];
};
struct Planes {
    Lanes c[3];
    float* p[3] = {c[0].v, c[1].v, c[2].v};
    const float* cp[3] = {c[0].v, c[1].v, c[2].v};
    explicit Planes(float x = 0, float y = 0, float z = 0)
    {
        for (int i = 0; i < 4; ++i) c[0].v[i] = x, c[1].v[i] = y, c[2].v[i] = z;
    }
};
Lanes fill(float x) { return {{x, x, x, x}}; }
MaskLanes maskOf(int32_t m) { return {{m, m, m, m}}; }

void expectPlanes(const Planes& p, int n, float x, float y, float z, float tol, const std::string& what)
{
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(p.c[0].v[i], x, tol) << what << " ray " << i;
        EXPECT_NEAR(p.c[1].v[i], y, tol) << what << " ray " << i;
        EXPECT_NEAR(p.c[2].v[i], z, tol) << what << " ray " << i;
    }
}
void expectLanes(const Lanes& l, int n, float want, float tol, const std::string& what)
{
    for (int i = 0; i < n; ++i) EXPECT_NEAR(l.v[i], want, tol) << what << " ray " << i;
}

struct Case {
    const char* name;
    std::function<void(int n)> run;
};

}  // namespace

TEST(SingleRay, EveryRayExportComputesOneOrFourActiveRaysWithEntryZero)
{
    const Case cases[] = {
        {"reflection: (1,-1,0) off the plane y=0 leaves as (1,1,0)",
         [](int n) {
             Planes in(1, -1, 0), nrm(0, 1, 0), out(9, 9, 9);
             MaskLanes m = maskOf(0);
             ASSERT_EQ(vekrCastReflectionRay_32f(in.cp, m.v, nrm.cp, out.p, n), vekStsOk);
             expectPlanes(out, n, 1, 1, 0, 0, "reflection");
         }},
        {"shadow: light 10 above a floor point, lit side, is cast",
         [](int n) {
             const float light[3] = {0, 10, 0};
             Lanes side = fill(-1.0f), dot = fill(9);
             Planes nrm(0, 1, 0), hit(0, 0, 0), dir(9, 9, 9);
             MaskLanes m = maskOf(0);
             ASSERT_EQ(vekrCastShadowSO_32f(light, side.v, nrm.cp, hit.cp, m.v, dot.v, dir.p, n), vekStsOk);
             expectLanes(dot, n, 10.0f, 0, "shadow dot");
             expectPlanes(dir, n, 0, -10, 0, 0, "shadow direction");
             for (int i = 0; i < n; ++i) EXPECT_EQ(m.v[i], 0) << "a cast ray keeps its entry";
         }},
        {"hit point, shared and per-ray origin: (1,2,3) + (0,0,2) * 5 * 0.5",
         [](int n) {
             const float origin[3] = {1, 2, 3};
             Planes org(1, 2, 3), dir(0, 0, 2), h1(9, 9, 9), h2(9, 9, 9);
             Lanes dist = fill(5.0f);
             MaskLanes tri = maskOf(0);
             ASSERT_EQ(vekrHitPoint3DEpsS0_32f_M(origin, dir.cp, dist.v, tri.v, h1.p, n, 0.5f), vekStsOk);
             ASSERT_EQ(vekrHitPoint3DEpsM0_32f_M(org.cp, dir.cp, dist.v, tri.v, h2.p, n, 0.5f), vekStsOk);
             expectPlanes(h1, n, 1, 2, 8, 0, "shared origin");
             expectPlanes(h2, n, 1, 2, 8, 0, "per-ray origin");
         }},
        {"flat normal of triangle 0 copied as it is",
         [](int n) {
             alignas(16) const float triNorm[4] = {0.5f, -2.0f, 3.0f, 0.0f};
             MaskLanes tri = maskOf(0);
             Planes out(9, 9, 9);
             ASSERT_EQ(vekrSurfFlatNormal_32f(triNorm, tri.v, out.p, n), vekStsOk);
             expectPlanes(out, n, 0.5f, -2.0f, 3.0f, 0, "flat normal");
         }},
        {"smooth normal at (u,v) = (1/4,1/4) of the three axes: (1,1,2)/sqrt(6)",
         [](int n) {
             alignas(16) const float vn[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
             alignas(16) const int32_t index[4] = {0, 1, 2, 0};
             MaskLanes tri = maskOf(0);
             Lanes u = fill(0.25f), v = fill(0.25f);
             const float* uv[2] = {u.v, v.v};
             Planes out(9, 9, 9);
             ASSERT_EQ(vekrSurfSmoothNormal_32f(vn, index, tri.v, uv, out.p, n, 4), vekStsOk);
             const float a = float(1.0 / std::sqrt(6.0));
             expectPlanes(out, n, a, a, 2 * a, 2e-6f, "smooth normal");
         }},
        {"dot product (1,2,3).(4,5,6) = 32",
         [](int n) {
             Planes a(1, 2, 3), b(4, 5, 6);
             MaskLanes m = maskOf(0);
             Lanes dst = fill(9);
             ASSERT_EQ(vekrDot_32f_P3C1M(a.cp, b.cp, m.v, dst.v, n), vekStsOk);
             expectLanes(dst, n, 32.0f, 0, "dot");
         }},
        {"a normal along its vector is turned round",
         [](int n) {
             Planes vec(0, 0, 1), nrm(0, 0, 2);
             MaskLanes m = maskOf(0);
             Lanes dot = fill(9);
             ASSERT_EQ(vekrDotChangeNorm_32f_IM(vec.cp, m.v, nrm.p, dot.v, n), vekStsOk);
             expectPlanes(nrm, n, 0, 0, -2, 0, "turned normal");
             expectLanes(dot, n, -2.0f, 0, "turned dot");
         }},
        {"products and quotient: 2*3, (1,2,3)*2, 6/3",
         [](int n) {
             Lanes three = fill(3), two = fill(2), prod = fill(2), quot = fill(6);
             Planes vec(1, 2, 3);
             MaskLanes m = maskOf(0);
             ASSERT_EQ(vekrMul_32f_C1IM(three.v, m.v, prod.v, n), vekStsOk);
             ASSERT_EQ(vekrMul_32f_C1P3IM(two.v, m.v, vec.p, n), vekStsOk);
             ASSERT_EQ(vekrDiv_32f_C1IM(three.v, m.v, quot.v, n), vekStsOk);
             expectLanes(prod, n, 6.0f, 0, "product");
             expectPlanes(vec, n, 2, 4, 6, 0, "scaled planes");
             expectLanes(quot, n, 2.0f, 0, "quotient");
         }},
        {"accumulation: 10 + (1,1,1) * (1,2,3) * 2",
         [](int n) {
             const float val[3] = {1, 2, 3};
             Lanes f = fill(2);
             Planes src(1, 1, 1), acc(10, 10, 10);
             MaskLanes m = maskOf(0);
             ASSERT_EQ(vekrAddMulMul_32f_AC1P3IM(val, f.v, src.cp, m.v, acc.p, n), vekStsOk);
             expectPlanes(acc, n, 12, 14, 16, 0, "accumulator");
         }},
        {"attenuation at distance 5 from the light",
         [](int n) {
             const float light[3] = {0, 0, 0};
             Planes pts(3, 4, 0);
             MaskLanes m = maskOf(0);
             Lanes dst = fill(9);
             ASSERT_EQ(vekrDistAttenuationSO_32f_M(light, pts.cp, m.v, dst.v, n), vekStsOk);
             expectLanes(dst, n, 5.0f, 0, "attenuation");
         }},
    };
    for (const Case& c : cases)
        for (int n : {1, 4}) {
            SCOPED_TRACE(std::string(c.name) + ", count " + std::to_string(n));
            c.run(n);
        }
}
