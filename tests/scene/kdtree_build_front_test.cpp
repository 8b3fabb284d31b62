// The tree-build export: the order of its checks (nothing written on any
// refusal), the descriptor fields of both builds, and the single-leaf build.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "scene/kdtree_node.h"
#include "support/alloc_hook.h"
#include "support/random_scene.h"
#include "vekr.h"

namespace kd = vekr::kd;

namespace {

VekrKDTreeNode* const kUntouchedTree = reinterpret_cast<VekrKDTreeNode*>(0x10);
constexpr int32_t kUntouchedSize = -77;

// The arguments of one call on a small scene, for a test to change.
struct Args {
    VekrKDTreeNode* treeOut = kUntouchedTree;
    int32_t sizeOut = kUntouchedSize;
    VekrKDTreeNode** tree = &treeOut;
    const float* vertices;
    const int32_t* triangles;
    int32_t vertexCount, triangleCount;
    int32_t* size = &sizeOut;
    VekrKDTreeBuildParams params{vekrKDTreeBuildSimple, 20, 0.0f, 0, nullptr};
    const VekrKDTreeBuildParams* paramsIn = &params;
};

// Runs the build with the arguments as `change` leaves them. On failure
// checks that neither output was written; on success releases the tree.
VekStatus build(const std::function<void(Args&)>& change)
{
    static const vekr_test::TriangleSoup scene = vekr_test::randomTriangles(3, 6);
    Args a;
    a.vertices = scene.vertices.data();
    a.triangles = scene.triangles.data();
    a.vertexCount = scene.vertexCount();
    a.triangleCount = scene.triangleCount();
    change(a);
    const VekStatus st = vekrKDTreeBuildAlloc(a.tree, a.vertices, a.triangles, a.vertexCount, a.triangleCount, a.size,
                                              a.paramsIn);
    if (st == vekStsOk) {
        EXPECT_NE(a.treeOut, kUntouchedTree);
        vekrKDTreeFree(a.treeOut);
    } else {
        EXPECT_EQ(a.treeOut, kUntouchedTree);
        EXPECT_EQ(a.sizeOut, kUntouchedSize);
    }
    return st;
}

VekStatus withParams(uint32_t algorithm, int32_t depth, float factor = 0.5f, int32_t limitMB = 64)
{
    return build([&](Args& a) { a.params = {algorithm, depth, factor, limitMB, nullptr}; });
}

// A descriptor that passed the front reaches the builder, whose own
// answers are none of the front's codes.
bool passedFront(VekStatus st)
{
    return st != vekStsNullPtrErr && st != vekStsSizeErr && st != vekStsBadParamErr && st != vekStsBadArgErr &&
           st != vekStsNoMemErr;
}

}  // namespace

TEST(KDTreeBuildFront, PointersFirstThenCountsThenDescriptor)
{
    EXPECT_EQ(build([](Args& a) { a.tree = nullptr, a.vertexCount = -3; }), vekStsNullPtrErr);
    EXPECT_EQ(build([](Args& a) { a.vertices = nullptr; }), vekStsNullPtrErr);
    EXPECT_EQ(build([](Args& a) { a.triangles = nullptr; }), vekStsNullPtrErr);
    EXPECT_EQ(build([](Args& a) { a.size = nullptr; }), vekStsNullPtrErr);
    EXPECT_EQ(build([](Args& a) { a.vertexCount = -2, a.paramsIn = nullptr; }), vekStsSizeErr);
    EXPECT_EQ(build([](Args& a) { a.triangleCount = INT32_MIN; }), vekStsSizeErr);
    EXPECT_EQ(build([](Args& a) { a.paramsIn = nullptr; }), vekStsNullPtrErr);
}

