// Leaf encoding of the block writer: which leaves go inline and how their
// words read back, and which become lists. Where pairs and lists go in a
// block is checked by the walker on every block the SAH build test makes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "scene/kdtree_node.h"
#include "scene/tree_block_writer.h"
#include "support/alloc_hook.h"
#include "support/hand_tree.h"

using vekr_test::HandTree;
using vekr_test::TreeBlock;
namespace kd = vekr::kd;

namespace {

std::vector<int32_t> leafTriangles(const VekrKDTreeNode* n)
{
    std::vector<int32_t> t;
    kd::forEachLeafTriangle(n, [&](int32_t x) { t.push_back(x); });
    return t;
}

}  // namespace

TEST(TreeBlockWriter, InlineLeavesPackAndReadBack)
{
    struct Case {
        std::vector<int32_t> in;
        std::vector<int32_t> readBack;
        uint32_t word0, word1;
    };
    const Case cases[] = {
        {{5}, {5}, 0x80000005u, 0x80000001u},
        {{3, 8}, {8, 3}, 0x80000008u, 0x8000000Eu},               // a fits the shifted word: reads b, a
        {{1 << 29, 8}, {1 << 29, 8}, 0xA0000000u, 0x80000022u},   // a too large: a stays first
        {{5, 9, 7}, {5, 7, 9}, 0x80020002u, 0x8000001Fu},
        // Triangle 0 is a number like any other, in every position.
        {{0}, {0}, 0x80000000u, 0x80000001u},
        {{0, 8}, {8, 0}, 0x80000008u, 0x80000002u},
        {{9, 0, 4}, {0, 4, 9}, 0x80040005u, 0x80000013u},
        {{4, 9, 0}, {0, 4, 9}, 0x80040005u, 0x80000013u},
    };
    for (const Case& c : cases) {
        HandTree t;
        t.leaf(c.in);
        TreeBlock b;
        ASSERT_EQ(vekr_test::layOut(t, b), vekStsOk);
        EXPECT_EQ(b.size, 16);
        EXPECT_EQ(static_cast<uint32_t>(b.root->word0), c.word0);
        EXPECT_EQ(static_cast<uint32_t>(b.root->word1), c.word1);
        EXPECT_TRUE(kd::isInlineLeaf(*b.root));
        EXPECT_EQ(leafTriangles(b.root), c.readBack);
    }
}

TEST(TreeBlockWriter, LeavesThatDoNotFitBecomeLists)
{
    const std::vector<int32_t> cases[] = {
        {},                                // empty leaf
        {1, 2, 3, 4},                      // more than three
        {1 << 29, 1 << 29},                // both too large for the shifted word
        {0, 40000, 40001},                 // mid - lo above 32767
        {0, 1, 70000},                     // hi - mid above 65535
        // A negative number has no packed form, in any position.
        {-1}, {3, -2}, {-2, 3}, {-3, 4, 9}, {4, -3, 9}, {4, 9, -3},
    };
    for (const auto& tris : cases) {
        HandTree t;
        t.leaf(tris);
        TreeBlock b;
        ASSERT_EQ(vekr_test::layOut(t, b), vekStsOk);
        EXPECT_EQ(b.root->word0, -16);
        EXPECT_EQ(b.root->word1, static_cast<int32_t>(tris.size()));
        EXPECT_EQ(b.size, 16 + 4 * static_cast<int32_t>(tris.size()));
        EXPECT_EQ(leafTriangles(b.root), tris);  // lists keep build order
    }
}

namespace {

// A one-leaf tree whose leaf claims `count` triangles without holding them:
// the writer sizes the block before it reads any list.
struct CountOnlyLeaf {
    using Node = int;
    int32_t count;
    Node root() const { return 0; }
    bool isLeaf(Node) const { return true; }
    int32_t axis(Node) const { return 0; }
    float split(Node) const { return 0.0f; }
    Node child(Node, int) const { return 0; }
    int32_t leafCount(Node) const { return count; }
    // Never read for the sizes used here; a real address keeps the
    // compiler's non-null check of the list copy satisfied.
    const int32_t* leafTriangles(Node) const
    {
        static const std::vector<int32_t> none(4, 0);
        return none.data();
    }
};

}  // namespace

