// Worked cases of the shared-origin calls and of the packet path, each run
// on both paths: successive hits through parallel planes, the ends of the
// occlusion window, masks, the occluder cache, skipped tiles, and the
// acceptance rules that set the paths and the calls apart.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "intersect/mo_scene.h"
#include "intersect/shared_origin_block.h"
#include "support/random_scene.h"

using namespace vekr_test;

namespace {

// A square-ish triangle in the plane z = h covering |x|, |y| < 20.
int32_t addPlane(TriangleSoup& s, float h)
{
    const float a[3] = {-40.0f, -40.0f, h}, b[3] = {40.0f, -40.0f, h}, c[3] = {0.0f, 40.0f, h};
    return s.addTriangle(a, b, c);
}

// Directions (x, y, 1) fanning over a width x height block, x and y exact in
// float, with signs mixed inside every tile unless positive is set.
void fan(SharedOriginBlock& b, bool positive = false)
{
    for (int32_t r = 0; r < b.height; ++r)
        for (int32_t c = 0; c < b.width; ++c) {
            const float x = (static_cast<float>(c) - (positive ? -1.0f : 1.5f)) * 0.0625f;
            const float y = (static_cast<float>(r) - (positive ? -1.0f : 1.5f)) * 0.03125f;
            const float d[3] = {x, y, 1.0f};
            b.setDir(static_cast<size_t>(r * b.width + c), d);
        }
}

const float kOrigin[3] = {0.0f, 0.0f, 0.0f};

// One list leaf in triangle order (leaves of up to three triangles are
// stored inline, and a two-triangle one reads back reversed): pads the
// scene with small triangles out of every ray's way.
PreparedScene inListOrder(TriangleSoup soup)
{
    while (soup.triangleCount() < 4) {
        const float a[3] = {100.0f, 100.0f, 1.0f}, b[3] = {101.0f, 100.0f, 1.0f}, c[3] = {100.0f, 101.0f, 1.0f};
        soup.addTriangle(a, b, c);
    }
    return prepare(soup, singleLeafTree(soup.triangleCount()));
}

}  // namespace

TEST(SuccessiveHits, ThreeParallelPlanesGiveCumulativeDistances)
{
    TriangleSoup soup;
    addPlane(soup, 5.0f);
    addPlane(soup, 2.0f);
    addPlane(soup, 9.0f);
    const PreparedScene scene = prepare(soup, singleLeafTree(3));
    for (Path path : {Path::Packet, Path::Scalar})
        for (float limit : {1e30f, 3.0f}) {
            SharedOriginBlock b(4, 4, path, 4);
            fan(b);
            for (size_t i = 0; i < b.count(); ++i) b.dist[i] = limit;
            ASSERT_EQ(b.multiple(scene.context(), kOrigin), vekStsOk);
            ASSERT_TRUE(b.guardsIntact());
            for (size_t i = 0; i < b.count(); ++i) {
                const double len = 1.0;  // distances are in units of the direction, whose z is 1
                const int32_t want[3] = {1, 0, 2};
                const float at[3] = {2.0f, 5.0f, 9.0f};
                for (int k = 0; k < 3; ++k) {
                    EXPECT_EQ(b.tri[k * b.count() + i], want[k]) << "ray " << i << " plane " << k;
                    EXPECT_NEAR(b.dist[k * b.count() + i], at[k] * len, 2e-5) << "ray " << i << " plane " << k;
                }
                // The fourth search found nothing: the prepared plane stays.
                EXPECT_EQ(b.tri[3 * b.count() + i], -1);
                EXPECT_EQ(b.dist[3 * b.count() + i], 3.4028235e38f);
            }
        }
}

