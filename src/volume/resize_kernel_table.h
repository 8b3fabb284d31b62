// The resize kernels of one instruction set: per voxel type and layout, one
// kernel per (checked) interpolation mode; 0 and 3 are not modes.
#ifndef VEKR_VOLUME_RESIZE_KERNEL_TABLE_H
#define VEKR_VOLUME_RESIZE_KERNEL_TABLE_H

#include <cstdint>

#include "volume/resize_job.h"
#include "volume/volume_frame.h"

namespace vekr {
namespace volume {

template <class Src, class Dst>
struct ResizeModes {
    using Kernel = void (*)(const ResizeJob<Src, Dst>&, int32_t zFirst, int32_t zCount, unsigned char* buffer);
    Kernel byMode[8];
};

template <class T>
using PlanarResizeModes = ResizeModes<PlanarVolume<const T>, PlanarVolume<T>>;
template <class T>
using ContiguousResizeModes = ResizeModes<ContiguousVolume<const T>, ContiguousVolume<T>>;

struct ResizeKernelTable {
    PlanarResizeModes<uint8_t> planar8u;
    PlanarResizeModes<uint16_t> planar16u;
    PlanarResizeModes<float> planar32f;
    ContiguousResizeModes<uint8_t> contiguous8u;
    ContiguousResizeModes<uint16_t> contiguous16u;
    ContiguousResizeModes<float> contiguous32f;

    // The kernels of a destination layout, chosen by overload.
    const PlanarResizeModes<uint8_t>& of(const PlanarVolume<uint8_t>&) const { return planar8u; }
    const PlanarResizeModes<uint16_t>& of(const PlanarVolume<uint16_t>&) const { return planar16u; }
    const PlanarResizeModes<float>& of(const PlanarVolume<float>&) const { return planar32f; }
    const ContiguousResizeModes<uint8_t>& of(const ContiguousVolume<uint8_t>&) const { return contiguous8u; }
    const ContiguousResizeModes<uint16_t>& of(const ContiguousVolume<uint16_t>&) const { return contiguous16u; }
    const ContiguousResizeModes<float>& of(const ContiguousVolume<float>&) const { return contiguous32f; }
};

}  // namespace volume
}  // namespace vekr

#endif
