#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "resize_test_support.h"
#include "support/alloc_hook.h"

using namespace resize_test;

namespace {

const VekrVolume kSrcExtent{7, 6, 5};
const VekrVolume kDstExtent{16, 14, 12};

template <class T>
T sentinel()
{
    return static_cast<T>(77);
}

// Every voxel outside the written region still holds the sentinel, and
// check(x, y, z, value) accepts every voxel inside it.
template <class T, class Check>
void expectWritten(const TestVolume<T>& dst, const Regions& r, Check check)
{
    const VekrVolume e = dst.extent();
    for (int z = 0; z < e.depth; ++z)
        for (int y = 0; y < e.height; ++y)
            for (int x = 0; x < e.width; ++x) {
                const bool inside = x >= r.x.begin && x < r.x.end && y >= r.y.begin && y < r.y.end &&
                                    z >= r.z.begin && z < r.z.end;
                if (inside) check(x, y, z, dst.at(x, y, z));
                else ASSERT_EQ(dst.at(x, y, z), sentinel<T>()) << "outside " << x << " " << y << " " << z;
            }
}

struct Case {
    VekrCuboid srcVoi;
    VekrCuboid dstVoi;
    Scale scale;
};

// Identity (where B-spline and mode 7 smooth with 1/6, 2/3, 1/6 and 1/12,
// 5/6, 1/12), enlargement and reduction with shifts, regions cut by the
// volume and by dstVoi: face, interior and partial regions all occur.
const Case kCases[] = {
    {{0, 0, 0, 7, 6, 5}, {0, 0, 0, 16, 14, 12}, {1, 1, 1, 0, 0, 0}},
    {{0, 0, 0, 7, 6, 5}, {0, 0, 0, 16, 14, 12}, {2, 2, 2, 0, 0, 0}},
    {{1, 0, 1, 9, 6, 3}, {2, 1, 0, 13, 12, 12}, {1.7, 2.5, 3, 0.3, -1.2, 0.5}},
    {{0, 1, 0, 7, 5, 5}, {0, 0, 1, 16, 14, 9}, {0.5, 0.6, 1.25, 0.2, 0, -0.4}},
    {{2, 2, 2, 3, 3, 3}, {3, 2, 1, 10, 10, 10}, {2.2, 1.9, 2.1, 0, 1, 0}},
};

template <class T>
void runCase(Layout layout, const Case& c, int mode, TestVolume<T>& src, TestVolume<T>& dst)
{
    dst.fill(sentinel<T>());
    ASSERT_EQ(resize(layout, src, c.srcVoi, dst, c.dstVoi, c.scale, mode), vekStsOk);
}

}  // namespace

// ---------------------------------------------------------------- checks

