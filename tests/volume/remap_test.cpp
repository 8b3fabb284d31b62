// Remap: check order, the single-precision box test, agreement with the
// warp, the output rounding of cubic modes, and threading.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "resampling_reference.h"
#include "support/alloc_hook.h"
#include "test_volume.h"
#include "warp_remap_calls.h"

namespace {

using namespace vekr_test;

void identityPosition(int x, int y, int z, float p[3])
{
    p[0] = static_cast<float>(x), p[1] = static_cast<float>(y), p[2] = static_cast<float>(z);
}

template <class T>
class RemapTyped : public ::testing::Test {};
TYPED_TEST_SUITE(RemapTyped, ResamplingVoxelTypes);

TEST(Remap, ChecksArgumentsInOrder)
{
    using T = uint16_t;
    TestVolume<T> src(6, 6, 6), dst = filledWith<T>(6, 6, 6, 3);
    Maps maps(6, 6, 6);
    maps.fill(identityPosition);
    const VekrVolume vol{6, 6, 6};
    const VekrCuboid voi{0, 0, 0, 6, 6, 6};
    auto call = [&](const T* const* s, const float* const* mx, const float* const* my, const float* const* mz,
                    T* const* d, VekrVolume sv, VekrCuboid svoi, VekrVolume dv, int mode) {
        return callRemap(s, sv, src.step(), svoi, mx, my, mz, maps.x.step(), d, dst.step(), dv, mode);
    };
    const float* const* mx = maps.x.cplanes();
    const float* const* my = maps.y.cplanes();
    const float* const* mz = maps.z.cplanes();
    EXPECT_EQ(call(nullptr, mx, my, mz, dst.planes(), {0, 6, 6}, voi, vol, 3), vekStsNullPtrErr);
    EXPECT_EQ(call(src.cplanes(), mx, my, mz, nullptr, vol, voi, vol, 1), vekStsNullPtrErr);
    EXPECT_EQ(call(src.cplanes(), mx, nullptr, mz, dst.planes(), vol, voi, vol, 1), vekStsNullPtrErr);
    EXPECT_EQ(call(src.cplanes(), mx, my, nullptr, dst.planes(), {0, 6, 6}, voi, vol, 1), vekStsNullPtrErr);
    EXPECT_EQ(call(src.cplanes(), mx, my, mz, dst.planes(), {6, 6, -1}, voi, vol, 3), vekStsSizeErr);
    EXPECT_EQ(call(src.cplanes(), mx, my, mz, dst.planes(), vol, {0, 0, 0, 6, 0, 6}, vol, 3), vekStsSizeErr);
    EXPECT_EQ(call(src.cplanes(), mx, my, mz, dst.planes(), vol, voi, {6, 6, 0}, 3), vekStsSizeErr);
    EXPECT_EQ(call(src.cplanes(), mx, my, mz, dst.planes(), vol, {0, 0, 6, 1, 1, 1}, vol, 3),
              vekStsInterpolationErr);
    EXPECT_EQ(call(src.cplanes(), mx, my, mz, dst.planes(), vol, {0, 0, 6, 1, 1, 1}, vol, 4), vekStsVoiOutsideWarn);
    for (T v : dst.raw()) ASSERT_EQ(v, 3);
}

// Identity maps copy the voxels inside the source region and leave the
// others alone; a position on the region's last voxel is inside, one a
// hair past it, or one that is not a number, is outside.
TYPED_TEST(RemapTyped, IdentityMapsAndTheBoxFaces)
{
    using T = TypeParam;
    TestVolume<T> src(9, 8, 7);
    fillRandom(src, 23);
    const VekrCuboid voi{1, 2, 0, 5, 4, 30};  // box [1, 5] x [2, 5] x [0, 6]
    Maps maps(10, 8, 7);
    maps.fill(identityPosition);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    maps.x.at(0, 3, 3) = 5.0f;        // exactly x1: inside
    maps.x.at(1, 3, 3) = 5.0001f;     // just past x1
    maps.y.at(2, 3, 3) = nan;         // not a number
    maps.z.at(3, 3, 3) = -0.0001f;    // just before z0
    for (int mode : {1, 2, 4, 5, 6, 7}) {
        TestVolume<T> dst = filledWith<T>(10, 8, 7, sentinel<T>());
        ASSERT_EQ(remapThrough(src, voi, maps, dst, mode), vekStsOk);
        const bool smoothing = mode == vekInterBSpline || mode == vekInterBlendCubic;
        for (int z = 0; z < 7; ++z)
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 10; ++x) {
                    const bool special = y == 3 && z == 3 && x < 4;
                    const bool inside = x >= 1 && x <= 5 && y >= 2 && y <= 5;
                    // Smoothing modes blend neighbours: only the untouched
                    // voxels outside the box are checked for them.
                    if (special || (inside && smoothing)) continue;
                    const T want = inside ? src.at(x, y, z) : sentinel<T>();
                    ASSERT_EQ(dst.at(x, y, z), want) << x << "," << y << "," << z << " mode " << mode;
                }
        EXPECT_NE(dst.at(0, 3, 3), sentinel<T>()) << "x1 itself is inside, mode " << mode;
        if (!smoothing) {
            EXPECT_EQ(dst.at(0, 3, 3), src.at(5, 3, 3));
        }
        EXPECT_EQ(dst.at(1, 3, 3), sentinel<T>()) << "mode " << mode;
        EXPECT_EQ(dst.at(2, 3, 3), sentinel<T>()) << "mode " << mode;
        EXPECT_EQ(dst.at(3, 3, 3), sentinel<T>()) << "mode " << mode;
    }
}

