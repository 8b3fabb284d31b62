// A deep kd-tree for traversal tests that do not depend on a builder: cells
// are halved on their longest axis, and a triangle goes to every child its
// bounding box touches, so straddling triangles sit in several leaves as they
// do in real trees. Leaves of one, two and three triangles come out inline
// through the block writer, larger ones as lists.
#ifndef VEKR_TESTS_SUPPORT_MIDPOINT_TREE_H
#define VEKR_TESTS_SUPPORT_MIDPOINT_TREE_H

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/hand_tree.h"
#include "support/random_scene.h"

namespace vekr_test {

namespace detail {

struct MidpointBuilder {
    const TriangleSoup& soup;
    HandTree& tree;
    int32_t maxDepth;
    int32_t leafSize;

    void bounds(int32_t t, float lo[3], float hi[3]) const
    {
        for (int a = 0; a < 3; ++a) {
            lo[a] = hi[a] = soup.vertices[3 * soup.triangles[4 * t] + a];
            for (int k = 1; k < 3; ++k) {
                const float x = soup.vertices[3 * soup.triangles[4 * t + k] + a];
                lo[a] = std::min(lo[a], x);
                hi[a] = std::max(hi[a], x);
            }
        }
    }

    HandTree::Node build(const float lo[3], const float hi[3], const std::vector<int32_t>& tris, int32_t depth)
    {
        if (depth >= maxDepth || static_cast<int32_t>(tris.size()) <= leafSize) return tree.leaf(tris);
        int axis = 0;
        for (int a = 1; a < 3; ++a)
            if (hi[a] - lo[a] > hi[axis] - lo[axis]) axis = a;
        const float split = 0.5f * (lo[axis] + hi[axis]);
        std::vector<int32_t> below, above;
        for (int32_t t : tris) {
            float tl[3], th[3];
            bounds(t, tl, th);
            if (tl[axis] <= split) below.push_back(t);
            if (th[axis] >= split) above.push_back(t);
        }
        const HandTree::Node n = tree.inner(axis, split);
        float belowHi[3] = {hi[0], hi[1], hi[2]}, aboveLo[3] = {lo[0], lo[1], lo[2]};
        belowHi[axis] = split;
        aboveLo[axis] = split;
        const HandTree::Node b = build(lo, belowHi, below, depth + 1);
        const HandTree::Node a = build(aboveLo, hi, above, depth + 1);
        tree.setChildren(n, b, a);
        return n;
    }
};

}  // namespace detail

// Tree over every triangle of soup within box (6 floats), at most maxDepth
// levels of splits, leaves of at most leafSize triangles where the depth
// allows.
inline HandTree midpointTree(const TriangleSoup& soup, const float box[6], int32_t maxDepth, int32_t leafSize)
{
    HandTree tree;
    std::vector<int32_t> all(static_cast<size_t>(soup.triangleCount()));
    for (int32_t j = 0; j < soup.triangleCount(); ++j) all[static_cast<size_t>(j)] = j;
    detail::MidpointBuilder{soup, tree, maxDepth, leafSize}.build(box, box + 3, all, 0);
    return tree;
}

}  // namespace vekr_test

#endif
