// Worked cases of the intersection calls, for what the brute-force agreement
// tests cannot show: exact ends of the accepted distance and of the
// occlusion window, the box clip of rays starting on a slab face, which of
// two equally good triangles wins, dead records, a tree as deep as the
// stack, the occluder cache, skipped tiles, and the acceptance rules that
// set the paths and the calls apart.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "intersect/ray_blocks.h"
#include "support/random_scene.h"

using namespace vekr_test;

namespace {

// Right triangle in the plane z = z0 with the right angle at (x0, y0):
// first vertex (x0, y0), second (x0 + s, y0), third (x0, y0 + s).
int32_t addFlat(TriangleSoup& soup, float x0, float y0, float z0, float s = 1.0f)
{
    return soup.addTriangle({x0, y0, z0}, {x0 + s, y0, z0}, {x0, y0 + s, z0});
}

// A triangle in the plane z = h covering |x|, |y| < 20.
int32_t addPlane(TriangleSoup& s, float h)
{
    return s.addTriangle({-40.0f, -40.0f, h}, {40.0f, -40.0f, h}, {0.0f, 40.0f, h});
}

// One ray ray by ray through the per-origin call.
RayBlock castOne(const VekrIntersectContext& ctx, const float o[3], const float d[3], float tmax = 100.0f)
{
    RayBlock b(1, 1, Path::Scalar);
    b.setRay(0, o, d, tmax);
    EXPECT_EQ(b.closest(ctx), vekStsOk);
    EXPECT_TRUE(b.guardsIntact());
    return b;
}

int32_t hitOf(const VekrIntersectContext& ctx, const float o[3], const float d[3], float tmax = 100.0f)
{
    return castOne(ctx, o, d, tmax).tri[0];
}

// Directions (x, y, 1) fanning over a block, x and y exact in float, with
// signs mixed inside every tile unless positive is set.
void fan(RayBlock& b, bool positive = false)
{
    for (int32_t r = 0; r < b.height; ++r)
        for (int32_t c = 0; c < b.width; ++c) {
            const float x = (static_cast<float>(c) - (positive ? -1.0f : 1.5f)) * 0.0625f;
            const float y = (static_cast<float>(r) - (positive ? -1.0f : 1.5f)) * 0.03125f;
            const float d[3] = {x, y, 1.0f};
            b.setDir(static_cast<size_t>(r * b.width + c), d);
        }
}

// One list leaf in triangle order (leaves of up to three triangles are
// stored inline, and a two-triangle one reads back reversed): pads the
// scene with small triangles out of every ray's way.
PreparedScene inListOrder(TriangleSoup soup)
{
    while (soup.triangleCount() < 4) addFlat(soup, 100.0f, 100.0f, 1.0f);
    return prepare(soup, singleLeafTree(soup.triangleCount()));
}

const float kDown[3] = {0.0f, 0.0f, -1.0f};
const float kUp[3] = {0.0f, 0.0f, 1.0f};
const float kOrigin[3] = {0.0f, 0.0f, 0.0f};

}  // namespace

// Both faces are hit with the same weights; a triangle the ray starts on is
// never hit, and a hit must lie more than 0.00001 short of the limit.
TEST(IntersectMO, AcceptedDistanceIsOpenOnBothEnds)
{
    TriangleSoup soup;
    addFlat(soup, 0, 0, 0);  // crossed at t = 2 from above
    addFlat(soup, 0, 0, 2);  // the ray from above starts on this one's plane: t = 0
    const PreparedScene scene = prepare(soup, singleLeafTree(2));
    const auto ctx = scene.context();
    const float above[3] = {0.25f, 0.25f, 2.0f}, below[3] = {0.25f, 0.25f, 0.0f};
    for (const auto& [o, d, hit] : {std::tuple{above, kDown, 0}, std::tuple{below, kUp, 1}}) {
        const RayBlock r = castOne(ctx, o, d);
        ASSERT_EQ(r.tri[0], hit);
        EXPECT_EQ(r.dist[0], 2.0f);
        // (0.25, 0.25) = 0.5 A + 0.25 B + 0.25 C.
        EXPECT_FLOAT_EQ(r.u[0], 0.5f);
        EXPECT_FLOAT_EQ(r.v[0], 0.25f);
    }
    for (float limit : {0.0f, -1.0f, 2.0f, 2.0f + 0.5e-5f}) EXPECT_EQ(hitOf(ctx, above, kDown, limit), -1) << limit;
    EXPECT_EQ(hitOf(ctx, above, kDown, 2.0f + 2e-5f), 0);
}

