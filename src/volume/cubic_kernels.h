// The four cubic interpolation kernels, in two forms: the piecewise
// polynomials evaluated in double precision (resize evaluates them once per
// destination index) and the 208-entry single-precision tables that warp and
// remap interpolate per voxel.
#ifndef VEKR_VOLUME_CUBIC_KERNELS_H
#define VEKR_VOLUME_CUBIC_KERNELS_H

#include <cstdint>

#include "vekr_volume.h"

namespace vekr {
namespace volume {

// K(t) for distance t >= 0: near(t) for t < 1, far(t) for 1 <= t < 2, 0
// beyond, each divided by the denominator. Coefficients run from t^3 down to
// the constant term. They are kept as small integers over one common
// denominator so that the kernels are exact where they must be: an
// interpolating kernel is exactly 0 at distances 1 and 2 and exactly 1 at 0,
// which makes factor-1 resizes reproduce their source bit for bit.
struct CubicKernel {
    double near[4];
    double far[4];
    double denominator;
};

// Mode 4: the 4-point Lagrange interpolant, 0.5t^3 - t^2 - 0.5t + 1 and
// -t^3/6 + t^2 - 11t/6 + 1.
inline constexpr CubicKernel kLagrangeKernel{{3, -6, -3, 6}, {-1, 6, -11, 6}, 6};
// Mode 5: cubic B-spline (B = 1, C = 0); smooths, does not interpolate.
inline constexpr CubicKernel kBSplineKernel{{3, -6, 0, 4}, {-1, 6, -12, 8}, 6};
// Mode 6: Catmull-Rom (B = 0, C = 1/2).
inline constexpr CubicKernel kCatmullRomKernel{{9, -15, 0, 6}, {-3, 15, -24, 12}, 6};
// Mode 7: the blend B = 1/2, C = 3/10 of the two-parameter family,
// 0.95t^3 - 1.7t^2 + 5/6 and -23t^3/60 + 2t^2 - 3.4t + 28/15.
inline constexpr CubicKernel kBlendCubicKernel{{57, -102, 0, 50}, {-23, 120, -204, 112}, 60};

// The kernel of a cubic mode (4 to 7); any other mode is a caller's error.
const CubicKernel& cubicKernel(int32_t mode);

constexpr double evaluateCubic(const CubicKernel& k, double t)
{
    if (t < 1.0) return (((k.near[0] * t + k.near[1]) * t + k.near[2]) * t + k.near[3]) / k.denominator;
    if (t < 2.0) return (((k.far[0] * t + k.far[1]) * t + k.far[2]) * t + k.far[3]) / k.denominator;
    return 0.0;
}

// The four tap weights K(1 + f), K(f), K(1 - f), K(2 - f) of a fraction f in
// [0, 1): distances formed in single precision, the kernel in double, each
// weight rounded once to single precision.
inline void cubicTapWeights(const CubicKernel& k, float f, float w[4])
{
    const float d0 = -1.0f - f, d1 = -f, d2 = 1.0f - f, d3 = 2.0f - f;
    w[0] = static_cast<float>(evaluateCubic(k, d0 < 0.0f ? -d0 : d0));
    w[1] = static_cast<float>(evaluateCubic(k, d1 < 0.0f ? -d1 : d1));
    w[2] = static_cast<float>(evaluateCubic(k, d2 < 0.0f ? -d2 : d2));
    w[3] = static_cast<float>(evaluateCubic(k, d3 < 0.0f ? -d3 : d3));
}

// The tabulated kernel of a cubic mode (4 to 7).
const VekrCubicKernelTable& cubicKernelTable(int32_t mode);

// Weight for distance t >= 0 from a table: linear interpolation between the
// two entries around t * 100, everything in single precision.
inline float tableWeight(const VekrCubicKernelTable& table, float t)
{
    const float s = (t < 2.0f ? t : 2.0f) * 100.0f;
    const int32_t k = static_cast<int32_t>(s);
    const float r = s - static_cast<float>(k);
    return table.weight[k] + (table.weight[k + 1] - table.weight[k]) * r;
}

// A cubic table with each entry followed by the step to the next one, so
// that one 8-byte load fetches both values a lookup interpolates between.
// The steps are the same single-precision differences T[k + 1] - T[k] that
// a lookup forms, so weights come out bit for bit as tableWeight() gives.
//
// quad[k] holds the four lookups of a fraction f in [0, 1) with k =
// trunc(f * 100) side by side, entries 100 + k, k, 99 - k and 199 - k (the
// distances 1 + f, f, 1 - f, 2 - f), their values in the first four floats
// and their steps in the last four. Rounding can move a distance's entry
// off that pattern near a multiple of 0.01 (and 1 - f lands on 100 - k where
// f * 100 is whole), so a lookup takes quad[k] only after checking all four
// entries against it.
struct CubicPairTable {
    alignas(16) float pair[2 * VEKR_CUBIC_TABLE_SIZE];
    static constexpr int kQuads = 100;
    alignas(32) float quad[kQuads][8];
};

// Built once from the constant tables on first use, read-only afterwards.
const CubicPairTable& cubicPairTable(int32_t mode);

}  // namespace volume
}  // namespace vekr

#endif
