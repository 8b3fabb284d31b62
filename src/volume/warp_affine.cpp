// The affine warp exports and their buffer-size query: the check sequence
// with the transform tests, the inversion, and the traversal kernels chosen
// from one eight-entry table per voxel type.

#include <type_traits>

#include "vekr.h"
#include "volume/affine_transform.h"
#include "volume/sampling_kernels.h"
#include "volume/volume_frame.h"
#include "volume/volume_threading.h"

namespace vekr {
namespace volume {

namespace {

template <class T>
using WarpKernel = void (*)(const PlanarVolume<const T>& src, const PlanarVolume<T>& dst, const InclusiveBox& srcBox,
                            const InclusiveBox& dstBox, const double* m);

// Destination voxel (X, Y, Z) samples the source at m (X, Y, Z, 1). The
// positions are never multiplied out per voxel: each row starts from
// m0 X0 plus a row part that advances by m1 (m5, m9) per row and by m2
// (m6, m10) per plane from the box's first row and plane, and the position
// advances by m0 (m4, m8) per voxel. A slab run by one thread is a box of
// its own and so starts from its own first plane.
template <class T, int Mode>
void warpKernel(const PlanarVolume<const T>& src, const PlanarVolume<T>& dst, const InclusiveBox& srcBox,
                const InclusiveBox& dstBox, const double* m)
{
    const auto sample = makeSampler<T, Mode>(SampledSource<T>{src, srcBox});
    using Sampler = std::decay_t<decltype(sample)>;
    const PositionBox<double> inside(srcBox);
    const double startX = m[0] * dstBox.x0, startY = m[4] * dstBox.x0, startZ = m[8] * dstBox.x0;
    double planeX = m[1] * dstBox.y0 + m[2] * dstBox.z0 + m[3];
    double planeY = m[5] * dstBox.y0 + m[6] * dstBox.z0 + m[7];
    double planeZ = m[9] * dstBox.y0 + m[10] * dstBox.z0 + m[11];
    // The counters are 64-bit: a box may end on index 2^31 - 1, past which
    // a 32-bit counter could not step to leave the loop.
    for (int64_t z = dstBox.z0; z <= dstBox.z1; ++z) {
        double rowX = planeX, rowY = planeY, rowZ = planeZ;
        for (int64_t y = dstBox.y0; y <= dstBox.y1; ++y) {
            T* out = dst.row(static_cast<int32_t>(y), static_cast<int32_t>(z));
            double sx = startX + rowX, sy = startY + rowY, sz = startZ + rowZ;
            int64_t x = dstBox.x0;
            if constexpr (Sampler::kFourWide) {
                // Groups of four voxels; a group wholly inside the source box
                // is sampled together (each voxel as it would be alone).
                // Positions advance exactly as in the voxel-by-voxel loop.
                for (; x + 3 <= dstBox.x1; x += 4) {
                    double px[4], py[4], pz[4];
                    bool allInside = true;
                    for (int l = 0; l < 4; ++l) {
                        px[l] = sx, py[l] = sy, pz[l] = sz;
                        allInside &= inside.contains(sx, sy, sz);
                        sx += m[0];
                        sy += m[4];
                        sz += m[8];
                    }
                    if (allInside) {
                        sample.four(px, py, pz, out + x);
                        continue;
                    }
                    for (int l = 0; l < 4; ++l)
                        if (inside.contains(px[l], py[l], pz[l])) out[x + l] = sample(px[l], py[l], pz[l]);
                }
            }
            for (; x <= dstBox.x1; ++x) {
                if (inside.contains(sx, sy, sz)) out[x] = sample(sx, sy, sz);
                sx += m[0];
                sy += m[4];
                sz += m[8];
            }
            rowX += m[1];
            rowY += m[5];
            rowZ += m[9];
        }
        planeX += m[2];
        planeY += m[6];
        planeZ += m[10];
    }
}

// Indexed by the degraded mode; 0 and 3 are not modes.
template <class T>
constexpr WarpKernel<T> kWarpKernels[8] = {
    nullptr,
    warpKernel<T, vekInterNearest>,
    warpKernel<T, vekInterLinear>,
    nullptr,
    warpKernel<T, vekInterLagrange>,
    warpKernel<T, vekInterBSpline>,
    warpKernel<T, vekInterCatmullRom>,
    warpKernel<T, vekInterBlendCubic>,
};

template <class T>
VekStatus warpAffine(const T* const* pSrc, const VekrVolume& srcVolume, int32_t srcStep, const VekrCuboid& srcVoi,
                     T* const* pDst, int32_t dstStep, const VekrCuboid& dstVoi, const double* coeffs,
                     int32_t interpolation)
{
    if (const VekStatus s = checkWarpPointersAndSizes(pSrc, pDst, srcVolume, srcVoi, dstVoi); s != vekStsOk) return s;
    if (isDegenerateTransform(coeffs)) return vekStsCoeffErr;
    if (const VekStatus s = checkModeAndSourceRegion(interpolation, srcVolume, srcVoi); s != vekStsOk) return s;

    const InclusiveBox srcBox = inclusiveBox(trimToVolume(srcVolume, srcVoi));
    const InclusiveBox dstBox = inclusiveBox(dstVoi);
    const int32_t mode = degradeInterpolation(interpolation, srcVolume);
    // The singular test comes only now, after the region checks.
    double m[12];
    if (!invertTransform(coeffs, m)) return vekStsCoeffErr;

    const PlanarVolume<const T> src(pSrc, srcStep);
    const PlanarVolume<T> dst(pDst, dstStep);
    const WarpKernel<T> kernel = kWarpKernels<T>[mode];
    runOverPlaneSlabs(dstVoi.width, dstVoi.height, dstVoi.depth, dstVoi.z, nullptr, 0, [&](const PlaneSlab& slab) {
        InclusiveBox slabBox = dstBox;
        slabBox.z0 = slab.firstPlane;
        slabBox.z1 = slab.firstPlane + (slab.planeCount - 1);
        kernel(src, dst, srcBox, slabBox, m);
    });
    return vekStsOk;
}

}  // namespace

}  // namespace volume
}  // namespace vekr

