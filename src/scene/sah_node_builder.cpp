// The node loop of the SAH build.
//
// Only the node in hand keeps its fragments in the working array; each
// pending left child keeps its own array above it in the entry arena. A
// split pushes the left child and continues with the right one, so arena
// space is released in stack order: the right child's array as soon as it
// has been copied down, the left child's when it is popped, and the
// vertices cut inside a finished subtree when its sibling resumes.

#include "scene/sah_node_builder.h"

#include <cstring>

#include "scene/sah_fragments.h"

namespace vekr::sah {

namespace {

uint32_t floatBits(float v)
{
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

}  // namespace

VekStatus NodeBuilder::prepare(int32_t capacity)
{
    if (!searched()) return vekStsOk;
    return events_->create(static_cast<uint32_t>(capacity), axisTasks_);
}

void NodeBuilder::sortLists(const BuildNode& first)
{
    if (searched()) events_->buildRoot(ctx_, ctx_.entryAt(first.ref), static_cast<int32_t>(first.value));
}

bool NodeBuilder::popPending(NodeState& cur)
{
    if (ctx_.stackSize == 0) return false;
    cur = ctx_.stack[--ctx_.stackSize];
    BuildNode* node = ctx_.nodeAt(cur.node);
    std::memcpy(ctx_.entryAt(working_), ctx_.entryAt(node->ref), 12 * static_cast<size_t>(node->value));
    node->ref = working_;
    if (searched()) events_->restore(saved_[ctx_.stackSize]);
    return true;
}

VekStatus NodeBuilder::run(NodeState cur)
{
    const uint32_t first = cur.node;
    for (;;) {
        if (ctx_.entries.holds(cur.entryCursor)) ctx_.entries.cursor = cur.entryCursor;
        if (ctx_.vertices3.holds(cur.vertexCursor)) ctx_.vertices3.cursor = cur.vertexCursor;
        BuildNode* node = ctx_.nodeAt(cur.node);
        const int32_t n = static_cast<int32_t>(node->value);

        if (sink_ && cur.depth < maxDepth_ && n >= handOffMinimum_ && n <= handOffMaximum_ && cur.node != first) {
            // Built elsewhere; the log marks the place it takes in the order
            // of the one-thread build.
            const VekStatus st = sink_->take(ctx_, cur.node, cur, *events_);
            if (st == vekStsOk) {
                if (!popPending(cur)) return vekStsOk;
                continue;
            }
            if (st != kDeclined) return st;
        }

        SplitChoice s{false, 0, 0.0f, 0, 0, 0};
        if (cur.depth < maxDepth_) s = findSplit(events_->current(), n, cur.box, factor_, events_->axisTasks(n));
        if (!s.split) {
            const VekStatus st = makeLeaf(*node);
            if (st != vekStsOk) return st;
            if (!popPending(cur)) return vekStsOk;
            continue;
        }
        const VekStatus st = split(cur, *node, s);
        if (st != vekStsOk) return st;
    }
}

// The node becomes an inner node; cur moves on to the child that is
// processed next (the right one unless it is empty).
VekStatus NodeBuilder::split(NodeState& cur, BuildNode& node, const SplitChoice& s)
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

    if (s.left == 0 || s.right == 0) {
        if (log_) {
            const uint32_t head[5] = {kSplitRecord, static_cast<uint32_t>(s.left), static_cast<uint32_t>(s.right), 0, 0};
            log_->recordWithBytes(head, 5, 0);
        }
        if (s.left == 0) {
            kids[0] = BuildNode{kLeafKind, 0, kNoHandle};
            cur.node = rightHandle;
            cur.box[s.axis] = s.position;
        } else {
            kids[1] = BuildNode{kLeafKind, 0, kNoHandle};
            cur.node = pair;
            cur.box[3 + s.axis] = s.position;
        }
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
    const uint32_t verticesBefore = ctx_.vertices3.cursor;
    int32_t cuts = 0;
    st = distribute(n, s, leftArray, rightArray, &cuts);
    if (st != vekStsOk) return st;
    const Fragment* left = ctx_.entryAt(leftArray);
    const Fragment* right = ctx_.entryAt(rightArray);
    if (log_) {
        const uint32_t head[5] = {kSplitRecord, static_cast<uint32_t>(s.left), static_cast<uint32_t>(s.right),
                                  (ctx_.vertices3.cursor - verticesBefore) / 12, 2 * static_cast<uint32_t>(cuts)};
        uint8_t* counts = log_->recordWithBytes(head, 5, head[4]);
        if (counts) {
            const uint32_t* cutLeft = events_->cutLeft();
            const uint32_t* cutRight = events_->cutRight();
            for (int32_t k = 0; k < cuts; ++k) {
                counts[2 * k] = static_cast<uint8_t>(fragmentVertexCount(left[cutLeft[k]]));
                counts[2 * k + 1] = static_cast<uint8_t>(fragmentVertexCount(right[cutRight[k]]));
            }
        }
    }
    if (searched() && !events_->split(ctx_, left, right, cuts, &saved_[ctx_.stackSize - 1])) return vekStsNoMemErr;
    std::memcpy(ctx_.entryAt(working_), right, 12 * static_cast<size_t>(s.right));
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
// predicted them. Records where each fragment went for the candidate lists.
VekStatus NodeBuilder::distribute(int32_t n, const SplitChoice& s, uint32_t leftArray, uint32_t rightArray,
                                  int32_t* cuts)
{
    uint32_t* route = events_->route();
    uint32_t* cutLeft = events_->cutLeft();
    uint32_t* cutRight = events_->cutRight();
    int32_t nc = 0;
    const int a = s.axis;
    const float p = s.position;
    const Fragment* src = ctx_.entryAt(working_);
    Fragment* left = ctx_.entryAt(leftArray);
    Fragment* right = ctx_.entryAt(rightArray);
    int32_t nl = 0, nr = 0;
    for (int32_t i = 0; i < n; ++i) {
        const Fragment& f = src[i];
        float lo, hi;
        fragmentRange(ctx_, f, a, &lo, &hi);
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
VekStatus NodeBuilder::makeLeaf(BuildNode& node)
{
    const int32_t n = static_cast<int32_t>(node.value);
    uint32_t list;
    const VekStatus st = poolTake(ctx_.budget, ctx_.leafPool, 4 * static_cast<uint32_t>(n), &list);
    if (st != vekStsOk) return st;
    const Fragment* e = ctx_.entryAt(node.ref);
    int32_t* out = reinterpret_cast<int32_t*>(ctx_.leafPool.at(list));
    uint8_t* counts = nullptr;
    if (log_) {
        const uint32_t head[2] = {kLeafRecord, static_cast<uint32_t>(n)};
        counts = log_->recordWithBytes(head, 2, head[1]);
    }
    for (int32_t i = 0; i < n; ++i) {
        out[i] = fragmentTriangle(e[i]);
        const int count = fragmentVertexCount(e[i]);
        if (counts) counts[i] = static_cast<uint8_t>(count);
        recyclePolygon(ctx_, e[i].polygon, count);
    }
    node.ref = list;
    return vekStsOk;
}

}  // namespace vekr::sah
