// Masked per-ray arithmetic: worked cases, references in double precision
// (exact where one float operation is rounded once), inactive elements, and
// the agreement of the 4-wide and scalar paths.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "ray_packets.h"
#include "vekr.h"

using namespace vekr_test;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

// Shared random data; the inputs of inactive elements are NaN.
struct Data {
    Rng rng;
    size_t n = 1000;
    Packet a, b;
    std::vector<float> f, g;
    std::vector<int32_t> mask;
    explicit Data(uint32_t seed)
        : rng(seed), a(randomPacket(rng, n, -2.0f, 2.0f)), b(randomPacket(rng, n, -2.0f, 2.0f)),
          f(randomValues(rng, n, -3.0f, 3.0f)), g(randomValues(rng, n, 0.5f, 4.0f))
    {
        Packet fAsPacket{{f, f, f}};
        mask = randomMask(rng, n, {&a, &fAsPacket});
        f = fAsPacket.c[0];
    }
    double dot(size_t i) const
    {
        return double(a.c[0][i]) * b.c[0][i] + double(a.c[1][i]) * b.c[1][i] + double(a.c[2][i]) * b.c[2][i];
    }
};

}  // namespace

TEST(Dot, MatchesDoublePrecisionAndZeroesInactiveElementsOnIdenticalPaths)
{
    Data d(31);
    const Result r = expectIdenticalPaths(
        [&](size_t off, size_t n) {
            Planes3 A = planes(d.a, off), B = planes(d.b, off);
            auto m = array(d.mask, off);
            OffsetArray<float> out(n, off);
            EXPECT_EQ(vekrDot_32f_P3C1M(A.cp, B.cp, m.data(), out.data(), int32_t(n)), vekStsOk);
            return Result{{}, take(out), {}};
        },
        d.n);
    for (size_t i = 0; i < d.n; ++i) {
        ASSERT_TRUE(near(r.c1[i], d.mask[i] < 0 ? 0.0 : d.dot(i), 12.0, 2e-7)) << i;
        ASSERT_TRUE(d.mask[i] >= 0 || floatBits(r.c1[i]) == 0u) << "inactive " << i;
    }
}

TEST(DotChangeNorm, NormalsEndUpFacingAgainstTheirVectorsOnIdenticalPaths)
{
    Data d(32);
    // Vector +z against normals +z (turned), -z (kept), +x (d = 0: kept), and
    // a miss whose normal +z must stay.
    for (int k = 0; k < 3; ++k)
        for (size_t i = 0; i < 4; ++i) d.a.c[k][i] = k == 2, d.b.c[k][i] = float(k == 2) * (i == 1 ? -1 : 1);
    d.b.c[0][2] = 1, d.b.c[2][2] = 0;
    d.mask[0] = d.mask[1] = d.mask[2] = 0, d.mask[3] = -1;
    const Result r = expectIdenticalPaths(
        [&](size_t off, size_t n) {
            Planes3 V = planes(d.a, off), N = planes(d.b, off);
            auto m = array(d.mask, off);
            OffsetArray<float> dot(n, off);
            EXPECT_EQ(vekrDotChangeNorm_32f_IM(V.cp, m.data(), N.p, dot.data(), int32_t(n)), vekStsOk);
            return Result{take(N), take(dot), {}};
        },
        d.n);
    EXPECT_EQ(r.c1[0], -1.0f);
    EXPECT_EQ(r.p3.c[2][0], -1.0f);
    EXPECT_EQ(r.p3.c[2][3], 1.0f);
    int flipped = 0;
    for (size_t i = 0; i < d.n; ++i) {
        const bool flip = d.mask[i] >= 0 && d.dot(i) > 0;
        flipped += flip;
        ASSERT_TRUE(near(r.c1[i], d.mask[i] < 0 ? 0.0 : -std::fabs(d.dot(i)), 12.0, 2e-7)) << i;
        if (std::fabs(d.dot(i)) < 1e-5) continue;  // sign too close to call
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(floatBits(r.p3.c[k][i]), floatBits(flip ? -d.b.c[k][i] : d.b.c[k][i])) << i;
    }
    EXPECT_GT(flipped, 200);
}

TEST(Mul, ScalesActiveElementsExactlyAndZeroesInactiveOnes)
{
    Data d(33);
    // A float product rounded once: the double product rounded to float.
    auto want = [&](size_t i, float value) { return d.mask[i] < 0 ? 0.0f : float(double(value) * d.g[i]); };
    for (size_t off : {kAligned, kMisaligned}) {
        auto m = array(d.mask, off);
        auto factor = array(d.g, off);
        auto values = array(d.f, off);
        ASSERT_EQ(vekrMul_32f_C1IM(factor.data(), m.data(), values.data(), int32_t(d.n)), vekStsOk);
        const auto got = take(values);
        for (size_t i = 0; i < d.n; ++i) ASSERT_EQ(floatBits(got[i]), floatBits(want(i, d.f[i]))) << i;
    }
    const Result r = expectIdenticalPaths(
        [&](size_t off, size_t n) {
            auto m = array(d.mask, off);
            auto factor = array(d.g, off);
            Planes3 values = planes(d.a, off);
            EXPECT_EQ(vekrMul_32f_C1P3IM(factor.data(), m.data(), values.p, int32_t(n)), vekStsOk);
            return Result{take(values), {}, {}};
        },
        d.n);
    for (size_t i = 0; i < d.n; ++i)
        for (int k = 0; k < 3; ++k) ASSERT_EQ(floatBits(r.p3.c[k][i]), floatBits(want(i, d.a.c[k][i]))) << i;
}

