// Entry of the surface-area-heuristic build: setup, the root's fragments,
// the node loop on one thread or as subtree tasks on several, and the
// layout of the build tree as a tree block.

#include "scene/sah_build.h"

#include <cstring>

#include "vekcore.h"
#include "scene/sah_context.h"
#include "scene/sah_fragments.h"
#include "scene/sah_node_builder.h"
#include "scene/sah_subtree_tasks.h"
#include "scene/sah_tree_view.h"
#include "scene/tree_block_writer.h"

namespace vekr {

namespace sah {

VekStatus buildSerial(Context& ctx, float factor, int32_t maxDepth, uint32_t working, uint32_t rootHandle,
                      const float rootBox[6])
{
    const BuildNode root = *ctx.nodeAt(rootHandle);
    NodeBuilder builder(ctx, factor, maxDepth, working, nullptr);
    // Node counts never exceed the root's: a fragment sends at most one
    // part to each child.
    const VekStatus st = builder.prepare(static_cast<int32_t>(root.value));
    if (st != vekStsOk) return st;
    builder.sortLists(root);
    NodeState start{rootHandle, {}, 0, kNoHandle, kNoHandle};
    std::memcpy(start.box, rootBox, sizeof start.box);
    return builder.run(start);
}

namespace {

// Builds the tree; *written tells whether its block has been written.
VekStatus build(Context& ctx, float factor, int32_t maxDepth, const float* buildBox, int threads,
                uint32_t* rootHandle, VekrKDTreeNode** tree, int32_t* size, bool* written)
{
    *written = false;
    float rootBox[6];
    int32_t rootCount = 0;
    uint32_t working = 0;
    VekStatus st = makeRootFragments(ctx, buildBox, threads, rootBox, &rootCount, &working);
    if (st != vekStsOk) return st;
    st = poolTake(ctx.budget, ctx.nodePool, 2 * sizeof(BuildNode), rootHandle);
    if (st != vekStsOk) return st;
    *ctx.nodeAt(*rootHandle) = BuildNode{kLeafKind, static_cast<uint32_t>(rootCount), working};
    if (rootCount == 0) {
        ctx.nodeAt(*rootHandle)->ref = kNoHandle;
        return vekStsOk;
    }
    if (threads > 1 && worthSubtreeTasks(rootCount, maxDepth)) {
        *written = true;
        return buildWithSubtreeTasks(ctx, factor, maxDepth, working, *rootHandle, rootBox, threads, tree, size);
    }
    return buildSerial(ctx, factor, maxDepth, working, *rootHandle, rootBox);
}

}  // namespace
}  // namespace sah

VekStatus buildKDTreeSAH(const float* vertices, const int32_t* triangles, int32_t vertexCount,
                         int32_t triangleCount, VekrKDTreeNode** tree, int32_t* size, float splitFactor,
                         int32_t maxDepth, uint32_t limitBytes, const float* buildBox)
{
    if (limitBytes < sah::minimumLimitBytes(vertexCount, triangleCount)) return vekStsNoMemErr;
    int threads = ownGetNumThreads();
    for (;;) {
        sah::Context* ctx = nullptr;
        VekStatus st = sah::createContext(vertices, vertexCount, triangles, triangleCount, limitBytes, &ctx);
        if (st != vekStsOk) return st;

        uint32_t rootHandle = 0;
        bool written = false;
        st = sah::build(*ctx, splitFactor, maxDepth, buildBox, threads, &rootHandle, tree, size, &written);
        if (st == vekStsOk && !written) {
            // The writer reads only nodes and leaf lists: give the fragments'
            // memory back before the block is taken.
            sah::releaseFragmentMemory(*ctx);
            st = writeTreeBlock(sah::BuildTreeView{*ctx, rootHandle}, tree, size);
        }
        sah::destroyContext(ctx);
        if (st != sah::kRunOnOneThread || threads == 1) return st;
        threads = 1;
    }
}

}  // namespace vekr
