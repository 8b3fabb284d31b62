// Lays a finished build tree out as one tree block.
//
// Both builders produce a tree in their own representation and hand it to
// writeTreeBlock through a small adapter:
//
//   struct Tree {
//       using Node = ...;                          // cheap handle
//       Node root() const;
//       bool isLeaf(Node) const;
//       int32_t axis(Node) const;                  // inner nodes: 0, 1, 2
//       float split(Node) const;                   // inner nodes
//       Node child(Node, int c) const;             // c = 0 below, 1 above
//       int32_t leafCount(Node) const;             // leaves
//       const int32_t* leafTriangles(Node) const;  // leaves, build order
//   };
//
// The block: root at offset 0, two zero words, child pairs from offset 16 in
// depth-first pre-order (a node's pair, then child 0's subtree, then child
// 1's), then the lists of the list leaves in the same order. Leaves of one to
// three triangles are stored inline when their numbers fit the packed form.
//
// A tree whose large subtrees were built apart can also be written in
// parts. Each subtree's share of the block (its pairs and its lists) is
// measured on its own (measureSubtree); the adapter of the top of the tree
// then also gives
//
//       int32_t subtree(Node) const;               // >= 0: the node stands
//                                                  // for that subtree
//
// and layOutTreeBlock writes the top, leaving each subtree a range of
// pairs and a range of lists where the one-pass writer would have put
// them, for writeSubtree to fill, in any order and on any thread.
#ifndef VEKR_SCENE_TREE_BLOCK_WRITER_H
#define VEKR_SCENE_TREE_BLOCK_WRITER_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/memory.h"
#include "scene/kdtree_node.h"
#include "vekr.h"

namespace vekr {

// Inline form of a leaf, or false when the leaf needs a list.
inline bool encodeInlineLeaf(const int32_t* t, int32_t count, VekrKDTreeNode* out)
{
    switch (count) {
    case 1:
        if (t[0] < 0) return false;
        *out = kd::makeInline1(t[0]);
        return true;
    case 2: {
        const int32_t a = t[0], b = t[1];
        if (a < 0 || b < 0) return false;
        // The second word holds its number shifted by two, so that number
        // must be below 2^29; prefer a there (the leaf then reads b, a).
        if (a < kd::kInlineLimit) {
            *out = kd::makeInline2(b, a);
            return true;
        }
        if (b < kd::kInlineLimit) {
            *out = kd::makeInline2(a, b);
            return true;
        }
        return false;
    }
    case 3: {
        if (t[0] < 0 || t[1] < 0 || t[2] < 0) return false;
        int32_t s[3] = {t[0], t[1], t[2]};
        std::sort(s, s + 3);
        if (s[1] >= kd::kInlineLimit || s[1] - s[0] > 32767 || s[2] - s[1] > 65535) return false;
        *out = kd::makeInline3(s[0], s[1], s[2]);
        return true;
    }
    default:
        return false;
    }
}

// A subtree's share of the block, below its root node.
struct SubtreeBytes {
    int64_t pairs = 0, lists = 0;
};

// Where a subtree goes: its root node and the start of its pairs and lists.
struct SubtreePlace {
    int32_t at = 0, pairs = 0, lists = 0;
};

namespace detail {

template <class Tree, class = void>
constexpr bool kHasSubtrees = false;
template <class Tree>
constexpr bool kHasSubtrees<Tree, std::void_t<decltype(std::declval<const Tree&>().subtree(
                                      std::declval<typename Tree::Node>()))>> = true;

template <class Tree>
struct BlockLayout {
    const Tree& tree;
    const SubtreeBytes* subtrees = nullptr;
    int64_t nodeBytes = kd::kBlockHeaderBytes;
    int64_t listBytes = 0;

    void count(typename Tree::Node n, bool isRoot)
    {
        if (!isRoot) nodeBytes += kd::kNodeBytes;
        if constexpr (kHasSubtrees<Tree>) {
            const int32_t s = tree.subtree(n);
            if (s >= 0) {
                nodeBytes += subtrees[s].pairs;
                listBytes += subtrees[s].lists;
                return;
            }
        }
        if (tree.isLeaf(n)) {
            VekrKDTreeNode scratch;
            const int32_t c = tree.leafCount(n);
            if (!encodeInlineLeaf(tree.leafTriangles(n), c, &scratch)) listBytes += 4 * static_cast<int64_t>(c);
            return;
        }
        count(tree.child(n, 0), false);
        count(tree.child(n, 1), false);
    }
};

template <class Tree>
struct BlockWriter {
    const Tree& tree;
    char* block;
    int32_t pairCursor;
    int32_t listCursor;
    const SubtreeBytes* subtrees = nullptr;
    SubtreePlace* places = nullptr;

