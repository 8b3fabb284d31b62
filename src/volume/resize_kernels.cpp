// The resize kernels of one instruction set: nearest, linear and cubic, per
// voxel type and layout, bound into the table the resize front reads.
#include "volume/resize_cubic.h"
#include "volume/resize_kernel_table.h"
#include "volume/resize_linear.h"
#include "volume/resize_nearest.h"

namespace vekr {
namespace volume {
namespace VEKR_ISA_NS {

namespace {

template <class Src, class Dst>
constexpr ResizeModes<Src, Dst> resizeModes()
{
    return ResizeModes<Src, Dst>{{nullptr, resizeNearest<Src, Dst>, resizeLinear<Src, Dst>, nullptr,
                                  resizeCubic<Src, Dst>, resizeCubic<Src, Dst>, resizeCubic<Src, Dst>,
                                  resizeCubic<Src, Dst>}};
}

template <class T>
constexpr PlanarResizeModes<T> planar()
{
    return resizeModes<PlanarVolume<const T>, PlanarVolume<T>>();
}

template <class T>
constexpr ContiguousResizeModes<T> contiguous()
{
    return resizeModes<ContiguousVolume<const T>, ContiguousVolume<T>>();
}

}  // namespace

extern const ResizeKernelTable resizeKernels = {planar<uint8_t>(),     planar<uint16_t>(),     planar<float>(),
                                                contiguous<uint8_t>(), contiguous<uint16_t>(), contiguous<float>()};

}  // namespace VEKR_ISA_NS
}  // namespace volume
}  // namespace vekr
