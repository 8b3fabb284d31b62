// Forward and inverse transforms: accumulation semantics, channel
// independence, reconstruction of a band-limited function and the checks.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <iterator>
#include <vector>

#include "sh_test_support.h"
#include "support/test_buffers.h"
#include "vekr.h"

namespace {

using vekr_test::Directions;
using vekr_test::OffsetArray;

using State = vekr_test::SHStateBuffer;

std::vector<float> randomValues(size_t n, uint32_t seed)
{
    vekr_test::Rng rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& f : v) f = u(rng);
    return v;
}

bool sameBits(const float* a, const float* b, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (vekr_test::floatBits(a[i]) != vekr_test::floatBits(b[i])) return false;
    return true;
}

TEST(SHTransform, ForwardAccumulatesValueTimesBasis)
{
    const float zero = 0.0f, one = 1.0f, two = 2.0f;
    for (int32_t kind : {0, 1}) {
        State state(1, kind);
        float basis[4], coeffs[4] = {0, 0, 0, 0};
        ASSERT_EQ(vekrSH_32f(&zero, &zero, &one, 1, basis, 1, state.get()), vekStsOk);
        ASSERT_EQ(vekrSHTFwd_32f_C1I(&zero, &zero, &one, &two, 1, coeffs, 1, state.get()), vekStsOk);
        for (int j = 0; j < 4; ++j) EXPECT_EQ(coeffs[j], 2.0f * basis[j]) << j;
        // A second identical call doubles.
        ASSERT_EQ(vekrSHTFwd_32f_C1I(&zero, &zero, &one, &two, 1, coeffs, 1, state.get()), vekStsOk);
        for (int j = 0; j < 4; ++j) EXPECT_EQ(coeffs[j], 4.0f * basis[j]) << j;
    }

    // Value 1 adds the basis itself; value 0 adds nothing, even where the
    // basis would turn 0 times a value into something else.
    const Directions d = vekr_test::randomDirections(9, 0x5E10);
    State state(4, 1);
    const uint32_t n = 25;
    std::vector<float> basis(9 * n);
    ASSERT_EQ(vekrSH_32f(d.x.data(), d.y.data(), d.z.data(), 9, basis.data(), 4, state.get()), vekStsOk);
    std::vector<float> ones(9, 1.0f), zeros(9, 0.0f);
    zeros[3] = -0.0f;
    std::vector<float> coeffs(n, 0.0f), expect(n, 0.0f);
    ASSERT_EQ(vekrSHTFwd_32f_C1I(d.x.data(), d.y.data(), d.z.data(), ones.data(), 9, coeffs.data(), 4, state.get()),
              vekStsOk);
    for (int i = 0; i < 9; ++i)
        for (uint32_t j = 0; j < n; ++j) expect[j] = expect[j] + basis[i * n + j];
    EXPECT_TRUE(sameBits(coeffs.data(), expect.data(), n));
    ASSERT_EQ(vekrSHTFwd_32f_C1I(d.x.data(), d.y.data(), d.z.data(), zeros.data(), 9, coeffs.data(), 4, state.get()),
              vekStsOk);
    EXPECT_TRUE(sameBits(coeffs.data(), expect.data(), n));

    // Adding a zero still rounds: a coefficient of -0 becomes +0, in the
    // vector part and the tail alike (orders 0 and 2: 1 and 9 coefficients).
    for (int32_t order : {0, 2}) {
        State small(order, 1);
        std::vector<float> negativeZeros(9, -0.0f);
        const std::vector<float> positiveZeros(9, 0.0f);
        ASSERT_EQ(vekrSHTFwd_32f_C1I(d.x.data(), d.y.data(), d.z.data(), zeros.data(), 1, negativeZeros.data(),
                                     order, small.get()),
                  vekStsOk);
        const uint32_t count = static_cast<uint32_t>((order + 1) * (order + 1));
        EXPECT_TRUE(sameBits(negativeZeros.data(), positiveZeros.data(), count)) << "order " << order;
    }
}