TEST(ResizeChecks, StatusesComeInFamilyOrderAndWriteNothing)
{
    std::vector<float> src(7 * 6 * 5, 1.0f), dst(16 * 14 * 12, 5.0f);
    std::vector<uint8_t> buffer(1 << 16);
    const std::vector<float> untouched = dst;
    const VekrCuboid sv{0, 0, 0, 7, 6, 5}, dv{0, 0, 0, 16, 14, 12};
    auto call = [&](const float* s, float* d, uint8_t* b, VekrVolume v, VekrCuboid a, VekrCuboid c, double f,
                    double shift, int mode) {
        return vekrResize_32f_C1V(s, v, 28, 168, a, d, 64, 64 * 14, c, 2, f, 2, shift, 0, 0, mode, b);
    };
    const VekrCuboid badCorner{-1, 0, 0, 7, 6, 5};
    EXPECT_EQ(call(nullptr, dst.data(), buffer.data(), VekrVolume{0, 0, 0}, badCorner, dv, 0, 0, 3), vekStsNullPtrErr);
    EXPECT_EQ(call(src.data(), nullptr, buffer.data(), kSrcExtent, sv, dv, 2, 0, 1), vekStsNullPtrErr);
    EXPECT_EQ(call(src.data(), dst.data(), nullptr, kSrcExtent, sv, dv, 2, 0, 1), vekStsNullPtrErr);
    EXPECT_EQ(call(src.data(), dst.data(), buffer.data(), VekrVolume{7, 6, 0}, badCorner, dv, 0, 0, 3), vekStsSizeErr);
    EXPECT_EQ(call(src.data(), dst.data(), buffer.data(), kSrcExtent, badCorner, dv, 0, 0, 3), vekStsSizeErr);
    EXPECT_EQ(call(src.data(), dst.data(), buffer.data(), kSrcExtent, VekrCuboid{0, 0, 0, 7, 0, 5}, dv, 0, 0, 3),
              vekStsSizeErr);
    EXPECT_EQ(call(src.data(), dst.data(), buffer.data(), kSrcExtent, sv, VekrCuboid{0, 0, 0, 16, 14, 0}, 0, 0, 3),
              vekStsSizeErr);
    EXPECT_EQ(call(src.data(), dst.data(), buffer.data(), kSrcExtent, sv, dv, 0, 0, 3), vekStsResizeFactorErr);
    EXPECT_EQ(call(src.data(), dst.data(), buffer.data(), kSrcExtent, sv, dv, -2, 0, 3), vekStsResizeFactorErr);
    const VekrCuboid outside{0, 6, 0, 1, 1, 1};
    for (int mode : {0, 3, 8, -1})
        EXPECT_EQ(call(src.data(), dst.data(), buffer.data(), kSrcExtent, outside, dv, 2, 0, mode),
                  vekStsInterpolationErr);
    EXPECT_EQ(call(src.data(), dst.data(), buffer.data(), kSrcExtent, outside, dv, 2, -1000, 2), vekStsVoiOutsideWarn);
    EXPECT_EQ(call(src.data(), dst.data(), buffer.data(), kSrcExtent, sv, dv, 2, -1000, 2), vekStsNoVoxelsWarn);
    EXPECT_EQ(dst, untouched);
    EXPECT_EQ(call(src.data(), dst.data(), buffer.data(), kSrcExtent, sv, dv, 2, 0, 2), vekStsOk);
    EXPECT_NE(dst, untouched);
}

TEST(ResizeChecks, BufferQueryOrderAndSizes)
{
    int32_t size = -1;
    const VekrCuboid v{0, 0, 0, 10, 10, 10};
    EXPECT_EQ(vekrResizeGetBufSize(VekrCuboid{}, VekrCuboid{}, 2, 3, nullptr), vekStsNullPtrErr);
    EXPECT_EQ(vekrResizeGetBufSize(v, VekrCuboid{0, 0, 0, 1, 1, 0}, 2, 3, &size), vekStsSizeErr);
    EXPECT_EQ(vekrResizeGetBufSize(VekrCuboid{0, -1, 0, 1, 1, 1}, v, 2, 3, &size), vekStsSizeErr);
    EXPECT_EQ(vekrResizeGetBufSize(v, v, 3, 3, &size), vekStsNumChannelsErr);
    EXPECT_EQ(vekrResizeGetBufSize(v, v, 1, 3, &size), vekStsInterpolationErr);
    EXPECT_EQ(size, -1);

    // Worked values for a 10 x 10 x 10 destination, per thread.
    const struct {
        int mode;
        int32_t bytes;
    } expected[] = {{1, 256}, {2, 7680}, {4, 19968}, {7, 19968}};
    for (int threads : {1, 3}) {
        vekr_test::ScopedThreads scoped(threads);
        for (const auto& e : expected) {
            // srcVoi does not enter the size.
            ASSERT_EQ(vekrResizeGetBufSize(VekrCuboid{5, 5, 5, 1, 2, 3}, v, 1, e.mode, &size), vekStsOk);
            EXPECT_EQ(size, e.bytes * threads) << e.mode;
        }
    }
    // A 17 x 1 x 33 region: nearest rounds each axis to 16 entries.
    vekr_test::ScopedThreads one(1);
    ASSERT_EQ(vekrResizeGetBufSize(v, VekrCuboid{3, 0, 0, 17, 1, 33}, 1, 1, &size), vekStsOk);
    EXPECT_EQ(size, 64 * (2 + 1 + 3) + 64);
}

