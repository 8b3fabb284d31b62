// The remap exports: the check sequence, then the traversal kernel for the
// degraded mode from one eight-entry table per voxel type.

#include <type_traits>

#include "vekr.h"
#include "volume/sampling_kernels.h"
#include "volume/volume_frame.h"
#include "volume/volume_threading.h"

namespace vekr {
namespace volume {

namespace {

struct CoordinateMaps {
    PlanarVolume<const float> x, y, z;
};

template <class T>
using RemapKernel = void (*)(const PlanarVolume<const T>& src, const PlanarVolume<T>& dst, const CoordinateMaps& maps,
                             const InclusiveBox& srcBox, int32_t width, int32_t height, int32_t depth);

// Every destination voxel reads its source position from the three maps at
// its own index; the map rows are walked in step with the destination row.
template <class T, int Mode>
void remapKernel(const PlanarVolume<const T>& src, const PlanarVolume<T>& dst, const CoordinateMaps& maps,
                 const InclusiveBox& srcBox, int32_t width, int32_t height, int32_t depth)
{
    const auto sample = makeSampler<T, Mode>(SampledSource<T>{src, srcBox});
    using Sampler = std::decay_t<decltype(sample)>;
    const PositionBox<float> inside(srcBox);
    for (int32_t z = 0; z < depth; ++z)
        for (int32_t y = 0; y < height; ++y) {
            const float* mx = maps.x.row(y, z);
            const float* my = maps.y.row(y, z);
            const float* mz = maps.z.row(y, z);
            T* out = dst.row(y, z);
            int32_t x = 0;
            if constexpr (Sampler::kFourWide) {
                // Groups of four voxels; a group wholly inside the source box
                // is sampled together (each voxel as it would be alone).
                for (; x + 4 <= width; x += 4) {
                    bool allInside = true;
                    for (int l = 0; l < 4; ++l) allInside &= inside.contains(mx[x + l], my[x + l], mz[x + l]);
                    if (allInside) {
                        sample.four(mx + x, my + x, mz + x, out + x);
                        continue;
                    }
                    for (int l = 0; l < 4; ++l)
                        if (inside.contains(mx[x + l], my[x + l], mz[x + l]))
                            out[x + l] = sample(mx[x + l], my[x + l], mz[x + l]);
                }
            }
            for (; x < width; ++x) {
                const float sx = mx[x], sy = my[x], sz = mz[x];
                if (inside.contains(sx, sy, sz)) out[x] = sample(sx, sy, sz);
            }
        }
}

// Indexed by the degraded mode; 0 and 3 are not modes.
template <class T>
constexpr RemapKernel<T> kRemapKernels[8] = {
    nullptr,
    remapKernel<T, vekInterNearest>,
    remapKernel<T, vekInterLinear>,
    nullptr,
    remapKernel<T, vekInterLagrange>,
    remapKernel<T, vekInterBSpline>,
    remapKernel<T, vekInterCatmullRom>,
    remapKernel<T, vekInterBlendCubic>,
};

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
    const RemapKernel<T> kernel = kRemapKernels<T>[mode];
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
