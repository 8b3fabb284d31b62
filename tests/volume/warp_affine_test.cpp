// The affine warp: check order with both sources of the transform error,
// identity copies, agreement with a double-precision reference, mode
// degradation and threading.

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

const double kIdentity[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};

// Forward transform s R p + t with R a rotation about a unit axis, and the
// source position of a destination point by the closed-form inverse.
struct Similarity {
    double r[3][3];
    double s;
    double t[3];
    Similarity(const double axis[3], double angle, double scale, const double shift[3]) : s(scale)
    {
        const double c = std::cos(angle), sn = std::sin(angle), u = 1 - c;
        const double x = axis[0], y = axis[1], z = axis[2];
        const double m[3][3] = {{c + x * x * u, x * y * u - z * sn, x * z * u + y * sn},
                                {y * x * u + z * sn, c + y * y * u, y * z * u - x * sn},
                                {z * x * u - y * sn, z * y * u + x * sn, c + z * z * u}};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) r[i][j] = m[i][j];
        for (int i = 0; i < 3; ++i) t[i] = shift[i];
    }
    void forward(double a[12]) const
    {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) a[4 * i + j] = s * r[i][j];
            a[4 * i + 3] = t[i];
        }
    }
    void sourceOf(double X, double Y, double Z, double p[3]) const
    {
        const double q[3] = {X - t[0], Y - t[1], Z - t[2]};
        for (int j = 0; j < 3; ++j) p[j] = (r[0][j] * q[0] + r[1][j] * q[1] + r[2][j] * q[2]) / s;
    }
};

template <class T>
class WarpAffineTyped : public ::testing::Test {};
TYPED_TEST_SUITE(WarpAffineTyped, ResamplingVoxelTypes);

TEST(WarpAffine, ChecksArgumentsInOrder)
{
    using T = uint8_t;
    TestVolume<T> src(8, 8, 8), dst = filledWith<T>(8, 8, 8, 9);
    const VekrVolume vol{8, 8, 8};
    const VekrCuboid voi{0, 0, 0, 8, 8, 8};
    const double cyclic[12] = {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0};
    const double nearlySingular[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1e-11, 0};
    auto warp = [&](const T* const* s, T* const* d, VekrVolume sv, VekrCuboid svoi, VekrCuboid dvoi,
                    const double* a, int mode) { return callWarp(s, sv, src.step(), svoi, d, dst.step(), dvoi, a, mode); };

    EXPECT_EQ(warp(nullptr, dst.planes(), {0, 8, 8}, voi, voi, cyclic, 3), vekStsNullPtrErr);
    EXPECT_EQ(warp(src.cplanes(), nullptr, vol, voi, voi, kIdentity, 1), vekStsNullPtrErr);
    // Sizes before the transform tests and the mode.
    EXPECT_EQ(warp(src.cplanes(), dst.planes(), {8, 0, 8}, voi, voi, cyclic, 3), vekStsSizeErr);
    EXPECT_EQ(warp(src.cplanes(), dst.planes(), vol, {-1, 0, 0, 8, 8, 8}, voi, cyclic, 3), vekStsSizeErr);
    EXPECT_EQ(warp(src.cplanes(), dst.planes(), vol, voi, {0, 0, 0, 8, 8, 0}, cyclic, 3), vekStsSizeErr);
    // The degenerate test comes before the mode; the mode before the region.
    EXPECT_EQ(warp(src.cplanes(), dst.planes(), vol, {8, 0, 0, 1, 1, 1}, voi, cyclic, 3), vekStsCoeffErr);
    EXPECT_EQ(warp(src.cplanes(), dst.planes(), vol, {8, 0, 0, 1, 1, 1}, voi, kIdentity, 3), vekStsInterpolationErr);
    for (int mode : {0, 3, 8, -1}) EXPECT_EQ(warp(src.cplanes(), dst.planes(), vol, voi, voi, kIdentity, mode), -22);
    // The region warning comes before the singular determinant, which is
    // found only by the inversion.
    EXPECT_EQ(warp(src.cplanes(), dst.planes(), vol, {0, 8, 0, 1, 1, 1}, voi, nearlySingular, 1),
              vekStsVoiOutsideWarn);
    EXPECT_EQ(warp(src.cplanes(), dst.planes(), vol, voi, voi, nearlySingular, 1), vekStsCoeffErr);
    for (T v : dst.raw()) ASSERT_EQ(v, 9);

    int32_t size = -1;
    EXPECT_EQ(vekrWarpAffineGetBufSize({-1, 0, 0, 1, 1, 1}, voi, 1, 3, nullptr), vekStsNullPtrErr);
    EXPECT_EQ(vekrWarpAffineGetBufSize(voi, {0, -1, 0, 1, 1, 1}, 3, 3, &size), vekStsSizeErr);
    EXPECT_EQ(vekrWarpAffineGetBufSize({0, 0, 0, 1, 0, 1}, voi, 3, 3, &size), vekStsSizeErr);
    EXPECT_EQ(vekrWarpAffineGetBufSize(voi, voi, 3, 3, &size), vekStsNumChannelsErr);
    EXPECT_EQ(vekrWarpAffineGetBufSize(voi, voi, 1, 3, &size), vekStsInterpolationErr);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(vekrWarpAffineGetBufSize(voi, voi, 1, 7, &size), vekStsOk);
    EXPECT_EQ(size, 0);
}

