// What the four volume families (resize, affine warp, remap, filter) share:
// the argument-check sequence, the region rules, the two memory layouts with
// their absolute addressing, the interpolation modes and the rule by which
// warp and remap lower a mode that the source cannot feed.
//
// Every export is a thin front: it runs the check sequence of its family
// from here, then hands typed layouts and the trimmed regions to a kernel.
#ifndef VEKR_VOLUME_VOLUME_FRAME_H
#define VEKR_VOLUME_VOLUME_FRAME_H

#include <cstddef>
#include <cstdint>

#include "vekr_volume.h"

namespace vekr {
namespace volume {

// ---------------------------------------------------------------- modes

enum class Interpolation : int32_t {
    Nearest = vekInterNearest,
    Linear = vekInterLinear,
    Lagrange = vekInterLagrange,
    BSpline = vekInterBSpline,
    CatmullRom = vekInterCatmullRom,
    BlendCubic = vekInterBlendCubic,
};

// Resize, warp and remap accept 1, 2 and 4 to 7; 3 was never a mode.
inline bool isSupportedInterpolation(int32_t mode)
{
    return mode == vekInterNearest || mode == vekInterLinear || (mode >= vekInterLagrange && mode <= vekInterBlendCubic);
}

inline bool isCubicInterpolation(int32_t mode)
{
    return mode >= vekInterLagrange && mode <= vekInterBlendCubic;
}

// Warp and remap lower the mode to what the whole source volume can feed: a
// cubic neighbourhood needs 4 voxels on every axis, a linear one 2. Resize
// never degrades (its border rule clamps taps instead).
inline int32_t degradeInterpolation(int32_t mode, const VekrVolume& srcVolume)
{
    const int32_t smallest = srcVolume.width < srcVolume.height
                                 ? (srcVolume.width < srcVolume.depth ? srcVolume.width : srcVolume.depth)
                                 : (srcVolume.height < srcVolume.depth ? srcVolume.height : srcVolume.depth);
    if (smallest < 4 && isCubicInterpolation(mode)) mode = vekInterLinear;
    if (smallest < 2) mode = vekInterNearest;
    return mode;
}

// ---------------------------------------------------------------- regions

inline bool isValidVolume(const VekrVolume& v)
{
    return v.width >= 1 && v.height >= 1 && v.depth >= 1;
}

// A box is valid when its first voxel has no negative index and every
// extent is at least 1. Tested x, width, y, height, z, depth; all failures
// give the same status, so the order only matters for reading.
inline bool isValidCuboid(const VekrCuboid& c)
{
    return c.x >= 0 && c.width >= 1 && c.y >= 0 && c.height >= 1 && c.z >= 0 && c.depth >= 1;
}

// A destination region's last voxel must have a 32-bit index on every axis:
// corner + extent - 1 at most 2^31 - 1. (Source regions are trimmed to their
// volume instead, so they never reach that far.)
inline bool endsWithinIndexRange(const VekrCuboid& c)
{
    return int64_t{c.x} + c.width - 1 <= INT32_MAX && int64_t{c.y} + c.height - 1 <= INT32_MAX &&
           int64_t{c.z} + c.depth - 1 <= INT32_MAX;
}

// The source region must start inside the source volume; its extent may run
// past the far faces and is trimmed.
inline bool beginsInside(const VekrVolume& volume, const VekrCuboid& voi)
{
    return voi.x < volume.width && voi.y < volume.height && voi.z < volume.depth;
}

inline int32_t trimmedExtent(int32_t extent, int32_t volumeExtent, int32_t first)
{
    const int32_t room = volumeExtent - first;
    return extent < room ? extent : room;
}

// The region cut to the volume's far faces (call only after beginsInside).
inline VekrCuboid trimToVolume(const VekrVolume& volume, const VekrCuboid& voi)
{
    return VekrCuboid{voi.x,
                      voi.y,
                      voi.z,
                      trimmedExtent(voi.width, volume.width, voi.x),
                      trimmedExtent(voi.height, volume.height, voi.y),
                      trimmedExtent(voi.depth, volume.depth, voi.z)};
}

// The trimmed source region as an inclusive box, the form in which warp and
// remap test whether a source coordinate is usable.
struct InclusiveBox {
    int32_t x0, y0, z0;
    int32_t x1, y1, z1;
};

inline InclusiveBox inclusiveBox(const VekrCuboid& trimmed)
{
    // Extent first: a box may end on index 2^31 - 1, where corner + extent
    // would not fit.
    return InclusiveBox{trimmed.x,
                        trimmed.y,
                        trimmed.z,
                        trimmed.x + (trimmed.width - 1),
                        trimmed.y + (trimmed.height - 1),
                        trimmed.z + (trimmed.depth - 1)};
}

// ---------------------------------------------------------------- checks
//
// Each family checks null pointers first (-8), then sizes (-6), then its own
// parameter tests, then the mode (-22), then whether the source region
// begins inside the source volume (warning 40). Nothing is read or written
// before the whole sequence has passed.

// Step 2 of resize and warp: the source volume, then the source region,
// then the destination region (which must also end within the 32-bit index
// range, as its voxels are addressed by 32-bit indices).
VekStatus checkVolumeAndRegions(const VekrVolume& srcVolume, const VekrCuboid& srcVoi, const VekrCuboid& dstVoi);

// Steps 4 and 5 of resize, warp and remap: the mode, then the source region's
// first voxel.
VekStatus checkModeAndSourceRegion(int32_t interpolation, const VekrVolume& srcVolume, const VekrCuboid& srcVoi);

// Steps 1 to 5 of the six resize exports (the empty-destination warning of
// step 6 comes from planning).
VekStatus checkResizeArguments(const void* pSrc, const void* pDst, const void* pBuffer, const VekrVolume& srcVolume,
                               const VekrCuboid& srcVoi, const VekrCuboid& dstVoi, double xFactor, double yFactor,
                               double zFactor, int32_t interpolation);

// Steps 1 and 2 of the warp exports; the transform tests, the mode and the
// source region follow in the warp's own front.
VekStatus checkWarpPointersAndSizes(const void* pSrc, const void* pDst, const VekrVolume& srcVolume,
                                    const VekrCuboid& srcVoi, const VekrCuboid& dstVoi);

// Steps 1 to 5 of the remap exports.
VekStatus checkRemapArguments(const void* pSrc, const void* pDst, const void* pxMap, const void* pyMap,
                              const void* pzMap, const VekrVolume& srcVolume, const VekrCuboid& srcVoi,
                              const VekrVolume& dstVolume, int32_t interpolation);

// The filter's checks: pointers, then the destination and kernel extents
// and the divisor.
VekStatus checkFilterArguments(const void* pSrc, const void* pDst, const void* pKernel, const VekrVolume& dstVolume,
                               const VekrVolume& kernelVolume, int32_t divisor);

// The resize and warp buffer-size queries: output pointer, both regions,
// channel count, mode.
VekStatus checkBufSizeQuery(const void* pSize, const VekrCuboid& srcVoi, const VekrCuboid& dstVoi, int32_t nChannel,
                            int32_t interpolation);

// ---------------------------------------------------------------- layouts
//
// Steps are signed byte distances turned into element counts by an
// arithmetic shift; addresses are always base + index * step with absolute
// indices, so negative steps walk rows or planes downwards in memory.

template <class T>
constexpr int elementShift()
{
    static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4, "voxels are 1, 2 or 4 bytes");
    return sizeof(T) == 1 ? 0 : (sizeof(T) == 2 ? 1 : 2);
}

template <class T>
inline ptrdiff_t elementStep(int32_t byteStep)
{
    return static_cast<ptrdiff_t>(byteStep >> elementShift<T>());
}

// C1PV: one pointer per plane (element z points at voxel (0, 0, z)), one
// row step shared by all planes. T is const-qualified for sources.
template <class T>
struct PlanarVolume {
    using Voxel = T;
    T* const* planes;
    ptrdiff_t rowStep;  // in elements

