// Which blocks the packet kernels may take.
//
// A block qualifies when both sides are multiples of 4 (it then cuts into
// whole 4 x 4 tiles) and every per-ray plane the kernels stream through is
// 16-byte aligned. The P3 pointer arrays themselves and the context are never
// tested: the kernels only dereference them once. Each intersection export
// names its planes in a predicate here; nothing else decides the path.
#ifndef VEKR_INTERSECT_INTERSECT_PATH_H
#define VEKR_INTERSECT_INTERSECT_PATH_H

#include <cstdint>

#include "core/path_select.h"
#include "intersect/ray_block.h"
#include "intersect/ray_block_so.h"

namespace vekr {

template <class... P>
inline bool blockQualifiesForPackets(int32_t width, int32_t height, const P*... planes)
{
    return (width & 3) + (height & 3) == 0 && allAligned16(planes...);
}

// The ten planes of a closest-hit block with an origin per ray.
inline bool takesPacketPathMO(const RayBlockMO& b)
{
    return blockQualifiesForPackets(b.width, b.height, b.origin[0], b.origin[1], b.origin[2], b.hit.dist,
                                    b.dir[0], b.dir[1], b.dir[2], b.hit.u, b.hit.v, b.hit.tri);
}

// Shared-origin calls: the origin point itself is never tested.
inline bool takesPacketPathSO(const RayBlockSO& b)
{
    return blockQualifiesForPackets(b.width, b.height, b.dir[0], b.dir[1], b.dir[2], b.hit.dist, b.hit.u, b.hit.v,
                                    b.hit.tri);
}

inline bool takesPacketPathSuccessive(const SuccessiveBlock& b)
{
    return blockQualifiesForPackets(b.width, b.height, b.dir[0], b.dir[1], b.dir[2], b.hit.dist, b.hit.u, b.hit.v,
                                    b.hit.tri);
}

inline bool takesPacketPathOcclusion(const OcclusionBlock& b)
{
    return blockQualifiesForPackets(b.width, b.height, b.tri, b.mask, b.dir[0], b.dir[1], b.dir[2]);
}

}  // namespace vekr

#endif
