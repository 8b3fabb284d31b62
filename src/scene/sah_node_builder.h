// The node loop of the SAH build: split search, distribution of fragments
// to the children, leaves, and the explicit stack of pending left children.
// It runs on the build's own context for a whole tree, or on a context of
// its own for one subtree (see sah_subtree_tasks.cpp).
#ifndef VEKR_SCENE_SAH_NODE_BUILDER_H
#define VEKR_SCENE_SAH_NODE_BUILDER_H

#include <cstdint>

#include "scene/sah_build_log.h"
#include "scene/sah_context.h"
#include "scene/sah_event_lists.h"
#include "scene/sah_split_search.h"

namespace vekr::sah {

// Takes nodes whose subtrees are to be built elsewhere: their fragments,
// lists and cell are copied before the builder moves on, and the node is
// marked as standing for that subtree. kDeclined: build it here after all.
constexpr VekStatus kDeclined = static_cast<VekStatus>(0x7FFF0002);
class SubtreeSink {
public:
    virtual VekStatus take(Context& ctx, uint32_t nodeHandle, const NodeState& state, const EventLists& lists) = 0;

protected:
    ~SubtreeSink() = default;
};

class NodeBuilder {
public:
    // working: entry-arena offset of the array that holds the fragments of
    // the node in hand. log: where the node's memory requests are recorded
    // (null: not recorded).
    // lists: candidate-list memory to use (null: the builder's own).
    NodeBuilder(Context& ctx, float factor, int32_t maxDepth, uint32_t working, BuildLog* log,
                EventLists* lists = nullptr)
        : ctx_(ctx), factor_(factor), maxDepth_(maxDepth), working_(working), log_(log),
          events_(lists ? lists : &own_)
    {
    }
    ~NodeBuilder() { own_.destroy(); }
    NodeBuilder(const NodeBuilder&) = delete;
    NodeBuilder& operator=(const NodeBuilder&) = delete;

    // Candidate lists of at most `capacity` fragments per node, sorted
    // afresh from the first node's fragments, or handed over packed.
    VekStatus prepare(int32_t capacity);
    void sortLists(const BuildNode& first);
    void unpackLists(const unsigned char* packed, const int32_t counts[3][3]) { events_->unpack(packed, counts); }

    // Large nodes' axes as OpenMP tasks (inside the build's own region).
    void useAxisTasks() { axisTasks_ = true; }

    // Nodes of `minimum` to `maximum` fragments (below the depth limit),
    // other than the first, go to the sink instead of being built here.
    void handOff(int32_t minimum, int32_t maximum, SubtreeSink* sink)
    {
        handOffMinimum_ = minimum;
        handOffMaximum_ = maximum;
        sink_ = sink;
    }

    // Builds the subtree of the node in `start` and then every node left on
    // the context's stack.
    VekStatus run(NodeState start);

private:
    VekStatus split(NodeState& cur, BuildNode& node, const SplitChoice& s);
    VekStatus distribute(int32_t n, const SplitChoice& s, uint32_t leftArray, uint32_t rightArray, int32_t* cuts);
    VekStatus makeLeaf(BuildNode& node);
    // Back to the pending node on top of the stack; false when none is left.
    bool popPending(NodeState& cur);
    bool searched() const { return maxDepth_ > 0; }

    Context& ctx_;
    float factor_;
    int32_t maxDepth_;
    uint32_t working_;
    BuildLog* log_;
    int32_t handOffMinimum_ = 0;
    int32_t handOffMaximum_ = INT32_MAX;
    bool axisTasks_ = false;
    SubtreeSink* sink_ = nullptr;
    EventLists own_;
    EventLists* events_;
    SavedLists saved_[kStackCapacity];  // the lists of the nodes on the stack
};

}  // namespace vekr::sah

#endif
