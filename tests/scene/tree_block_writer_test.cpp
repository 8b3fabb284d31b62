// Leaf encoding of the block writer: which leaves go inline and how their
// words read back, and which become lists. Where pairs and lists go in a
// block is checked by the walker on every block the SAH build test makes.
#include <gtest/gtest.h>

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
