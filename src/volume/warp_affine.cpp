// The affine warp exports and their buffer-size query: the check sequence
// with the transform tests, the inversion, and the traversal kernels chosen
// from one eight-entry table per voxel type (of the instruction set in use).

#include "vekr.h"
#include "core/kernel_table.h"
#include "volume/affine_transform.h"
#include "volume/sampling_kernel_table.h"
#include "volume/volume_frame.h"
#include "volume/volume_threading.h"

namespace vekr {
namespace volume {

namespace {

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
    const WarpKernel<T> kernel = kernels().sampling.warp(mode, static_cast<const T*>(nullptr));
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