TEST(Div, ZeroDivisorsGiveSignedInfinityOrTheFixedNaNAndInactiveElementsZero)
{
    const std::vector<float> value = {6, 6, -6, 0, kNaN, 5, -0.0f, 7, 1, 9, 1};
    const std::vector<float> divisor = {3, 0, 0, 0, 0, -0.0f, 0, kNaN, 0, 0, 3};
    const std::vector<int32_t> mask = {0, 0, 0, 0, 0, 0, 0, 0, -1, -5, 0};
    const uint32_t nan = 0xFFC00000u;
    const std::vector<uint32_t> want = {floatBits(2.0f), floatBits(kInf), floatBits(-kInf), nan, nan,
                                        floatBits(kInf), nan, 0, 0, 0, floatBits(float(1.0 / 3.0))};
    auto m = array(mask, kMisaligned);
    auto div = array(divisor, kMisaligned);
    auto values = array(value, kMisaligned);
    ASSERT_EQ(vekrDiv_32f_C1IM(div.data(), m.data(), values.data(), int32_t(value.size())), vekStsOk);
    const auto got = take(values);
    for (size_t i = 0; i < value.size(); ++i) {
        if (i == 7)
            EXPECT_TRUE(std::isnan(got[i]));  // a NaN divisor is divided by
        else
            EXPECT_EQ(floatBits(got[i]), want[i]) << "element " << i;
    }
}

TEST(AddMulMul, AccumulatesActiveElementsAndLeavesInactiveOnesOnEveryPath)
{
    Data d(35);
    const float constant[3] = {0.5f, -1.25f, 3.0f};
    const Packet acc = randomPacket(d.rng, d.n, -1.0f, 1.0f);
    // All aligned (4-wide), then the source planes alone misaligned and then
    // all but the source misaligned (scalar both).
    for (size_t srcOff : {kAligned, kMisaligned})
        for (size_t off : {kAligned, kMisaligned}) {
            if (srcOff == kMisaligned && off == kMisaligned) continue;
            Planes3 S = planes(d.a, srcOff), Acc = planes(acc, off);
            auto m = array(d.mask, off);
            auto factor = array(d.f, off);
            ASSERT_EQ(vekrAddMulMul_32f_AC1P3IM(constant, factor.data(), S.cp, m.data(), Acc.p, int32_t(d.n)),
                      vekStsOk);
            const Packet got = take(Acc);
            for (size_t i = 0; i < d.n; ++i)
                for (int k = 0; k < 3; ++k) {
                    if (d.mask[i] < 0) {
                        ASSERT_EQ(floatBits(got.c[k][i]), floatBits(acc.c[k][i])) << i;
                        continue;
                    }
                    const double want = acc.c[k][i] + double(d.a.c[k][i]) * constant[k] * d.f[i];
                    ASSERT_TRUE(near(got.c[k][i], want, 20.0, 2e-7)) << "offsets " << srcOff << off << " at " << i;
                }
        }
}

TEST(DistAttenuation, DistanceNeverBelowOneAndOneForMissesOnIdenticalPaths)
{
    Data d(36);
    const float light[3] = {0.25f, -0.5f, 1.0f};
    // Points at distance 0.5, 3 and exactly 1 from the light.
    const float offsets[3][3] = {{0.5f, 0, 0}, {0, 3, 0}, {0, 0, 1}};
    for (size_t i = 0; i < 3; ++i) {
        d.mask[i] = 0;
        for (int k = 0; k < 3; ++k) d.b.c[k][i] = light[k] + offsets[i][k];
    }
    const Result r = expectIdenticalPaths(
        [&](size_t off, size_t n) {
            Planes3 P = planes(d.b, off);
            auto m = array(d.mask, off);
            OffsetArray<float> out(n, off);
            EXPECT_EQ(vekrDistAttenuationSO_32f_M(light, P.cp, m.data(), out.data(), int32_t(n)), vekStsOk);
            return Result{{}, take(out), {}};
        },
        d.n);
    EXPECT_EQ(r.c1[0], 1.0f);
    EXPECT_EQ(r.c1[1], 3.0f);
    EXPECT_EQ(r.c1[2], 1.0f);
    int clamped = 0;
    for (size_t i = 0; i < d.n; ++i) {
        double q = 0;
        for (int k = 0; k < 3; ++k) q += (double(d.b.c[k][i]) - light[k]) * (double(d.b.c[k][i]) - light[k]);
        clamped += d.mask[i] >= 0 && q < 1.0;
        ASSERT_TRUE(near(r.c1[i], d.mask[i] < 0 || q <= 1.0 ? 1.0 : std::sqrt(q), 4.0, 2e-7)) << i;
    }
    EXPECT_GT(clamped, 5);
}

TEST(DistAttenuation, NaNDistanceGivesOneOn4WidePathAndNaNOnScalarPath)
{
    const float light[3] = {0, 0, 0};
    const Packet pts{{{kNaN, 2, 2, 2}, {0, 0, 0, 0}, {0, 0, 0, 0}}};
    for (size_t off : {kAligned, kMisaligned}) {
        Planes3 P = planes(pts, off);
        auto m = array(std::vector<int32_t>{0, 0, 0, 0}, off);
        OffsetArray<float> out(4, off);
        ASSERT_EQ(vekrDistAttenuationSO_32f_M(light, P.cp, m.data(), out.data(), 4), vekStsOk);
        EXPECT_EQ(std::isnan(out[0]), off == kMisaligned);
        EXPECT_EQ(out[0] == 1.0f, off == kAligned);
        EXPECT_EQ(out[3], 2.0f);
    }
}
