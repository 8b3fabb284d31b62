// Resize: the checks and buffer sizes, every voxel type, mode, layout and
// row order against the voxel-by-voxel references, worked nearest indices,
// saturation, large plane copies and thread-count invariance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/alloc_hook.h"
#include "volume_support.h"

using namespace vekr_test;

namespace {

const VekrVolume kSrcExtent{7, 6, 5};
const VekrVolume kDstExtent{16, 14, 12};

struct Case {
    VekrVolume src, dst;
    VekrCuboid srcVoi, dstVoi;
    Scale scale;
};

template <class T>
void runCase(Layout layout, const Case& c, int mode, const TestVolume<T>& src, TestVolume<T>& dst)
{
    dst.fill(sentinel<T>());
    ASSERT_EQ(resize(layout, src, c.srcVoi, dst, c.dstVoi, c.scale, mode), vekStsOk);
}

// Every voxel outside the written region still holds the sentinel, and
// check(x, y, z, value) accepts every voxel inside it.
template <class T, class Check>
void expectWritten(const TestVolume<T>& dst, const Regions& r, Check check)
{
    dst.forEach([&](int x, int y, int z) {
        if (r.contain(x, y, z)) check(x, y, z, dst.at(x, y, z));
        else ASSERT_EQ(dst.at(x, y, z), sentinel<T>()) << "outside " << x << " " << y << " " << z;
    });
}

// Identity (where B-spline and mode 7 smooth with 1/6, 2/3, 1/6 and 1/12,
// 5/6, 1/12), enlargement and reduction with shifts, regions cut by the
// volume and by dstVoi: face, interior and partial regions all occur.
std::vector<Case> referenceCases()
{
    std::vector<Case> cases = {
        {kSrcExtent, kDstExtent, {0, 0, 0, 7, 6, 5}, {0, 0, 0, 16, 14, 12}, {1, 1, 1, 0, 0, 0}},
        {kSrcExtent, kSrcExtent, {1, 1, 1, 5, 4, 3}, {1, 1, 1, 5, 4, 3}, {1, 1, 1, 0, 0, 0}},
        {kSrcExtent, kDstExtent, {0, 0, 0, 7, 6, 5}, {0, 0, 0, 16, 14, 12}, {2, 2, 2, 0, 0, 0}},
        {kSrcExtent, kDstExtent, {1, 0, 1, 9, 6, 3}, {2, 1, 0, 13, 12, 12}, {1.7, 2.5, 3, 0.3, -1.2, 0.5}},
        {kSrcExtent, kDstExtent, {0, 1, 0, 7, 5, 5}, {0, 0, 1, 16, 14, 9}, {0.5, 0.6, 1.25, 0.2, 0, -0.4}},
        {kSrcExtent, kDstExtent, {2, 2, 2, 3, 3, 3}, {3, 2, 1, 10, 10, 10}, {2.2, 1.9, 2.1, 0, 1, 0}},
        // Rows wide enough for the 4-wide loops of a 2:1 reduction.
        {{42, 9, 7}, {24, 6, 5}, {0, 0, 0, 42, 9, 7}, {0, 0, 0, 24, 6, 5}, {0.5, 0.5, 0.5, 0, 0.25, 0}},
        // Reductions whose consecutive destination rows share no source row,
        // with fractional y and z weights: planes that share no source plane
        // with a neighbour are finished row by row, mixed with planes (z
        // factor 0.7) that do share one.
        {{30, 26, 22}, {12, 10, 15}, {0, 0, 0, 30, 26, 22}, {0, 0, 0, 12, 10, 15}, {0.4, 0.4, 0.7, 0, 0.3, 0.2}},
        {{30, 26, 22}, {12, 10, 8}, {0, 0, 0, 30, 26, 22}, {0, 0, 0, 12, 10, 8}, {0.4, 0.4, 0.4, 0, 0.3, 0.2}},
        // Enough interior voxels with irregular weights that a rounding
        // constant off by one in any fixed-point stage shows.
        {{20, 18, 16}, {46, 31, 30}, {0, 0, 0, 20, 18, 16}, {0, 0, 0, 46, 31, 30}, {2.3, 1.7, 1.9, 0.1, 0, 0}},
    };
    // Rows long enough for the widening nearest copy of every voxel size
    // (factors it widens by, and 3 and 5, which it must not),
    // with shifts that make the first source column repeat fewer times.
    for (double factor : {0.5, 1.0, 2.0, 3.0, 4.0, 5.0})
        for (double shift : {0.0, 1.0, 2.6})
            cases.push_back({{70, 3, 2}, {300, 3, 2},
                             {1, 0, 0, 69, 3, 2}, {0, 0, 0, 300, 3, 2}, {factor, 1, 1, shift}});
    return cases;
}

// Nearest takes the voxel of the index formula; 8u and 16u linear follow
// the fixed-point staging exactly; float is within 1e-6 of the double
// reference and exact where an interpolating mode lands on the voxels;
// integer cubic is rounded to nearest and saturated (single-precision stages
// may tip a sum lying within a hair of a half).
template <class T>
void expectEveryCaseMatchesReference(int mode)
{
    for (const Case& c : referenceCases())
        for (bool bottomUp : {false, true})
            for (Layout layout : {Layout::Planar, Layout::Contiguous}) {
                TestVolume<T> src(c.src.width, c.src.height, c.src.depth, 0, bottomUp);
                fillRandom(src, 11 + mode);
                TestVolume<T> dst(c.dst.width, c.dst.height, c.dst.depth, 0, bottomUp);
                runCase(layout, c, mode, src, dst);
                const Scale& s = c.scale;
                const bool onVoxels = s.fx == 1 && s.fy == 1 && s.fz == 1 && s.sx == 0 && s.sy == 0 && s.sz == 0 &&
                                      mode != vekInterBSpline && mode != vekInterBlendCubic;
                expectWritten(dst, writtenRegions(c.src, c.srcVoi, c.dstVoi, s), [&](int x, int y, int z, T v) {
                    auto where = [&] {
                        return ::testing::Message() << "mode " << mode << " scale " << s.fx << " layout "
                                                    << int(layout) << " bottom-up " << bottomUp << " at " << x << " "
                                                    << y << " " << z;
                    };
                    if (mode == vekInterNearest) {
                        ASSERT_EQ(v, src.at(nearestIndex(x, s.fx, s.sx), nearestIndex(y, s.fy, s.sy),
                                            nearestIndex(z, s.fz, s.sz)))
                            << where();
                    } else if (std::is_integral_v<T> && mode == vekInterLinear) {
                        ASSERT_EQ(v, linearIntegerVoxel(src, x, y, z, s)) << where();
                    } else if (std::is_floating_point_v<T>) {
                        ASSERT_NEAR(v, referenceVoxel(src, mode, x, y, z, s), onVoxels ? 0.0 : 1e-6) << where();
                    } else {
                        const double r = std::clamp(referenceVoxel(src, mode, x, y, z, s), 0.0, valueScale<T>());
                        ASSERT_LE(std::fabs(v - r), 0.5 + 1e-3 * valueScale<T>() / 255.0) << where();
                    }
                });
            }
}

}  // namespace

