// The signed 16-bit filter against a brute-force convolution and exact
// integer rounding.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "volume_support.h"

namespace {

using vekr_test::TestVolume;
using vekr_test::Rng;
using Vol16 = TestVolume<int16_t>;

// Exact round-half-even of sum / divisor in integers, then saturation.
int16_t roundedQuotient(int64_t sum, int64_t divisor)
{
    if (divisor < 0) {
        sum = -sum;
        divisor = -divisor;
    }
    int64_t q = sum / divisor, r = sum % divisor;  // truncated
    if (r < 0) {
        q -= 1;
        r += divisor;
    }
    if (2 * r > divisor || (2 * r == divisor && (q & 1))) q += 1;
    return static_cast<int16_t>(q > 32767 ? 32767 : (q < -32768 ? -32768 : q));
}

struct Kernel {
    int kw, kh, kd;
    std::vector<int32_t> k;
    int32_t at(int i, int j, int l) const { return k[i + kw * (j + kh * l)]; }
};

// The convolution as written down: mirrored kernel, 32-bit wrapping
// products, 64-bit sum.
int16_t referenceVoxel(const Vol16& src, const Kernel& k, VekrPoint a, int32_t divisor, int x, int y, int z)
{
    int64_t sum = 0;
    for (int l = 0; l < k.kd; ++l)
        for (int j = 0; j < k.kh; ++j)
            for (int i = 0; i < k.kw; ++i) {
                const uint32_t p = static_cast<uint32_t>(src.at(x + a.x - i, y + a.y - j, z + a.z - l)) *
                                   static_cast<uint32_t>(k.at(i, j, l));
                sum += static_cast<int32_t>(p);
            }
    return roundedQuotient(sum, divisor);
}

VekStatus runFilter(const Vol16& src, Vol16& dst, const Kernel& k, VekrPoint a, int32_t divisor)
{
    return vekrFilter_16s_C1PV(src.cplanes(), src.step(), dst.planes(), dst.step(),
                               VekrVolume{dst.width(), dst.height(), dst.depth()}, k.k.data(),
                               VekrVolume{k.kw, k.kh, k.kd}, a, divisor, nullptr);
}

// Source with the margin a kernel of up to `reach` voxels needs on each side.
Vol16 randomSource(int w, int h, int d, int reach, uint32_t seed, int lo = -32768, int hi = 32767,
                   bool bottomUp = false)
{
    Vol16 v(w, h, d, reach, bottomUp);
    Rng rng(seed);
    std::uniform_int_distribution<int> dist(lo, hi);
    v.fillVoxels([&] { return static_cast<int16_t>(dist(rng)); });
    return v;
}

Kernel randomKernel(int kw, int kh, int kd, int32_t lo, int32_t hi, uint32_t seed)
{
    Kernel k{kw, kh, kd, std::vector<int32_t>(static_cast<size_t>(kw) * kh * kd)};
    Rng rng(seed);
    std::uniform_int_distribution<int32_t> dist(lo, hi);
    for (auto& c : k.k) c = dist(rng);
    return k;
}

// Destination rows long enough for a 32-voxel run, a 16-voxel run, an
// 8-voxel run and a scalar tail: every step width of every instruction set.
constexpr int kWidth = 32 + 16 + 8 + 5;

void expectMatchesReference(const Vol16& src, const Kernel& k, VekrPoint a, int32_t divisor, bool bottomUp = false)
{
    Vol16 dst(kWidth, 7, 6, 1, bottomUp);
    dst.fill(0x5A5A);
    ASSERT_EQ(runFilter(src, dst, k, a, divisor), vekStsOk);
    // Every voxel as the brute force has it, and nothing outside the
    // destination volume (margin, row padding) changed.
    size_t changedAnywhere = 0, changedInside = 0;
    dst.forEach([&](int x, int y, int z) {
        ASSERT_EQ(dst.at(x, y, z), referenceVoxel(src, k, a, divisor, x, y, z))
            << "voxel " << x << "," << y << "," << z << " kernel " << k.kw << "x" << k.kh << "x" << k.kd
            << " divisor " << divisor;
        changedInside += dst.at(x, y, z) != int16_t{0x5A5A};
    });
    for (int16_t v : dst.raw()) changedAnywhere += v != int16_t{0x5A5A};
    EXPECT_EQ(changedAnywhere, changedInside) << "written outside the destination volume";
}

// Null pointers come before sizes and the divisor; nothing is written.
TEST(Filter, ChecksArgumentsInOrderAndWritesNothingOnFailure)
{
    Vol16 src(4, 4, 4, 2), dst(4, 4, 4);
    dst.fill(7);
    const int32_t one[1] = {1};
    const VekrVolume vol{4, 4, 4}, unit{1, 1, 1};
    auto call = [&](const int16_t* const* s, int16_t* const* d, VekrVolume v, const int32_t* k, VekrVolume kv,
                    int32_t divisor) {
        return vekrFilter_16s_C1PV(s, src.step(), d, dst.step(), v, k, kv, VekrPoint{0, 0, 0}, divisor, nullptr);
    };
    EXPECT_EQ(call(nullptr, dst.planes(), {0, 4, 4}, one, unit, 0), vekStsNullPtrErr);
    EXPECT_EQ(call(src.cplanes(), nullptr, vol, one, unit, 1), vekStsNullPtrErr);
    EXPECT_EQ(call(src.cplanes(), dst.planes(), vol, nullptr, unit, 1), vekStsNullPtrErr);
    for (const VekrVolume& bad : {VekrVolume{0, 4, 4}, VekrVolume{4, -1, 4}, VekrVolume{4, 4, 0}}) {
        EXPECT_EQ(call(src.cplanes(), dst.planes(), bad, one, unit, 1), vekStsSizeErr);
        EXPECT_EQ(call(src.cplanes(), dst.planes(), vol, one, bad, 1), vekStsSizeErr);
    }
    EXPECT_EQ(call(src.cplanes(), dst.planes(), vol, one, unit, 0), vekStsSizeErr);
    for (int16_t v : dst.raw()) ASSERT_EQ(v, 7);

    int32_t size = -1;
    EXPECT_EQ(vekrFilterGetBufSize({0, 1, 1}, {1, 1, 1}, 3, nullptr), vekStsNullPtrErr);
    EXPECT_EQ(vekrFilterGetBufSize({1, 1, 1}, {1, 0, 1}, 3, &size), vekStsSizeErr);
    EXPECT_EQ(vekrFilterGetBufSize({1, 1, -2}, {1, 1, 1}, 3, &size), vekStsSizeErr);
    EXPECT_EQ(vekrFilterGetBufSize({1, 1, 1}, {1, 1, 1}, 3, &size), vekStsNumChannelsErr);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(vekrFilterGetBufSize({64, 64, 64}, {5, 5, 5}, 1, &size), vekStsOk);
    EXPECT_EQ(size, 0);
}

// Worked sums for each divisor class (powers of two, odd, even, negative,
// saturating), then random sums against the exact integer quotient; each
// sum reaches the voxels through a 1 x 1 x 1 kernel.
TEST(Filter, RoundsHalvesToEvenAndSaturates)
{
    struct Case {
        int32_t divisor;
        int32_t sum;
        int16_t expected;
    };
    const Case cases[] = {
        {2, 3, 2},       {2, 5, 2},          {2, -3, -2},         {2, -5, -2},       {4, 6, 2},
        {4, 10, 2},      {4, -2, 0},         {4, 2, 0},           {1 << 30, 3 << 29, 2},
        {3, 4, 1},       {3, 5, 2},          {3, -5, -2},         {10, 15, 2},       {10, 25, 2},
        {10, -25, -2},   {10, 5, 0},         {10, -5, 0},         {-1, 5, -5},       {-1, -40000, 32767},
        {-2, 3, -2},     {-2, 5, -2},        {1, 40000, 32767},   {1, -40000, -32768},
        {2, -70000, -32768}, {3, 98301, 32767}, {INT32_MIN, INT32_MIN, 1},
    };
    for (const Case& c : cases) {
        Vol16 src(3, 2, 2), dst(3, 2, 2);
        src.fill(1);
        const Kernel k{1, 1, 1, {c.sum}};
        ASSERT_EQ(runFilter(src, dst, k, {0, 0, 0}, c.divisor), vekStsOk);
        EXPECT_EQ(dst.at(2, 1, 1), c.expected) << c.sum << " / " << c.divisor;
    }
    Rng rng(20261205);
    std::uniform_int_distribution<int32_t> sums(-3000000, 3000000);
    std::uniform_int_distribution<int32_t> divisors(-70000, 70000);
    for (int trial = 0; trial < 300; ++trial) {
        int32_t d = divisors(rng);
        if (d == 0) continue;
        if (trial % 3 == 0) d = 1 << (trial % 20);  // powers of two, 1 included
        const int32_t sum = sums(rng);
        Vol16 src(1, 1, 1), dst(1, 1, 1);
        src.at(0, 0, 0) = 1;
        ASSERT_EQ(runFilter(src, dst, Kernel{1, 1, 1, {sum}}, {0, 0, 0}, d), vekStsOk);
        ASSERT_EQ(dst.at(0, 0, 0), roundedQuotient(sum, d)) << sum << " / " << d;
        // Halves exactly: sum = (2m + 1) * d / 2 for even d.
        if (d % 2 == 0) {
            const int32_t half = (2 * (sum % 9) + 1) * (d / 2);
            ASSERT_EQ(runFilter(src, dst, Kernel{1, 1, 1, {half}}, {0, 0, 0}, d), vekStsOk);
            ASSERT_EQ(dst.at(0, 0, 0), roundedQuotient(half, d)) << half << " / " << d;
        }
    }
}

// The unrolled cubes and the general loop, on both the 32-bit lane path and
// the 64-bit path, against the brute force, with anchors inside and at the
// kernel's corners.
TEST(Filter, MatchesBruteForceForUnrolledAndGeneralShapes)
{
    struct Shape {
        int kw, kh, kd;
    };
    // The cubes, and shapes one side away from a cube, which must not take
    // the cube's unrolled code.
    const Shape shapes[] = {{3, 3, 3}, {5, 5, 5}, {2, 3, 4}, {1, 5, 1}, {4, 4, 4}, {3, 3, 5},
                            {5, 3, 3}, {3, 5, 3}, {3, 5, 5}, {5, 3, 5}, {5, 5, 3}};
    uint32_t seed = 1;
    for (const Shape& s : shapes) {
        // Variants: small coefficients, once into a bottom-up destination;
        // coefficients whose products wrap; the largest magnitudes whose
        // sums still fit in 32 bits, from a bottom-up source.
        const int taps = s.kw * s.kh * s.kd;
        for (int variant = 0; variant < 4; ++variant) {
            const int reach = 5;
            const Vol16 src = randomSource(kWidth + 2 * reach, 7 + 2 * reach, 6 + 2 * reach, reach, seed++, -32768, 32767,
                                           variant == 3);
            const int32_t bound = variant == 3 ? 65535 / taps : 300;
            const Kernel k = variant == 2 ? randomKernel(s.kw, s.kh, s.kd, INT32_MIN, INT32_MAX, seed++)
                                          : randomKernel(s.kw, s.kh, s.kd, -bound, bound, seed++);
            const VekrPoint anchor = variant == 0 ? VekrPoint{s.kw / 2, s.kh / 2, s.kd / 2}
                                                  : VekrPoint{s.kw - 1, 0, s.kd - 1};
            for (int32_t divisor : {1, 64, 4096, 7, -3})
                expectMatchesReference(src, k, anchor, divisor, variant == 1);
        }
    }
}

// Coefficients at the edge of what a 16-bit multiply-add can hold: 32767
// and -32767 fit, 32768 and -32768 do not and need the wide sums, alone or
// next to another coefficient (magnitudes adding up to at most 65535).
TEST(Filter, CoefficientsAtTheSixteenBitEdgeMatchBruteForce)
{
    const int reach = 2;
    const Vol16 src = randomSource(kWidth + 2 * reach, 7 + 2 * reach, 6 + 2 * reach, reach, 77);
    const Kernel kernels[] = {{1, 1, 1, {32767}},         {1, 1, 1, {32768}},         {1, 1, 1, {-32768}},
                              {1, 1, 1, {-32767}},        {2, 1, 1, {32768, 32767}},  {2, 1, 1, {-32767, -32768}},
                              {1, 2, 1, {32768, -32767}}, {2, 1, 1, {65535, 0}},      {3, 1, 1, {1, 32768, 1}}};
    for (const Kernel& k : kernels)
        for (int32_t divisor : {32768, 1, -7}) expectMatchesReference(src, k, VekrPoint{0, 0, 0}, divisor);
}

// Kernels just past the narrow path's room: 9 x 16 x 16 has 256 window rows
// of 5 coefficient pairs, more pairs than it keeps; 9 x 16 x 17 has more
// rows. Small coefficients, so only the room rules the path out.
TEST(Filter, KernelsBeyondTheNarrowPathsRoomMatchBruteForce)
{
    const int reach = 17;
    const Vol16 src = randomSource(kWidth + 2 * reach, 7 + 2 * reach, 6 + 2 * reach, reach, 91);
    for (int kd : {16, 17}) {
        const Kernel k = randomKernel(9, 16, kd, -14, 14, 92 + kd);
        for (int32_t divisor : {64, 9}) expectMatchesReference(src, k, VekrPoint{4, 8, 8}, divisor);
    }
}

}  // namespace