TEST(SuccessiveHits, FirstHitBeyondTheLimitEndsTheRay)
{
    TriangleSoup soup;
    addPlane(soup, 2.0f);
    addPlane(soup, 5.0f);
    const PreparedScene scene = prepare(soup, singleLeafTree(2));
    for (Path path : {Path::Packet, Path::Scalar}) {
        SharedOriginBlock b(4, 4, path, 3);
        fan(b);
        for (size_t i = 0; i < b.count(); ++i) b.dist[i] = 1.5f;
        ASSERT_EQ(b.multiple(scene.context(), kOrigin), vekStsOk);
        for (size_t i = 0; i < b.count(); ++i) {
            EXPECT_EQ(b.dist[i], 1.5f);
            for (int k = 0; k < 3; ++k) EXPECT_EQ(b.tri[k * b.count() + i], -1);
            EXPECT_EQ(b.dist[b.count() + i], 1e30f) << "later planes are not touched";
            EXPECT_EQ(b.u[b.count() + i], -7.0f);
        }
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
            SharedOriginBlock b(4, 4, path);
            fan(b);
            ASSERT_EQ(b.any(scene.context(), kOrigin), vekStsOk);
            for (size_t i = 0; i < b.count(); ++i) {
                EXPECT_EQ(b.mask[i], c.blocks ? -1 : 0) << "z " << c.z << " ray " << i;
                EXPECT_EQ(b.tri[i], c.blocks ? 0 : -1) << "z " << c.z << " ray " << i;
            }
        }
    }
}

TEST(Occlusion, MaskSelectsTheRaysAndRecordsTheBlocked)
{
    // Triangle 3 covers only the rays with x > 0 (columns 2 and 3); 0 to 2
    // lie out of reach.
    TriangleSoup soup;
    addPlane(soup, 3.0f);
    addPlane(soup, -2.0f);
    addPlane(soup, 7.0f);
    const float a[3] = {0.001f, -5.0f, 0.5f}, b3[3] = {10.0f, -5.0f, 0.5f}, c3[3] = {0.001f, 5.0f, 0.5f};
    soup.addTriangle(a, b3, c3);
    const PreparedScene scene = prepare(soup, singleLeafTree(4));
    for (Path path : {Path::Packet, Path::Scalar}) {
        SharedOriginBlock b(4, 4, path);
        fan(b);
        for (size_t i = 0; i < b.count(); ++i) b.mask[i] = i % 2 ? 7 : -5;
        ASSERT_EQ(b.any(scene.context(), kOrigin), vekStsOk);
        for (size_t i = 0; i < b.count(); ++i) {
            const bool tested = i % 2 == 1, blocked = tested && b.dir.x[i] > 0.0f;
            EXPECT_EQ(b.tri[i], blocked ? 3 : -1) << "ray " << i;
            EXPECT_EQ(b.mask[i], tested ? (blocked ? -1 : 7) : -5) << "ray " << i;
        }
    }
}