// Pointers, then sizes (in every field of either region a negative corner
// or an empty extent; a destination corner may lie anywhere past 0), then
// the factors, then the mode, then the source corner against the volume
// (on every axis the last voxel is inside, the next one outside), then the
// written region. Nothing is written until a call succeeds.
TEST(ResizeChecks, StatusesComeInFamilyOrderAndWriteNothing)
{
    std::vector<float> src(7 * 6 * 5, 1.0f), dst(16 * 14 * 12, 5.0f);
    std::vector<uint8_t> buffer(1 << 16);
    const std::vector<float> untouched = dst;
    const VekrCuboid sv{0, 0, 0, 7, 6, 5}, dv{0, 0, 0, 16, 14, 12};
    auto call = [&](VekrCuboid a, VekrCuboid c, double f, double shift, int mode, VekrVolume v = kSrcExtent) {
        return vekrResize_32f_C1V(src.data(), v, 28, 168, a, dst.data(), 64, 64 * 14, c, 2, f, 2, shift, 0, 0, mode,
                                  buffer.data());
    };
    const VekrCuboid badCorner{-1, 0, 0, 7, 6, 5};
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(vekrResize_32f_C1V(k == 0 ? nullptr : src.data(), VekrVolume{0, 0, 0}, 28, 168, badCorner,
                                     k == 1 ? nullptr : dst.data(), 64, 64 * 14, dv, 2, 0, 2, 0, 0, 0, 3,
                                     k == 2 ? nullptr : buffer.data()),
                  vekStsNullPtrErr)
            << k;
    EXPECT_EQ(call(badCorner, dv, 0, 0, 3, VekrVolume{7, 6, 0}), vekStsSizeErr);
    int32_t VekrCuboid::*const field[6] = {&VekrCuboid::x,     &VekrCuboid::y,      &VekrCuboid::z,
                                           &VekrCuboid::width, &VekrCuboid::height, &VekrCuboid::depth};
    for (int k = 0; k < 6; ++k) {
        VekrCuboid a = sv, c = dv;
        a.*field[k] = c.*field[k] = k < 3 ? -1 : 0;
        EXPECT_EQ(call(a, dv, 0, 0, 3), vekStsSizeErr) << k;
        EXPECT_EQ(call(sv, c, 0, 0, 3), vekStsSizeErr) << k;
    }
    EXPECT_EQ(call(sv, dv, 0, 0, 3), vekStsResizeFactorErr);
    EXPECT_EQ(call(sv, dv, -2, 0, 3), vekStsResizeFactorErr);
    const VekrCuboid outside{0, 6, 0, 1, 1, 1};
    for (int mode = -2; mode < 10; ++mode) {
        const bool supported = mode == 1 || mode == 2 || (mode >= 4 && mode <= 7);
        EXPECT_EQ(call(outside, dv, 2, -1000, mode), supported ? vekStsVoiOutsideWarn : vekStsInterpolationErr) << mode;
    }
    const int32_t extent[3] = {7, 6, 5};
    for (int k = 0; k < 3; ++k) {
        VekrCuboid corner{0, 0, 0, 1, 1, 1};
        corner.*field[k] = extent[k] - 1;
        EXPECT_EQ(call(corner, dv, 2, -1000, 2), vekStsNoVoxelsWarn) << k;
        corner.*field[k] = extent[k];
        EXPECT_EQ(call(corner, dv, 2, -1000, 2), vekStsVoiOutsideWarn) << k;
    }
    EXPECT_EQ(call(sv, VekrCuboid{500, 0, 0, 16, 14, 12}, 2, 0, 2), vekStsNoVoxelsWarn);
    EXPECT_EQ(dst, untouched);
    EXPECT_EQ(call(sv, dv, 2, 0, 2), vekStsOk);
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
        ScopedThreads scoped(threads);
        for (const auto& e : expected) {
            // srcVoi does not enter the size.
            ASSERT_EQ(vekrResizeGetBufSize(VekrCuboid{5, 5, 5, 1, 2, 3}, v, 1, e.mode, &size), vekStsOk);
            EXPECT_EQ(size, e.bytes * threads) << e.mode;
        }
    }
    // A 17 x 1 x 33 region: nearest rounds each axis to 16 entries.
    ScopedThreads one(1);
    ASSERT_EQ(vekrResizeGetBufSize(v, VekrCuboid{3, 0, 0, 17, 1, 33}, 1, 1, &size), vekStsOk);
    EXPECT_EQ(size, 64 * (2 + 1 + 3) + 64);
}