// A warp whose inverse has few-bit dyadic entries produces positions that
// are exact in float, so a remap whose maps hold them must agree bit for bit.
TYPED_TEST(RemapTyped, AgreesWithTheWarpOnItsOwnPositions)
{
    using T = TypeParam;
    TestVolume<T> src(13, 12, 11);
    fillRandom(src, 31);
    // Forward: upper triangular with determinant 16; its inverse is
    // [[0.5, -0.125, 0, 1.25], [0, 0.25, 0, 0.5], [0, 0, 0.5, -0.75]].
    const double a[12] = {2, 1, 0, -3, 0, 4, 0, -2, 0, 0, 2, 1.5};
    const double m[12] = {0.5, -0.125, 0, 1.25, 0, 0.25, 0, 0.5, 0, 0, 0.5, -0.75};
    Maps maps(16, 17, 18);
    maps.fill([&](int x, int y, int z, float p[3]) {
        for (int r = 0; r < 3; ++r) p[r] = static_cast<float>(m[4 * r] * x + m[4 * r + 1] * y + m[4 * r + 2] * z + m[4 * r + 3]);
    });
    const VekrCuboid voi{1, 0, 1, 11, 12, 9};
    for (int mode : {1, 2, 4, 5, 6, 7}) {
        TestVolume<T> warped = filledWith<T>(16, 17, 18, sentinel<T>()), remapped = warped;
        ASSERT_EQ(warpThrough(src, voi, a, warped, {0, 0, 0, 16, 17, 18}, mode), vekStsOk);
        ASSERT_EQ(remapThrough(src, voi, maps, remapped, mode), vekStsOk);
        EXPECT_EQ(warped.raw(), remapped.raw()) << "mode " << mode;
        // Starting the warp one column later regroups its voxels in fours:
        // voxels sampled four lanes at a time in one run go one by one in
        // the other, with the same bits.
        TestVolume<T> shifted = filledWith<T>(16, 17, 18, sentinel<T>());
        ASSERT_EQ(warpThrough(src, voi, a, shifted, {1, 0, 0, 15, 17, 18}, mode), vekStsOk);
        for (int z = 0; z < 18; ++z)
            for (int y = 0; y < 17; ++y)
                for (int x = 1; x < 16; ++x) ASSERT_EQ(shifted.at(x, y, z), remapped.at(x, y, z)) << "mode " << mode;
        int written = 0;
        for (T v : remapped.raw()) written += v != sentinel<T>();
        EXPECT_GT(written, 1000);
    }
}