TEST(IntersectMO, AxisParallelRaysNeedTheOriginStrictlyInsideTheSlab)
{
    // A wall x = 5 that reaches beyond a hand-set box [0, 10]^3, so that only
    // the clip decides.
    TriangleSoup soup;
    soup.addTriangle({5, -20, -20}, {5, 40, -20}, {5, -20, 40});
    const float box[6] = {0, 0, 0, 10, 10, 10};
    const PreparedScene scene = prepare(soup, singleLeafTree(1), box);
    const auto ctx = scene.context();
    const float alongX[3] = {1, 0, 0};
    const float nearlyAlongX[3] = {1, 1e-8f, -1e-7f};  // components below 2^-23 count as zero
    for (const float* d : {alongX, nearlyAlongX}) {
        const float inside[3] = {-1, 5, 5}, onMinY[3] = {-1, 0, 5}, onMaxY[3] = {-1, 10, 5},
                    onMinZ[3] = {-1, 5, 0}, outsideZ[3] = {-1, 5, 11};
        EXPECT_EQ(hitOf(ctx, inside, d), 0);
        for (const float* o : {onMinY, onMaxY, onMinZ, outsideZ}) EXPECT_EQ(hitOf(ctx, o, d), -1);
    }
    // Along z the same holds on the x slab.
    const float onMinX[3] = {0, 5, -1};
    EXPECT_EQ(hitOf(ctx, onMinX, kUp), -1);
}

TEST(IntersectMO, SharedEdgeGoesToTheTriangleTestedFirst)
{
    // Two triangles sharing the edge (1,0)-(0,1) in z = 0; the ray meets the
    // edge's midpoint, which is inside both.
    const Vec3 p00 = {0, 0, 0}, p10 = {1, 0, 0}, p01 = {0, 1, 0}, p11 = {1, 1, 0};
    const float o[3] = {0.5f, 0.5f, 3.0f};
    for (int order = 0; order < 2; ++order) {
        TriangleSoup soup;
        if (order == 1) soup.addTriangle(p11, p01, p10);
        soup.addTriangle(p00, p10, p01);
        if (order == 0) soup.addTriangle(p11, p01, p10);
        const RayBlock r = castOne(inListOrder(soup).context(), o, kDown);
        ASSERT_EQ(r.tri[0], 0) << "order " << order;
        // Both triangles list their vertex off the edge first.
        EXPECT_EQ(r.u[0], 0.0f);
        EXPECT_EQ(r.v[0], 0.5f);
    }
}

TEST(IntersectMO, DegenerateRecordsAreNeverHit)
{
    TriangleSoup soup;
    soup.addTriangle({0, 0, 1}, {1, 1, 1}, {2, 2, 1});  // collinear, across the ray
    addFlat(soup, 0, 0, 2);  // valid, but its record gets a zero axes word below
    addFlat(soup, 0, 0, 0);
    PreparedScene scene = prepare(soup, singleLeafTree(3));
    for (int32_t w = 0; w < 10; ++w) EXPECT_EQ(reinterpret_cast<const int32_t*>(&scene.accel[0])[w], 0);
    // A zero axes word alone marks the record dead, whatever the other fields.
    scene.accel[1].axes = 0;
    const float o[3] = {0.25f, 0.25f, 5.0f};
    const RayBlock r = castOne(scene.context(), o, kDown);
    EXPECT_EQ(r.tri[0], 2);
    EXPECT_EQ(r.dist[0], 5.0f);
}