    void write(typename Tree::Node n, int32_t at)
    {
        if constexpr (kHasSubtrees<Tree>) {
            const int32_t s = tree.subtree(n);
            if (s >= 0) {
                places[s] = SubtreePlace{at, pairCursor, listCursor};
                pairCursor += static_cast<int32_t>(subtrees[s].pairs);
                listCursor += static_cast<int32_t>(subtrees[s].lists);
                return;
            }
        }
        VekrKDTreeNode* node = reinterpret_cast<VekrKDTreeNode*>(block + at);
        if (tree.isLeaf(n)) {
            const int32_t c = tree.leafCount(n);
            const int32_t* t = tree.leafTriangles(n);
            if (encodeInlineLeaf(t, c, node)) return;
            *node = kd::makeListLeaf(listCursor - at, c);
            if (c > 0) std::memcpy(block + listCursor, t, 4 * static_cast<size_t>(c));
            listCursor += 4 * c;
            return;
        }
        const int32_t pair = pairCursor;
        pairCursor += kd::kPairBytes;
        *node = kd::makeInner(pair - at, tree.axis(n), tree.split(n));
        write(tree.child(n, 0), pair);
        write(tree.child(n, 1), pair + kd::kNodeBytes);
    }
};

}  // namespace detail

// The bytes of the block below the root of tree.
template <class Tree>
SubtreeBytes measureSubtree(const Tree& tree)
{
    detail::BlockLayout<Tree> layout{tree};
    layout.count(tree.root(), true);
    return SubtreeBytes{layout.nodeBytes - kd::kBlockHeaderBytes, layout.listBytes};
}

// Takes the block and writes the top of the tree; subtree s is left to
// writeSubtree at places[s]. Refuses as writeTreeBlock does.
template <class Tree>
VekStatus layOutTreeBlock(const Tree& tree, const SubtreeBytes* subtrees, SubtreePlace* places,
                          VekrKDTreeNode** outBlock, int32_t* outSize)
{
    detail::BlockLayout<Tree> layout{tree, subtrees};
    layout.count(tree.root(), true);
    const int64_t total = layout.nodeBytes + layout.listBytes;
    if (total / 8 + 1 > INT32_MAX / 8) return vekStsNoMemErr;
    char* block = static_cast<char*>(malloc8(static_cast<int32_t>(total / 8 + 1)));
    if (!block) return vekStsNoMemErr;
    std::memset(block + 8, 0, 8);
    detail::BlockWriter<Tree> writer{tree, block, kd::kBlockHeaderBytes, static_cast<int32_t>(layout.nodeBytes),
                                     subtrees, places};
    writer.write(tree.root(), 0);
    *outBlock = reinterpret_cast<VekrKDTreeNode*>(block);
    *outSize = static_cast<int32_t>(total);
    return vekStsOk;
}

// Writes the tree into a new block from vekMalloc. On success stores the
// block and its size (node bytes + list bytes) and returns vekStsOk; when
// the allocation fails returns vekStsNoMemErr and stores nothing.
template <class Tree>
VekStatus writeTreeBlock(const Tree& tree, VekrKDTreeNode** outBlock, int32_t* outSize)
{
    static_assert(!detail::kHasSubtrees<Tree>, "a tree with subtrees is laid out by layOutTreeBlock");
    return layOutTreeBlock(tree, nullptr, nullptr, outBlock, outSize);
}

// Writes a subtree, from its root node on, where layOutTreeBlock placed it.
template <class Tree>
void writeSubtree(const Tree& tree, VekrKDTreeNode* block, const SubtreePlace& place)
{
    detail::BlockWriter<Tree> writer{tree, reinterpret_cast<char*>(block), place.pairs, place.lists};
    writer.write(tree.root(), place.at);
}

}  // namespace vekr

#endif
