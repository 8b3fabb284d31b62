// Driver of the surface-area-heuristic build: setup, the node loop with its
// explicit stack, distribution of fragments to the children, and the final
// layout of the build tree as a tree block.
//
// Only the current node's fragments live in the working array at the base of
// the entry arena; each pending left child keeps its own array above it. A
// split pushes the left child and continues with the right one, so arena
// space is released in stack order: the right child's array as soon as it
// has been copied down, the left child's when it is popped, and the vertices
// cut inside a finished subtree when its sibling resumes.

#include "scene/sah_build.h"

#include <cstring>

#include "scene/sah_context.h"
#include "scene/sah_event_lists.h"
#include "scene/sah_fragments.h"
#include "scene/sah_split_search.h"
#include "scene/tree_block_writer.h"

namespace vekr {

namespace sah {
namespace {

// The build tree as the block writer reads it.
struct BuildTreeView {
    using Node = const BuildNode*;
    const Context& ctx;
    uint32_t rootHandle;

    Node root() const { return ctx.nodeAt(rootHandle); }
    bool isLeaf(Node n) const { return n->kind == kLeafKind; }
    int32_t axis(Node n) const { return n->kind; }
    float split(Node n) const
    {
        float f;
        std::memcpy(&f, &n->value, 4);
        return f;
    }
    Node child(Node n, int c) const { return ctx.nodeAt(n->ref) + c; }
    int32_t leafCount(Node n) const { return static_cast<int32_t>(n->value); }
    const int32_t* leafTriangles(Node n) const
    {
        return n->ref == kNoHandle ? nullptr : reinterpret_cast<const int32_t*>(ctx.leafPool.at(n->ref));
    }
};

uint32_t floatBits(float v)
{
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

class Builder {
public:
    Builder(Context& ctx, float factor, int32_t maxDepth, uint32_t working)
        : ctx_(ctx), factor_(factor), maxDepth_(maxDepth), working_(working)
    {
    }
    ~Builder() { events_.destroy(); }
    Builder(const Builder&) = delete;
    Builder& operator=(const Builder&) = delete;

    VekStatus run(uint32_t rootHandle, const float rootBox[6])
    {
        if (maxDepth_ > 0) {
            // Node counts never exceed the root's: a fragment sends at most
            // one part to each child.
            const BuildNode* root = ctx_.nodeAt(rootHandle);
            const VekStatus st = events_.create(root->value, ctx_.entries.size);
            if (st != vekStsOk) return st;
            events_.buildRoot(ctx_, ctx_.entryAt(root->ref), static_cast<int32_t>(root->value));
        }
        NodeState cur{rootHandle, {}, 0, kNoHandle, kNoHandle};
        std::memcpy(cur.box, rootBox, sizeof cur.box);
        for (;;) {
            if (ctx_.entries.holds(cur.entryCursor)) ctx_.entries.cursor = cur.entryCursor;
            if (ctx_.vertices3.holds(cur.vertexCursor)) ctx_.vertices3.cursor = cur.vertexCursor;
            BuildNode* node = ctx_.nodeAt(cur.node);

            SplitChoice s{false, 0, 0.0f, 0, 0, 0};
            if (cur.depth < maxDepth_)
                s = findSplit(events_.current(), static_cast<int32_t>(node->value), cur.box, factor_);
            if (!s.split) {
                const VekStatus st = makeLeaf(*node);
                if (st != vekStsOk) return st;
                if (ctx_.stackSize == 0) return vekStsOk;
                cur = ctx_.stack[--ctx_.stackSize];
                node = ctx_.nodeAt(cur.node);
                std::memcpy(ctx_.entryAt(working_), ctx_.entryAt(node->ref), 12 * static_cast<size_t>(node->value));
                node->ref = working_;
                if (maxDepth_ > 0) events_.restore(saved_[ctx_.stackSize]);
                continue;
            }
            const VekStatus st = split(cur, *node, s);
            if (st != vekStsOk) return st;
        }
    }

private:
    // The node becomes an inner node; cur moves on to the child that is
    // processed next (the right one unless it is empty).
    VekStatus split(NodeState& cur, BuildNode& node, const SplitChoice& s)
    {
        uint32_t pair;
        VekStatus st = poolTake(ctx_.budget, ctx_.nodePool, 2 * sizeof(BuildNode), &pair);
        if (st != vekStsOk) return st;
        BuildNode* kids = ctx_.nodeAt(pair);
        kids[0] = kids[1] = node;
        const int32_t n = static_cast<int32_t>(node.value);
        node = BuildNode{s.axis, floatBits(s.position), pair};
        ++cur.depth;
        const uint32_t rightHandle = pair + sizeof(BuildNode);

        if (s.left == 0) {
            kids[0] = BuildNode{kLeafKind, 0, kNoHandle};
            cur.node = rightHandle;
            cur.box[s.axis] = s.position;
            return vekStsOk;
        }
        if (s.right == 0) {
            kids[1] = BuildNode{kLeafKind, 0, kNoHandle};
            cur.node = pair;
            cur.box[3 + s.axis] = s.position;
            return vekStsOk;
        }

        if (ctx_.stackSize == kStackCapacity) return vekStsErr;
        NodeState& pushed = ctx_.stack[ctx_.stackSize++];
        pushed = cur;
        pushed.node = pair;
        pushed.box[3 + s.axis] = s.position;
        pushed.entryCursor = ctx_.entries.cursor;

        uint32_t leftArray, rightArray;
        if (!ctx_.entries.take(12 * static_cast<uint32_t>(s.left), &leftArray) ||
            !ctx_.entries.take(12 * static_cast<uint32_t>(s.right), &rightArray))
            return vekStsMemAllocErr;
        int32_t cuts = 0;
        st = distribute(n, s, leftArray, rightArray, &cuts);
        if (st != vekStsOk) return st;
        if (!events_.split(ctx_, ctx_.entryAt(leftArray), ctx_.entryAt(rightArray), cuts,
                           &saved_[ctx_.stackSize - 1]))
            return vekStsErr;
        std::memcpy(ctx_.entryAt(working_), ctx_.entryAt(rightArray), 12 * static_cast<size_t>(s.right));
        kids[0] = BuildNode{kLeafKind, static_cast<uint32_t>(s.left), leftArray};
        kids[1] = BuildNode{kLeafKind, static_cast<uint32_t>(s.right), working_};

        cur.node = rightHandle;
        cur.box[s.axis] = s.position;
        cur.entryCursor = rightArray;
        cur.vertexCursor = pushed.vertexCursor = ctx_.vertices3.cursor;
        return vekStsOk;
    }

    // Sends each of the node's fragments to the side(s) it lies on; a
    // straddling one is cut in two. The counts must come out as the search
    // predicted them.
    // Records where each fragment went for the candidate lists.
    VekStatus distribute(int32_t n, const SplitChoice& s, uint32_t leftArray, uint32_t rightArray, int32_t* cuts)
    {
        uint32_t* route = events_.route();
        uint32_t* cutLeft = events_.cutLeft();
        uint32_t* cutRight = events_.cutRight();
        int32_t nc = 0;
        const int a = s.axis;
        const float p = s.position;
        const Fragment* src = ctx_.entryAt(working_);
        Fragment* left = ctx_.entryAt(leftArray);
        Fragment* right = ctx_.entryAt(rightArray);
        int32_t nl = 0, nr = 0;
        for (int32_t i = 0; i < n; ++i) {
            const Fragment& f = src[i];
            const VertexRef* poly = ctx_.polygonAt(f.polygon);
            const float lo = ctx_.vertex(poly[minVertexIndex(f.extremes, a)])[a];
            const float hi = ctx_.vertex(poly[maxVertexIndex(f.extremes, a)])[a];
            bool toLeft, toRight;
            if (lo == hi) {
                toLeft = lo < p || (lo == p && s.side == 0);
                toRight = !toLeft;
            } else if (hi <= p) {
                toLeft = true;
                toRight = false;
            } else if (lo >= p) {
                toLeft = false;
                toRight = true;
            } else if (lo < p && p < hi) {
                if (nl == s.left || nr == s.right) return vekStsErr;
                const VekStatus st = cutFragment(ctx_, f, a, p, &left[nl], &right[nr]);
                if (st != vekStsOk) return st;
                route[i] = kIsCut;
                cutLeft[nc] = static_cast<uint32_t>(nl++);
                cutRight[nc++] = static_cast<uint32_t>(nr++);
                continue;
            } else {
                return vekStsErr;  // a NaN coordinate fits no side
            }
            if (toLeft) {
                if (nl == s.left) return vekStsErr;
                route[i] = static_cast<uint32_t>(nl);
                left[nl++] = f;
            }
            if (toRight) {
                if (nr == s.right) return vekStsErr;
                route[i] = kGoesRight | static_cast<uint32_t>(nr);
                right[nr++] = f;
            }
        }
        *cuts = nc;
        return nl == s.left && nr == s.right ? vekStsOk : vekStsErr;
    }

    // Lists the triangle numbers and recycles the fragments' records.
    VekStatus makeLeaf(BuildNode& node)
    {
        const int32_t n = static_cast<int32_t>(node.value);
        uint32_t list;
        const VekStatus st = poolTake(ctx_.budget, ctx_.leafPool, 4 * static_cast<uint32_t>(n), &list);
        if (st != vekStsOk) return st;
        const Fragment* e = ctx_.entryAt(node.ref);
        int32_t* out = reinterpret_cast<int32_t*>(ctx_.leafPool.at(list));
        for (int32_t i = 0; i < n; ++i) {
            out[i] = fragmentTriangle(e[i]);
            recyclePolygon(ctx_, e[i].polygon, fragmentVertexCount(e[i]));
        }
        node.ref = list;
        return vekStsOk;
    }

    Context& ctx_;
    float factor_;
    int32_t maxDepth_;
    uint32_t working_;
    EventLists events_;
    SavedLists saved_[kStackCapacity];  // the lists of the nodes on the stack
};

VekStatus build(Context& ctx, float factor, int32_t maxDepth, const float* buildBox, uint32_t* rootHandle)
{
    float rootBox[6];
    int32_t rootCount = 0;
    uint32_t working = 0;
    VekStatus st = makeRootFragments(ctx, buildBox, rootBox, &rootCount, &working);
    if (st != vekStsOk) return st;
    st = poolTake(ctx.budget, ctx.nodePool, 2 * sizeof(BuildNode), rootHandle);
    if (st != vekStsOk) return st;
    *ctx.nodeAt(*rootHandle) = BuildNode{kLeafKind, static_cast<uint32_t>(rootCount), working};
    if (rootCount == 0) {
        ctx.nodeAt(*rootHandle)->ref = kNoHandle;
        return vekStsOk;
    }
    return Builder(ctx, factor, maxDepth, working).run(*rootHandle, rootBox);
}

}  // namespace
}  // namespace sah

VekStatus buildKDTreeSAH(const float* vertices, const int32_t* triangles, int32_t vertexCount,
                         int32_t triangleCount, VekrKDTreeNode** tree, int32_t* size, float splitFactor,
                         int32_t maxDepth, uint32_t limitBytes, const float* buildBox)
{
    if (limitBytes < sah::minimumLimitBytes(vertexCount, triangleCount)) return vekStsNoMemErr;
    sah::Context* ctx = nullptr;
    VekStatus st = sah::createContext(vertices, vertexCount, triangles, triangleCount, limitBytes, &ctx);
    if (st != vekStsOk) return st;

    uint32_t rootHandle = 0;
    st = sah::build(*ctx, splitFactor, maxDepth, buildBox, &rootHandle);
    if (st == vekStsOk) {
        // The writer reads only nodes and leaf lists: give the fragments'
        // memory back before the block is taken.
        sah::releaseFragmentMemory(*ctx);
        st = writeTreeBlock(sah::BuildTreeView{*ctx, rootHandle}, tree, size);
    }
    sah::destroyContext(ctx);
    return st;
}

}  // namespace vekr
