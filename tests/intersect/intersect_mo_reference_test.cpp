// vekrIntersectMO_32f against the double-precision brute-force closest hit on
// seeded random scenes, through trees of different shapes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "intersect/mo_scene.h"
#include "support/brute_force.h"
#include "support/midpoint_tree.h"
#include "support/random_scene.h"

using namespace vekr_test;

namespace {

struct Agreement {
    size_t rays = 0, hits = 0, closeCalls = 0, closeCallDisagreements = 0, clearDisagreements = 0;
};

// Runs every ray of `rays` through the export as one block and compares each
// result with the reference. Rays the reference calls close to an edge or a
// tie are only counted; on every other ray the triangle must agree and the
// distance and weights must match closely.
Agreement compareWithReference(const TriangleSoup& soup, const PreparedScene& scene, const RaySet& rays,
                               int32_t width)
{
    const size_t n = rays.size();
    HitBlock block(n);
    block.setRays(rays);
    const int32_t height = static_cast<int32_t>(n) / width;
    EXPECT_EQ(block.run(scene.context(), width, height), vekStsOk);
    EXPECT_TRUE(block.guardsIntact());

    Agreement a;
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        const double o[3] = {rays.o[0][i], rays.o[1][i], rays.o[2][i]};
        const double d[3] = {rays.d[0][i], rays.d[1][i], rays.d[2][i]};
        const ReferenceHit ref = closestHitReference(soup.view(), o, d, rays.tmax[i]);
        ++a.rays;
        if (ref.tri >= 0) ++a.hits;
        const int32_t got = block.tri[i];
        if (ref.closeCall()) {
            ++a.closeCalls;
            if (got != ref.tri) ++a.closeCallDisagreements;
            continue;
        }
        if (got != ref.tri) {
            ++a.clearDisagreements;
            ADD_FAILURE() << "ray " << i << ": triangle " << got << ", reference " << ref.tri;
            continue;
        }
        if (got < 0) {
            EXPECT_EQ(block.dist[i], rays.tmax[i]) << "ray " << i;
            EXPECT_EQ(block.u[i], -7.0f) << "ray " << i;
            EXPECT_EQ(block.v[i], -9.0f) << "ray " << i;
            continue;
        }
        EXPECT_NEAR(block.dist[i], ref.t, 1e-5 * (1.0 + ref.t)) << "ray " << i;
        EXPECT_NEAR(block.u[i], ref.u, 1e-4) << "ray " << i;
        EXPECT_NEAR(block.v[i], ref.v, 1e-4) << "ray " << i;
    }
    return a;
}

void expectBounded(const Agreement& a, const std::string& what)
{
    ::testing::Test::RecordProperty(what + "_rays", std::to_string(a.rays));
    ::testing::Test::RecordProperty(what + "_hits", std::to_string(a.hits));
    ::testing::Test::RecordProperty(what + "_close_calls", std::to_string(a.closeCalls));
    ::testing::Test::RecordProperty(what + "_close_call_disagreements", std::to_string(a.closeCallDisagreements));
    EXPECT_EQ(a.clearDisagreements, 0u) << what;
    // The scene is dense enough that most rays hit something, and close calls
    // stay rare; a flood of either means the scene or the reference broke.
    EXPECT_GT(a.hits, a.rays / 5) << what;
    EXPECT_LT(a.closeCalls, a.rays / 50) << what;
    EXPECT_LE(a.closeCallDisagreements, a.rays / 200) << what;
}

}  // namespace

TEST(IntersectMOReference, SingleLeafAgreesWithBruteForce)
{
    const TriangleSoup soup = randomSoup(0xC0FFEE01u, 300);
    const PreparedScene scene = prepare(soup, singleLeafTree(soup.triangleCount()));
    const RaySet rays = randomRays(0xC0FFEE02u, 3000, 7.0f);
    expectBounded(compareWithReference(soup, scene, rays, 30), "single_leaf");
}

TEST(IntersectMOReference, DeepTreesAgreeWithBruteForce)
{
    const TriangleSoup soup = randomSoup(0xC0FFEE03u, 400);
    const RaySet rays = randomRays(0xC0FFEE04u, 3000, 7.0f);
    float box[6];
    vekrSetBoundBox_32f(soup.vertices.data(), soup.vertexCount(), box);
    // Fine leaves (mostly inline) and coarse list leaves exercise different
    // mixes of descent, early exit and leaf decoding.
    struct Shape {
        int32_t depth, leafSize;
        const char* name;
    };
    for (const Shape& s : {Shape{14, 3, "fine"}, Shape{5, 12, "coarse"}}) {
        const PreparedScene scene = prepare(soup, midpointTree(soup, box, s.depth, s.leafSize));
        expectBounded(compareWithReference(soup, scene, rays, 40), s.name);
    }
}

TEST(IntersectMOReference, RaysFromInsideDenseClusterAgree)
{
    // Small triangles packed tight, rays starting among them: many candidates
    // per ray close together, and origins inside cells rather than outside
    // the box.
    const TriangleSoup soup = randomSoup(0xC0FFEE05u, 500, 1.0f, 0.3f);
    const RaySet rays = randomRays(0xC0FFEE06u, 2000, 1.0f);
    float box[6];
    vekrSetBoundBox_32f(soup.vertices.data(), soup.vertexCount(), box);
    const PreparedScene scene = prepare(soup, midpointTree(soup, box, 12, 2));
    expectBounded(compareWithReference(soup, scene, rays, 25), "cluster");
}