TEST(IntersectMO, FiftyLevelTreeFitsTheStack)
{
    // A chain of 50 splits that a ray along x straddles one after the other,
    // so every level pushes its far side; the only triangle waits in the far
    // side of the root, reached after unwinding the whole stack.
    TriangleSoup soup;
    soup.addTriangle({75, -1, -1}, {75, 2, -1}, {75, -1, 2});
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
    const float o[3] = {-1, 0, 0}, d[3] = {1, 0, 0};
    const RayBlock r = castOne(prepare(soup, t, box).context(), o, d, 1000.0f);
    EXPECT_EQ(r.tri[0], 0);
    EXPECT_EQ(r.dist[0], 76.0f);
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

TEST(Occlusion, WindowIsOpenAtBothEnds)
{
    // Planes at z = 1 (the targets themselves), beyond them, behind the
    // light, and just in front of the targets.
    struct Case {
        float z;
        bool blocks;
    };
    for (const Case& c : {Case{1.5f, false}, Case{-0.5f, false}, Case{0.999f, true}, Case{1.0f, false}}) {
        TriangleSoup soup;
        addPlane(soup, c.z);
        const PreparedScene scene = prepare(soup, singleLeafTree(1));
        for (Path path : {Path::Packet, Path::Scalar}) {
            // Exactly at the target, 1/det on the packet path is an estimate
            // and may land the crossing a rounding step below 1.
            if (c.z == 1.0f && path == Path::Packet) continue;
            RayBlock b(4, 4, path);
            fan(b);
            ASSERT_EQ(b.any(scene.context(), kOrigin), vekStsOk);
            for (size_t i = 0; i < b.count(); ++i) {
                EXPECT_EQ(b.mask[i], c.blocks ? -1 : 0) << "z " << c.z << " ray " << i;
                EXPECT_EQ(b.tri[i], c.blocks ? 0 : -1) << "z " << c.z << " ray " << i;
            }
        }
    }
}

TEST(Occlusion, CachedOccluderSettlesWholeTiles)
{
    // Both triangles block all 32 rays; 1 is nearer the light but listed
    // second. The ray-by-ray path names the first found, 0. The packet path
    // primes its cache with the nearest blocker of a row-3 ray, 1, and that
    // settles both tiles before any packet walks the tree (4-ray packets
    // over these mixed tiles would also name 0). A third triangle, through
    // the light, is crossed at t = 0 by every ray: outside the window, it
    // must not be taken for the nearest blocker.
    TriangleSoup soup;
    addPlane(soup, 0.6f);
    addPlane(soup, 0.3f);
    addPlane(soup, kOrigin[2]);
    const PreparedScene scene = inListOrder(soup);
    for (Path path : {Path::Packet, Path::Scalar}) {
        RayBlock b(8, 4, path);
        fan(b);
        ASSERT_EQ(b.any(scene.context(), kOrigin), vekStsOk);
        for (size_t i = 0; i < b.count(); ++i) {
            EXPECT_EQ(b.tri[i], path == Path::Packet ? 1 : 0) << "ray " << i;
            EXPECT_EQ(b.mask[i], -1);
        }
    }
}

// The cache is handed on from tile to tile: after a coherent tile (all
// directions positive: one code, two 8-ray packets) it holds the blocker of
// the tile's last row, which then settles the next tile, even though a walk
// of that tile would name a blocker listed earlier. Triangle 0 (nearer,
// listed first) covers only the third tile; 1 covers everything. Tile 1's
// row 3 is masked off, so the cache starts empty and tile 1 runs as 4-ray
// packets, which leave the cache alone.
TEST(Occlusion, CoherentTileHandsItsBlockerToTheNextTile)
{
    TriangleSoup soup;
    soup.addTriangle({0.16f, -5.0f, 0.3f}, {10.0f, -5.0f, 0.3f}, {0.16f, 10.0f, 0.3f});
    addPlane(soup, 0.6f);
    const PreparedScene scene = inListOrder(soup);
    for (Path path : {Path::Packet, Path::Scalar}) {
        RayBlock b(12, 4, path);
        fan(b, true);
        for (size_t c = 0; c < 4; ++c) b.mask[36 + c] = -1;
        ASSERT_EQ(b.any(scene.context(), kOrigin), vekStsOk);
        for (size_t i = 0; i < b.count(); ++i) {
            EXPECT_EQ(b.mask[i], -1) << name(path) << " ray " << i;
            if (i >= 36 && i < 40) continue;  // masked off
            const bool thirdTile = i % 12 >= 8;
            const int32_t expected = thirdTile && path == Path::Scalar ? 0 : 1;
            EXPECT_EQ(b.tri[i], expected) << name(path) << " ray " << i;
        }
    }
}

// Two blockers in two leaves, the far one listed first: every path names
// the one in the leaf the walk reaches first (on the packet path the
// cache's priming also finds it, as the nearer).
TEST(Occlusion, BlockerOfTheFirstLeafReachedIsReported)
{
    TriangleSoup soup;
    addFlat(soup, -0.05f, -0.05f, 0.9f, 0.6f);
    addFlat(soup, -0.05f, -0.05f, 0.2f, 0.6f);
    const PreparedScene scene = prepareMidpoint(soup, 1, 1);  // split at z = 0.55
    for (Path path : {Path::Packet, Path::Scalar}) {
        RayBlock b(4, 4, path);
        fan(b, true);
        ASSERT_EQ(b.any(scene.context(), kOrigin), vekStsOk);
        for (size_t i = 0; i < b.count(); ++i) {
            EXPECT_EQ(b.mask[i], -1) << name(path) << " ray " << i;
            EXPECT_EQ(b.tri[i], 1) << name(path) << " ray " << i;
        }
    }
}

// Blocks one ray wide or high take the ray-by-ray path of every call and
// are traced like any other.
TEST(IntersectCalls, BlocksOneRayWideOrHighAreTraced)
{
    TriangleSoup soup;
    addPlane(soup, 4.0f);
    const PreparedScene scene = prepare(soup, singleLeafTree(1));
    const VekrIntersectContext ctx = scene.context();
    for (const VekrSize size : {VekrSize{1, 1}, VekrSize{1, 3}, VekrSize{3, 1}}) {
        RayBlock mo(size.width, size.height, Path::Scalar), eye(size.width, size.height, Path::Scalar);
        RayBlock layers(size.width, size.height, Path::Scalar), shadow(size.width, size.height, Path::Scalar);
        fan(eye);
        for (size_t i = 0; i < eye.count(); ++i) {
            const float d[3] = {eye.dir.x[i], eye.dir.y[i], 2.0f * eye.dir.z[i]};
            mo.setRay(i, kOrigin, d, 1e30f);
            layers.setDir(i, d);
            const float toLight[3] = {d[0], d[1], 8.0f};  // the plane at t = 0.5
            shadow.setDir(i, toLight);
        }
        ASSERT_EQ(mo.closest(ctx), vekStsOk);
        ASSERT_EQ(eye.eye(ctx, kOrigin), vekStsOk);
        ASSERT_EQ(layers.multiple(ctx, kOrigin), vekStsOk);
        ASSERT_EQ(shadow.any(ctx, kOrigin), vekStsOk);
        const std::string at = std::to_string(size.width) + " x " + std::to_string(size.height);
        for (size_t i = 0; i < eye.count(); ++i) {
            EXPECT_EQ(mo.tri[i], 0) << at;
            EXPECT_EQ(mo.dist[i], 2.0f) << at;
            EXPECT_EQ(eye.tri[i], 0) << at;
            EXPECT_EQ(eye.dist[i], 4.0f) << at;
            EXPECT_EQ(layers.tri[i], 0) << at;
            EXPECT_EQ(layers.dist[i], 2.0f) << at;
            EXPECT_EQ(shadow.mask[i], -1) << at;
            EXPECT_EQ(shadow.tri[i], 0) << at;
        }
    }
}

TEST(Occlusion, BoxIsNeverRead)
{
    TriangleSoup soup;
    addPlane(soup, 0.5f);
    addPlane(soup, 0.25f);
    const PreparedScene scene = prepare(soup, singleLeafTree(2));
    VekrIntersectContext ctx = scene.context();
    ctx.pBound = reinterpret_cast<const float*>(static_cast<uintptr_t>(16));
    for (Path path : {Path::Packet, Path::Scalar})
        for (bool positive : {false, true}) {
            RayBlock b(8, 8, path);
            fan(b, positive);
            ASSERT_EQ(b.any(ctx, kOrigin), vekStsOk);
            for (size_t i = 0; i < b.count(); ++i) EXPECT_EQ(b.mask[i], -1);
        }
}

TEST(PacketPath, TilesWithoutPositiveDistanceAreSkipped)
{
    TriangleSoup soup;
    addPlane(soup, 4.0f);
    const PreparedScene scene = prepare(soup, singleLeafTree(1));
    // Tile 0 has only limits of 0 and below; tile 1 is traced.
    auto limit = [](size_t i) { return i % 8 < 4 ? (i % 2 ? 0.0f : -1.0f) : 1e30f; };
    RayBlock eye(8, 4, Path::Packet), layers(8, 4, Path::Packet, 2), mo(8, 4, Path::Packet);
    fan(eye);
    fan(layers);
    for (size_t i = 0; i < 32; ++i) {
        eye.dist[i] = layers.dist[i] = limit(i);
        const float d[3] = {eye.dir.x[i], eye.dir.y[i], eye.dir.z[i]};
        mo.setRay(i, kOrigin, d, limit(i));
    }
    ASSERT_EQ(eye.eye(scene.context(), kOrigin), vekStsOk);
    ASSERT_EQ(layers.multiple(scene.context(), kOrigin), vekStsOk);
    ASSERT_EQ(mo.closest(scene.context()), vekStsOk);
    for (size_t i = 0; i < 32; ++i) {
        const bool traced = i % 8 >= 4;
        EXPECT_EQ(eye.tri[i], traced ? 0 : -1);
        EXPECT_EQ(layers.tri[i], traced ? 0 : -1);
        EXPECT_EQ(layers.tri[32 + i], -1);
        EXPECT_EQ(mo.tri[i], traced ? 0 : -1);
        if (traced) continue;
        EXPECT_EQ(eye.dist[i], limit(i));
        EXPECT_EQ(layers.dist[i], limit(i));
        EXPECT_EQ(mo.dist[i], limit(i));
        EXPECT_TRUE(eye.u[i] == -7.0f && eye.v[i] == -9.0f && mo.u[i] == -7.0f && layers.u[i] == -7.0f);
    }
}

// Two overlapping planes, the second (listed later) nearer by 0 (an exact
// tie), by less than the 0.00001 margin and by more. Exact ties keep the
// first tested on every call and path; otherwise strictly nearer always
// replaces, except that the ray-by-ray per-origin path keeps the first
// within its margin. Rays so nearly parallel to the planes that |det| is
// 1e-6 are refused by that path alone (|det| < 1.1920929e-6).
TEST(AcceptanceRules, NearlyEqualHitsAndGrazingRaysPerCallAndPath)
{
    for (float gap : {0.0f, 0x1p-17f, 0x1p-16f}) {
        TriangleSoup soup;
        addPlane(soup, 5.0f);
        addPlane(soup, 5.0f - gap);
        const PreparedScene scene = inListOrder(soup);
        const float grazing[3] = {0.0f, 0.0f, 1e-6f};
        const int32_t nearer = gap > 0.0f ? 1 : 0;
        for (Path path : {Path::Packet, Path::Scalar}) {
            RayBlock eye(4, 4, path), mo(4, 4, path);
            fan(eye);
            for (size_t i = 0; i < 16; ++i) {
                if (i >= 8) eye.setDir(i, grazing);
                const float d[3] = {eye.dir.x[i], eye.dir.y[i], eye.dir.z[i]};
                mo.setRay(i, kOrigin, d, 1e30f);
            }
            ASSERT_EQ(eye.eye(scene.context(), kOrigin), vekStsOk);
            ASSERT_EQ(mo.closest(scene.context()), vekStsOk);
            const bool withinMargin = path == Path::Scalar && gap < 1e-5f;
            for (size_t i = 0; i < 16; ++i) {
                EXPECT_EQ(eye.tri[i], nearer) << "gap " << gap << " ray " << i;
                if (i < 8) {
                    EXPECT_EQ(mo.tri[i], withinMargin ? 0 : nearer) << "gap " << gap << " ray " << i;
                    continue;
                }
                EXPECT_NEAR(eye.dist[i], (5.0f - gap) / 1e-6f, 5.0);
                EXPECT_EQ(mo.tri[i], path == Path::Scalar ? -1 : nearer) << "gap " << gap << " ray " << i;
            }
        }
    }
}