// Depths 0 to 50 for both builds; an unknown tag is refused whatever the
// other words hold; SAH factors in [0, 1] or NaN, checked before the limit.
// The limit is tested in half-megabyte units modulo 2^32 against 16 MB:
// every limit below 32 MB is refused, and so are those that wrap to one;
// 33 MB and its wrapped twin 8225 MB leave the builder enough for a small
// scene, -1 is about 4 GB.
TEST(KDTreeBuildFront, DescriptorFields)
{
    for (int32_t depth : {0, 50}) EXPECT_EQ(withParams(vekrKDTreeBuildSimple, depth), vekStsOk) << depth;
    for (int32_t depth : {51, -1, INT32_MIN}) {
        EXPECT_EQ(withParams(vekrKDTreeBuildSimple, depth), vekStsBadParamErr) << depth;
        EXPECT_EQ(withParams(vekrKDTreeBuildSAH, depth), vekStsBadParamErr) << depth;
    }
    for (uint32_t tag : {0u, vekrKDTreeBuildSimple + 1, vekrKDTreeBuildSAH ^ 0x80000000u}) {
        EXPECT_EQ(withParams(tag, 20), vekStsBadArgErr);
        EXPECT_EQ(withParams(tag, 99), vekStsBadArgErr);
        EXPECT_EQ(withParams(tag, -1), vekStsBadArgErr);  // the tag decides before the depth is read
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float f : {0.0f, -0.0f, 1.0f, 0.25f, nan})
        EXPECT_TRUE(passedFront(withParams(vekrKDTreeBuildSAH, 20, f))) << f;
    for (float f : {1.0000001f, -1e-30f, -std::numeric_limits<float>::infinity()}) {
        EXPECT_EQ(withParams(vekrKDTreeBuildSAH, 20, f), vekStsBadParamErr) << f;
        EXPECT_EQ(withParams(vekrKDTreeBuildSAH, 20, f, 0), vekStsBadParamErr) << f;
    }
    for (int32_t mb : {31, 0, 1, 8192, 8192 + 31, INT32_MIN})
        EXPECT_EQ(withParams(vekrKDTreeBuildSAH, 20, 0.5f, mb), vekStsNoMemErr) << mb;
    for (int32_t mb : {33, 8192 + 33, -1, INT32_MAX})
        EXPECT_TRUE(passedFront(withParams(vekrKDTreeBuildSAH, 20, 0.5f, mb))) << mb;
}

// One list leaf of every triangle in ascending order, never the inline
// form, even for 1 to 3 triangles. The simple build never reads the scene
// arrays (one float and one index word stand in for n triangles), and of
// its descriptor only the tag and depth.
TEST(KDTreeSimpleBuild, OneListLeafInAscendingOrder)
{
    const float vertex = 0.0f;
    const int32_t index = 0;
    const int32_t twoWords[2] = {static_cast<int32_t>(vekrKDTreeBuildSimple), 7};
    for (int32_t n : {0, 1, 2, 3, 1000}) {
        VekrKDTreeNode* tree = nullptr;
        int32_t size = 0;
        ASSERT_EQ(vekrKDTreeBuildAlloc(&tree, &vertex, &index, 0, n, &size,
                                       reinterpret_cast<const VekrKDTreeBuildParams*>(twoWords)),
                  vekStsOk);
        EXPECT_EQ(size, 16 + 4 * n);
        EXPECT_EQ(tree->word0, -16);
        EXPECT_EQ(tree->word1, n);
        EXPECT_EQ(tree[1].word0, 0);
        EXPECT_EQ(tree[1].word1, 0);
        const int32_t* list = kd::leafList(tree);
        for (int32_t i = 0; i < n; ++i) ASSERT_EQ(list[i], i);
        EXPECT_EQ(vekrKDTreeFree(tree), vekStsOk);
    }
    EXPECT_EQ(vekrKDTreeFree(nullptr), vekStsOk);
}

// The simple tree of n triangles is 16 + 4n bytes; from n = 536,870,908 on
// that is 2^31 bytes or more, beyond a 32-bit size and vekMalloc, and is
// refused without an allocation rather than sized modulo 2^32. The scene
// arrays are never read.
TEST(KDTreeSimpleBuild, TreesBeyond2GBAreRefusedBeforeAllocating)
{
    for (int32_t n : {536870908, 1 << 30, INT32_MAX}) {
        vekr_test::CountingAllocator counter;
        EXPECT_EQ(build([&](Args& a) { a.triangleCount = n; }), vekStsNoMemErr) << n;
        EXPECT_EQ(counter.calls(), 0) << n;
    }
}
