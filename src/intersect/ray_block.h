// The arguments of an intersection call, bundled once by the export front so
// the path predicate and the kernels see the same view of them.
#ifndef VEKR_INTERSECT_RAY_BLOCK_H
#define VEKR_INTERSECT_RAY_BLOCK_H

#include <cstdint>

#include "vekr.h"

namespace vekr {

// The three scene records every traversal reads.
struct SceneView {
    const float* box;                  // min x, min y, min z, max x, max y, max z
    const VekrTriangleAccel* accel;    // record j for triangle j
    const VekrKDTreeNode* root;        // start of the tree block
};

inline SceneView sceneOf(const VekrIntersectContext& c)
{
    return SceneView{c.pBound, c.pAccel, c.pRootNode};
}

// Closest-hit outputs of one block: distance in and out, the two weights and
// the triangle number (-1 for a miss), one entry per ray.
struct HitPlanes {
    float* dist;
    float* u;
    float* v;
    int32_t* tri;
};

// A block of rays with an origin per ray.
struct RayBlockMO {
    const float* origin[3];
    const float* dir[3];
    HitPlanes hit;
    int32_t width;
    int32_t height;
};

}  // namespace vekr

#endif