// ---------------------------------------------------------------- identity

template <class T>
void expectIdentity(Layout layout, int mode)
{
    TestVolume<T> src = randomVolume<T>(kSrcExtent, 11 + mode);
    TestVolume<T> dst(kSrcExtent, false, 1);
    const Case c{{1, 1, 1, 5, 4, 3}, {1, 1, 1, 5, 4, 3}, {}};
    runCase(layout, c, mode, src, dst);
    expectWritten(dst, writtenRegions(kSrcExtent, c.srcVoi, c.dstVoi, c.scale),
                  [&](int x, int y, int z, T v) { ASSERT_EQ(v, src.at(x, y, z)) << mode << " " << x << y << z; });
}

TEST(ResizeIdentity, InterpolatingModesReproduceTheSource)
{
    for (int mode : {1, 2, 4, 6}) {
        for (Layout layout : {Layout::Planar, Layout::Contiguous}) {
            expectIdentity<uint8_t>(layout, mode);
            expectIdentity<uint16_t>(layout, mode);
            expectIdentity<float>(layout, mode);
        }
    }
}

// ---------------------------------------------------------------- accuracy

TEST(ResizeAccuracy, FloatMatchesDoublePrecisionReference)
{
    TestVolume<float> src = randomVolume<float>(kSrcExtent, 21);
    TestVolume<float> dst(kDstExtent);
    for (int mode : {2, 4, 5, 6, 7}) {
        for (const Case& c : kCases) {
            for (Layout layout : {Layout::Planar, Layout::Contiguous}) {
                runCase(layout, c, mode, src, dst);
                expectWritten(dst, writtenRegions(kSrcExtent, c.srcVoi, c.dstVoi, c.scale),
                              [&](int x, int y, int z, float v) {
                                  const double r = referenceVoxel(src, mode, x, y, z, c.scale);
                                  ASSERT_NEAR(v, r, 1e-6) << "mode " << mode << " at " << x << " " << y << " " << z;
                              });
            }
        }
    }
}

TEST(ResizeAccuracy, FloatReductionByTwoMatchesDoublePrecisionReference)
{
    // Rows wide enough for the 4-wide loops of a 2:1 reduction.
    const VekrVolume e{42, 9, 7};
    TestVolume<float> src = randomVolume<float>(e, 23);
    TestVolume<float> dst(VekrVolume{24, 6, 5});
    const Case c{{0, 0, 0, 42, 9, 7}, {0, 0, 0, 24, 6, 5}, {0.5, 0.5, 0.5, 0, 0.25, 0}};
    for (int mode : {2, 6}) {
        runCase(Layout::Contiguous, c, mode, src, dst);
        expectWritten(dst, writtenRegions(e, c.srcVoi, c.dstVoi, c.scale), [&](int x, int y, int z, float v) {
            ASSERT_NEAR(v, referenceVoxel(src, mode, x, y, z, c.scale), 1e-6) << mode << " " << x << " " << y << " " << z;
        });
    }
}

template <class T>
void expectLinearFixedPoint()
{
    TestVolume<T> src = randomVolume<T>(kSrcExtent, 31);
    TestVolume<T> dst(kDstExtent);
    for (const Case& c : kCases) {
        for (Layout layout : {Layout::Planar, Layout::Contiguous}) {
            runCase(layout, c, 2, src, dst);
            expectWritten(dst, writtenRegions(kSrcExtent, c.srcVoi, c.dstVoi, c.scale), [&](int x, int y, int z, T v) {
                ASSERT_EQ(v, linearIntegerVoxel(src, x, y, z, c.scale)) << x << " " << y << " " << z;
            });
        }
    }
    // Enough interior voxels with irregular weights that a rounding
    // constant off by one in any stage shows.
    const VekrVolume e{20, 18, 16};
    TestVolume<T> bigSrc = randomVolume<T>(e, 33);
    TestVolume<T> bigDst(VekrVolume{46, 31, 30});
    const Case c{{0, 0, 0, 20, 18, 16}, {0, 0, 0, 46, 31, 30}, {2.3, 1.7, 1.9, 0.1, 0, 0}};
    runCase(Layout::Contiguous, c, 2, bigSrc, bigDst);
    expectWritten(bigDst, writtenRegions(e, c.srcVoi, c.dstVoi, c.scale), [&](int x, int y, int z, T v) {
        ASSERT_EQ(v, linearIntegerVoxel(bigSrc, x, y, z, c.scale)) << x << " " << y << " " << z;
    });
}