// The three-channel forms give exactly three one-channel results.
TEST(SHTransform, ThreeChannelsEqualThreeSingleChannelCalls)
{
    const int32_t count = 23;
    const uint32_t order = 6, n = 49;
    const Directions d = vekr_test::randomDirections(count, 0x5E11);
    const float *x = d.x.data(), *y = d.y.data(), *z = d.z.data();
    for (int32_t kind : {0, 1}) {
        State state(order, kind);
        VekrSHState* s = state.get();
        std::vector<float> planes[3], single[3], outPlanes[3];
        std::vector<float> interleaved(3 * count);
        const std::vector<float> start = randomValues(n, 0x5E12);
        for (int c = 0; c < 3; ++c) {
            planes[c] = randomValues(count, 0x5E20 + c);
            for (int32_t i = 0; i < count; ++i) interleaved[3 * i + c] = planes[c][i];
            single[c] = start;
            ASSERT_EQ(vekrSHTFwd_32f_C1I(x, y, z, planes[c].data(), count, single[c].data(), order, s), vekStsOk);
        }
        std::vector<float> fromC3[3] = {start, start, start}, fromP3[3] = {start, start, start};
        float* c3[3] = {fromC3[0].data(), fromC3[1].data(), fromC3[2].data()};
        float* p3[3] = {fromP3[0].data(), fromP3[1].data(), fromP3[2].data()};
        const float* src[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
        ASSERT_EQ(vekrSHTFwd_32f_C3P3I(x, y, z, interleaved.data(), count, c3, order, s), vekStsOk);
        ASSERT_EQ(vekrSHTFwd_32f_P3I(x, y, z, src, count, p3, order, s), vekStsOk);
        for (int c = 0; c < 3; ++c) {
            EXPECT_TRUE(sameBits(fromC3[c].data(), single[c].data(), n)) << kind << " " << c;
            EXPECT_TRUE(sameBits(fromP3[c].data(), single[c].data(), n)) << kind << " " << c;
        }

        // Inverse, from the coefficients just made.
        const float* coeffs[3] = {single[0].data(), single[1].data(), single[2].data()};
        std::vector<float> inv1[3], outC3(3 * count);
        float* outP3[3];
        for (int c = 0; c < 3; ++c) {
            inv1[c].resize(count);
            outPlanes[c].resize(count);
            outP3[c] = outPlanes[c].data();
            ASSERT_EQ(vekrSHTInv_32f_C1(coeffs[c], order, x, y, z, inv1[c].data(), count, s), vekStsOk);
        }
        ASSERT_EQ(vekrSHTInv_32f_P3(coeffs, order, x, y, z, outP3, count, s), vekStsOk);
        ASSERT_EQ(vekrSHTInv_32f_P3C3(coeffs, order, x, y, z, outC3.data(), count, s), vekStsOk);
        for (int c = 0; c < 3; ++c) {
            EXPECT_TRUE(sameBits(outPlanes[c].data(), inv1[c].data(), count)) << kind << " " << c;
            for (int32_t i = 0; i < count; ++i)
                ASSERT_EQ(vekr_test::floatBits(outC3[3 * i + c]), vekr_test::floatBits(inv1[c][i])) << kind << c << i;
        }
    }
}

// Projection with quadrature weights recovers the coefficients of a
// band-limited function, and the inverse transform reproduces its values.
// The quadrature is exact for products of two band-15 functions, so this
// also holds both kinds of basis to orthonormality in every band.
TEST(SHTransform, ProjectionAndReconstructionOfBandLimitedFunction)
{
    const vekr_test::SphereQuadrature q = vekr_test::sphereQuadrature(15);
    const int32_t count = int32_t(q.dirs.size());
    const Directions probe = vekr_test::randomDirections(50, 0x5E14);
    // Order 15 fills whole groups of four coefficients; orders 0 and 2 leave
    // one over.
    for (uint32_t order : {15u, 2u, 0u}) {
        const uint32_t n = (order + 1) * (order + 1);
        const std::vector<float> truth = randomValues(n, 0x5E13 + order);
        // The function in double from the reference basis.
        auto truthAt = [&](double x, double y, double z) {
            double f = 0.0;
            for (int l = 0; l <= int(order); ++l)
                for (int m = -l; m <= l; ++m) f += truth[l * l + l + m] * vekr_test::referenceY(l, m, x, y, z);
            return f;
        };
        for (int32_t kind : {0, 1}) {
            State state(order, kind);
            std::vector<float> weighted(count);
            for (int32_t i = 0; i < count; ++i)
                weighted[i] = float(truthAt(q.dirs.x[i], q.dirs.y[i], q.dirs.z[i]) * q.weights[i]);
            std::vector<float> coeffs(n, 0.0f);
            ASSERT_EQ(vekrSHTFwd_32f_C1I(q.dirs.x.data(), q.dirs.y.data(), q.dirs.z.data(), weighted.data(), count,
                                         coeffs.data(), order, state.get()),
                      vekStsOk);
            for (uint32_t j = 0; j < n; ++j) EXPECT_NEAR(coeffs[j], truth[j], 2e-5f) << order << " " << kind << " " << j;

            std::vector<float> values(probe.size());
            ASSERT_EQ(vekrSHTInv_32f_C1(coeffs.data(), order, probe.x.data(), probe.y.data(), probe.z.data(),
                                        values.data(), int32_t(probe.size()), state.get()),
                      vekStsOk);
            for (size_t i = 0; i < probe.size(); ++i)
                EXPECT_NEAR(values[i], truthAt(probe.x[i], probe.y[i], probe.z[i]), 2e-4)
                    << order << " " << kind << " " << i;
        }
    }
}

// Each export: nulls first (all -8, so a null beats count 0), then count 0,
// then the order against the state, then a negative count (nothing done),
// then what the basis evaluation refuses. Nothing is written on refusal.
TEST(SHTransform, ChecksInOrderAndNothingWrittenOnRefusal)
{
    const Directions d = vekr_test::randomDirections(4, 0x5E15);
    const float *x = d.x.data(), *y = d.y.data(), *z = d.z.data();
    State two(2, 1), big(20, 1);
    VekrSHState unknown = *two.get();
    unknown.kind = 5;
    std::vector<float> src(12, 1.0f), c0(256, 9.0f), c1(256, 9.0f), c2(256, 9.0f);
    std::vector<float> v0(12, 9.0f), v1(12, 9.0f), v2(12, 9.0f);
    const float* srcP3[3] = {src.data(), src.data(), src.data()};
    float* coeffP3[3] = {c0.data(), c1.data(), c2.data()};
    const float* coeffIn[3] = {c0.data(), c1.data(), c2.data()};
    float* valueP3[3] = {v0.data(), v1.data(), v2.data()};
    float* nullPlane[3] = {c0.data(), nullptr, c2.data()};
    const float* nullIn[3] = {c0.data(), c1.data(), nullptr};

    // One call per export, with a chosen count, order and state.
    using Call = std::function<VekStatus(int32_t, uint32_t, const VekrSHState*)>;
    const Call calls[] = {
        [&](int32_t n, uint32_t o, const VekrSHState* s) {
            return vekrSHTFwd_32f_C1I(x, y, z, src.data(), n, c0.data(), o, s);
        },
        [&](int32_t n, uint32_t o, const VekrSHState* s) {
            return vekrSHTFwd_32f_C3P3I(x, y, z, src.data(), n, coeffP3, o, s);
        },
        [&](int32_t n, uint32_t o, const VekrSHState* s) {
            return vekrSHTFwd_32f_P3I(x, y, z, srcP3, n, coeffP3, o, s);
        },
        [&](int32_t n, uint32_t o, const VekrSHState* s) {
            return vekrSHTInv_32f_C1(c0.data(), o, x, y, z, v0.data(), n, s);
        },
        [&](int32_t n, uint32_t o, const VekrSHState* s) {
            return vekrSHTInv_32f_P3(coeffIn, o, x, y, z, valueP3, n, s);
        },
        [&](int32_t n, uint32_t o, const VekrSHState* s) {
            return vekrSHTInv_32f_P3C3(coeffIn, o, x, y, z, v0.data(), n, s);
        },
    };
    for (size_t k = 0; k < std::size(calls); ++k) {
        EXPECT_EQ(calls[k](0, 9, nullptr), vekStsNullPtrErr) << k;
        EXPECT_EQ(calls[k](0, 9, two.get()), vekStsSizeErr) << k;
        EXPECT_EQ(calls[k](-1, 3, two.get()), vekStsRangeErr) << k;
        EXPECT_EQ(calls[k](-1, 2, two.get()), vekStsOk) << k;
        EXPECT_EQ(calls[k](-1, 2, &unknown), vekStsOk) << k;
        EXPECT_EQ(calls[k](4, 2, &unknown), vekStsRangeErr) << k;
        EXPECT_EQ(calls[k](4, 16, big.get()), vekStsRangeErr) << k;
    }
    // Null planes inside the pointer arrays.
    EXPECT_EQ(vekrSHTFwd_32f_C3P3I(x, y, z, src.data(), 0, nullPlane, 1, two.get()), vekStsNullPtrErr);
    EXPECT_EQ(vekrSHTFwd_32f_P3I(x, y, z, nullIn, 0, coeffP3, 1, two.get()), vekStsNullPtrErr);
    EXPECT_EQ(vekrSHTFwd_32f_P3I(x, y, z, srcP3, 0, nullPlane, 1, two.get()), vekStsNullPtrErr);
    EXPECT_EQ(vekrSHTInv_32f_P3(nullIn, 1, x, y, z, valueP3, 0, two.get()), vekStsNullPtrErr);
    EXPECT_EQ(vekrSHTInv_32f_P3(coeffIn, 1, x, y, z, nullPlane, 0, two.get()), vekStsNullPtrErr);
    EXPECT_EQ(vekrSHTInv_32f_P3C3(nullIn, 1, x, y, z, v0.data(), 0, two.get()), vekStsNullPtrErr);

    // A null in any one pointer position, plane arrays included, of a call
    // that would otherwise do work: -8 and nothing written.
    auto null = [](bool isNull, auto* p) { return isNull ? nullptr : p; };
    auto planes = [&](int k, int first, auto* const* p3, auto* store) {
        for (int i = 0; i < 3; ++i) store[i] = k == first + i ? nullptr : p3[i];
        return store;
    };
    using NullCall = std::function<VekStatus(int)>;
    const std::pair<int, NullCall> nullCalls[] = {
        {6, [&](int k) {
             return vekrSHTFwd_32f_C1I(null(k == 0, x), null(k == 1, y), null(k == 2, z), null(k == 3, src.data()), 4,
                                       null(k == 4, c0.data()), 2, null(k == 5, two.get()));
         }},
        {9, [&](int k) {
             float* c[3];
             return vekrSHTFwd_32f_C3P3I(null(k == 0, x), null(k == 1, y), null(k == 2, z), null(k == 3, src.data()),
                                         4, null(k == 4, planes(k, 6, coeffP3, c)), 2, null(k == 5, two.get()));
         }},
        {12, [&](int k) {
             float* c[3];
             const float* v[3];
             return vekrSHTFwd_32f_P3I(null(k == 0, x), null(k == 1, y), null(k == 2, z),
                                       null(k == 3, planes(k, 9, srcP3, v)), 4, null(k == 4, planes(k, 6, coeffP3, c)),
                                       2, null(k == 5, two.get()));
         }},
        {6, [&](int k) {
             return vekrSHTInv_32f_C1(null(k == 0, c0.data()), 2, null(k == 1, x), null(k == 2, y), null(k == 3, z),
                                      null(k == 4, v0.data()), 4, null(k == 5, two.get()));
         }},
        {12, [&](int k) {
             const float* c[3];
             float* v[3];
             return vekrSHTInv_32f_P3(null(k == 0, planes(k, 6, coeffIn, c)), 2, null(k == 1, x), null(k == 2, y),
                                      null(k == 3, z), null(k == 4, planes(k, 9, valueP3, v)), 4,
                                      null(k == 5, two.get()));
         }},
        {9, [&](int k) {
             const float* c[3];
             return vekrSHTInv_32f_P3C3(null(k == 0, planes(k, 6, coeffIn, c)), 2, null(k == 1, x), null(k == 2, y),
                                        null(k == 3, z), null(k == 4, v0.data()), 4, null(k == 5, two.get()));
         }},
    };
    for (size_t e = 0; e < std::size(nullCalls); ++e)
        for (int k = 0; k < nullCalls[e].first; ++k)
            EXPECT_EQ(nullCalls[e].second(k), vekStsNullPtrErr) << "export " << e << ", null at " << k;

    for (const auto* v : {&c0, &c1, &c2, &v0, &v1, &v2})
        for (float f : *v) ASSERT_EQ(f, 9.0f);
}

}  // namespace