TEST(Resize, EveryTypeModeAndLayoutMatchesItsReference)
{
    for (int mode : {1, 2, 4, 5, 6, 7}) {
        expectEveryCaseMatchesReference<uint8_t>(mode);
        expectEveryCaseMatchesReference<uint16_t>(mode);
        expectEveryCaseMatchesReference<float>(mode);
    }
}

// Alternating extremes: the negative lobes overshoot on both sides; 16u
// saturates, 32f keeps the overshoot.
TEST(Resize, CubicOvershootSaturatesIntegersOnly)
{
    TestVolume<uint16_t> s16(8, 8, 8), d16(24, 24, 24);
    TestVolume<float> s32(8, 8, 8), d32(24, 24, 24);
    s16.forEach([&](int x, int y, int z) {
        const bool high = ((x + y + z) & 1) != 0;
        s16.at(x, y, z) = high ? 65535 : 0;
        s32.at(x, y, z) = high ? 1.0f : 0.0f;
    });
    const Case c{{8, 8, 8}, {24, 24, 24}, {0, 0, 0, 8, 8, 8}, {0, 0, 0, 24, 24, 24}, {3, 3, 3, 0, 0, 0}};
    for (int mode : {4, 6, 7}) {
        runCase(Layout::Planar, c, mode, s16, d16);
        runCase(Layout::Planar, c, mode, s32, d32);
        int high = 0, low = 0;
        d32.forEach([&](int x, int y, int z) {
            const float f = d32.at(x, y, z);
            high += f > 1.0f;
            low += f < -1e-3f;
            if (f > 1.0f || f < -1e-3f) {
                EXPECT_EQ(d16.at(x, y, z), f > 1.0f ? 65535 : 0);
            }
        });
        EXPECT_GT(high, 0) << mode;
        EXPECT_GT(low, 0) << mode;
    }
}

