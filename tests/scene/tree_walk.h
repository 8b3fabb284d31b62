// An independent reader of tree blocks for tests: checks that a whole block
// is well formed and that every triangle is listed in every leaf whose cell
// it really overlaps (a double-precision separating-axis test).
#ifndef VEKR_TESTS_SCENE_TREE_WALK_H
#define VEKR_TESTS_SCENE_TREE_WALK_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scene/kdtree_node.h"

namespace vekr_test {

struct WalkedLeaf {
    double box[6];
    std::vector<int32_t> triangles;
};

struct WalkedTree {
    std::string error;  // empty when the block is well formed
    std::vector<WalkedLeaf> leaves;
    int32_t depth = 0;
};

namespace detail {

struct BlockWalker {
    BlockWalker(const char* b, int32_t s, int32_t n) : base(b), size(s), triangleCount(n) {}
    const char* base;
    int32_t size;
    int32_t triangleCount;
    int32_t pairCursor = 16;
    std::vector<std::pair<int32_t, int32_t>> lists;  // (offset, count) in visit order
    WalkedTree out;

    bool fail(const std::string& what, int32_t at)
    {
        if (out.error.empty()) {
            std::ostringstream s;
            s << what << " (node at offset " << at << ")";
            out.error = s.str();
        }
        return false;
    }

    bool walk(int32_t at, double box[6], int32_t depth)
    {
        out.depth = std::max(out.depth, depth);
        if (depth > 60) return fail("tree deeper than any build makes", at);
        const VekrKDTreeNode& n = *reinterpret_cast<const VekrKDTreeNode*>(base + at);
        if (!vekr::kd::isLeaf(n)) {
            const int32_t axis = vekr::kd::splitAxis(n);
            const int32_t offset = vekr::kd::childPairOffset(n);
            if ((n.word0 & 4) != 0 || axis > 2) return fail("bad axis bits", at);
            if (offset <= 0) return fail("child pair not after its node", at);
            // Pre-order: each pair is the next one after all pairs placed so far.
            if (at + offset != pairCursor) return fail("child pair out of depth-first order", at);
            if (pairCursor + 16 > size) return fail("child pair outside the block", at);
            pairCursor += 16;
            const double p = vekr::kd::splitPosition(n);
            if (!(p >= box[axis] && p <= box[3 + axis])) return fail("split outside the cell", at);
            double lo[6], hi[6];
            std::copy(box, box + 6, lo);
            std::copy(box, box + 6, hi);
            lo[3 + axis] = p;
            hi[axis] = p;
            return walk(at + offset, lo, depth + 1) && walk(at + offset + 8, hi, depth + 1);
        }
        WalkedLeaf leaf;
        std::copy(box, box + 6, leaf.box);
        if (vekr::kd::isInlineLeaf(n)) {
            const int32_t c = n.word1 & 3;
            if (c == 0) return fail("inline leaf of no triangle", at);
        } else {
            const int32_t listAt = at - n.word0;
            if (n.word1 < 0) return fail("negative list count", at);
            if (listAt < 16 || listAt % 4 != 0) return fail("list misplaced", at);
            lists.emplace_back(listAt, n.word1);
            if (static_cast<int64_t>(listAt) + 4 * static_cast<int64_t>(n.word1) > size)
                return fail("list outside the block", at);
        }
        vekr::kd::forEachLeafTriangle(&n, [&](int32_t t) { leaf.triangles.push_back(t); });
        std::set<int32_t> seen;
        for (int32_t t : leaf.triangles) {
            if (t < 0 || t >= triangleCount) return fail("triangle number out of range", at);
            if (!seen.insert(t).second) return fail("triangle twice in one leaf", at);
        }
        out.leaves.push_back(std::move(leaf));
        return true;
    }
};

struct V {
    double x[3];
};
inline V sub(const V& a, const V& b) { return {{a.x[0] - b.x[0], a.x[1] - b.x[1], a.x[2] - b.x[2]}}; }
inline V cross(const V& a, const V& b)
{
    return {{a.x[1] * b.x[2] - a.x[2] * b.x[1], a.x[2] * b.x[0] - a.x[0] * b.x[2], a.x[0] * b.x[1] - a.x[1] * b.x[0]}};
}
inline double dot(const V& a, const V& b) { return a.x[0] * b.x[0] + a.x[1] * b.x[1] + a.x[2] * b.x[2]; }

}  // namespace detail

// Walks a block of the given size. Cells start from rootBox.
inline WalkedTree walkTree(const VekrKDTreeNode* root, int32_t size, int32_t triangleCount, const float rootBox[6])
{
    detail::BlockWalker w(reinterpret_cast<const char*>(root), size, triangleCount);
    double box[6];
    std::copy(rootBox, rootBox + 6, box);
    if (size < 16) {
        w.out.error = "block smaller than its header";
        return w.out;
    }
    if (root[1].word0 != 0 || root[1].word1 != 0) w.out.error = "header words not zero";
    if (!w.walk(0, box, 0)) return w.out;
    // Lists follow the nodes, one after another in visit order, to the end.
    int32_t cursor = w.pairCursor;
    for (const auto& l : w.lists) {
        if (l.first != cursor) {
            w.out.error = "lists not packed in depth-first order after the nodes";
            return w.out;
        }
        cursor += 4 * l.second;
    }
    if (cursor != size && w.out.error.empty()) w.out.error = "size is not node bytes + list bytes";
    return w.out;
}

// Whether a triangle meets the open box shrunk by eps on every side:
// separating axes are the box's, the triangle's normal and the nine edge-box
// cross products.
inline bool triangleMeetsBox(const float* a, const float* b, const float* c, const double box[6], double eps)
{
    using detail::V;
    V h, ctr;
    for (int k = 0; k < 3; ++k) {
        ctr.x[k] = 0.5 * (box[k] + box[3 + k]);
        h.x[k] = 0.5 * (box[3 + k] - box[k]) - eps;
        if (h.x[k] <= 0.0) return false;
    }
    const V v[3] = {detail::sub(V{{a[0], a[1], a[2]}}, ctr), detail::sub(V{{b[0], b[1], b[2]}}, ctr),
                    detail::sub(V{{c[0], c[1], c[2]}}, ctr)};
    auto separated = [&](const V& axis) {
        const double r = h.x[0] * std::fabs(axis.x[0]) + h.x[1] * std::fabs(axis.x[1]) + h.x[2] * std::fabs(axis.x[2]);
        const double p0 = detail::dot(v[0], axis), p1 = detail::dot(v[1], axis), p2 = detail::dot(v[2], axis);
        return std::min({p0, p1, p2}) >= r || std::max({p0, p1, p2}) <= -r;
    };
    const V e[3] = {detail::sub(v[1], v[0]), detail::sub(v[2], v[1]), detail::sub(v[0], v[2])};
    for (int k = 0; k < 3; ++k) {
        V unit{{0, 0, 0}};
        unit.x[k] = 1;
        if (separated(unit)) return false;
        for (const V& ei : e) {
            const V axis = detail::cross(ei, unit);
            if (detail::dot(axis, axis) > 0 && separated(axis)) return false;
        }
    }
    const V nrm = detail::cross(e[0], e[1]);
    return !(detail::dot(nrm, nrm) > 0 && separated(nrm));
}

}  // namespace vekr_test

#endif
