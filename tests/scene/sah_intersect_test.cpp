// Closest hits through SAH trees against the double-precision brute force:
// a tree that loses a triangle from a cell it overlaps, or puts a split
// where the cells disagree with the fragments, shows up as a wrong hit.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bunny_soup.h"
#include "intersect/mo_scene.h"
#include "support/brute_force.h"
#include "support/random_scene.h"
#include "vekr.h"

using namespace vekr_test;

namespace {

struct SahScene {
    std::vector<VekrTriangleAccel> accel;
    float box[6];
    VekrKDTreeNode* tree = nullptr;
    int32_t size = 0;
    ~SahScene() { vekrKDTreeFree(tree); }
};

bool prepareSah(const TriangleSoup& s, int32_t depth, float factor, SahScene& out)
{
    out.accel.resize(static_cast<size_t>(s.triangleCount()));
    vekrTriangleAccelInit(out.accel.data(), s.vertices.data(), s.triangles.data(), s.triangleCount());
    vekrSetBoundBox_32f(s.vertices.data(), s.vertexCount(), out.box);
    const VekrKDTreeBuildParams p{vekrKDTreeBuildSAH, depth, factor, 256, nullptr};
    return vekrKDTreeBuildAlloc(&out.tree, s.vertices.data(), s.triangles.data(), s.vertexCount(), s.triangleCount(),
                                &out.size, &p) == vekStsOk;
}

// Rays whose reference answer is a close call (grazing an edge, two hits at
// nearly one distance) are only counted; every other ray must hit exactly
// the reference's triangle.
void expectAgreement(const TriangleSoup& s, const SahScene& scene, const RaySet& rays, int32_t width,
                     const std::string& what)
{
    const size_t n = rays.size();
    HitBlock block(n);
    block.setRays(rays);
    const VekrIntersectContext ctx{scene.box, scene.accel.data(), scene.tree};
    ASSERT_EQ(block.run(ctx, width, static_cast<int32_t>(n) / width), vekStsOk);
    size_t hits = 0, close = 0, wrong = 0;
    for (size_t i = 0; i < n; ++i) {
        const double o[3] = {rays.o[0][i], rays.o[1][i], rays.o[2][i]};
        const double d[3] = {rays.d[0][i], rays.d[1][i], rays.d[2][i]};
        const ReferenceHit ref = closestHitReference(s.view(), o, d, rays.tmax[i]);
        hits += ref.tri >= 0;
        if (ref.closeCall()) {
            ++close;
            continue;
        }
        if (block.tri[i] != ref.tri && ++wrong <= 5)
            ADD_FAILURE() << what << " ray " << i << ": triangle " << block.tri[i] << ", reference " << ref.tri;
        if (ref.tri >= 0) {
            EXPECT_NEAR(block.dist[i], ref.t, 1e-5 * (1.0 + ref.t)) << what << " ray " << i;
        }
    }
    EXPECT_EQ(wrong, 0u) << what;
    EXPECT_GT(hits, n / 10) << what;
    EXPECT_LT(close, n / 50) << what;
}

}  // namespace

TEST(SAHIntersect, RandomScenesAgreeWithBruteForce)
{
    const TriangleSoup soup = randomSoup(0x5A4B1001u, 800, 5.0f, 1.2f);
    const RaySet rays = randomRays(0x5A4B1002u, 1000, 7.0f);
    for (float f : {0.0f, 1.0f})
        for (int32_t depth : {6, 50}) {
            SahScene scene;
            ASSERT_TRUE(prepareSah(soup, depth, f, scene));
            expectAgreement(soup, scene, rays, 40, "f " + std::to_string(f) + " depth " + std::to_string(depth));
        }
}

TEST(SAHIntersect, BunnyAgreesWithBruteForce)
{
    TriangleSoup bunny;
    if (!loadBunny(bunny)) GTEST_SKIP() << "bunny.obj not available";
    // Rays from around the model towards its middle, so most of them hit.
    RaySet rays = randomRays(0x5A4B1003u, 600, 6.0f);
    for (size_t i = 0; i < rays.size(); ++i) {
        rays.o[1][i] += 4.8f;
        rays.o[0][i] *= 2.0f;
        rays.o[2][i] *= 2.0f;
        const float target[3] = {0.0f, 4.8f, 0.0f};
        for (int a = 0; a < 3; ++a) rays.d[a][i] = target[a] - rays.o[a][i] + 0.3f * rays.d[a][i];
        rays.tmax[i] = 1e30f;
    }
    for (float f : {0.2f, 1.0f}) {
        SahScene scene;
        ASSERT_TRUE(prepareSah(bunny, 50, f, scene));
        expectAgreement(bunny, scene, rays, 30, "bunny f " + std::to_string(f));
    }
}
