// Entry of the surface-area-heuristic kd-tree builder, called by the build
// front after it has checked the descriptor.
#ifndef VEKR_SCENE_SAH_BUILD_H
#define VEKR_SCENE_SAH_BUILD_H

#include <cstdint>

#include "vekr.h"

namespace vekr {

// limitBytes is the caller's memory limit in bytes (already converted from
// megabytes, modulo 2^32). Writes *tree and *size only on success.
VekStatus buildKDTreeSAH(const float* vertices, const int32_t* triangles, int32_t vertexCount,
                         int32_t triangleCount, VekrKDTreeNode** tree, int32_t* size, float splitFactor,
                         int32_t maxDepth, uint32_t limitBytes, const float* buildBox);

}  // namespace vekr

#endif
