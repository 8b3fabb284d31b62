// The simple kd-tree build: one leaf holding every triangle.
#ifndef VEKR_SCENE_KDTREE_SIMPLE_BUILD_H
#define VEKR_SCENE_KDTREE_SIMPLE_BUILD_H

#include <cstdint>

#include "vekr.h"

namespace vekr {

// A tree block whose root is a list leaf of triangles 0 .. triangleCount-1
// in ascending order. The scene arrays are not needed. Writes *tree and
// *size only on success; vekStsNoMemErr when the block cannot be allocated.
VekStatus buildKDTreeSimple(int32_t triangleCount, VekrKDTreeNode** tree, int32_t* size);

}  // namespace vekr

#endif
