// Leaf encoding of the block writer: which leaves go inline and how their
// words read back, and which become lists. Where pairs and lists go in a
// block is checked by the walker on every block the SAH build test makes.
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