// Catmull-Rom at fraction 0.5 has the exact weights -1/16, 9/16, 9/16,
// -1/16. The interior row (0, 4, 4, 0) gives 4.5, which the 4-wide path
// rounds to even, 4. Where taps are moved the scalar rounding takes halves
// up: next to the region's last voxel (taps 8, 9, 10, 10 over 0, 0, 9, 9)
// 4.5 becomes 5, and at the volume's first voxel (taps 0, 0, 1, 2 over
// 1, 1, 0, 0) 0.5 becomes 1.
TYPED_TEST(RemapTyped, CubicHalvesRoundToEvenInsideAndUpWhereTapsMove)
{
    using T = TypeParam;
    if constexpr (!std::is_same_v<T, float>) {
        TestVolume<T> src(12, 6, 6);
        src.fillAll([] { return T{0}; });
        for (int z = 0; z < 6; ++z)
            for (int y = 0; y < 6; ++y) {
                src.at(0, y, z) = 1;
                src.at(5, y, z) = 4, src.at(6, y, z) = 4;  // interior, around 5.5
                src.at(10, y, z) = 9;  // the box ends at 10
            }
        Maps maps(3, 1, 1);
        const float xs[3] = {5.5f, 9.5f, 0.5f};
        maps.fill([&](int x, int, int, float p[3]) { p[0] = xs[x], p[1] = 2.0f, p[2] = 2.0f; });
        TestVolume<T> dst = filledWith<T>(3, 1, 1, sentinel<T>());
        ASSERT_EQ(remapThrough(src, {0, 0, 0, 11, 6, 6}, maps, dst, vekInterCatmullRom), vekStsOk);
        EXPECT_EQ(dst.at(0, 0, 0), 4);
        EXPECT_EQ(dst.at(1, 0, 0), 5);
        EXPECT_EQ(dst.at(2, 0, 0), 1);
    }
}

