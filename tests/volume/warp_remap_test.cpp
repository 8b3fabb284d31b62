// Affine warp and remap: the check order with both sources of the transform
// error, identity copies and the faces of the source box, a double-precision
// reference under rotation, remap against the warp on the warp's own
// positions, 4-voxel groups against single voxels, the rounding of cubic
// halves, mode degradation and threading.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "support/alloc_hook.h"
#include "volume_support.h"

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

void identityPosition(int x, int y, int z, float p[3])
{
    p[0] = static_cast<float>(x), p[1] = static_cast<float>(y), p[2] = static_cast<float>(z);
}

template <class T>
class ResamplingTyped : public ::testing::Test {};
TYPED_TEST_SUITE(ResamplingTyped, ResamplingVoxelTypes);

TEST(WarpAffine, ChecksArgumentsInOrder)
{
    using T = uint8_t;
    TestVolume<T> src(8, 8, 8), dst = filledWith<T>(8, 8, 8, 9);
    const VekrVolume vol{8, 8, 8};
    const VekrCuboid voi{0, 0, 0, 8, 8, 8};
    const double cyclic[12] = {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0};
    const double nearlySingular[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1e-11, 0};
    auto warp = [&](const T* const* s, T* const* d, VekrVolume sv, VekrCuboid svoi, VekrCuboid dvoi,
                    const double* a, int mode) {
        return vekrWarpAffine_8u_C1PV(s, sv, src.step(), svoi, d, dst.step(), dvoi, a, mode, nullptr);
    };

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
    // A diagonal of magnitudes up to 1e-100, that bound included, is
    // degenerate whatever the minors say, and is found before the region.
    const double tinyDiagonal[12] = {1e-100, 0, 0, 0, 0, -1e-100, 1, 0, 0, 1, 1e-100, 0};
    EXPECT_EQ(warp(src.cplanes(), dst.planes(), vol, {0, 8, 0, 1, 1, 1}, voi, tinyDiagonal, 1), vekStsCoeffErr);
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

TEST(Remap, ChecksArgumentsInOrder)
{
    using T = uint16_t;
    TestVolume<T> src(6, 6, 6), dst = filledWith<T>(6, 6, 6, 3);
    Maps maps(6, 6, 6);
    maps.fill(identityPosition);
    const VekrVolume vol{6, 6, 6};
    const VekrCuboid voi{0, 0, 0, 6, 6, 6};
    const float *const *mx = maps.x.cplanes(), *const *my = maps.y.cplanes(), *const *mz = maps.z.cplanes();
    auto call = [&](const T* const* s, const float* const* mx, const float* const* my, const float* const* mz,
                    T* const* d, VekrVolume sv, VekrCuboid svoi, VekrVolume dv, int mode) {
        return vekrRemap_16u_C1PV(s, sv, src.step(), svoi, mx, my, mz, maps.x.step(), d, dst.step(), dv, mode);
    };
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

// Swapping x and y passes the degenerate test through its second minor (a
// cyclic permutation, invertible as it is, fails it: see the checks above).
TEST(WarpAffine, AxisSwapPassesTheDegenerateTest)
{
    TestVolume<float> src(6, 5, 4);
    fillRandom(src, 3);
    TestVolume<float> dst = filledWith<float>(5, 6, 4, -1.0f);
    const double swap[12] = {0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};
    ASSERT_EQ(warpThrough(src, {0, 0, 0, 6, 5, 4}, swap, dst, {0, 0, 0, 5, 6, 4}, vekInterLinear), vekStsOk);
    dst.forEach([&](int x, int y, int z) { ASSERT_EQ(dst.at(x, y, z), src.at(y, x, z)); });
}

// Voxels 1.5, 2, 2.5, ... in a margin of two that holds NaN, which any
// weight a kernel gave a voxel past the volume would carry.
TestVolume<float> countingInNaN(const int e[3])
{
    TestVolume<float> v(e[0], e[1], e[2], 2);
    v.fill(std::numeric_limits<float>::quiet_NaN());
    float next = 1.0f;
    v.fillVoxels([&] { return next += 0.5f; });
    return v;
}

// A source one voxel thick along an axis: there the linear weights put all
// of the voxel on its one plane, row or column, and nothing past the volume
// is read (its margin holds NaN, which any weight would carry).
TEST(WarpAffine, OneVoxelThickSourcesAreCopiedWithoutReadingPastThem)
{
    for (int axis = 0; axis < 3; ++axis) {
        int e[3] = {5, 4, 3};
        e[axis] = 1;
        TestVolume<float> src = countingInNaN(e);
        TestVolume<float> dst = filledWith<float>(e[0], e[1], e[2], -1.0f);
        const VekrCuboid all{0, 0, 0, e[0], e[1], e[2]};
        ASSERT_EQ(warpThrough(src, all, kIdentity, dst, all, vekInterLinear), vekStsOk);
        dst.forEach([&](int x, int y, int z) { ASSERT_EQ(dst.at(x, y, z), src.at(x, y, z)) << "axis " << axis; });
    }
}

// A source region one voxel thick at index 0 of a volume two voxels thick
// there: linear sampling keeps the mode (the volume can feed it) but puts
// all of the weight on that voxel, reading none past it. The volume's
// second layer holds NaN, which even a zero weight would carry. The maps
// hold the thin axis at 0 and move the other two off the integers, so
// that whole groups of four take the vector path.
TEST(Remap, LinearSamplingOfARegionOneVoxelThickAtIndexZeroReadsOnlyThatVoxel)
{
    for (int thin = 0; thin < 3; ++thin) {
        int e[3] = {6, 5, 4};
        e[thin] = 2;
        TestVolume<float> src = countingInNaN(e);
        src.forEach([&](int x, int y, int z) {
            const int c[3] = {x, y, z};
            if (c[thin] == 1) src.at(x, y, z) = std::numeric_limits<float>::quiet_NaN();
        });
        VekrCuboid voi{0, 0, 0, e[0], e[1], e[2]};
        (thin == 0 ? voi.width : thin == 1 ? voi.height : voi.depth) = 1;
        const int o1 = (thin + 1) % 3, o2 = (thin + 2) % 3;
        Maps maps(8, 3, 2);
        double want[2][3][8];
        for (int z = 0; z < 2; ++z)
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 8; ++x) {
                    float q[3];
                    q[thin] = 0.0f;
                    // Up to 2.85; neighbouring lanes of a group fall in
                    // different rows at times.
                    q[o1] = 0.3f + 0.17f * static_cast<float>(x + 8 * z);
                    // Up to 1.4, odd and even lanes on different rows.
                    q[o2] = 0.6f + 0.25f * static_cast<float>(y) + 0.3f * static_cast<float>(x & 1);
                    maps.x.at(x, y, z) = q[0];
                    maps.y.at(x, y, z) = q[1];
                    maps.z.at(x, y, z) = q[2];
                    // Bilinear in the two other axes, in double.
                    const int i1 = static_cast<int>(q[o1]), i2 = static_cast<int>(q[o2]);
                    const double f1 = q[o1] - i1, f2 = q[o2] - i2;
                    double sum = 0;
                    for (int a = 0; a < 2; ++a)
                        for (int b = 0; b < 2; ++b) {
                            int c[3];
                            c[thin] = 0;
                            c[o1] = i1 + a;
                            c[o2] = i2 + b;
                            sum += (a ? f1 : 1 - f1) * (b ? f2 : 1 - f2) * src.at(c[0], c[1], c[2]);
                        }
                    want[z][y][x] = sum;
                }
        TestVolume<float> dst = filledWith<float>(8, 3, 2, -1.0f);
        ASSERT_EQ(remapThrough(src, voi, maps, dst, vekInterLinear), vekStsOk);
        dst.forEach([&](int x, int y, int z) {
            ASSERT_NEAR(dst.at(x, y, z), want[z][y][x], 1e-4) << x << "," << y << "," << z << " thin axis " << thin;
        });
    }
}

// With the identity every position is an integer: interpolating modes copy
// the overlap of the source box and the destination region (positions on
// the box's far faces included), smoothing ones give the tabulated blend of
// the neighbours, and voxels outside keep their contents. Remap through
// identity maps gives the warp's voxels, except where a map is moved: a
// position on the box's last voxel is inside; one a hair past it, a hair
// before the volume's first plane, or not a number is outside.
TYPED_TEST(ResamplingTyped, IdentityCopiesOrSmoothsTheSourceBox)
{
    using T = TypeParam;
    TestVolume<T> src(10, 9, 8, 0, true);
    fillRandom(src, 17);
    const VekrCuboid srcVoi{1, 2, 0, 40, 5, 6};  // runs past the x face: trimmed to 9
    const RefBox box{1, 2, 0, 9, 6, 5};
    Maps maps(11, 9, 8);
    maps.fill(identityPosition);
    maps.x.at(0, 3, 3) = 9.0f;
    maps.x.at(1, 3, 3) = 9.0001f;
    maps.y.at(2, 3, 3) = std::numeric_limits<float>::quiet_NaN();
    maps.z.at(3, 3, 3) = -0.0001f;
    for (int mode : {1, 2, 4, 5, 6, 7}) {
        TestVolume<T> warped = filledWith<T>(11, 9, 8, sentinel<T>()), remapped = warped;
        ASSERT_EQ(warpThrough(src, srcVoi, kIdentity, warped, {0, 1, 0, 11, 8, 8}, mode), vekStsOk);
        ASSERT_EQ(remapThrough(src, srcVoi, maps, remapped, mode), vekStsOk);
        const bool smoothing = mode == vekInterBSpline || mode == vekInterBlendCubic;
        int changed = 0;
        warped.forEach([&](int x, int y, int z) {
            const bool inside = x >= box.x0 && x <= box.x1 && y >= box.y0 && y <= box.y1 && z >= box.z0 &&
                                z <= box.z1 && y >= 1;
            const T got = warped.at(x, y, z);
            if (!(y == 3 && z == 3 && x < 4)) {
                ASSERT_EQ(remapped.at(x, y, z), got) << x << "," << y << "," << z;
            }
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
        });
        if (smoothing) {
            EXPECT_GT(changed, 100) << "mode " << mode << " should smooth";
        }
        EXPECT_EQ(remapped.at(0, 3, 3), warped.at(9, 3, 3)) << "x1 itself is inside, mode " << mode;
        for (int x = 1; x < 4; ++x) EXPECT_EQ(remapped.at(x, 3, 3), sentinel<T>()) << x << ", mode " << mode;
    }
}

// A rotation with scaling against the double-precision reference, for a
// source region that starts inside the volume (lower cubic taps read before
// it) and one that starts at 0 (lower taps held at voxel 0). Voxels whose
// position lies within 1e-7 of a face or of an integer are skipped: there
// the incremental traversal may legitimately land on either side.
TYPED_TEST(ResamplingTyped, WarpMatchesDoubleReferenceUnderRotation)
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

// A warp whose inverse has few-bit dyadic entries produces positions that
// are exact in float, so a remap whose maps hold them must agree bit for bit.
TYPED_TEST(ResamplingTyped, RemapAgreesWithTheWarpOnItsOwnPositions)
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

// Transforms that keep z on whole planes (an integer shift in x and y; an
// in-plane shear and scaling with a shift by one plane), and some that
// almost do, against remap on the same positions, which samples every voxel
// from all its planes. Where plane k is weighed 1 and the others 0 (linear
// with fraction 0; cubic modes weighing 0, 1, 0, 0), reading plane k alone
// must give the same bits, and the float source makes that hard: a plane of
// -0, which the full sum turns into +0 when the weights are 0 and 1 on every
// axis, and a NaN and an infinity in planes that are weighed 0, which the
// full sum carries into a NaN.
TYPED_TEST(ResamplingTyped, WarpsThatKeepWholePlanesMatchRemapBitForBit)
{
    using T = TypeParam;
    TestVolume<T> src(14, 13, 11);
    fillRandom(src, 47);
    if constexpr (std::is_same_v<T, float>) {
        src.forEach([&](int x, int y, int z) {
            if (z == 4) src.at(x, y, z) = -0.0f;
        });
        // Single -0 voxels in plane 2, each amid a 4x4 block of negative
        // values and over positive planes 1 and 3: at whole positions the
        // plane-2 sum of such a voxel is -0 and the full sum +0. Under the
        // integer shift they land on each of the four lanes of a group.
        src.forEach([&](int x, int y, int z) {
            if (z == 1 || z == 3) src.at(x, y, z) = std::fabs(src.at(x, y, z)) + 1.0f;
        });
        for (const auto& c : {std::pair{2, 1}, std::pair{9, 1}, std::pair{4, 5}, std::pair{11, 5}, std::pair{5, 9}}) {
            for (int y = c.second - 1; y <= c.second + 2; ++y)
                for (int x = c.first - 1; x <= c.first + 2; ++x) src.at(x, y, 2) = -1.0f;
            src.at(c.first, c.second, 2) = -0.0f;
        }
        // A cubic read of plane k alone weighs planes k - 1, k + 1 and
        // k + 2 by 0. For each of the three, some k finds a non-finite
        // voxel there and in neither of the other two: plane 2 for k = 3,
        // plane 7 for k = 6 and k = 5.
        src.at(6, 6, 7) = std::numeric_limits<float>::quiet_NaN();
        src.at(3, 5, 9) = std::numeric_limits<float>::infinity();
        src.at(12, 10, 2) = -std::numeric_limits<float>::infinity();
    }
    const VekrCuboid voi{0, 0, 0, 14, 13, 11};
    // Forward transforms and their inverses, all dyadic, so that float maps
    // hold the warp's positions exactly.
    const double shift[12] = {1, 0, 0, 1, 0, 1, 0, -1, 0, 0, 1, 0};
    const double shiftInverse[12] = {1, 0, 0, -1, 0, 1, 0, 1, 0, 0, 1, 0};
    const double shear[12] = {2, 1, 0, -3, 0, 4, 0, -2, 0, 0, 1, -1};
    const double shearInverse[12] = {0.5, -0.125, 0, 1.25, 0, 0.25, 0, 0.5, 0, 0, 1, 1};
    const double halfPlane[12] = {2, 1, 0, -3, 0, 4, 0, -2, 0, 0, 1, -0.5};
    const double halfPlaneInverse[12] = {0.5, -0.125, 0, 1.25, 0, 0.25, 0, 0.5, 0, 0, 1, 0.5};
    // And two that move z along a row or down the rows, from a first
    // position on a whole plane.
    const double alongRows[12] = {1, 0, 0, 0, 0, 1, 0, 0, -0.25, 0, 1, -1};
    const double alongRowsInverse[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0.25, 0, 1, 1};
    const double downRows[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, -0.5, 1, -1};
    const double downRowsInverse[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0.5, 1, 1};
    const double* const forward[5] = {shift, shear, halfPlane, alongRows, downRows};
    const double* const inverse[5] = {shiftInverse, shearInverse, halfPlaneInverse, alongRowsInverse, downRowsInverse};
    for (int t = 0; t < 5; ++t) {
        const double* m = inverse[t];
        Maps maps(16, 15, 11);
        maps.fill([&](int x, int y, int z, float p[3]) {
            for (int r = 0; r < 3; ++r)
                p[r] = static_cast<float>(m[4 * r] * x + m[4 * r + 1] * y + m[4 * r + 2] * z + m[4 * r + 3]);
        });
        for (int mode : {2, 4, 5, 6, 7}) {
            TestVolume<T> warped = filledWith<T>(16, 15, 11, sentinel<T>()), remapped = warped;
            ASSERT_EQ(warpThrough(src, voi, forward[t], warped, {0, 0, 0, 16, 15, 11}, mode), vekStsOk);
            ASSERT_EQ(remapThrough(src, voi, maps, remapped, mode), vekStsOk);
            warped.forEach([&](int x, int y, int z) {
                const T a = warped.at(x, y, z), b = remapped.at(x, y, z);
                ASSERT_EQ(std::memcmp(&a, &b, sizeof(T)), 0)
                    << "transform " << t << " mode " << mode << " at " << x << "," << y << "," << z << ": " << a
                    << " against " << b;
            });
        }
    }
}

// Catmull-Rom at fraction 0.5 has the exact weights -1/16, 9/16, 9/16,
// -1/16. The interior row (0, 4, 4, 0) gives 4.5, which the 4-wide path
// rounds to even, 4. Where taps are moved the scalar rounding takes halves
// up: next to the region's last voxel (taps 8, 9, 10, 10 over 0, 0, 9, 9)
// 4.5 becomes 5, and at the volume's first voxel (taps 0, 0, 1, 2 over
// 1, 1, 0, 0) 0.5 becomes 1.
TYPED_TEST(ResamplingTyped, RemapCubicHalvesRoundToEvenInsideAndUpWhereTapsMove)
{
    using T = TypeParam;
    if constexpr (!std::is_same_v<T, float>) {
        TestVolume<T> src(12, 6, 6);
        src.fill(T{0});
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
TYPED_TEST(ResamplingTyped, RemapFourVoxelGroupsMatchSingleVoxels)
{
    using T = TypeParam;
    TestVolume<T> src(11, 10, 9, 0, true);  // bottom-up: rows step backwards
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

// Cubic modes need 4 voxels on every axis of the source volume and linear
// needs 2; below that warp and remap run the lower mode.
TYPED_TEST(ResamplingTyped, ThinSourceVolumesDegradeTheMode)
{
    using T = TypeParam;
    const double axis[3] = {0.0, 0.6, 0.8};
    const double shift[3] = {0.2, 0.1, 0.3};
    double a[12];
    Similarity(axis, 0.2, 1.1, shift).forward(a);
    Maps maps(7, 6, 5);
    maps.fill([](int x, int y, int z, float p[3]) {
        p[0] = 0.37f * x + 0.11f * y, p[1] = 0.29f * y + 0.05f * z + 0.2f, p[2] = 0.23f * z + 0.07f * x;
    });
    struct Case {
        VekrVolume volume;
        int mode, runsAs;
    };
    for (const Case& c : {Case{{9, 8, 3}, vekInterCatmullRom, vekInterLinear},
                          Case{{9, 3, 8}, vekInterLagrange, vekInterLinear},
                          Case{{3, 8, 8}, vekInterBlendCubic, vekInterLinear},
                          Case{{1, 8, 9}, vekInterBSpline, vekInterNearest},
                          Case{{8, 1, 8}, vekInterCatmullRom, vekInterNearest},
                          Case{{8, 9, 1}, vekInterLinear, vekInterNearest}}) {
        TestVolume<T> src(c.volume.width, c.volume.height, c.volume.depth);
        fillRandom(src, 5);
        const VekrCuboid voi{0, 0, 0, c.volume.width, c.volume.height, c.volume.depth};
        TestVolume<T> asked = filledWith<T>(9, 9, 9, sentinel<T>()), lowered = asked;
        ASSERT_EQ(warpThrough(src, voi, a, asked, {0, 0, 0, 9, 9, 9}, c.mode), vekStsOk);
        ASSERT_EQ(warpThrough(src, voi, a, lowered, {0, 0, 0, 9, 9, 9}, c.runsAs), vekStsOk);
        EXPECT_EQ(asked.raw(), lowered.raw()) << "warp, mode " << c.mode;
        TestVolume<T> remapped = filledWith<T>(7, 6, 5, sentinel<T>()), remappedLower = remapped;
        ASSERT_EQ(remapThrough(src, voi, maps, remapped, c.mode), vekStsOk);
        ASSERT_EQ(remapThrough(src, voi, maps, remappedLower, c.runsAs), vekStsOk);
        EXPECT_EQ(remapped.raw(), remappedLower.raw()) << "remap, mode " << c.mode;
    }
}

// Remap positions come from the maps, so the split into slabs of planes
// cannot change a single bit. Each warp thread starts its slab from the
// matrix, so positions near slab boundaries may differ from the serial
// run's accumulated ones in the last bits, and results by rounding there.
TYPED_TEST(ResamplingTyped, ThreadedRunsMatchSerial)
{
    using T = TypeParam;
    TestVolume<T> src(24, 22, 21);
    fillRandom(src, 41);
    const double axis[3] = {0.36, 0.48, 0.8};
    const double shift[3] = {2.0, -1.5, 0.75};
    double a[12];
    Similarity(axis, -0.6, 1.07, shift).forward(a);
    Maps maps(18, 16, 17);
    Rng rng(58);
    std::uniform_real_distribution<float> jitter(-1.5f, 1.5f);
    maps.fill([&](int x, int y, int z, float p[3]) {
        p[0] = x + jitter(rng), p[1] = y + jitter(rng), p[2] = z + jitter(rng);
    });
    for (int mode : {1, 2, 6}) {
        TestVolume<T> warped[2] = {filledWith<T>(20, 18, 17, sentinel<T>()), filledWith<T>(20, 18, 17, sentinel<T>())};
        TestVolume<T> remapped[2] = {filledWith<T>(18, 16, 17, sentinel<T>()),
                                     filledWith<T>(18, 16, 17, sentinel<T>())};
        for (int run = 0; run < 2; ++run) {
            ScopedThreads threads(run == 0 ? 1 : 3);
            ASSERT_EQ(warpThrough(src, {1, 1, 1, 22, 20, 19}, a, warped[run], {1, 0, 0, 18, 17, 17}, mode), vekStsOk);
            ASSERT_EQ(remapThrough(src, {0, 0, 0, 24, 22, 21}, maps, remapped[run], mode), vekStsOk);
        }
        EXPECT_EQ(remapped[0].raw(), remapped[1].raw()) << "mode " << mode;
        if (mode == vekInterNearest) continue;  // a rounding step can move a nearest voxel anywhere
        int differing = 0;
        for (size_t i = 0; i < warped[0].raw().size(); ++i) {
            const double s = warped[0].raw()[i], t = warped[1].raw()[i];
            if (s == t) continue;
            ++differing;
            EXPECT_TRUE(s != sentinel<T>() && t != sentinel<T>()) << "box test flipped at element " << i;
            EXPECT_NEAR(s, t, (std::is_same_v<T, float> ? 1e-5 : 1.0));
        }
        EXPECT_LT(differing, 20) << "mode " << mode;
    }
}

}  // namespace
