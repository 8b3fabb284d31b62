// The triangle numbers of a leaf as one array, for loops that may stop
// part way through a leaf.
#ifndef VEKR_INTERSECT_LEAF_TRIANGLES_H
#define VEKR_INTERSECT_LEAF_TRIANGLES_H

#include <cstdint>

#include "scene/kdtree_node.h"

namespace vekr {

// A list leaf's numbers are read in place; an inline leaf's are decoded
// into buf.
inline const int32_t* leafTriangles(const VekrKDTreeNode* n, int32_t buf[3], int32_t* count)
{
    if (n->word1 >= 0) {
        *count = n->word1;
        return kd::leafList(n);
    }
    const int32_t c = kd::leafCount(*n);
    for (int32_t i = 0; i < c; ++i) buf[i] = kd::inlineTriangle(*n, i);
    *count = c;
    return buf;
}

}  // namespace vekr

#endif
