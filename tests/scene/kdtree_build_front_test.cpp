#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "scene/kdtree_node.h"
#include "scene_arrays.h"
#include "support/alloc_hook.h"
#include "vekr.h"

namespace kd = vekr::kd;

namespace {

VekrKDTreeNode* const kUntouchedTree = reinterpret_cast<VekrKDTreeNode*>(0x10);
constexpr int32_t kUntouchedSize = -77;

VekrKDTreeBuildParams simpleParams(int32_t depth = 20)
{
    return {vekrKDTreeBuildSimple, depth, 0.0f, 0, nullptr};
}

VekrKDTreeBuildParams sahParams(int32_t depth = 20, float factor = 0.5f, int32_t limitMB = 64)
{
    return {vekrKDTreeBuildSAH, depth, factor, limitMB, nullptr};
}

struct Call {
    bool nullTree = false, nullVertices = false, nullTriangles = false, nullSize = false, nullParams = false;
    std::optional<int32_t> vertexCount, triangleCount;  // unset: the scene's own
    VekrKDTreeBuildParams params = simpleParams();
};

// Runs the build on a small scene. On failure checks that neither output
// was written; on success releases the tree.
VekStatus build(const Call& c)
{
    static const vekr_test::SceneArrays scene = vekr_test::randomTriangles(6, 3);
    VekrKDTreeNode* tree = kUntouchedTree;
    int32_t size = kUntouchedSize;
    const VekStatus st = vekrKDTreeBuildAlloc(
        c.nullTree ? nullptr : &tree, c.nullVertices ? nullptr : scene.vertices.data(),
        c.nullTriangles ? nullptr : scene.triangles.data(), c.vertexCount.value_or(scene.vertexCount()),
        c.triangleCount.value_or(scene.triangleCount()), c.nullSize ? nullptr : &size,
        c.nullParams ? nullptr : &c.params);
    if (st == vekStsOk) {
        EXPECT_NE(tree, kUntouchedTree);
        vekrKDTreeFree(tree);
    } else {
        EXPECT_EQ(tree, kUntouchedTree);
        EXPECT_EQ(size, kUntouchedSize);
    }
    return st;
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
    Call c;
    c.nullTree = true;
    c.vertexCount = -3;
    EXPECT_EQ(build(c), vekStsNullPtrErr);  // pointer check before the count check

    for (int which = 0; which < 4; ++which) {
        Call p;
        p.nullTree = which == 0;
        p.nullVertices = which == 1;
        p.nullTriangles = which == 2;
        p.nullSize = which == 3;
        EXPECT_EQ(build(p), vekStsNullPtrErr) << "pointer " << which;
    }

    Call negVertices;
    negVertices.vertexCount = -2;
    negVertices.nullParams = true;  // count check before the descriptor check
    EXPECT_EQ(build(negVertices), vekStsSizeErr);
    Call negTriangles;
    negTriangles.triangleCount = INT32_MIN;
    EXPECT_EQ(build(negTriangles), vekStsSizeErr);

    Call nullParams;
    nullParams.nullParams = true;
    EXPECT_EQ(build(nullParams), vekStsNullPtrErr);
}

TEST(KDTreeBuildFront, TagAndDepth)
{
    Call c;
    for (int32_t depth : {0, 50}) {
        c.params = simpleParams(depth);
        EXPECT_EQ(build(c), vekStsOk) << depth;
    }
    for (int32_t depth : {51, -1, INT32_MIN}) {
        c.params = simpleParams(depth);
        EXPECT_EQ(build(c), vekStsBadParamErr) << depth;
        c.params = sahParams(depth);
        EXPECT_EQ(build(c), vekStsBadParamErr) << depth;
    }
    // An unknown tag is refused whatever the other words hold.
    for (uint32_t tag : {0u, vekrKDTreeBuildSimple + 1, vekrKDTreeBuildSAH ^ 0x80000000u}) {
        c.params = simpleParams(20);
        c.params.algorithm = tag;
        EXPECT_EQ(build(c), vekStsBadArgErr);
        c.params.maxDepth = 99;
        EXPECT_EQ(build(c), vekStsBadArgErr);
    }
}

TEST(KDTreeBuildFront, SplitFactorRange)
{
    Call c;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float f : {0.0f, -0.0f, 1.0f, 0.25f, nan}) {
        c.params = sahParams(20, f);
        EXPECT_TRUE(passedFront(build(c))) << f;
    }
    for (float f : {1.0000001f, -1e-30f, -std::numeric_limits<float>::infinity()}) {
        c.params = sahParams(20, f);
        EXPECT_EQ(build(c), vekStsBadParamErr) << f;
        c.params.memoryLimit = 0;  // the parameters are checked before the limit
        EXPECT_EQ(build(c), vekStsBadParamErr) << f;
    }
}