// Swapping x and y passes the degenerate test through its second minor; a
// cyclic permutation, invertible as it is, has a zero diagonal and fails.
TEST(WarpAffine, AxisSwapPassesAndCyclicPermutationFails)
{
    TestVolume<float> src(6, 5, 4);
    fillRandom(src, 3);
    TestVolume<float> dst = filledWith<float>(5, 6, 4, -1.0f);
    const double swap[12] = {0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};
    const double cyclic[12] = {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0};
    ASSERT_EQ(warpThrough(src, {0, 0, 0, 6, 5, 4}, swap, dst, {0, 0, 0, 5, 6, 4}, vekInterLinear), vekStsOk);
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 5; ++x) ASSERT_EQ(dst.at(x, y, z), src.at(y, x, z));
    EXPECT_EQ(warpThrough(src, {0, 0, 0, 6, 5, 4}, cyclic, dst, {0, 0, 0, 5, 6, 4}, vekInterLinear), vekStsCoeffErr);
}

// With the identity every position is an integer: interpolating modes copy
// the overlap of the two regions (including positions on the far faces of
// the source region), smoothing ones give the tabulated blend of the
// neighbours, and voxels outside the source region keep their contents.
TYPED_TEST(WarpAffineTyped, IdentityCopiesOrSmoothsTheOverlap)
{
    using T = TypeParam;
    TestVolume<T> src(10, 9, 8, 0, true);
    fillRandom(src, 17);
    const VekrCuboid srcVoi{1, 2, 1, 40, 5, 6};  // runs past the x face: trimmed to 9
    const RefBox box{1, 2, 1, 9, 6, 6};
    for (int mode : {1, 2, 4, 5, 6, 7}) {
        TestVolume<T> dst = filledWith<T>(11, 9, 8, sentinel<T>());
        ASSERT_EQ(warpThrough(src, srcVoi, kIdentity, dst, {0, 1, 0, 11, 8, 8}, mode), vekStsOk);
        const bool smoothing = mode == vekInterBSpline || mode == vekInterBlendCubic;
        int changed = 0;
        for (int z = 0; z < 8; ++z)
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 11; ++x) {
                    const bool inside = x >= box.x0 && x <= box.x1 && y >= box.y0 && y <= box.y1 && z >= box.z0 &&
                                        z <= box.z1 && y >= 1;
                    const T got = dst.at(x, y, z);
                    if (!inside) {
                        ASSERT_EQ(got, sentinel<T>()) << x << "," << y << "," << z << " mode " << mode;
                    } else if (!smoothing) {
                        ASSERT_EQ(got, src.at(x, y, z)) << x << "," << y << "," << z << " mode " << mode;
                    } else {
                        const double ref = referenceSample(src, box, mode, x, y, z);
                        ASSERT_NEAR(static_cast<double>(got), ref, 1e-5 * valueScale<T>() + 0.5 * (sizeof(T) < 4))
                            << x << "," << y << "," << z << " mode " << mode;
                        changed += got != src.at(x, y, z);
                    }
                }
        if (smoothing) {
            EXPECT_GT(changed, 100) << "mode " << mode << " should smooth";
        }
    }
}

