// Worked cases of vekrIntersectMO_32f: what a miss leaves alone, the limits
// of the accepted distance, the box clip of axis-parallel rays, tie-breaking,
// both faces, degenerate records, and trees whose shape matters.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "intersect/mo_scene.h"
#include "scene/kdtree_node.h"
#include "support/random_scene.h"

using namespace vekr_test;
namespace kd = vekr::kd;

namespace {

// Right triangle in the plane z = z0 with the right angle at (x0, y0):
// first vertex (x0, y0), second (x0 + s, y0), third (x0, y0 + s).
int32_t addFlat(TriangleSoup& soup, float x0, float y0, float z0, float s = 1.0f)
{
    const float a[3] = {x0, y0, z0}, b[3] = {x0 + s, y0, z0}, c[3] = {x0, y0 + s, z0};
    return soup.addTriangle(a, b, c);
}

struct OneRay {
    HitBlock block{1};
    OneRay(const float o[3], const float d[3], float tmax) { block.setRay(0, o, d, tmax); }
    int32_t run(const VekrIntersectContext& ctx)
    {
        EXPECT_EQ(block.run(ctx, 1, 1), vekStsOk);
        EXPECT_TRUE(block.guardsIntact());
        return block.tri[0];
    }
};

int32_t castOne(const VekrIntersectContext& ctx, const float o[3], const float d[3], float tmax = 100.0f)
{
    OneRay r(o, d, tmax);
    return r.run(ctx);
}

const float kDown[3] = {0.0f, 0.0f, -1.0f};
const float kUp[3] = {0.0f, 0.0f, 1.0f};

}  // namespace

TEST(IntersectMO, MissesKeepDistanceAndWeights)
{
    TriangleSoup soup;
    addFlat(soup, 0, 0, 0);
    const PreparedScene scene = prepare(soup, singleLeafTree(1));
    const float o[3][3] = {{0.25f, 0.25f, 5.0f}, {0.25f, 0.25f, 5.0f}, {3.0f, 3.0f, 5.0f}};
    const float* d[3] = {kUp, kDown, kDown};  // away from the box; past the box; beside the triangle
    const float tmax[3] = {100.0f, 100.0f, 100.0f};
    HitBlock block(3);
    for (int i = 0; i < 3; ++i) block.setRay(static_cast<size_t>(i), o[i], d[i], tmax[i]);
    block.setRay(1, o[1], d[1], 4.0f);  // the limit ends before the triangle
    block.run(scene.context(), 3, 1);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(block.tri[i], -1) << i;
        EXPECT_EQ(block.dist[i], i == 1 ? 4.0f : 100.0f) << i;
        EXPECT_EQ(block.u[i], -7.0f) << i;
        EXPECT_EQ(block.v[i], -9.0f) << i;
    }
    EXPECT_TRUE(block.guardsIntact());
}

TEST(IntersectMO, AcceptedDistanceIsOpenOnBothEnds)
{
    TriangleSoup soup;
    addFlat(soup, 0, 0, 0);   // crossed at t = 2 from above
    addFlat(soup, 0, 0, 2);   // the ray starts on this one's plane: t = 0
    const PreparedScene scene = prepare(soup, singleLeafTree(2));
    const float o[3] = {0.25f, 0.25f, 2.0f};
    const auto ctx = scene.context();

    // The triangle the ray starts on is never hit; the one below is.
    OneRay r(o, kDown, 100.0f);
    EXPECT_EQ(r.run(ctx), 0);
    EXPECT_EQ(r.block.dist[0], 2.0f);

    // A non-positive limit never hits.
    EXPECT_EQ(castOne(ctx, o, kDown, 0.0f), -1);
    EXPECT_EQ(castOne(ctx, o, kDown, -1.0f), -1);

    // The hit must lie more than 0.00001 short of the limit.
    EXPECT_EQ(castOne(ctx, o, kDown, 2.0f), -1);
    EXPECT_EQ(castOne(ctx, o, kDown, 2.0f + 0.5e-5f), -1);
    EXPECT_EQ(castOne(ctx, o, kDown, 2.0f + 2e-5f), 0);
}

TEST(IntersectMO, BothFacesAreHitWithTheSameWeights)
{
    TriangleSoup soup;
    addFlat(soup, 0, 0, 2);
    const PreparedScene scene = prepare(soup, singleLeafTree(1));
    const float below[3] = {0.25f, 0.25f, 0.0f}, above[3] = {0.25f, 0.25f, 4.0f};
    for (const auto& [o, d] : {std::pair{below, kUp}, std::pair{above, kDown}}) {
        OneRay r(o, d, 100.0f);
        ASSERT_EQ(r.run(scene.context()), 0);
        EXPECT_EQ(r.block.dist[0], 2.0f);
        // (0.25, 0.25) = 0.5 A + 0.25 B + 0.25 C.
        EXPECT_FLOAT_EQ(r.block.u[0], 0.5f);
        EXPECT_FLOAT_EQ(r.block.v[0], 0.25f);
    }
}