TEST(ResizeAccuracy, IntegerLinearFollowsTheFixedPointStagingExactly)
{
    expectLinearFixedPoint<uint8_t>();
    expectLinearFixedPoint<uint16_t>();
}

template <class T>
void expectCubicRounded(int mode, int maxValue)
{
    TestVolume<T> src = randomVolume<T>(kSrcExtent, 41);
    TestVolume<T> dst(kDstExtent);
    for (const Case& c : kCases) {
        runCase(Layout::Contiguous, c, mode, src, dst);
        expectWritten(dst, writtenRegions(kSrcExtent, c.srcVoi, c.dstVoi, c.scale), [&](int x, int y, int z, T v) {
            const double r = std::min<double>(std::max(referenceVoxel(src, mode, x, y, z, c.scale), 0.0), maxValue);
            // Rounded to nearest; single-precision stages may tip a sum
            // lying within a hair of a half.
            ASSERT_LE(std::fabs(v - r), 0.5 + 1e-3 * maxValue / 255.0) << mode << " " << x << " " << y << " " << z;
        });
    }
}

TEST(ResizeAccuracy, IntegerCubicRoundsAndSaturates)
{
    for (int mode : {4, 5, 6, 7}) {
        expectCubicRounded<uint8_t>(mode, 255);
        expectCubicRounded<uint16_t>(mode, 65535);
    }
    // Alternating extremes: the negative lobes overshoot on both sides; 16u
    // saturates, 32f keeps the overshoot.
    const VekrVolume e{8, 8, 8};
    TestVolume<uint16_t> s16(e), d16(VekrVolume{24, 24, 24});
    TestVolume<float> s32(e), d32(VekrVolume{24, 24, 24});
    for (int z = 0; z < 8; ++z)
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const bool high = ((x + y + z) & 1) != 0;
                s16.at(x, y, z) = high ? 65535 : 0;
                s32.at(x, y, z) = high ? 1.0f : 0.0f;
            }
    const Case c{{0, 0, 0, 8, 8, 8}, {0, 0, 0, 24, 24, 24}, {3, 3, 3, 0, 0, 0}};
    for (int mode : {4, 6, 7}) {
        runCase(Layout::Planar, c, mode, s16, d16);
        runCase(Layout::Planar, c, mode, s32, d32);
        int high = 0, low = 0;
        for (int z = 0; z < 24; ++z)
            for (int y = 0; y < 24; ++y)
                for (int x = 0; x < 24; ++x) {
                    const float f = d32.at(x, y, z);
                    if (f > 1.0f) {
                        ++high;
                        EXPECT_EQ(d16.at(x, y, z), 65535);
                    }
                    if (f < -1e-3f) {
                        ++low;
                        EXPECT_EQ(d16.at(x, y, z), 0);
                    }
                }
        EXPECT_GT(high, 0) << mode;
        EXPECT_GT(low, 0) << mode;
    }
}

// ---------------------------------------------------------------- nearest

