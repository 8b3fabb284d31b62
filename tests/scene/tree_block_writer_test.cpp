#include <gtest/gtest.h>

#include <vector>

#include "scene/kdtree_node.h"
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

TEST(TreeBlockWriter, PairsInPreOrderAndListsAfterTheNodes)
{
    // root splits x at 1; below: split y at 2 into lists {0,1,2,3} and {4};
    // above: list {5,6,7,8,9}.
    HandTree t;
    const auto root = t.inner(0, 1.0f);
    const auto below = t.inner(1, 2.0f);
    const auto above = t.leaf({5, 6, 7, 8, 9});
    const auto bb = t.leaf({0, 1, 2, 3});
    const auto ba = t.leaf({4});
    t.setChildren(root, below, above);
    t.setChildren(below, bb, ba);
    TreeBlock b;
    ASSERT_EQ(vekr_test::layOut(t, b), vekStsOk);
    const int32_t nodeBytes = 16 + 8 * 4;
    EXPECT_EQ(b.size, nodeBytes + 4 * 9);
    const char* base = reinterpret_cast<const char*>(b.root);
    EXPECT_EQ(reinterpret_cast<const int32_t*>(base)[2], 0);
    EXPECT_EQ(reinterpret_cast<const int32_t*>(base)[3], 0);
    ASSERT_FALSE(kd::isLeaf(*b.root));
    EXPECT_EQ(kd::splitAxis(*b.root), 0);
    EXPECT_EQ(kd::childPairOffset(*b.root), 16);
    EXPECT_EQ(kd::splitPosition(*b.root), 1.0f);
    const VekrKDTreeNode* n0 = kd::child(b.root, 0);
    const VekrKDTreeNode* n1 = kd::child(b.root, 1);
    EXPECT_EQ(reinterpret_cast<const char*>(n0) - base, 16);
    EXPECT_EQ(reinterpret_cast<const char*>(n1) - base, 24);
    ASSERT_FALSE(kd::isLeaf(*n0));
    EXPECT_EQ(kd::splitAxis(*n0), 1);
    const VekrKDTreeNode* n00 = kd::child(n0, 0);
    EXPECT_EQ(reinterpret_cast<const char*>(n00) - base, 32);  // child 0's subtree comes next
    // Lists in depth-first order: below-below, then above; the single
    // triangle leaf is inline.
    EXPECT_EQ(reinterpret_cast<const char*>(kd::leafList(n00)) - base, nodeBytes);
    EXPECT_EQ(leafTriangles(n00), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_TRUE(kd::isInlineLeaf(*kd::child(n0, 1)));
    EXPECT_EQ(reinterpret_cast<const char*>(kd::leafList(n1)) - base, nodeBytes + 16);
    EXPECT_EQ(leafTriangles(n1), (std::vector<int32_t>{5, 6, 7, 8, 9}));
}