// A rotation with scaling against the double-precision reference, for a
// source region that starts inside the volume (lower cubic taps read before
// it) and one that starts at 0 (lower taps held at voxel 0). Voxels whose
// position lies within 1e-7 of a face or of an integer are skipped: there
// the incremental traversal may legitimately land on either side.
TYPED_TEST(WarpAffineTyped, MatchesDoubleReferenceUnderRotation)
{
    using T = TypeParam;
    TestVolume<T> src(14, 13, 12);
    fillRandom(src, 29);
    const double axis[3] = {0.48, 0.6, 0.64};
    const double shift[3] = {1.3, -0.7, 0.4};
    const Similarity sim(axis, 0.35, 0.93, shift);
    double a[12];
    sim.forward(a);
    const VekrCuboid vois[2] = {{2, 1, 2, 10, 11, 9}, {0, 0, 0, 14, 13, 12}};
    for (const VekrCuboid& voi : vois) {
        const RefBox box{voi.x, voi.y, voi.z, voi.x + voi.width - 1, voi.y + voi.height - 1, voi.z + voi.depth - 1};
        for (int mode : {1, 2, 4, 5, 6, 7}) {
            TestVolume<T> dst = filledWith<T>(15, 14, 13, sentinel<T>());
            ASSERT_EQ(warpThrough(src, voi, a, dst, {0, 0, 0, 15, 14, 13}, mode), vekStsOk);
            int compared = 0, exact = 0, insideCount = 0;
            for (int z = 0; z < 13; ++z)
                for (int y = 0; y < 14; ++y)
                    for (int x = 0; x < 15; ++x) {
                        double p[3];
                        sim.sourceOf(x, y, z, p);
                        const double lo[3] = {double(box.x0), double(box.y0), double(box.z0)};
                        const double hi[3] = {double(box.x1), double(box.y1), double(box.z1)};
                        bool borderline = false, inside = true;
                        for (int k = 0; k < 3; ++k) {
                            const double nearestInt = mode == 1 ? std::floor(p[k]) + 0.5 : std::nearbyint(p[k]);
                            borderline |= std::fabs(p[k] - nearestInt) < 1e-7 || std::fabs(p[k] - lo[k]) < 1e-7 ||
                                          std::fabs(p[k] - hi[k]) < 1e-7;
                            inside &= p[k] >= lo[k] && p[k] <= hi[k];
                        }
                        if (borderline) continue;
                        const T got = dst.at(x, y, z);
                        ++compared;
                        if (!inside) {
                            ASSERT_EQ(got, sentinel<T>());
                            continue;
                        }
                        ++insideCount;
                        const double ref = referenceSample(src, box, mode, p[0], p[1], p[2]);
                        if constexpr (std::is_same_v<T, float>) {
                            ASSERT_NEAR(got, ref, 4e-6) << x << "," << y << "," << z << " mode " << mode;
                            ++exact;
                        } else {
                            const double hiV = sizeof(T) == 1 ? 255.0 : 65535.0;
                            const double want = std::fmin(std::fmax(std::nearbyint(ref), 0.0), hiV);
                            ASSERT_NEAR(static_cast<double>(got), want, 1.0)
                                << x << "," << y << "," << z << " mode " << mode << " ref " << ref;
                            exact += static_cast<double>(got) == want;
                        }
                    }
            EXPECT_GT(insideCount, 500);
            EXPECT_GT(exact, insideCount * 97 / 100) << "mode " << mode;
            EXPECT_GT(compared, 15 * 14 * 13 * 9 / 10);
        }
    }
}