// Groups of four voxels wholly inside the box are sampled four lanes at a
// time; a group with one voxel outside goes voxel by voxel. Both must give
// the same bits: the same positions once in full groups, once spread out
// with a not-a-number in front of every three. Two groups keep one axis
// fixed, as rows of a rotation or a scaling do, where cubic groups share
// that axis's weights; one more has a coordinate fixed in half its voxels.
TYPED_TEST(RemapTyped, FourVoxelGroupsMatchSingleVoxels)
{
    using T = TypeParam;
    TestVolume<T> src(11, 10, 9);
    fillRandom(src, 61);
    const VekrCuboid voi{0, 1, 0, 11, 9, 8};
    Rng rng(62);
    std::uniform_real_distribution<float> px(0.0f, 10.0f), py(1.0f, 9.0f), pz(0.0f, 7.0f);
    const int n = 24;
    std::vector<float> pos(3 * n);
    for (int i = 0; i < n; ++i) pos[3 * i] = px(rng), pos[3 * i + 1] = py(rng), pos[3 * i + 2] = pz(rng);
    pos[0] = 10.0f, pos[4] = 9.0f, pos[8] = 7.0f;  // on the far faces
    for (int i = 5; i < 8; ++i) pos[3 * i + 2] = pos[3 * 4 + 2];  // second group: one z
    for (int i = 9; i < 12; ++i) pos[3 * i + 1] = pos[3 * 8 + 1];  // third group: one y
    pos[3 * 13 + 2] = pos[3 * 12 + 2];  // fourth group: z shared by two voxels only
    Maps grouped(n, 1, 1), spread(n / 3 * 4, 1, 1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    grouped.fill([&](int x, int, int, float p[3]) { p[0] = pos[3 * x], p[1] = pos[3 * x + 1], p[2] = pos[3 * x + 2]; });
    spread.fill([&](int x, int, int, float p[3]) {
        const int i = x / 4 * 3 + x % 4 - 1;
        p[0] = x % 4 == 0 ? nan : pos[3 * i], p[1] = x % 4 == 0 ? 0.0f : pos[3 * i + 1];
        p[2] = x % 4 == 0 ? 0.0f : pos[3 * i + 2];
    });
    for (const int mode : {vekInterLinear, vekInterCatmullRom}) {
        TestVolume<T> a = filledWith<T>(n, 1, 1, sentinel<T>()), b = filledWith<T>(n / 3 * 4, 1, 1, sentinel<T>());
        ASSERT_EQ(remapThrough(src, voi, grouped, a, mode), vekStsOk);
        ASSERT_EQ(remapThrough(src, voi, spread, b, mode), vekStsOk);
        for (int x = 0; x < n; ++x) {
            const T want = b.at(x / 3 * 4 + x % 3 + 1, 0, 0);
            if constexpr (std::is_same_v<T, float>)
                ASSERT_EQ(floatBits(a.at(x, 0, 0)), floatBits(want)) << "mode " << mode << " voxel " << x;
            else ASSERT_EQ(a.at(x, 0, 0), want) << "mode " << mode << " voxel " << x;
        }
    }
}

// Source volumes thinner than 2 voxels on an axis run every mode as nearest;
// thinner than 4, cubic modes as linear.
TYPED_TEST(RemapTyped, ThinSourceVolumesDegradeTheMode)
{
    using T = TypeParam;
    Maps maps(7, 6, 5);
    maps.fill([](int x, int y, int z, float p[3]) {
        p[0] = 0.37f * x + 0.11f * y, p[1] = 0.29f * y + 0.05f * z + 0.2f, p[2] = 0.23f * z + 0.07f * x;
    });
    struct Case {
        VekrVolume volume;
        int mode, runsAs;
    };
    for (const Case& c : {Case{{3, 8, 8}, vekInterBlendCubic, vekInterLinear},
                          Case{{8, 1, 8}, vekInterCatmullRom, vekInterNearest},
                          Case{{8, 8, 1}, vekInterLinear, vekInterNearest}}) {
        TestVolume<T> src(c.volume.width, c.volume.height, c.volume.depth);
        fillRandom(src, 8);
        const VekrCuboid voi{0, 0, 0, 8, 8, 8};
        TestVolume<T> asked = filledWith<T>(7, 6, 5, sentinel<T>()), lowered = asked;
        ASSERT_EQ(remapThrough(src, voi, maps, asked, c.mode), vekStsOk);
        ASSERT_EQ(remapThrough(src, voi, maps, lowered, c.runsAs), vekStsOk);
        EXPECT_EQ(asked.raw(), lowered.raw()) << "mode " << c.mode;
    }
}

// Every position comes from the maps, so the split into slabs of planes
// cannot change a single bit.
TYPED_TEST(RemapTyped, ThreadedRunEqualsSerial)
{
    using T = TypeParam;
    TestVolume<T> src(20, 20, 20);
    fillRandom(src, 57);
    Maps maps(18, 16, 17);
    Rng rng(58);
    std::uniform_real_distribution<float> jitter(-1.5f, 1.5f);
    maps.fill([&](int x, int y, int z, float p[3]) {
        p[0] = x + jitter(rng), p[1] = y + jitter(rng), p[2] = z + jitter(rng);
    });
    for (int mode : {1, 2, 6}) {
        TestVolume<T> serial = filledWith<T>(18, 16, 17, sentinel<T>()), threaded = serial;
        {
            ScopedThreads one(1);
            ASSERT_EQ(remapThrough(src, {0, 0, 0, 20, 20, 20}, maps, serial, mode), vekStsOk);
        }
        {
            ScopedThreads three(3);
            ASSERT_EQ(remapThrough(src, {0, 0, 0, 20, 20, 20}, maps, threaded, mode), vekStsOk);
        }
        EXPECT_EQ(serial.raw(), threaded.raw()) << "mode " << mode;
    }
}

}  // namespace