TEST(IntersectMO, AxisParallelRaysNeedTheOriginStrictlyInsideTheSlab)
{
    // A wall x = 5 that reaches beyond a hand-set box [0, 10]^3, so that only
    // the clip decides.
    TriangleSoup soup;
    const float a[3] = {5, -20, -20}, b[3] = {5, 40, -20}, c[3] = {5, -20, 40};
    soup.addTriangle(a, b, c);
    const float box[6] = {0, 0, 0, 10, 10, 10};
    const PreparedScene scene = prepare(soup, singleLeafTree(1), box);
    const auto ctx = scene.context();
    const float alongX[3] = {1, 0, 0};
    const float nearlyAlongX[3] = {1, 1e-8f, -1e-7f};  // components below 2^-23 count as zero

    for (const float* d : {alongX, nearlyAlongX}) {
        const float inside[3] = {-1, 5, 5}, onMinY[3] = {-1, 0, 5}, onMaxY[3] = {-1, 10, 5},
                    onMinZ[3] = {-1, 5, 0}, outsideZ[3] = {-1, 5, 11};
        EXPECT_EQ(castOne(ctx, inside, d), 0);
        EXPECT_EQ(castOne(ctx, onMinY, d), -1);
        EXPECT_EQ(castOne(ctx, onMaxY, d), -1);
        EXPECT_EQ(castOne(ctx, onMinZ, d), -1);
        EXPECT_EQ(castOne(ctx, outsideZ, d), -1);
    }
    // Along z the same holds on the x slab.
    const float alongZ[3] = {0, 0, 1};
    const float onMinX[3] = {0, 5, -1};
    EXPECT_EQ(castOne(ctx, onMinX, alongZ), -1);
}

TEST(IntersectMO, NearlyEqualHitsKeepTheFirstTested)
{
    // Two parallel triangles; the second in list order lies nearer by less
    // than the margin, then by more.
    const float gap[2] = {0x1p-17f, 0x1p-16f};  // 7.6e-6 and 1.5e-5
    const int32_t expected[2] = {0, 1};
    for (int k = 0; k < 2; ++k) {
        TriangleSoup soup;
        addFlat(soup, 0, 0, 0);
        addFlat(soup, 0, 0, gap[k]);
        for (int j = 0; j < 3; ++j) addFlat(soup, 10.0f + j, 0, 0);  // keep the leaf a list
        const PreparedScene scene = prepare(soup, singleLeafTree(5));
        const float o[3] = {0.25f, 0.25f, 2.0f};
        EXPECT_EQ(castOne(scene.context(), o, kDown), expected[k]) << "gap " << gap[k];
    }
}

TEST(IntersectMO, SharedEdgeGoesToTheTriangleTestedFirst)
{
    // Two triangles sharing the edge (1,0)-(0,1) in z = 0; the ray meets the
    // edge's midpoint, which is inside both.
    const float p00[3] = {0, 0, 0}, p10[3] = {1, 0, 0}, p01[3] = {0, 1, 0}, p11[3] = {1, 1, 0};
    const float o[3] = {0.5f, 0.5f, 3.0f};
    for (int order = 0; order < 2; ++order) {
        TriangleSoup soup;
        if (order == 0) {
            soup.addTriangle(p00, p10, p01);
            soup.addTriangle(p11, p01, p10);
        } else {
            soup.addTriangle(p11, p01, p10);
            soup.addTriangle(p00, p10, p01);
        }
        for (int j = 0; j < 3; ++j) addFlat(soup, 10.0f + j, 0, 0);
        const PreparedScene scene = prepare(soup, singleLeafTree(5));
        OneRay r(o, kDown, 100.0f);
        ASSERT_EQ(r.run(scene.context()), 0) << "order " << order;
        // Both triangles list their vertex off the edge first.
        EXPECT_EQ(r.block.u[0], 0.0f);
        EXPECT_EQ(r.block.v[0], 0.5f);
    }
}

