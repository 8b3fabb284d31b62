// The remap exports: the check sequence, then the traversal kernel for the
// degraded mode from one eight-entry table per voxel type.

#include "vekr.h"
#include "core/kernel_table.h"
#include "volume/sampling_kernel_table.h"
#include "volume/volume_frame.h"
#include "volume/volume_threading.h"

namespace vekr {
namespace volume {

namespace {

template <class T>
VekStatus remap(const T* const* pSrc, const VekrVolume& srcVolume, int32_t srcStep, const VekrCuboid& srcVoi,
                const float* const* pxMap, const float* const* pyMap, const float* const* pzMap, int32_t mapStep,
                T* const* pDst, int32_t dstStep, const VekrVolume& dstVolume, int32_t interpolation)
{
    const VekStatus s =
        checkRemapArguments(pSrc, pDst, pxMap, pyMap, pzMap, srcVolume, srcVoi, dstVolume, interpolation);
    if (s != vekStsOk) return s;

    const InclusiveBox srcBox = inclusiveBox(trimToVolume(srcVolume, srcVoi));
    const int32_t mode = degradeInterpolation(interpolation, srcVolume);
    const PlanarVolume<const T> src(pSrc, srcStep);
    const RemapKernel<T> kernel = kernels().sampling.remap(mode, static_cast<const T*>(nullptr));
    // A slab sees the destination and the maps from its first plane on.
    runOverPlaneSlabs(dstVolume.width, dstVolume.height, dstVolume.depth, 0, nullptr, 0, [&](const PlaneSlab& slab) {
        const int32_t s0 = slab.firstPlane;
        const CoordinateMaps maps{PlanarVolume<const float>(pxMap + s0, mapStep),
                                  PlanarVolume<const float>(pyMap + s0, mapStep),
                                  PlanarVolume<const float>(pzMap + s0, mapStep)};
        kernel(src, PlanarVolume<T>(pDst + s0, dstStep), maps, srcBox, dstVolume.width, dstVolume.height,
               slab.planeCount);
    });
    return vekStsOk;
}

}  // namespace

}  // namespace volume
}  // namespace vekr

using vekr::volume::remap;

extern "C" VEKR_API VekStatus VEK_CALL vekrRemap_8u_C1PV(const uint8_t* const pSrc[], VekrVolume srcVolume,
                                                         int32_t srcStep, VekrCuboid srcVoi,
                                                         const float* const pxMap[], const float* const pyMap[],
                                                         const float* const pzMap[], int32_t mapStep,
                                                         uint8_t* const pDst[], int32_t dstStep,
                                                         VekrVolume dstVolume, int32_t interpolation)
{
    return remap(pSrc, srcVolume, srcStep, srcVoi, pxMap, pyMap, pzMap, mapStep, pDst, dstStep, dstVolume,
                 interpolation);
}

extern "C" VEKR_API VekStatus VEK_CALL vekrRemap_16u_C1PV(const uint16_t* const pSrc[], VekrVolume srcVolume,
                                                          int32_t srcStep, VekrCuboid srcVoi,
                                                          const float* const pxMap[], const float* const pyMap[],
                                                          const float* const pzMap[], int32_t mapStep,
                                                          uint16_t* const pDst[], int32_t dstStep,
                                                          VekrVolume dstVolume, int32_t interpolation)
{
    return remap(pSrc, srcVolume, srcStep, srcVoi, pxMap, pyMap, pzMap, mapStep, pDst, dstStep, dstVolume,
                 interpolation);
}

extern "C" VEKR_API VekStatus VEK_CALL vekrRemap_32f_C1PV(const float* const pSrc[], VekrVolume srcVolume,
                                                          int32_t srcStep, VekrCuboid srcVoi,
                                                          const float* const pxMap[], const float* const pyMap[],
                                                          const float* const pzMap[], int32_t mapStep,
                                                          float* const pDst[], int32_t dstStep,
                                                          VekrVolume dstVolume, int32_t interpolation)
{
    return remap(pSrc, srcVolume, srcStep, srcVoi, pxMap, pyMap, pzMap, mapStep, pDst, dstStep, dstVolume,
                 interpolation);
}
