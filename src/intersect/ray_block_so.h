// Argument bundles of the intersection calls whose rays share one origin.
#ifndef VEKR_INTERSECT_RAY_BLOCK_SO_H
#define VEKR_INTERSECT_RAY_BLOCK_SO_H

#include <cstddef>
#include <cstdint>

#include "intersect/ray_block.h"

namespace vekr {

// Closest hit from a common origin.
struct RayBlockSO {
    const float* origin;  // x, y, z
    const float* dir[3];
    HitPlanes hit;
    int32_t width;
    int32_t height;
};

// Successive hits from a common origin: every output array holds hitCount
// planes of width x height entries, plane k for the k-th hit.
struct SuccessiveBlock {
    const float* origin;
    const float* dir[3];
    HitPlanes hit;  // start of plane 0 of each array
    int32_t width;
    int32_t height;
    int32_t hitCount;

    size_t planeEntries() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
};

// Occlusion of the segments from a common origin to origin + direction.
struct OcclusionBlock {
    const float* origin;
    const float* dir[3];
    int32_t* tri;   // out: a blocking triangle or -1
    int32_t* mask;  // in: rays below 0 are not tested; out: -1 when blocked
    int32_t width;
    int32_t height;
};

}  // namespace vekr

#endif
