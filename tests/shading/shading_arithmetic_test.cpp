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

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Outputs {
    std::vector<float> c1;
    Packet p3;
};

Outputs collect(OffsetArray<float>* c1, Planes3* p3)
{
    Outputs o;
    if (c1) {
        EXPECT_TRUE(c1->guardsIntact());
        o.c1 = c1->copy();
    }
    if (p3) {
        EXPECT_TRUE(guardsIntact(*p3));
        for (int k = 0; k < 3; ++k) o.p3.c[k] = (*p3)[k].copy();
    }
    return o;
}

std::vector<uint32_t> bitsOf(const Outputs& o, size_t n)
{
    std::vector<uint32_t> bits;
    appendBits(bits, o.c1.data(), std::min(n, o.c1.size()));
    for (const auto& plane : o.p3.c) appendBits(bits, plane.data(), std::min(n, plane.size()));
    return bits;
}

// The same call over n elements aligned (4-wide), over n elements misaligned
// and over n - 1 elements aligned (both scalar) must agree bit for bit on
// the first n - 1 elements.
template <class Run>
Outputs expectIdenticalPaths(Run run, size_t n)
{
    const Outputs fourWide = run(kAligned, n);
    EXPECT_EQ(bitsOf(run(kMisaligned, n), n), bitsOf(fourWide, n));
    EXPECT_EQ(bitsOf(run(kAligned, n - 1), n - 1), bitsOf(fourWide, n - 1));
    return fourWide;
}

struct Data {
    Rng rng;
    size_t n = 1000;
    Packet a, b;
    std::vector<float> f, g;
    std::vector<int32_t> mask;
    explicit Data(uint32_t seed) : rng(seed)
    {
        a = randomPacket(rng, n, -2.0f, 2.0f);
        b = randomPacket(rng, n, -2.0f, 2.0f);
        f = randomValues(rng, n, -3.0f, 3.0f);
        g = randomValues(rng, n, 0.5f, 4.0f);
        mask = randomMask(rng, n);
        poisonInactive(a, mask);
        for (size_t i = 0; i < n; ++i)
            if (mask[i] < 0) f[i] = kNaN;
    }
};

}  // namespace

TEST(Dot, MatchesDoublePrecisionAndZeroesInactiveElementsOnIdenticalPaths)
{
    Data d(31);
    const Outputs r = expectIdenticalPaths(
        [&](size_t off, size_t n) {
            Planes3 A = planes(d.a, off), B = planes(d.b, off);
            auto m = array(d.mask, off);
            OffsetArray<float> out(n, off);
            EXPECT_EQ(vekrDot_32f_P3C1M(A.cp, B.cp, m.data(), out.data(), int32_t(n)), vekStsOk);
            return collect(&out, nullptr);
        },
        d.n);
    for (size_t i = 0; i < d.n; ++i) {
        double want = 0;
        for (int k = 0; k < 3; ++k) want += d.mask[i] < 0 ? 0.0 : double(d.a.c[k][i]) * d.b.c[k][i];
        ASSERT_TRUE(near(r.c1[i], want, 12.0, 2e-7)) << i;
        ASSERT_TRUE(d.mask[i] >= 0 || floatBits(r.c1[i]) == 0u) << "inactive " << i;
    }
}

TEST(DotChangeNorm, WorkedCasesOnBothPaths)
{
    // Normals +z, -z, +x (perpendicular: d = 0) and a miss, vector +z.
    const Packet vec{{{0, 0, 0, 0}, {0, 0, 0, 0}, {1, 1, 1, 1}}};
    const Packet nrm{{{0, 0, 1, 0}, {0, 0, 0, 0}, {1, -1, 0, 5}}};
    const std::vector<int32_t> mask = {0, 1, 2, -1};
    for (int32_t count : {4, 3}) {
        Planes3 V = planes(vec, kAligned), N = planes(nrm, kAligned);
        auto m = array(mask, kAligned);
        OffsetArray<float> dot(count);
        ASSERT_EQ(vekrDotChangeNorm_32f_IM(V.cp, m.data(), N.p, dot.data(), count), vekStsOk);
        const float wantDot[4] = {-1, -1, 0, 0};
        const float wantZ[4] = {-1, -1, 0, 5};
        for (int32_t i = 0; i < count; ++i) {
            EXPECT_EQ(dot[i], wantDot[i]) << "count " << count << " element " << i;
            EXPECT_EQ(N.z[i], wantZ[i]) << "count " << count << " element " << i;
        }
    }
}