// Cubic modes need 4 voxels on every axis of the source volume and linear
// needs 2; below that the warp runs the lower mode.
TYPED_TEST(WarpAffineTyped, ThinSourceVolumesDegradeTheMode)
{
    using T = TypeParam;
    const double axis[3] = {0.0, 0.6, 0.8};
    const double shift[3] = {0.2, 0.1, 0.3};
    double a[12];
    Similarity(axis, 0.2, 1.1, shift).forward(a);
    struct Case {
        VekrVolume volume;
        int mode, runsAs;
    };
    for (const Case& c : {Case{{9, 8, 3}, vekInterCatmullRom, vekInterLinear},
                          Case{{9, 3, 8}, vekInterLagrange, vekInterLinear},
                          Case{{1, 8, 9}, vekInterBSpline, vekInterNearest},
                          Case{{8, 9, 1}, vekInterLinear, vekInterNearest}}) {
        TestVolume<T> src(c.volume.width, c.volume.height, c.volume.depth);
        fillRandom(src, 5);
        const VekrCuboid voi{0, 0, 0, c.volume.width, c.volume.height, c.volume.depth};
        TestVolume<T> asked = filledWith<T>(9, 9, 9, sentinel<T>()), lowered = asked;
        ASSERT_EQ(warpThrough(src, voi, a, asked, {0, 0, 0, 9, 9, 9}, c.mode), vekStsOk);
        ASSERT_EQ(warpThrough(src, voi, a, lowered, {0, 0, 0, 9, 9, 9}, c.runsAs), vekStsOk);
        EXPECT_EQ(asked.raw(), lowered.raw()) << "mode " << c.mode;
    }
}

// Each thread starts its slab of planes from the matrix, so positions near
// slab boundaries may differ from the serial run's accumulated ones in the
// last bits; the results may differ there by rounding, nowhere else.
TYPED_TEST(WarpAffineTyped, ThreadedRunStaysWithinLastBitsOfSerial)
{
    using T = TypeParam;
    TestVolume<T> src(24, 22, 21);
    fillRandom(src, 41);
    const double axis[3] = {0.36, 0.48, 0.8};
    const double shift[3] = {2.0, -1.5, 0.75};
    double a[12];
    Similarity(axis, -0.6, 1.07, shift).forward(a);
    for (int mode : {2, 6}) {
        TestVolume<T> serial = filledWith<T>(20, 18, 17, sentinel<T>()), threaded = serial;
        {
            ScopedThreads one(1);
            ASSERT_EQ(warpThrough(src, {1, 1, 1, 22, 20, 19}, a, serial, {1, 0, 0, 18, 17, 17}, mode), vekStsOk);
        }
        {
            ScopedThreads three(3);
            ASSERT_EQ(warpThrough(src, {1, 1, 1, 22, 20, 19}, a, threaded, {1, 0, 0, 18, 17, 17}, mode), vekStsOk);
        }
        int differing = 0;
        for (size_t i = 0; i < serial.raw().size(); ++i) {
            const double s = serial.raw()[i], t = threaded.raw()[i];
            if (s == t) continue;
            ++differing;
            EXPECT_TRUE(s != sentinel<T>() && t != sentinel<T>()) << "box test flipped at element " << i;
            EXPECT_NEAR(s, t, (std::is_same_v<T, float> ? 1e-5 : 1.0));
        }
        EXPECT_LT(differing, 20) << "mode " << mode;
    }
}

}  // namespace
