// The affine-warp and remap kernels of one instruction set: per voxel type,
// one traversal kernel per (degraded) interpolation mode; 0 and 3 are not
// modes.
#ifndef VEKR_VOLUME_SAMPLING_KERNEL_TABLE_H
#define VEKR_VOLUME_SAMPLING_KERNEL_TABLE_H

#include <cstdint>

#include "volume/volume_frame.h"

namespace vekr {
namespace volume {

struct CoordinateMaps {
    PlanarVolume<const float> x, y, z;
};

template <class T>
using WarpKernel = void (*)(const PlanarVolume<const T>& src, const PlanarVolume<T>& dst, const InclusiveBox& srcBox,
                            const InclusiveBox& dstBox, const double* m);

template <class T>
using RemapKernel = void (*)(const PlanarVolume<const T>& src, const PlanarVolume<T>& dst, const CoordinateMaps& maps,
                             const InclusiveBox& srcBox, int32_t width, int32_t height, int32_t depth);

struct SamplingKernelTable {
    WarpKernel<uint8_t> warp8u[8];
    WarpKernel<uint16_t> warp16u[8];
    WarpKernel<float> warp32f[8];
    RemapKernel<uint8_t> remap8u[8];
    RemapKernel<uint16_t> remap16u[8];
    RemapKernel<float> remap32f[8];

    WarpKernel<uint8_t> warp(int32_t mode, const uint8_t*) const { return warp8u[mode]; }
    WarpKernel<uint16_t> warp(int32_t mode, const uint16_t*) const { return warp16u[mode]; }
    WarpKernel<float> warp(int32_t mode, const float*) const { return warp32f[mode]; }
    RemapKernel<uint8_t> remap(int32_t mode, const uint8_t*) const { return remap8u[mode]; }
    RemapKernel<uint16_t> remap(int32_t mode, const uint16_t*) const { return remap16u[mode]; }
    RemapKernel<float> remap(int32_t mode, const float*) const { return remap32f[mode]; }
};

}  // namespace volume
}  // namespace vekr

#endif