TEST(Occlusion, CachedOccluderSettlesWholeTiles)
{
    // Both triangles block all 32 rays; 1 is nearer the light but listed
    // second. The ray-by-ray path names the first found, 0. The packet path
    // primes its cache with the nearest blocker of a row-3 ray, 1, and that
    // settles both tiles before any packet walks the tree (4-ray packets
    // over these mixed tiles would also name 0).
    TriangleSoup soup;
    addPlane(soup, 0.6f);
    addPlane(soup, 0.3f);
    const PreparedScene scene = inListOrder(soup);
    for (Path path : {Path::Packet, Path::Scalar}) {
        SharedOriginBlock b(8, 4, path);
        fan(b);
        ASSERT_EQ(b.any(scene.context(), kOrigin), vekStsOk);
        for (size_t i = 0; i < b.count(); ++i) {
            EXPECT_EQ(b.tri[i], path == Path::Packet ? 1 : 0) << "ray " << i;
            EXPECT_EQ(b.mask[i], -1);
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
            SharedOriginBlock b(8, 8, path);
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
    SharedOriginBlock eye(8, 4, Path::Packet), layers(8, 4, Path::Packet, 2);
    fan(eye);
    fan(layers);
    HitBlock mo(32, 0);
    for (size_t i = 0; i < 32; ++i) {
        eye.dist[i] = layers.dist[i] = limit(i);
        const float d[3] = {eye.dir.x[i], eye.dir.y[i], eye.dir.z[i]};
        mo.setRay(i, kOrigin, d, limit(i));
    }
    ASSERT_EQ(eye.eye(scene.context(), kOrigin), vekStsOk);
    ASSERT_EQ(layers.multiple(scene.context(), kOrigin), vekStsOk);
    ASSERT_EQ(mo.run(scene.context(), 8, 4), vekStsOk);
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

TEST(PacketPath, LanesOfOtherCodesKeepTheirResults)
{
    // In every row the rays of non-negative x (the lower octant codes, run
    // first) hit the plane and the others have their limit before it; the
    // later run of the row must not overwrite the lanes of the earlier one.
    TriangleSoup soup;
    addPlane(soup, 4.0f);
    const PreparedScene scene = prepare(soup, singleLeafTree(1));
    SharedOriginBlock b(4, 4, Path::Packet);
    fan(b);
    for (size_t i = 0; i < b.count(); ++i) b.dist[i] = b.dir.x[i] >= 0.0f ? 1e30f : 2.0f;
    ASSERT_EQ(b.eye(scene.context(), kOrigin), vekStsOk);
    for (size_t i = 0; i < b.count(); ++i) {
        if (b.dir.x[i] >= 0.0f) {
            EXPECT_EQ(b.tri[i], 0);
            EXPECT_NEAR(b.dist[i], 4.0f, 1e-5);
            EXPECT_GT(b.u[i] + b.v[i], 0.0f) << "ray " << i;
        } else {
            EXPECT_EQ(b.tri[i], -1);
            EXPECT_EQ(b.dist[i], 2.0f);
        }
    }
}

TEST(AcceptanceRules, NearlyEqualHitsAndGrazingRaysPerCallAndPath)
{
    // Two overlapping planes, the second (listed later) 4e-6 nearer: only
    // the ray-by-ray per-origin path keeps the first, by its 0.00001 margin.
    TriangleSoup soup;
    addPlane(soup, 5.0f);
    addPlane(soup, 5.0f - 4e-6f);
    const PreparedScene scene = inListOrder(soup);
    const float origin[3] = {0.1f, 0.1f, 0.0f};
    const float straight[3] = {0.0f, 0.0f, 1.0f};
    // A direction so nearly parallel to the planes that |det| is 1e-6.
    const float grazing[3] = {0.0f, 0.0f, 1e-6f};
    for (Path path : {Path::Packet, Path::Scalar}) {
        SharedOriginBlock eye(4, 4, path);
        HitBlock mo(16, byteOffsetFor(path));
        for (size_t i = 0; i < 16; ++i) {
            const float* d = i < 8 ? straight : grazing;
            eye.setDir(i, d);
            mo.setRay(i, origin, d, 1e30f);
        }
        ASSERT_EQ(eye.eye(scene.context(), origin), vekStsOk);
        ASSERT_EQ(mo.run(scene.context(), 4, 4), vekStsOk);
        for (size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(eye.tri[i], 1) << "strictly nearer always replaces";
            EXPECT_EQ(mo.tri[i], path == Path::Scalar ? 0 : 1);
        }
        for (size_t i = 8; i < 16; ++i) {
            EXPECT_EQ(eye.tri[i], 1);
            EXPECT_NEAR(eye.dist[i], (5.0f - 4e-6f) / 1e-6f, 5.0);
            // Only the per-origin ray-by-ray path refuses |det| < 1.1920929e-6.
            EXPECT_EQ(mo.tri[i], path == Path::Scalar ? -1 : 1);
        }
    }
}

TEST(AcceptanceRules, ExactTiesKeepTheFirstTestedOnEveryPath)
{
    TriangleSoup soup;
    addPlane(soup, 5.0f);
    addPlane(soup, 5.0f);
    const PreparedScene scene = inListOrder(soup);
    for (Path path : {Path::Packet, Path::Scalar}) {
        SharedOriginBlock eye(4, 4, path);
        fan(eye);
        ASSERT_EQ(eye.eye(scene.context(), kOrigin), vekStsOk);
        for (size_t i = 0; i < eye.count(); ++i) EXPECT_EQ(eye.tri[i], 0);
    }
}