TEST(Resize, NearestIndexRulesAndFirstWrittenColumn)
{
    TestVolume<uint16_t> src(8, 4, 4), dst(20, 8, 8);
    fillRandom(src, 61);
    // Factor 2: columns 2k and 2k + 1 both take source column k.
    runCase(Layout::Planar, Case{{}, {}, {0, 0, 0, 8, 4, 4}, {0, 0, 0, 16, 8, 8}, {2, 2, 2}}, 1, src, dst);
    for (int x = 0; x < 16; ++x) ASSERT_EQ(dst.at(x, 3, 5), src.at(x / 2, 1, 2)) << x;
    // Factor 0.5: column k lies on the boundary of 2k and 2k + 1 and takes 2k.
    runCase(Layout::Planar, Case{{}, {}, {0, 0, 0, 8, 4, 4}, {0, 0, 0, 4, 2, 2}, {0.5, 0.5, 0.5}}, 1, src, dst);
    for (int x = 0; x < 4; ++x) ASSERT_EQ(dst.at(x, 1, 1), src.at(2 * x, 2, 2)) << x;
    // srcVoi.x = 4 with factor 2 starts at destination column 8.
    runCase(Layout::Contiguous, Case{{}, {}, {4, 0, 0, 4, 4, 4}, {0, 0, 0, 20, 8, 8}, {2, 2, 2}}, 1, src, dst);
    EXPECT_EQ(dst.at(7, 0, 0), sentinel<uint16_t>());
    EXPECT_EQ(dst.at(8, 0, 0), src.at(4, 0, 0));
    EXPECT_EQ(dst.at(15, 7, 7), src.at(7, 3, 3));
    EXPECT_EQ(dst.at(16, 7, 7), sentinel<uint16_t>());
}

// Planes of 1032 x 1024 bytes (over 1 MiB) duplicated along z, once with
// padded rows (row by row) and once with contiguous rows (one block).
TEST(Resize, LargePlaneCopiesStreamPastTheCache)
{
    TestVolume<uint8_t> src(1032, 1024, 1, 0, false, 0);
    fillRandom(src, 81);
    for (int pad : {5, 0}) {
        TestVolume<uint8_t> dst(1032, 1024, 3, 0, false, pad);
        runCase(Layout::Contiguous, Case{{}, {}, {0, 0, 0, 1032, 1024, 1}, {0, 0, 0, 1032, 1024, 3}, {1, 1, 3}}, 1,
                src, dst);
        for (int z = 0; z < 3; ++z)
            for (int y = 0; y < 1024; y += 7)
                for (int x = 0; x < 1032; ++x) ASSERT_EQ(dst.at(x, y, z), src.at(x, y, 0)) << pad << " " << z;
    }
}

TEST(Resize, ContiguousFloatIsTheSameOnAnyThreadCount)
{
    TestVolume<float> src(12, 11, 10);
    fillRandom(src, 101);
    const Case c{{}, {}, {0, 0, 0, 12, 11, 10}, {0, 0, 0, 22, 20, 19}, {1.9, 1.8, 1.85}};
    for (int mode : {1, 2, 6}) {
        TestVolume<float> serial(22, 20, 19);
        runCase(Layout::Planar, c, mode, src, serial);
        for (int threads : {1, 2, 4}) {
            ScopedThreads scoped(threads);
            TestVolume<float> dst(22, 20, 19);
            runCase(Layout::Contiguous, c, mode, src, dst);
            ASSERT_EQ(dst.raw(), serial.raw()) << "mode " << mode << ", " << threads << " threads";
        }
    }
}

// A destination column whose source position is a hair below 0 splits into
// index -1 with a fraction that rounds to exactly 1: the taps clamp to the
// first voxels and the weights must follow them, not collapse to fraction 0.
TEST(Resize, FractionRoundingToOneKeepsItsWeights)
{
    TestVolume<float> src(8, 1, 1), dst(25, 1, 1);
    for (int x = 0; x < 8; ++x) src.at(x, 0, 0) = 10.0f * x;
    // Factor 49: column 24 maps to (24.5 / 49) - 0.5, about -5.6e-17.
    runCase(Layout::Contiguous, Case{{}, {}, {0, 0, 0, 8, 1, 1}, {24, 0, 0, 1, 1, 1}, {49, 1, 1}}, vekInterBSpline,
            src, dst);
    // Taps 0, 0, 0, 1 with B-spline weights 0, 1/6, 2/3, 1/6.
    EXPECT_NEAR(dst.at(24, 0, 0), 10.0f / 6.0f, 1e-5);
}