TEST(DotChangeNorm, RandomNormalsEndUpFacingAgainstTheirVectorsOnIdenticalPaths)
{
    Data d(32);
    const Outputs r = expectIdenticalPaths(
        [&](size_t off, size_t n) {
            Planes3 V = planes(d.a, off), N = planes(d.b, off);
            auto m = array(d.mask, off);
            OffsetArray<float> dot(n, off);
            EXPECT_EQ(vekrDotChangeNorm_32f_IM(V.cp, m.data(), N.p, dot.data(), int32_t(n)), vekStsOk);
            return collect(&dot, &N);
        },
        d.n);
    int flipped = 0;
    for (size_t i = 0; i < d.n; ++i) {
        double dot = 0;
        for (int k = 0; k < 3; ++k) dot += double(d.a.c[k][i]) * d.b.c[k][i];
        const bool flip = d.mask[i] >= 0 && dot > 0;
        flipped += flip;
        if (d.mask[i] < 0) {
            ASSERT_EQ(floatBits(r.c1[i]), 0u) << i;
        } else {
            ASSERT_TRUE(near(r.c1[i], -std::fabs(dot), 12.0, 2e-7)) << i;
        }
        if (std::fabs(dot) < 1e-5) continue;  // sign too close to call
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(floatBits(r.p3.c[k][i]), floatBits(flip ? -d.b.c[k][i] : d.b.c[k][i])) << i;
    }
    EXPECT_GT(flipped, 200);
}

TEST(Mul, ScalesActiveElementsExactlyAndZeroesInactiveOnes)
{
    Data d(33);
    // The product of two floats rounded once: the double product rounded to
    // float is the exact expectation.
    auto want = [&](size_t i, float value) { return d.mask[i] < 0 ? 0.0f : float(double(value) * d.g[i]); };
    for (size_t off : {kAligned, kMisaligned}) {
        auto m = array(d.mask, off);
        auto factor = array(d.g, off);
        auto values = array(d.f, off);
        ASSERT_EQ(vekrMul_32f_C1IM(factor.data(), m.data(), values.data(), int32_t(d.n)), vekStsOk);
        EXPECT_TRUE(values.guardsIntact());
        for (size_t i = 0; i < d.n; ++i) ASSERT_EQ(floatBits(values[i]), floatBits(want(i, d.f[i]))) << i;
    }
    const Outputs r = expectIdenticalPaths(
        [&](size_t off, size_t n) {
            auto m = array(d.mask, off);
            auto factor = array(d.g, off);
            Planes3 values = planes(d.a, off);
            EXPECT_EQ(vekrMul_32f_C1P3IM(factor.data(), m.data(), values.p, int32_t(n)), vekStsOk);
            return collect(nullptr, &values);
        },
        d.n);
    for (size_t i = 0; i < d.n; ++i)
        for (int k = 0; k < 3; ++k) ASSERT_EQ(floatBits(r.p3.c[k][i]), floatBits(want(i, d.a.c[k][i]))) << i;
}

TEST(Div, ZeroDivisorsGiveSignedInfinityOrTheFixedNaNAndInactiveElementsZero)
{
    const std::vector<float> value = {6, 6, -6, 0, kNaN, 5, -0.0f, 7, 1, 9};
    const std::vector<float> divisor = {3, 0, 0, 0, 0, -0.0f, 0, kNaN, 0, 0};
    const std::vector<int32_t> mask = {0, 0, 0, 0, 0, 0, 0, 0, -1, -5};
    const std::vector<uint32_t> want = {floatBits(2.0f), floatBits(kInf),   floatBits(-kInf), 0xFFC00000u, 0xFFC00000u,
                                        floatBits(kInf), 0xFFC00000u,     0,                0,           0};
    auto m = array(mask, kAligned);
    auto div = array(divisor, kAligned);
    auto values = array(value, kAligned);
    ASSERT_EQ(vekrDiv_32f_C1IM(div.data(), m.data(), values.data(), int32_t(value.size())), vekStsOk);
    for (size_t i = 0; i < value.size(); ++i) {
        if (i == 7) {
            EXPECT_TRUE(std::isnan(values[i]));  // a NaN divisor is divided by
            continue;
        }
        EXPECT_EQ(floatBits(values[i]), want[i]) << "element " << i;
    }
}

TEST(Div, RandomQuotientsAreCorrectlyRounded)
{
    Data d(34);
    auto m = array(d.mask, kMisaligned);
    auto div = array(d.g, kMisaligned);
    auto values = array(d.f, kMisaligned);
    ASSERT_EQ(vekrDiv_32f_C1IM(div.data(), m.data(), values.data(), int32_t(d.n)), vekStsOk);
    for (size_t i = 0; i < d.n; ++i) {
        const float want = d.mask[i] < 0 ? 0.0f : float(double(d.f[i]) / d.g[i]);
        ASSERT_EQ(floatBits(values[i]), floatBits(want)) << i;
    }
}

