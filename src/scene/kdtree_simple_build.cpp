// The simple kd-tree build.
//
// The root is written directly as a list leaf, even for one to three
// triangles where the block writer would choose the inline form: the simple
// tree is always 16 + 4n bytes with the list right after the header, which
// callers that walk it may rely on.

#include "scene/kdtree_simple_build.h"

#include <cstring>

#include "core/memory.h"
#include "scene/kdtree_node.h"

namespace vekr {

VekStatus buildKDTreeSimple(int32_t triangleCount, VekrKDTreeNode** tree, int32_t* size)
{
    const int64_t bytes = kd::kBlockHeaderBytes + 4 * static_cast<int64_t>(triangleCount);
    // Beyond what a 32-bit size can describe the allocation cannot succeed.
    if (bytes / 8 + 1 > INT32_MAX) return vekStsNoMemErr;
    auto* block = static_cast<VekrKDTreeNode*>(malloc8(static_cast<int32_t>(bytes / 8 + 1)));
    if (!block) return vekStsNoMemErr;

    block[0] = kd::makeListLeaf(kd::kBlockHeaderBytes, triangleCount);
    std::memset(block + 1, 0, sizeof(VekrKDTreeNode));
    int32_t* list = reinterpret_cast<int32_t*>(reinterpret_cast<char*>(block) + kd::kBlockHeaderBytes);
    for (int32_t i = 0; i < triangleCount; ++i) list[i] = i;

    *tree = block;
    *size = static_cast<int32_t>(bytes);
    return vekStsOk;
}

}  // namespace vekr