TEST(ResizeNearest, IndexRulesAndFirstWrittenColumn)
{
    const VekrVolume e{8, 4, 4};
    TestVolume<uint16_t> src = randomVolume<uint16_t>(e, 61);
    TestVolume<uint16_t> dst(VekrVolume{20, 8, 8});
    // Factor 2: columns 2k and 2k + 1 both take source column k.
    runCase(Layout::Planar, Case{{0, 0, 0, 8, 4, 4}, {0, 0, 0, 16, 8, 8}, {2, 2, 2, 0, 0, 0}}, 1, src, dst);
    for (int x = 0; x < 16; ++x) ASSERT_EQ(dst.at(x, 3, 5), src.at(x / 2, 1, 2)) << x;
    // Factor 0.5: column k lies on the boundary of 2k and 2k + 1 and takes 2k.
    runCase(Layout::Planar, Case{{0, 0, 0, 8, 4, 4}, {0, 0, 0, 4, 2, 2}, {0.5, 0.5, 0.5, 0, 0, 0}}, 1, src, dst);
    for (int x = 0; x < 4; ++x) ASSERT_EQ(dst.at(x, 1, 1), src.at(2 * x, 2, 2)) << x;
    // srcVoi.x = 4 with factor 2 starts at destination column 8.
    runCase(Layout::Contiguous, Case{{4, 0, 0, 4, 4, 4}, {0, 0, 0, 20, 8, 8}, {2, 2, 2, 0, 0, 0}}, 1, src, dst);
    EXPECT_EQ(dst.at(7, 0, 0), sentinel<uint16_t>());
    EXPECT_EQ(dst.at(8, 0, 0), src.at(4, 0, 0));
    EXPECT_EQ(dst.at(15, 7, 7), src.at(7, 3, 3));
    EXPECT_EQ(dst.at(16, 7, 7), sentinel<uint16_t>());
}

template <class T>
void expectNearestRows(double factor, double shift)
{
    // Rows long enough for the widening copy of every voxel size, with a
    // shift that makes the first source column repeat fewer times.
    const VekrVolume e{70, 3, 2};
    TestVolume<T> src = randomVolume<T>(e, 75);
    TestVolume<T> dst(VekrVolume{300, 3, 2});
    const Case c{{1, 0, 0, 69, 3, 2}, {0, 0, 0, 300, 3, 2}, {factor, 1, 1, shift, 0, 0}};
    runCase(Layout::Planar, c, 1, src, dst);
    expectWritten(dst, writtenRegions(e, c.srcVoi, c.dstVoi, c.scale), [&](int x, int y, int z, T v) {
        ASSERT_EQ(v, src.at(nearestIndex(x, factor, shift), y, z)) << factor << " " << shift << " " << x;
    });
}

TEST(ResizeNearest, MatchesTheIndexFormula)
{
    TestVolume<uint8_t> src = randomVolume<uint8_t>(kSrcExtent, 71);
    TestVolume<uint8_t> dst(kDstExtent);
    for (const Case& c : kCases) {
        for (Layout layout : {Layout::Planar, Layout::Contiguous}) {
            runCase(layout, c, 1, src, dst);
            const Scale& s = c.scale;
            expectWritten(dst, writtenRegions(kSrcExtent, c.srcVoi, c.dstVoi, s), [&](int x, int y, int z, uint8_t v) {
                ASSERT_EQ(v, src.at(nearestIndex(x, s.fx, s.sx), nearestIndex(y, s.fy, s.sy), nearestIndex(z, s.fz, s.sz)));
            });
        }
    }
    for (double factor : {0.5, 1.0, 2.0, 3.0, 4.0}) {
        for (double shift : {0.0, 1.0, 2.6}) {
            expectNearestRows<uint8_t>(factor, shift);
            expectNearestRows<uint16_t>(factor, shift);
            expectNearestRows<float>(factor, shift);
        }
    }
}

TEST(ResizeNearest, LargePlaneCopiesStreamPastTheCache)
{
    // Planes of 1032 x 1024 bytes (over 1 MiB) duplicated along z, once with
    // padded rows (row by row) and once with contiguous rows (one block).
    const VekrVolume e{1032, 1024, 1};
    for (int pad : {5, 0}) {
        TestVolume<uint8_t> src(e, false, 0);
        std::mt19937 rng(81);
        for (int y = 0; y < 1024; ++y)
            for (int x = 0; x < 1032; ++x) src.at(x, y, 0) = static_cast<uint8_t>(rng());
        TestVolume<uint8_t> dst(VekrVolume{1032, 1024, 3}, false, pad);
        runCase(Layout::Contiguous, Case{{0, 0, 0, 1032, 1024, 1}, {0, 0, 0, 1032, 1024, 3}, {1, 1, 3, 0, 0, 0}}, 1,
                src, dst);
        for (int z = 0; z < 3; ++z)
            for (int y = 0; y < 1024; y += 7)
                for (int x = 0; x < 1032; ++x) ASSERT_EQ(dst.at(x, y, z), src.at(x, y, 0)) << pad << " " << z;
    }
}

