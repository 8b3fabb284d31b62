// Building the SAH tree on several threads: the top of the tree on the
// calling thread, the subtrees below it as independent tasks.
#ifndef VEKR_SCENE_SAH_SUBTREE_TASKS_H
#define VEKR_SCENE_SAH_SUBTREE_TASKS_H

#include <cstdint>

#include "scene/sah_context.h"

namespace vekr::sah {

// Returned when the build must be run again on one thread to get the
// outcome that one thread gives (a failure inside a subtree, where the
// one-thread build might have failed earlier, and otherwise).
constexpr VekStatus kRunOnOneThread = static_cast<VekStatus>(0x7FFF0001);

// Whether a scene is large enough for the top-and-subtrees scheme to pay.
bool worthSubtreeTasks(int32_t rootCount, int32_t maxDepth);

// Builds the tree of the root node (whose fragments are in the working
// array) with up to `threads` threads and writes its block. The tree is exactly the one the
// one-thread build makes, and so is the outcome: a build that would have
// run out of its memory limit on one thread returns vekStsMemAllocErr.
// On success the tree block is written (the subtrees' nodes stay in the
// tasks' memory until then).
VekStatus buildWithSubtreeTasks(Context& ctx, float factor, int32_t maxDepth, uint32_t working,
                                uint32_t rootHandle, const float rootBox[6], int threads, VekrKDTreeNode** tree,
                                int32_t* size);

// The one-thread build of the same tree.
VekStatus buildSerial(Context& ctx, float factor, int32_t maxDepth, uint32_t working, uint32_t rootHandle,
                      const float rootBox[6]);

}  // namespace vekr::sah

#endif