    PlanarVolume(T* const* p, int32_t rowStepBytes) : planes(p), rowStep(elementStep<T>(rowStepBytes)) {}
    T* plane(int32_t z) const { return planes[z]; }
    T* row(int32_t y, int32_t z) const { return planes[z] + static_cast<ptrdiff_t>(y) * rowStep; }
    T* voxel(int32_t x, int32_t y, int32_t z) const { return row(y, z) + x; }
};

// C1V: one pointer to voxel (0, 0, 0), a row step and a plane step.
template <class T>
struct ContiguousVolume {
    using Voxel = T;
    T* base;
    ptrdiff_t rowStep;    // in elements
    ptrdiff_t planeStep;  // in elements

    ContiguousVolume(T* b, int32_t rowStepBytes, int32_t planeStepBytes)
        : base(b), rowStep(elementStep<T>(rowStepBytes)), planeStep(elementStep<T>(planeStepBytes))
    {
    }
    T* plane(int32_t z) const { return base + static_cast<ptrdiff_t>(z) * planeStep; }
    T* row(int32_t y, int32_t z) const { return plane(z) + static_cast<ptrdiff_t>(y) * rowStep; }
    T* voxel(int32_t x, int32_t y, int32_t z) const { return row(y, z) + x; }
};

}  // namespace volume
}  // namespace vekr

#endif