// The limit is tested in half-megabyte units modulo 2^32 against 16 MB:
// every limit below 32 MB is refused, and so are those that wrap to one.
TEST(KDTreeBuildFront, MemoryLimitWithItsWrap)
{
    Call c;
    for (int32_t mb : {31, 0, 1, 8192, 8192 + 31, INT32_MIN}) {
        c.params = sahParams(20, 0.5f, mb);
        EXPECT_EQ(build(c), vekStsNoMemErr) << mb;
    }
    // These pass; 33 MB and its wrapped twin 8225 MB leave the builder
    // enough for a small scene, -1 is about 4 GB.
    for (int32_t mb : {33, 8192 + 33, -1, INT32_MAX}) {
        c.params = sahParams(20, 0.5f, mb);
        EXPECT_TRUE(passedFront(build(c))) << mb;
    }
}

TEST(KDTreeSimpleBuild, OneListLeafInAscendingOrder)
{
    for (int32_t n : {0, 1, 2, 3, 1000}) {
        // The simple build never reads the scene arrays: one float and one
        // index word stand in for a scene of n triangles and no vertices.
        const float vertex = 0.0f;
        const int32_t index = 0;
        VekrKDTreeNode* tree = nullptr;
        int32_t size = 0;
        const auto params = simpleParams();
        ASSERT_EQ(vekrKDTreeBuildAlloc(&tree, &vertex, &index, 0, n, &size, &params), vekStsOk);
        EXPECT_EQ(size, 16 + 4 * n);
        EXPECT_EQ(tree->word0, -16);  // never the inline form, even for 1 to 3 triangles
        EXPECT_EQ(tree->word1, n);
        EXPECT_EQ(tree[1].word0, 0);
        EXPECT_EQ(tree[1].word1, 0);
        const int32_t* list = kd::leafList(tree);
        for (int32_t i = 0; i < n; ++i) ASSERT_EQ(list[i], i);
        EXPECT_EQ(vekrKDTreeFree(tree), vekStsOk);
    }
    EXPECT_EQ(vekrKDTreeFree(nullptr), vekStsOk);
}

// A simple descriptor is just its tag and depth; nothing past them is read.
TEST(KDTreeSimpleBuild, ReadsOnlyTwoDescriptorWords)
{
    const int32_t words[2] = {static_cast<int32_t>(vekrKDTreeBuildSimple), 7};
    const float vertex = 0.0f;
    const int32_t index = 0;
    VekrKDTreeNode* tree = nullptr;
    int32_t size = 0;
    ASSERT_EQ(vekrKDTreeBuildAlloc(&tree, &vertex, &index, 1, 5, &size,
                                   reinterpret_cast<const VekrKDTreeBuildParams*>(words)),
              vekStsOk);
    EXPECT_EQ(size, 36);
    vekrKDTreeFree(tree);
}

TEST(KDTreeSimpleBuild, AllocationFailureWritesNothingAndLeaksNothing)
{
    vekr_test::CountingAllocator failFirst(1);
    Call c;
    EXPECT_EQ(build(c), vekStsNoMemErr);  // build() checks the outputs are untouched
    EXPECT_EQ(failFirst.calls(), 1);
    EXPECT_EQ(failFirst.live(), 0);
}