TEST(IntersectMO, DegenerateRecordsAreNeverHit)
{
    TriangleSoup soup;
    const float a[3] = {0, 0, 1}, b[3] = {1, 1, 1}, c[3] = {2, 2, 1};  // collinear, across the ray
    soup.addTriangle(a, b, c);
    addFlat(soup, 0, 0, 2);  // valid, but its record gets a zero axes word below
    addFlat(soup, 0, 0, 0);
    PreparedScene scene = prepare(soup, singleLeafTree(3));
    for (int32_t w = 0; w < 10; ++w) EXPECT_EQ(reinterpret_cast<const int32_t*>(&scene.accel[0])[w], 0);
    // A zero axes word alone marks the record dead, whatever the other fields.
    scene.accel[1].axes = 0;
    const float o[3] = {0.25f, 0.25f, 5.0f};
    OneRay r(o, kDown, 100.0f);
    EXPECT_EQ(r.run(scene.context()), 2);
    EXPECT_EQ(r.block.dist[0], 5.0f);
}

TEST(IntersectMO, InlineLeavesOfOneTwoAndThreeTrianglesReadBack)
{
    // Twelve small triangles in z = 0 at distinct x; a tree that puts
    // triangle 10 alone, 3 and 8 together, 5, 9 and 7 together in inline
    // leaves and the rest in a list.
    const float x[12] = {8, 8.5f, 9, 2.0f, 9.5f, 4.0f, 10, 5.2f, 3.0f, 4.6f, 0.5f, 10.5f};
    TriangleSoup soup;
    for (int j = 0; j < 12; ++j) addFlat(soup, x[j], 0, 0, 0.4f);
    HandTree t;
    const auto root = t.inner(0, 4.0f);
    const auto low = t.inner(0, 2.0f);
    const auto high = t.inner(0, 6.0f);
    t.setChildren(root, low, high);
    const auto one = t.leaf({10}), two = t.leaf({3, 8}), three = t.leaf({9, 5, 7}), list = t.leaf({0, 1, 2, 4, 6, 11});
    t.setChildren(low, one, two);
    t.setChildren(high, three, list);
    const PreparedScene scene = prepare(soup, t);

    const VekrKDTreeNode* lowNode = kd::child(scene.tree->root, 0);
    const VekrKDTreeNode* highNode = kd::child(scene.tree->root, 1);
    ASSERT_TRUE(kd::isInlineLeaf(*kd::child(lowNode, 0)));
    ASSERT_TRUE(kd::isInlineLeaf(*kd::child(lowNode, 1)));
    ASSERT_TRUE(kd::isInlineLeaf(*kd::child(highNode, 0)));
    ASSERT_FALSE(kd::isInlineLeaf(*kd::child(highNode, 1)));

    HitBlock block(12);
    for (size_t j = 0; j < 12; ++j) {
        const float o[3] = {x[j] + 0.1f, 0.1f, 1.0f};
        block.setRay(j, o, kDown, 100.0f);
    }
    block.run(scene.context(), 4, 3);
    for (int32_t j = 0; j < 12; ++j) EXPECT_EQ(block.tri[static_cast<size_t>(j)], j);
}

TEST(IntersectMO, FiftyLevelTreeFitsTheStack)
{
    // A chain of 50 splits that a ray along x straddles one after the other,
    // so every level pushes its far side; the only triangle waits in the far
    // side of the root, reached after unwinding the whole stack.
    TriangleSoup soup;
    const float a[3] = {75, -1, -1}, b[3] = {75, 2, -1}, c[3] = {75, -1, 2};
    soup.addTriangle(a, b, c);
    HandTree t;
    HandTree::Node parent = t.inner(0, 50.0f);
    const HandTree::Node root = parent;
    for (int level = 1; level < 50; ++level) {
        const HandTree::Node next = t.inner(0, 50.0f - level);
        t.setChildren(parent, next, parent == root ? t.leaf({0}) : t.leaf({}));
        parent = next;
    }
    t.setChildren(parent, t.leaf({}), t.leaf({}));
    const float box[6] = {0, -1, -1, 100, 1, 1};
    const PreparedScene scene = prepare(soup, t, box);
    const float o[3] = {-1, 0, 0}, d[3] = {1, 0, 0};
    OneRay r(o, d, 1000.0f);
    EXPECT_EQ(r.run(scene.context()), 0);
    EXPECT_EQ(r.block.dist[0], 76.0f);
}

TEST(IntersectMO, EmptyBlocksTouchNothing)
{
    // A side below 1 reads no argument at all, so even null planes are safe.
    for (const VekrSize size : {VekrSize{0, 5}, VekrSize{5, 0}, VekrSize{-4, 4}, VekrSize{4, -4}}) {
        const float* const none[3] = {nullptr, nullptr, nullptr};
        float* const noUV[2] = {nullptr, nullptr};
        EXPECT_EQ(vekrIntersectMO_32f(none, none, nullptr, noUV, nullptr, nullptr, size), vekStsOk);
    }
}
