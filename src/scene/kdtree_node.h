// The bit encoding of a kd-tree node, in one place.
//
// A tree is one block: the root node at offset 0, two zero words, child
// pairs (16 bytes each) from offset 16 in depth-first pre-order, then the
// triangle lists of the list leaves. Every node is two 32-bit words:
//
//   inner node   word0 >= 0: byte offset from the node to its child pair,
//                OR the split axis in bits 0-1 (bit 2 is 0); word1: split
//                position as float bits. Child 0 (below the split) is at the
//                pair's address, child 1 (above) 8 bytes after it.
//   list leaf    word0 < 0: the list is at node address - word0;
//                word1 >= 0: triangle count (0 = empty leaf).
//   inline leaf  word0 < 0 and word1 < 0; count = word1 & 3.
//                1: word0 = 0x80000000 | t,            word1 = 0x80000001
//                2: word0 = 0x80000000 | first,        word1 = 0x80000002 | second << 2
//                3: word0 = 0x80000000 | (mid - lo) << 16 | (hi - mid),
//                                                      word1 = 0x80000003 | mid << 2
//
// The builders, the traversals and the tests all go through these accessors.
#ifndef VEKR_SCENE_KDTREE_NODE_H
#define VEKR_SCENE_KDTREE_NODE_H

#include <cstdint>
#include <cstring>

#include "vekr_scene.h"

namespace vekr::kd {

constexpr int32_t kInlineFlag = INT32_MIN;  // 0x80000000
constexpr int32_t kNodeBytes = 8;
constexpr int32_t kPairBytes = 16;
constexpr int32_t kBlockHeaderBytes = 16;   // root + two zero words

// ---- reading -------------------------------------------------------------

inline bool isLeaf(const VekrKDTreeNode& n) { return n.word0 < 0; }
inline bool isEmptyLeaf(const VekrKDTreeNode& n) { return n.word0 < 0 && n.word1 == 0; }
inline bool isInlineLeaf(const VekrKDTreeNode& n) { return n.word0 < 0 && n.word1 < 0; }

inline int32_t splitAxis(const VekrKDTreeNode& n) { return n.word0 & 3; }
inline int32_t childPairOffset(const VekrKDTreeNode& n) { return n.word0 & ~7; }
inline float splitPosition(const VekrKDTreeNode& n)
{
    float f;
    std::memcpy(&f, &n.word1, sizeof f);
    return f;
}
// child: 0 below the split, 1 above.
inline const VekrKDTreeNode* child(const VekrKDTreeNode* n, int c)
{
    return reinterpret_cast<const VekrKDTreeNode*>(reinterpret_cast<const char*>(n) + childPairOffset(*n)) + c;
}

inline int32_t leafCount(const VekrKDTreeNode& n) { return n.word1 < 0 ? (n.word1 & 3) : n.word1; }

// Triangle list of a list leaf. Lists hold int32 numbers, so the low two
// bits of the distance are not part of it; readers ignore them.
inline const int32_t* leafList(const VekrKDTreeNode* n)
{
    return reinterpret_cast<const int32_t*>(reinterpret_cast<const char*>(n) - (n->word0 & ~3));
}

// The triangle numbers of leaf n as one array: a list leaf's are read in
// place, an inline leaf's are decoded into buf. Leaf kind and count are
// close to random along a walk, so all three inline numbers are decoded
// whatever the count, and the kind is a selection rather than a branch.
inline const int32_t* leafTriangles(const VekrKDTreeNode* n, int32_t buf[3], int32_t* count)
{
    const int32_t w0 = n->word0, w1 = n->word1;
    const int32_t k = (w1 & 0x7FFFFFFC) >> 2;
    const int32_t w = w0 & 0x7FFFFFFF;
    const int32_t inlineCount = w1 & 3;
    buf[0] = inlineCount == 3 ? k - (w >> 16) : w;
    buf[1] = k;
    buf[2] = k + (w & 0xFFFF);
    const bool isInline = w1 < 0;
    *count = isInline ? inlineCount : w1;
    return isInline ? buf : leafList(n);
}

// Where a visit of n reads next: an inner node's child pair, a list leaf's
// triangle numbers (to within a few bytes), or n itself for an inline leaf.
// Computed without branches, as it is only a prefetch address and sits on
// the walk's hot path.
inline const void* nextReadOf(const VekrKDTreeNode* n)
{
    const int32_t w0 = n->word0;
    const int32_t negative = w0 >> 31;  // all ones for a leaf
    // A leaf's first word is minus its list's distance; its complement is
    // that distance less one.
    const int32_t distance = (w0 ^ negative) & ~7;
    const int32_t inlineLeaf = negative & (n->word1 >> 31);
    return reinterpret_cast<const char*>(n) + (distance & ~inlineLeaf);
}

// Calls f(triangle number) for every triangle of a leaf, in stored order.
template <class F>
inline void forEachLeafTriangle(const VekrKDTreeNode* n, F&& f)
{
    int32_t buf[3], count;
    const int32_t* list = leafTriangles(n, buf, &count);
    for (int32_t i = 0; i < count; ++i) f(list[i]);
}

// ---- writing -------------------------------------------------------------

inline VekrKDTreeNode makeInner(int32_t pairOffset, int32_t axis, float split)
{
    VekrKDTreeNode n;
    n.word0 = pairOffset | axis;
    std::memcpy(&n.word1, &split, sizeof split);
    return n;
}

inline VekrKDTreeNode makeListLeaf(int32_t listOffsetFromNode, int32_t count)
{
    return VekrKDTreeNode{-listOffsetFromNode, count};
}

constexpr int32_t kInlineLimit = 1 << 29;  // numbers at or above do not fit the shifted word

inline VekrKDTreeNode makeInline1(int32_t t)
{
    return VekrKDTreeNode{kInlineFlag | t, kInlineFlag | 1};
}

// Reads back as first, second.
inline VekrKDTreeNode makeInline2(int32_t first, int32_t second)
{
    return VekrKDTreeNode{kInlineFlag | first, kInlineFlag | 2 | (second << 2)};
}

// lo <= mid <= hi, mid < 2^29, mid - lo <= 32767, hi - mid <= 65535.
inline VekrKDTreeNode makeInline3(int32_t lo, int32_t mid, int32_t hi)
{
    return VekrKDTreeNode{kInlineFlag | ((mid - lo) << 16) | (hi - mid), kInlineFlag | 3 | (mid << 2)};
}

}  // namespace vekr::kd

#endif