using vekr::volume::warpAffine;

extern "C" VEKR_API VekStatus VEK_CALL vekrWarpAffineGetBufSize(VekrCuboid srcVoi, VekrCuboid dstVoi, int32_t nChannel,
                                                                int32_t interpolation, int32_t* pSize)
{
    const VekStatus s = vekr::volume::checkBufSizeQuery(pSize, srcVoi, dstVoi, nChannel, interpolation);
    if (s != vekStsOk) return s;
    *pSize = 0;
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrWarpAffine_8u_C1PV(const uint8_t* const pSrc[], VekrVolume srcVolume,
                                                              int32_t srcStep, VekrCuboid srcVoi,
                                                              uint8_t* const pDst[], int32_t dstStep,
                                                              VekrCuboid dstVoi, const double* coeffs,
                                                              int32_t interpolation, uint8_t* /*pBuffer*/)
{
    return warpAffine(pSrc, srcVolume, srcStep, srcVoi, pDst, dstStep, dstVoi, coeffs, interpolation);
}

extern "C" VEKR_API VekStatus VEK_CALL vekrWarpAffine_16u_C1PV(const uint16_t* const pSrc[], VekrVolume srcVolume,
                                                               int32_t srcStep, VekrCuboid srcVoi,
                                                               uint16_t* const pDst[], int32_t dstStep,
                                                               VekrCuboid dstVoi, const double* coeffs,
                                                               int32_t interpolation, uint8_t* /*pBuffer*/)
{
    return warpAffine(pSrc, srcVolume, srcStep, srcVoi, pDst, dstStep, dstVoi, coeffs, interpolation);
}

extern "C" VEKR_API VekStatus VEK_CALL vekrWarpAffine_32f_C1PV(const float* const pSrc[], VekrVolume srcVolume,
                                                               int32_t srcStep, VekrCuboid srcVoi,
                                                               float* const pDst[], int32_t dstStep,
                                                               VekrCuboid dstVoi, const double* coeffs,
                                                               int32_t interpolation, uint8_t* /*pBuffer*/)
{
    return warpAffine(pSrc, srcVolume, srcStep, srcVoi, pDst, dstStep, dstVoi, coeffs, interpolation);
}