// ---------------------------------------------------------------- layouts

template <class T>
void expectBottomUpAgrees(int mode)
{
    TestVolume<T> src = randomVolume<T>(kSrcExtent, 91);
    TestVolume<T> srcFlipped = randomVolume<T>(kSrcExtent, 91, true);
    TestVolume<T> dst(kDstExtent), dstFlipped(kDstExtent, true);
    for (const Case& c : kCases) {
        for (Layout layout : {Layout::Planar, Layout::Contiguous}) {
            runCase(layout, c, mode, src, dst);
            runCase(layout, c, mode, srcFlipped, dstFlipped);
            for (int z = 0; z < kDstExtent.depth; ++z)
                for (int y = 0; y < kDstExtent.height; ++y)
                    for (int x = 0; x < kDstExtent.width; ++x)
                        ASSERT_EQ(dst.at(x, y, z), dstFlipped.at(x, y, z)) << mode << " " << x << " " << y << " " << z;
        }
    }
}

TEST(ResizeLayouts, NegativeRowStepsAddressTheSameVoxels)
{
    for (int mode : {1, 2, 6}) {
        expectBottomUpAgrees<uint8_t>(mode);
        expectBottomUpAgrees<float>(mode);
    }
}

// ---------------------------------------------------------------- threads

TEST(ResizeThreads, ContiguousFloatIsTheSameOnAnyThreadCount)
{
    const VekrVolume e{12, 11, 10};
    TestVolume<float> src = randomVolume<float>(e, 101);
    const Case c{{0, 0, 0, 12, 11, 10}, {0, 0, 0, 22, 20, 19}, {1.9, 1.8, 1.85, 0, 0, 0}};
    for (int mode : {1, 2, 6}) {
        TestVolume<float> serial(VekrVolume{22, 20, 19});
        runCase(Layout::Planar, c, mode, src, serial);
        for (int threads : {1, 2, 4}) {
            vekr_test::ScopedThreads scoped(threads);
            TestVolume<float> dst(VekrVolume{22, 20, 19});
            runCase(Layout::Contiguous, c, mode, src, dst);
            ASSERT_EQ(dst.raw(), serial.raw()) << "mode " << mode << ", " << threads << " threads";
        }
    }
}

// A destination column whose source position is a hair below 0 splits into
// index -1 with a fraction that rounds to exactly 1: the taps clamp to the
// first voxels and the weights must follow them, not collapse to fraction 0.
TEST(ResizeAccuracy, FractionRoundingToOneKeepsItsWeights)
{
    const int32_t w = 8;
    std::vector<float> src(w);
    for (int32_t x = 0; x < w; ++x) src[x] = 10.0f * x;
    const VekrVolume srcVolume{w, 1, 1};
    const VekrCuboid srcVoi{0, 0, 0, w, 1, 1};
    // Factor 49: column 24 maps to (24.5 / 49) - 0.5, about -5.6e-17.
    const VekrCuboid dstVoi{24, 0, 0, 1, 1, 1};
    std::vector<float> dst(25, -1.0f);
    int32_t bufSize = 0;
    ASSERT_EQ(vekrResizeGetBufSize(srcVoi, dstVoi, 1, vekInterBSpline, &bufSize), vekStsOk);
    std::vector<uint8_t> buf(static_cast<size_t>(bufSize) + 64);
    ASSERT_EQ(vekrResize_32f_C1V(src.data(), srcVolume, w * 4, w * 4, srcVoi, dst.data(), 25 * 4, 25 * 4, dstVoi, 49.0,
                                 1.0, 1.0, 0.0, 0.0, 0.0, vekInterBSpline, buf.data()),
              vekStsOk);
    // Taps 0, 0, 0, 1 with B-spline weights 0, 1/6, 2/3, 1/6.
    EXPECT_NEAR(dst[24], 10.0f / 6.0f, 1e-5);
}