TEST(AddMulMul, AccumulatesActiveElementsAndLeavesInactiveOnesOnEveryPath)
{
    Data d(35);
    const float constant[3] = {0.5f, -1.25f, 3.0f};
    Packet acc = randomPacket(d.rng, d.n, -1.0f, 1.0f);
    acc.c[1][9] = kNaN;  // an inactive accumulator keeps even a NaN
    // All aligned (4-wide); the source planes alone misaligned, and everything
    // misaligned (scalar).
    for (size_t srcOff : {kAligned, kMisaligned}) {
        for (size_t off : {kAligned, kMisaligned}) {
            if (srcOff == kMisaligned && off == kMisaligned) continue;
            Planes3 S = planes(d.a, srcOff), Acc = planes(acc, off);
            auto m = array(d.mask, off);
            auto factor = array(d.f, off);
            ASSERT_EQ(vekrAddMulMul_32f_AC1P3IM(constant, factor.data(), S.cp, m.data(), Acc.p, int32_t(d.n)),
                      vekStsOk);
            EXPECT_TRUE(guardsIntact(Acc));
            for (size_t i = 0; i < d.n; ++i)
                for (int k = 0; k < 3; ++k) {
                    if (d.mask[i] < 0) {
                        ASSERT_EQ(floatBits(Acc[k][i]), floatBits(acc.c[k][i])) << i;
                        continue;
                    }
                    const double want = acc.c[k][i] + double(d.a.c[k][i]) * constant[k] * d.f[i];
                    ASSERT_TRUE(near(Acc[k][i], want, 20.0, 2e-7)) << "source offset " << srcOff << " element " << i;
                }
        }
    }
}

TEST(DistAttenuation, DistanceNeverBelowOneAndOneForMisses)
{
    const float light[3] = {1.0f, 2.0f, 3.0f};
    // Distances 0.5, 3, exactly 1, a miss, then a NaN point.
    const Packet pts{{{1.5f, 1.0f, 1.0f, 50.0f, kNaN}, {2.0f, 5.0f, 2.0f, 50.0f, 2.0f}, {3.0f, 3.0f, 4.0f, 50.0f, 3.0f}}};
    const std::vector<int32_t> mask = {0, 0, 0, -1, 0};
    auto run = [&](int32_t count) {
        Planes3 P = planes(pts, kAligned);
        auto m = array(mask, kAligned);
        OffsetArray<float> out(count);
        EXPECT_EQ(vekrDistAttenuationSO_32f_M(light, P.cp, m.data(), out.data(), count), vekStsOk);
        return out.copy();
    };
    const auto fourWide = run(4);
    EXPECT_EQ(fourWide, (std::vector<float>{1.0f, 3.0f, 1.0f, 1.0f}));
    const auto scalar = run(5);
    EXPECT_EQ(std::vector<float>(scalar.begin(), scalar.begin() + 4), fourWide);
    EXPECT_TRUE(std::isnan(scalar[4]));  // the scalar path takes sqrt(NaN)...

    Packet nanGroup = pts;  // ...the 4-wide path gives 1.0 there
    for (int k = 0; k < 3; ++k) nanGroup.c[k].erase(nanGroup.c[k].begin());
    Planes3 P = planes(nanGroup, kAligned);
    auto m = array(std::vector<int32_t>{0, 0, 0, 0}, kAligned);
    OffsetArray<float> out(4);
    ASSERT_EQ(vekrDistAttenuationSO_32f_M(light, P.cp, m.data(), out.data(), 4), vekStsOk);
    EXPECT_EQ(out[3], 1.0f);
}

TEST(DistAttenuation, RandomPointsMatchDoublePrecisionOnIdenticalPaths)
{
    Data d(36);
    const float light[3] = {0.25f, -0.5f, 1.0f};
    const Outputs r = expectIdenticalPaths(
        [&](size_t off, size_t n) {
            Planes3 P = planes(d.b, off);  // b holds no NaN
            auto m = array(d.mask, off);
            OffsetArray<float> out(n, off);
            EXPECT_EQ(vekrDistAttenuationSO_32f_M(light, P.cp, m.data(), out.data(), int32_t(n)), vekStsOk);
            return collect(&out, nullptr);
        },
        d.n);
    int clamped = 0;
    for (size_t i = 0; i < d.n; ++i) {
        double q = 0;
        for (int k = 0; k < 3; ++k) q += (double(d.b.c[k][i]) - light[k]) * (double(d.b.c[k][i]) - light[k]);
        clamped += d.mask[i] >= 0 && q < 1.0;
        ASSERT_TRUE(near(r.c1[i], d.mask[i] < 0 || q <= 1.0 ? 1.0 : std::sqrt(q), 4.0, 2e-7)) << i;
    }
    EXPECT_GT(clamped, 5);
}
