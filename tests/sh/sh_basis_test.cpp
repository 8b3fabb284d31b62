// Basis evaluation: both kinds against an independent double-precision
// reference (itself orthonormal, so the library's normalisation is tested
// through it), the worked values with their signs of zero, the 4-wide
// recurrence against its scalar loop, and the argument checks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "sh/sh_basis_recurrence.h"
#include "sh/sh_state.h"
#include "sh_test_support.h"
#include "support/test_buffers.h"
#include "vekr.h"

namespace {

using vekr_test::Directions;
using vekr_test::OffsetArray;

constexpr int kBands = 16;
constexpr int kCoeffs = 256;

using State = vekr_test::SHStateBuffer;

std::vector<float> evaluate(const Directions& d, uint32_t order, VekrSHState* state)
{
    const uint32_t n = (order + 1) * (order + 1);
    std::vector<float> out(d.size() * n);
    EXPECT_EQ(vekrSH_32f(d.x.data(), d.y.data(), d.z.data(), int32_t(d.size()), out.data(), order, state),
              vekStsOk);
    return out;
}

bool isNegativeZero(float v) { return v == 0.0f && std::signbit(v); }
bool isPositiveZero(float v) { return v == 0.0f && !std::signbit(v); }

// The direct kind is the closed forms in double rounded once: correctly
// rounded but for the double evaluation's own error (a hair over half an
// ulp, plus an absolute slack near the roots of the polynomials). A value
// computed in float, or rounded twice, misses by a whole ulp somewhere.
// The single-band export writes exactly band L of the all-bands output.
TEST(SHBasis, DirectKindMatchesReferenceToFloatRoundingAndSingleBandsAreItsSlices)
{
    const Directions d = vekr_test::randomDirections(600, 0x5E01);
    State state(15, 0);
    const std::vector<float> out = evaluate(d, 15, state.get());
    double worst = 0.0;
    for (size_t i = 0; i < d.size(); ++i)
        for (int l = 0; l < kBands; ++l)
            for (int m = -l; m <= l; ++m) {
                const double ref = vekr_test::referenceY(l, m, d.x[i], d.y[i], d.z[i]);
                const double err = std::fabs(out[i * kCoeffs + l * l + l + m] - ref);
                const double ulp = vekr_test::floatUlp(ref);
                worst = std::max(worst, err / ulp);
                ASSERT_LE(err, 0.501 * ulp + 1e-13) << "direction " << i << " l " << l << " m " << m;
            }
    RecordProperty("worst_error_in_ulps", std::to_string(worst));
    for (uint32_t band = 0; band < kBands; ++band) {
        const uint32_t w = 2 * band + 1;
        OffsetArray<float> one(d.size() * w);
        ASSERT_EQ(vekrSHBand_32f(d.x.data(), d.y.data(), d.z.data(), int32_t(d.size()), one.data(), band), vekStsOk);
        for (size_t i = 0; i < d.size() * w; ++i)
            ASSERT_EQ(vekr_test::floatBits(one[i]), vekr_test::floatBits(out[i / w * kCoeffs + band * band + i % w]))
                << "band " << band << " element " << i;
        EXPECT_TRUE(one.guardsIntact());
    }
}

// The recurrence accumulates float rounding band after band. The error is
// measured in float epsilons of the band's largest possible value
// sqrt((2l + 1) / 4 pi) (the addition theorem bounds every |Y(l, m)| by
// it): over 2,000 directions it grows by about 1.1 per band up to band 11
// (0.4 at band 0, 7.6 at 7, 13.6 at 11) and levels off near 15 at band 15
// (4,000 directions gave at most 17). The bound 2 (l + 1) leaves a third
// or more of margin everywhere and still catches a wrong factor or a step
// out of order at once.
TEST(SHBasis, RecurrenceKindMatchesReferenceWithinBandBounds)
{
    const Directions d = vekr_test::randomDirections(2000, 0x5E03);
    State state(15, 1);
    const std::vector<float> out = evaluate(d, 15, state.get());
    const double eps = std::ldexp(1.0, -23);
    for (int l = 0; l < kBands; ++l) {
        const double scale = std::sqrt((2 * l + 1) / (4 * vekr_test::kPi));
        double worst = 0.0;
        for (size_t i = 0; i < d.size(); ++i)
            for (int m = -l; m <= l; ++m) {
                const double ref = vekr_test::referenceY(l, m, d.x[i], d.y[i], d.z[i]);
                worst = std::max(worst, std::fabs(out[i * kCoeffs + l * l + l + m] - ref));
            }
        EXPECT_LE(worst, 2.0 * (l + 1) * eps * scale) << "band " << l;
        RecordProperty("band" + std::to_string(l) + "_error_in_eps",
                       std::to_string(worst / (eps * scale)));
    }
}

// Sixteen and four directions at a time, then one at a time for the
// remainder: every value equals the scalar loop's bit for bit, at every
// order, whatever the count's remainder and the arrays' alignment.
TEST(SHBasis, FourWideRecurrenceEqualsScalarLoop)
{
    const Directions d = vekr_test::randomDirections(39, 0x5E05);
    State state(15, 1);
    const VekrSHState* s = state.get();
    for (uint32_t order = 0; order < kBands; ++order) {
        const uint32_t n = (order + 1) * (order + 1);
        for (int32_t count : {4, 7, 16, 39}) {
            OffsetArray<float> x(count, 4), y(count, 4), z(count, 4), out(size_t(count) * n, 4);
            std::copy_n(d.x.data(), count, x.data());
            std::copy_n(d.y.data(), count, y.data());
            std::copy_n(d.z.data(), count, z.data());
            ASSERT_EQ(vekrSH_32f(x.data(), y.data(), z.data(), count, out.data(), order, state.get()), vekStsOk);
            std::vector<float> one(n);
            for (int32_t i = 0; i < count; ++i) {
                vekr::sse3::evaluateRecurrenceOne(x[i], y[i], z[i], order, s->pTableA, s->pTableB, one.data());
                for (uint32_t k = 0; k < n; ++k)
                    ASSERT_EQ(vekr_test::floatBits(out[i * n + k]), vekr_test::floatBits(one[k]))
                        << order << " " << count << " " << i << " " << k;
            }
            EXPECT_TRUE(out.guardsIntact());
        }
    }
}

TEST(SHBasis, WorkedValuesWithTheirSignsOfZero)
{
    const float zero = 0.0f, one = 1.0f;
    {
        // Direct kind at the pole: Y(1, +-1) and Y(2, +-1) are negative
        // zeros (odd |m| carries the Condon-Shortley sign), Y(2, +-2) positive.
        State state(2, 0);
        float out[9];
        ASSERT_EQ(vekrSH_32f(&zero, &zero, &one, 1, out, 2, state.get()), vekStsOk);
        const float expect[9] = {0.28209481f, -0.0f, 0.48860252f, -0.0f, 0.0f, -0.0f, 0.63078314f, -0.0f, 0.0f};
        for (int k = 0; k < 9; ++k)
            EXPECT_EQ(vekr_test::floatBits(out[k]), vekr_test::floatBits(expect[k])) << k;
    }
    {
        // Along x the recurrence gives the table factor itself; the closed
        // form rounds the double constant instead.
        State recurrence(1, 1), direct(1, 0);
        float a[4], b[4];
        ASSERT_EQ(vekrSH_32f(&one, &zero, &zero, 1, a, 1, recurrence.get()), vekStsOk);
        ASSERT_EQ(vekrSH_32f(&one, &zero, &zero, 1, b, 1, direct.get()), vekStsOk);
        EXPECT_EQ(a[0], 0.28209481f);
        EXPECT_TRUE(isNegativeZero(a[1]));
        EXPECT_TRUE(isPositiveZero(a[2]));
        EXPECT_EQ(a[3], -0.48860255f);
        EXPECT_EQ(b[3], -0.48860252f);
        EXPECT_EQ(b[0], a[0]);
    }
    {
        float out[3];
        ASSERT_EQ(vekrSHBand_32f(&zero, &one, &zero, 1, out, 1), vekStsOk);
        EXPECT_EQ(out[0], -0.48860252f);
        EXPECT_TRUE(isPositiveZero(out[1]));
        EXPECT_TRUE(isNegativeZero(out[2]));
    }
}

TEST(SHBasis, ChecksInOrderAndNothingWrittenOnRefusal)
{
    const Directions d = vekr_test::randomDirections(4, 0x5E06);
    const float *x = d.x.data(), *y = d.y.data(), *z = d.z.data();
    State direct(3, 0), big(20, 1);
    OffsetArray<float> out(4 * kCoeffs);
    out.fill(7.0f);
    VekrSHState* s = direct.get();

    // vekrSH_32f: nulls, then count 0, then the order against the state,
    // then the order and kind the evaluation supports, then a negative count.
    EXPECT_EQ(vekrSH_32f(nullptr, y, z, 0, out.data(), 9, s), vekStsNullPtrErr);
    EXPECT_EQ(vekrSH_32f(x, nullptr, z, 4, out.data(), 1, s), vekStsNullPtrErr);
    EXPECT_EQ(vekrSH_32f(x, y, nullptr, 4, out.data(), 1, s), vekStsNullPtrErr);
    EXPECT_EQ(vekrSH_32f(x, y, z, 4, nullptr, 1, s), vekStsNullPtrErr);
    EXPECT_EQ(vekrSH_32f(x, y, z, 4, out.data(), 1, nullptr), vekStsNullPtrErr);
    EXPECT_EQ(vekrSH_32f(x, y, z, 0, out.data(), 9, s), vekStsSizeErr);
    EXPECT_EQ(vekrSH_32f(x, y, z, -5, out.data(), 4, s), vekStsRangeErr);
    EXPECT_EQ(vekrSH_32f(x, y, z, 4, out.data(), 16, big.get()), vekStsRangeErr);
    EXPECT_EQ(vekrSH_32f(x, y, z, -5, out.data(), 3, s), vekStsOk);
    VekrSHState unknown = *s;
    unknown.kind = 2;
    EXPECT_EQ(vekrSH_32f(x, y, z, 4, out.data(), 1, &unknown), vekStsRangeErr);
    EXPECT_EQ(vekrSH_32f(x, y, z, -5, out.data(), 1, &unknown), vekStsRangeErr);
    // A hand-made direct state claiming a higher order still stops at 15.
    VekrSHState tall = *s;
    tall.order = 40;
    EXPECT_EQ(vekrSH_32f(x, y, z, 4, out.data(), 16, &tall), vekStsRangeErr);

    // vekrSHBand_32f: nulls, then the band, then count 0, then a negative count.
    EXPECT_EQ(vekrSHBand_32f(x, y, z, 0, nullptr, 16), vekStsNullPtrErr);
    EXPECT_EQ(vekrSHBand_32f(x, y, z, 0, out.data(), 16), vekStsRangeErr);
    EXPECT_EQ(vekrSHBand_32f(x, y, z, 0, out.data(), 3), vekStsSizeErr);
    EXPECT_EQ(vekrSHBand_32f(x, y, z, -1, out.data(), 3), vekStsOk);

    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 7.0f) << i;
    EXPECT_TRUE(out.guardsIntact());
}

}  // namespace