// Blocks whose size passes what a 32-bit size (and vekMalloc) can describe
// are refused with vekStsNoMemErr before any allocation, never sized
// modulo 2^32: 2^29 list entries make 2^31 + 16 bytes, and the largest
// count makes 8 GB.
TEST(TreeBlockWriter, BlocksBeyond2GBAreRefusedBeforeAllocating)
{
    for (int32_t count : {1 << 29, (1 << 29) + 1, INT32_MAX}) {
        vekr_test::CountingAllocator counter;
        VekrKDTreeNode* block = reinterpret_cast<VekrKDTreeNode*>(0x40);
        int32_t size = -7;
        EXPECT_EQ(vekr::writeTreeBlock(CountOnlyLeaf{count}, &block, &size), vekStsNoMemErr) << count;
        EXPECT_EQ(block, reinterpret_cast<VekrKDTreeNode*>(0x40));
        EXPECT_EQ(size, -7);
        EXPECT_EQ(counter.calls(), 0) << count;
    }
}

namespace {

// The tree of a HandTree from one of its nodes down.
struct HandSubtree {
    using Node = HandTree::Node;
    const HandTree& tree;
    Node top;
    Node root() const { return top; }
    bool isLeaf(Node n) const { return tree.isLeaf(n); }
    int32_t axis(Node n) const { return tree.axis(n); }
    float split(Node n) const { return tree.split(n); }
    Node child(Node n, int c) const { return tree.child(n, c); }
    int32_t leafCount(Node n) const { return tree.leafCount(n); }
    const int32_t* leafTriangles(Node n) const { return tree.leafTriangles(n); }
};

// The whole HandTree, with the listed nodes standing for subtrees.
struct HandTop : HandSubtree {
    std::vector<Node> marked;
    int32_t subtree(Node n) const
    {
        for (size_t i = 0; i < marked.size(); ++i)
            if (marked[i] == n) return static_cast<int32_t>(i);
        return -1;
    }
};

}  // namespace

// A block written as a top and separately measured subtrees, the subtrees
// in reverse order, is byte for byte the block of one pass: subtrees that
// are inner nodes with list leaves below, a list leaf, an inline leaf and
// an empty leaf, at both sides of their parents and at several depths.
TEST(TreeBlockWriter, BlockWrittenInPartsEqualsOnePass)
{
    HandTree t;
    const auto root = t.inner(0, 1.0f);
    const auto a = t.inner(1, 2.0f), b = t.inner(2, 3.0f);
    t.setChildren(root, a, b);
    const auto a0 = t.inner(0, 0.5f), a1 = t.leaf({7, 8, 9, 10});
    t.setChildren(a, a0, a1);
    const auto a00 = t.leaf({1, 2, 3, 4, 5}), a01 = t.leaf({6});
    t.setChildren(a0, a00, a01);
    const auto b0 = t.leaf({}), b1 = t.inner(1, 4.0f);
    t.setChildren(b, b0, b1);
    const auto b10 = t.inner(2, 5.0f), b11 = t.leaf({11, 12, 13, 14, 15, 16});
    t.setChildren(b1, b10, b11);
    const auto b100 = t.leaf({17, 18, 19, 20}), b101 = t.leaf({1 << 29, 1 << 29});
    t.setChildren(b10, b100, b101);

    TreeBlock whole;
    ASSERT_EQ(vekr_test::layOut(t, whole), vekStsOk);

    const std::vector<std::vector<HandTree::Node>> markings = {
        {a0, a1, b0, b1}, {a, b11, b10}, {a01, b100}, {b101, a00, b0}, {}};
    for (const auto& marked : markings) {
        const HandTop top{{t, root}, marked};
        std::vector<vekr::SubtreeBytes> bytes;
        for (auto n : marked) bytes.push_back(vekr::measureSubtree(HandSubtree{t, n}));
        std::vector<vekr::SubtreePlace> places(marked.size());
        TreeBlock parts;
        ASSERT_EQ(vekr::layOutTreeBlock(top, bytes.data(), places.data(), &parts.root, &parts.size), vekStsOk);
        for (size_t i = marked.size(); i-- > 0;) vekr::writeSubtree(HandSubtree{t, marked[i]}, parts.root, places[i]);
        ASSERT_EQ(parts.size, whole.size);
        EXPECT_EQ(std::memcmp(parts.root, whole.root, static_cast<size_t>(whole.size)), 0) << marked.size();
    }
}
