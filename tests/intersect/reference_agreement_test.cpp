// Both paths of every intersection call against the double-precision brute
// force: seeded random scenes through trees of every shape (hand-laid and
// built by the library), mixed and coherent ray directions, and the bunny.
// Rays the reference calls close to an edge or a tie are only counted; on
// all others the triangle must agree and t, u, v match closely.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "intersect/nearest_hit_visitor.h"
#include "intersect/ray_blocks.h"
#include "support/brute_force.h"
#include "support/random_scene.h"

#include "workloads.h"

using namespace vekr_test;

namespace {

struct Tally {
    size_t rays = 0, hits = 0, closeCalls = 0;

    void expectSane(const std::string& what) const
    {
        EXPECT_GT(hits, rays / 10) << what << ": too few hits for the scene to test anything";
        EXPECT_LT(closeCalls, rays / 20 + 2) << what << ": close calls should be rare";
    }
};

// One closest hit against the reference. A miss keeps its distance; its u
// and v are only promised unchanged on the ray-by-ray path.
void expectClosest(const ReferenceHit& ref, int32_t tri, float dist, float u, float v, float tmax, Path path,
                   Tally& tally, size_t i)
{
    ++tally.rays;
    if (ref.tri >= 0) ++tally.hits;
    if (ref.closeCall()) {
        ++tally.closeCalls;
        return;
    }
    ASSERT_EQ(tri, ref.tri) << name(path) << " ray " << i;
    if (tri < 0) {
        EXPECT_EQ(dist, tmax) << name(path) << " ray " << i;
        if (path == Path::Scalar) {
            EXPECT_TRUE(u == -7.0f && v == -9.0f) << "ray " << i;
        }
        return;
    }
    EXPECT_NEAR(dist, ref.t, 1e-5 * (1.0 + ref.t)) << name(path) << " ray " << i;
    EXPECT_NEAR(u, ref.u, 1e-4) << name(path) << " ray " << i;
    EXPECT_NEAR(v, ref.v, 1e-4) << name(path) << " ray " << i;
}

std::vector<ReferenceHit> references(const TriangleSoup& soup, const RaySet& rays)
{
    std::vector<ReferenceHit> refs;
    for (size_t i = 0; i < rays.size(); ++i) {
        const double o[3] = {rays.o[0][i], rays.o[1][i], rays.o[2][i]};
        const double d[3] = {rays.d[0][i], rays.d[1][i], rays.d[2][i]};
        refs.push_back(closestHitReference(soup.view(), o, d, rays.tmax[i]));
    }
    return refs;
}

// One block of width x (rays / width) through the per-origin call on both
// paths, and also through the shared-origin call where every ray starts at
// the first ray's origin.
void runClosest(const PreparedScene& scene, const RaySet& rays, const std::vector<ReferenceHit>& refs, int32_t width,
                const std::string& what, bool sharedOrigin = false)
{
    const float origin[3] = {rays.o[0][0], rays.o[1][0], rays.o[2][0]};
    for (Path path : {Path::Packet, Path::Scalar})
        for (int run = 0; run < (sharedOrigin ? 2 : 1); ++run) {
            const bool eye = run == 1;
            RayBlock block(width, static_cast<int32_t>(rays.size()) / width, path);
            block.setRays(rays);
            ASSERT_EQ(eye ? block.eye(scene.context(), origin) : block.closest(scene.context()), vekStsOk);
            EXPECT_TRUE(block.guardsIntact());
            Tally tally;
            for (size_t i = 0; i < block.count(); ++i)
                expectClosest(refs[i], block.tri[i], block.dist[i], block.u[i], block.v[i], rays.tmax[i], path, tally,
                              i);
            tally.expectSane(what + (eye ? " shared origin " : " ") + name(path));
        }
}

// Directions for a block: mixed octants, or all in one octant (coherent
// tiles) when octant >= 0. Every 9th mixed direction has a tiny component
// (+0, -0 or +1e-9; a negative tiny one orders the packet walk by its sign
// and is covered by a case of its own).
std::vector<std::array<float, 3>> directions(uint32_t seed, size_t n, int octant)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<std::array<float, 3>> d(n);
    for (size_t i = 0; i < n; ++i) {
        for (int a = 0; a < 3; ++a) {
            float c = unit(rng);
            if (octant >= 0) c = ((octant >> a) & 1 ? -1.0f : 1.0f) * (0.05f + std::fabs(c));
            d[i][a] = c;
        }
        if (octant < 0 && i % 9 == 4) d[i][i % 3] = (i % 3 == 0 ? 0.0f : (i % 3 == 1 ? -0.0f : 1e-9f));
    }
    return d;
}

}  // namespace

// One list leaf, fine (mostly inline) and coarse midpoint trees, and trees
// of the library's own build at both ends of the split factor and depth:
// different mixes of descent, early exit and leaf decoding, and a build that
// loses a triangle from a cell it overlaps shows up as a wrong hit. Then a
// dense cluster with rays starting among the triangles, inside cells rather
// than outside the box, and coherent tiles (two 8-ray packets per tile).
TEST(ReferenceAgreement, ClosestHitPerRayOriginThroughEveryTreeShape)
{
    const TriangleSoup soup = randomSoup(0xBADC0DE1u, 400);
    const RaySet mixed = randomRays(0xBADC0DE2u, 32 * 48, 6.0f);
    const std::vector<ReferenceHit> refs = references(soup, mixed);
    runClosest(prepare(soup, singleLeafTree(soup.triangleCount())), mixed, refs, 32, "single leaf");
    runClosest(prepareMidpoint(soup, 14, 3), mixed, refs, 32, "fine");
    runClosest(prepareMidpoint(soup, 5, 12), mixed, refs, 32, "coarse");
    for (float f : {0.0f, 1.0f})
        for (int32_t depth : {6, 50})
            runClosest(prepareSah(soup, depth, f), mixed, refs, 32,
                       "SAH f " + std::to_string(f) + " depth " + std::to_string(depth));

    const TriangleSoup cluster = randomSoup(0xC0FFEE05u, 500, 1.0f, 0.3f);
    const RaySet inside = randomRays(0xC0FFEE06u, 25 * 40, 1.0f);
    runClosest(prepareMidpoint(cluster, 12, 2), inside, references(cluster, inside), 25, "cluster");

    const PreparedScene fine = prepareMidpoint(soup, 14, 3);
    for (int octant : {0, 5, 7}) {
        RaySet coherent = mixed;
        const auto d = directions(0xBADC0DE3u + octant, mixed.size(), octant);
        for (size_t i = 0; i < coherent.size(); ++i)
            for (int a = 0; a < 3; ++a) coherent.d[a][i] = d[i][a];
        runClosest(fine, coherent, references(soup, coherent), 32, "coherent");
    }
}

// The same triangles numbered from kPrepareFromTriangle on, behind as many
// degenerate ones that no tree lists: the ray-by-ray walks then request each
// leaf's records a step ahead of its visit, which a scene of a few hundred
// triangles never makes them do. Both paths, per-ray and shared origins,
// against the reference with its numbers shifted alike.
HandTree::Node copyShifted(const HandTree& t, HandTree::Node n, int32_t shift, HandTree& out)
{
    if (t.isLeaf(n)) {
        std::vector<int32_t> tris(t.leafTriangles(n), t.leafTriangles(n) + t.leafCount(n));
        for (int32_t& j : tris) j += shift;
        return out.leaf(std::move(tris));
    }
    const HandTree::Node copy = out.inner(t.axis(n), t.split(n));
    const HandTree::Node below = copyShifted(t, t.child(n, 0), shift, out);
    const HandTree::Node above = copyShifted(t, t.child(n, 1), shift, out);
    out.setChildren(copy, below, above);
    return copy;
}

TEST(ReferenceAgreement, ClosestHitWithRecordsFarIntoTheArray)
{
    const int32_t shift = vekr::kPrepareFromTriangle;
    const TriangleSoup soup = randomSoup(0xFA2A4A1u, 300);
    TriangleSoup far;
    const int32_t point = far.addVertex(0.5f, 0.5f, 0.5f);
    for (int32_t j = 0; j < shift; ++j) far.addTriangle(point, point, point);
    const int32_t base = far.vertexCount();
    for (int32_t v = 0; v < soup.vertexCount(); ++v)
        far.addVertex(soup.vertices[3 * v], soup.vertices[3 * v + 1], soup.vertices[3 * v + 2]);
    for (int32_t j = 0; j < soup.triangleCount(); ++j)
        far.addTriangle(base + soup.triangles[4 * j], base + soup.triangles[4 * j + 1], base + soup.triangles[4 * j + 2]);

    float box[6];
    vekrSetBoundBox_32f(soup.vertices.data(), soup.vertexCount(), box);
    PreparedScene scene = prepareRecords(far, box);
    ASSERT_EQ(scene.accel[0].axes, 0) << "the fillers must be degenerate records";
    HandTree tree;
    copyShifted(midpointTree(soup, box, 14, 3), 0, shift, tree);
    ASSERT_EQ(layOut(tree, *scene.tree), vekStsOk);
    auto shifted = [&](const RaySet& rays) {
        std::vector<ReferenceHit> refs = references(soup, rays);
        for (ReferenceHit& r : refs)
            if (r.tri >= 0) r.tri += shift;
        return refs;
    };

    const RaySet mixed = randomRays(0xFA2A4A2u, 32 * 24, 6.0f);
    runClosest(scene, mixed, shifted(mixed), 32, "far records");

    const auto d = directions(0xFA2A4A3u, 24 * 16, -1);
    RaySet fromOnePoint;
    for (size_t i = 0; i < d.size(); ++i) {
        for (int a = 0; a < 3; ++a) {
            fromOnePoint.o[a].push_back(a == 0 ? 0.5f : -0.25f);
            fromOnePoint.d[a].push_back(d[i][a]);
        }
        fromOnePoint.tmax.push_back(i % 4 == 1 ? 4.0f : 1e30f);
    }
    runClosest(scene, fromOnePoint, shifted(fromOnePoint), 24, "far records, one origin", true);
}

// Rays from one point inside the scene scatter over all octants; from a
// corner they are coherent and aimed into the box. Every fourth ray has a
// limit that cuts some hits off.
TEST(ReferenceAgreement, ClosestHitSharedOriginBothPaths)
{
    const TriangleSoup soup = randomSoup(0xBADC0DE4u, 400);
    const PreparedScene scene = prepareMidpoint(soup, 14, 3);
    const float origins[2][3] = {{0.5f, -0.25f, 1.0f}, {-14.0f, -13.0f, -12.0f}};
    for (const auto& origin : origins) {
        const bool inside = origin[0] > -1.0f;
        const auto d = directions(0xBADC0DE5u, 24 * 20, inside ? -1 : 0);
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> limit(2.0f, 9.0f);
        RaySet rays;
        for (size_t i = 0; i < d.size(); ++i) {
            for (int a = 0; a < 3; ++a) {
                rays.o[a].push_back(origin[a]);
                rays.d[a].push_back(d[i][a] * (inside ? 1.0f : 4.0f));
            }
            rays.tmax.push_back(i % 4 == 1 ? limit(rng) : 1e30f);
        }
        const std::vector<ReferenceHit> refs = references(soup, rays);
        runClosest(scene, rays, refs, 24, inside ? "inside" : "corner", true);
        // The same rays as one column: every block shape reaches the rays.
        runClosest(scene, rays, refs, 1, inside ? "inside, one column" : "corner, one column", true);
    }
}

// Every successive hit of a shared-origin block on both paths against the
// reference's ordered crossings; the caller's limit bounds the first hit
// only. Returns the number of crossings compared.
size_t expectSuccessiveAgree(const TriangleSoup& soup, const PreparedScene& scene, const float origin[3],
                             const std::vector<std::array<float, 3>>& d, int32_t width, int32_t hitCount)
{
    size_t crossingsSeen = 0;
    for (Path path : {Path::Packet, Path::Scalar}) {
        RayBlock b(width, static_cast<int32_t>(d.size()) / width, path, hitCount);
        for (size_t i = 0; i < b.count(); ++i) {
            b.setDir(i, d[i].data());
            b.dist[i] = i % 5 == 2 ? 3.0f : 1e30f;
        }
        EXPECT_EQ(b.multiple(scene.context(), origin), vekStsOk);
        EXPECT_TRUE(b.guardsIntact());
        size_t close = 0;
        const double o[3] = {origin[0], origin[1], origin[2]};
        for (size_t i = 0; i < b.count(); ++i) {
            const double dd[3] = {d[i][0], d[i][1], d[i][2]};
            const Crossings ref = crossingsReference(soup.view(), o, dd);
            if (ref.closeCall) {
                ++close;
                continue;
            }
            const float limit = i % 5 == 2 ? 3.0f : 1e30f;
            const bool first = !ref.hits.empty() && ref.hits[0].t < limit;
            for (int32_t k = 0; k < hitCount; ++k) {
                const size_t at = static_cast<size_t>(k) * b.count() + i;
                const bool expected = first && static_cast<size_t>(k) < ref.hits.size();
                EXPECT_EQ(b.tri[at], expected ? ref.hits[k].tri : -1) << name(path) << " ray " << i << " hit " << k;
                if (b.tri[at] != (expected ? ref.hits[k].tri : -1)) return crossingsSeen;
                if (!expected) {
                    // A search that found nothing leaves the prepared
                    // plane; planes after it are untouched.
                    const bool searched = first ? static_cast<size_t>(k) == ref.hits.size() : k == 0;
                    const float kept = k == 0 ? limit : (searched ? 3.4028235e38f : 1e30f);
                    EXPECT_EQ(b.dist[at], kept) << name(path) << " ray " << i << " hit " << k;
                    if (k > 0 && !searched) {
                        EXPECT_EQ(b.u[at], -7.0f) << name(path) << " ray " << i << " hit " << k;
                    }
                    continue;
                }
                ++crossingsSeen;
                EXPECT_NEAR(b.dist[at], ref.hits[k].t, 1e-4 * (1.0 + ref.hits[k].t)) << "ray " << i;
                EXPECT_NEAR(b.u[at], ref.hits[k].u, 1e-3) << "ray " << i;
                EXPECT_NEAR(b.v[at], ref.hits[k].v, 1e-3) << "ray " << i;
            }
        }
        EXPECT_LT(close, b.count() / 10);
    }
    return crossingsSeen;
}

TEST(ReferenceAgreement, SuccessiveHitsFollowEveryCrossingInOrder)
{
    const TriangleSoup soup = randomSoup(0xBADC0DE6u, 300);
    const PreparedScene scene = prepareMidpoint(soup, 12, 3);
    const float origin[3] = {0.25f, 0.5f, -0.75f};
    for (int octant : {-1, 3}) {
        const auto d = directions(0xBADC0DE7u + octant, 16 * 16, octant);
        EXPECT_GT(expectSuccessiveAgree(soup, scene, origin, d, 16, 4), 2u * d.size());
        // One plane: the first hit only. And the block as one column.
        EXPECT_GT(expectSuccessiveAgree(soup, scene, origin, d, 16, 1), d.size() / 2);
        EXPECT_GT(expectSuccessiveAgree(soup, scene, origin, d, 1, 4), 2u * d.size());
    }
}

// A stack of twelve square sheets crossed by every ray, from below (nearest
// first in triangle order, so triangle 0 is the first hit) and from above:
// more searches than the eight remembered hits, each finding the next sheet.
// The stack lies below z = 0, so each search restarts from a hit point on the
// negative side of the face the rays from below leave by.
TEST(ReferenceAgreement, SuccessiveHitsThroughMoreSheetsThanRememberedHits)
{
    TriangleSoup soup;
    const int sheets = 12;
    for (int s = 0; s < sheets; ++s) {
        const float z = -10.0f + 0.75f * static_cast<float>(s);
        const int32_t a = soup.addVertex(-4, -4, z), b = soup.addVertex(4, -4, z), c = soup.addVertex(4, 4, z),
                      e = soup.addVertex(-4, 4, z);
        soup.addTriangle(a, b, c);
        soup.addTriangle(a, c, e);
    }
    const PreparedScene scene = prepareMidpoint(soup, 12, 3);
    std::mt19937 rng(0x5EE7);
    std::uniform_real_distribution<float> lean(-0.3f, 0.3f);
    for (float side : {1.0f, -1.0f}) {
        const float origin[3] = {0.1f, -0.2f, side > 0 ? -12.5f : 0.5f};
        std::vector<std::array<float, 3>> d(8 * 4);
        for (auto& v : d) v = {lean(rng), lean(rng), side};
        EXPECT_GT(expectSuccessiveAgree(soup, scene, origin, d, 8, sheets + 1), 2u * sheets * (d.size() - 3))
            << "from " << (side > 0 ? "below" : "above");
    }
}

// A scene box that cuts a triangle. The box [0, 6] x [-4, 4]^2 holds five
// sheets across x and cuts a tilted sheet that the rays (leaving through the
// face x = 6) meet near x = 7.5, outside the box. The walk ends at the box,
// but the tilted sheet is listed in the last cell the rays cross, and a
// leaf's triangles are tested whole: both paths report the five sheets, then
// the tilted one, then nothing.
TEST(ReferenceAgreement, SuccessiveHitsInASceneBoxThatCutsATriangle)
{
    TriangleSoup soup;
    auto sheet = [&](float x0, float tilt) {
        const int32_t a = soup.addVertex(x0 - 4 * tilt, -4, -4), b = soup.addVertex(x0 + 4 * tilt, 4, -4),
                      c = soup.addVertex(x0 + 4 * tilt, 4, 4), e = soup.addVertex(x0 - 4 * tilt, -4, 4);
        soup.addTriangle(a, b, c);
        soup.addTriangle(a, c, e);
    };
    for (int k = 1; k <= 5; ++k) sheet(static_cast<float>(k), 0.0f);
    sheet(7.5f, 0.5f);
    const float box[6] = {0, -4, -4, 6, 4, 4};
    PreparedScene scene = prepareRecords(soup, box);
    const VekrKDTreeBuildParams p{vekrKDTreeBuildSAH, 20, 0.7f, 256, box};
    ASSERT_EQ(vekrKDTreeBuildAlloc(&scene.tree->root, soup.vertices.data(), soup.triangles.data(), soup.vertexCount(),
                                   soup.triangleCount(), &scene.tree->size, &p),
              vekStsOk);
    const float origin[3] = {-1.0f, 0.1f, 0.2f};
    std::mt19937 rng(0xB0C5);
    std::uniform_real_distribution<float> lean(-0.05f, 0.05f);
    for (Path path : {Path::Packet, Path::Scalar}) {
        RayBlock b(8, 4, path, 7);
        for (size_t i = 0; i < b.count(); ++i) {
            const float d[3] = {1.0f, lean(rng), lean(rng)};
            b.setDir(i, d);
        }
        ASSERT_EQ(b.multiple(scene.context(), origin), vekStsOk);
        for (size_t i = 0; i < b.count(); ++i)
            for (int32_t k = 0; k < 7; ++k) {
                const int32_t t = b.tri[static_cast<size_t>(k) * b.count() + i];
                if (k < 6) {
                    EXPECT_TRUE(t == 2 * k || t == 2 * k + 1) << name(path) << " ray " << i << " hit " << k;
                } else {
                    EXPECT_EQ(t, -1) << name(path) << " ray " << i << " hit " << k;
                }
            }
    }
}

// One masked block of shadow rays from light through both paths against the
// reference: every seventh ray is masked off, the others carry mask values
// 0 to 4.
void expectOcclusionAgrees(const TriangleSoup& soup, const PreparedScene& scene, const float light[3],
                           const std::vector<std::array<float, 3>>& d, int32_t width, int32_t height)
{
    for (Path path : {Path::Packet, Path::Scalar}) {
        RayBlock b(width, height, path);
        for (size_t i = 0; i < b.count(); ++i) {
            b.setDir(i, d[i].data());
            b.mask[i] = i % 7 == 3 ? -3 : static_cast<int32_t>(i % 5);
        }
        ASSERT_EQ(b.any(scene.context(), light), vekStsOk);
        EXPECT_TRUE(b.guardsIntact());
        size_t blocked = 0, close = 0;
        const double o[3] = {light[0], light[1], light[2]};
        for (size_t i = 0; i < b.count(); ++i) {
            const int32_t maskIn = i % 7 == 3 ? -3 : static_cast<int32_t>(i % 5);
            const double dd[3] = {d[i][0], d[i][1], d[i][2]};
            if (maskIn < 0) {
                EXPECT_EQ(b.mask[i], maskIn);
                EXPECT_EQ(b.tri[i], -1);
                continue;
            }
            if (b.tri[i] >= 0) {
                EXPECT_EQ(b.mask[i], -1) << name(path) << " ray " << i;
                EXPECT_TRUE(blocks(soup.view(), b.tri[i], o, dd)) << name(path) << " ray " << i;
            }
            const ReferenceHit ref = closestHitReference(soup.view(), o, dd, 1.0);
            if (ref.closeCall()) {
                ++close;
                continue;
            }
            blocked += ref.tri >= 0;
            ASSERT_EQ(b.tri[i] >= 0, ref.tri >= 0) << name(path) << " ray " << i;
            if (ref.tri < 0) {
                EXPECT_EQ(b.mask[i], maskIn) << name(path) << " ray " << i;
            }
        }
        EXPECT_GT(blocked, b.count() / 10);
        EXPECT_LT(close, b.count() / 20);
    }
}

TEST(ReferenceAgreement, OcclusionMatchesReferenceUnderMasks)
{
    const TriangleSoup soup = randomSoup(0xBADC0DE8u, 400);
    const PreparedScene scene = prepareMidpoint(soup, 14, 3);
    const int32_t width = 20, height = 16;
    std::mt19937 rng(0xBADC0DE9u);
    std::uniform_real_distribution<float> pos(-5.0f, 5.0f);
    // A light inside the scene gives mixed tiles; one far off at a corner
    // gives coherent tiles and exercises the 8-ray kernel and the cache.
    const float lights[2][3] = {{0.0f, 0.5f, 0.0f}, {-30.0f, -30.0f, -30.0f}};
    for (const auto& light : lights) {
        std::vector<std::array<float, 3>> d(static_cast<size_t>(width * height));
        for (auto& v : d)
            for (int a = 0; a < 3; ++a) v[a] = pos(rng) - light[a];
        expectOcclusionAgrees(soup, scene, light, d, width, height);
    }
}

// Lights far outside the scene, so that the walks start in the tree's open
// outer cells; some rays exactly along an axis and many passing close by
// the box's faces.
TEST(ReferenceAgreement, OcclusionFromOutsideTheSceneBox)
{
    const TriangleSoup soup = wellShaped(randomSoup(0xBADC0DEAu, 300, 4.0f, 0.8f));
    const PreparedScene scene = prepareSah(soup, 50, 0.5f);
    const int32_t width = 64, height = 64;
    std::mt19937 rng(0xBADC0DEBu);
    std::uniform_real_distribution<float> pos(-5.0f, 5.0f);
    const float lights[2][3] = {{25.0f, -40.0f, 12.0f}, {0.25f, 60.0f, -0.5f}};
    for (const auto& light : lights) {
        std::vector<std::array<float, 3>> d(static_cast<size_t>(width * height));
        for (size_t i = 0; i < d.size(); ++i)
            for (int a = 0; a < 3; ++a) d[i][a] = pos(rng) - light[a];
        for (size_t i = 0; i < d.size(); i += 5) {
            // Straight down the y axis from the second light: x and z are 0.
            if (light[1] > 0.0f) d[i] = {0.0f, pos(rng) - light[1], 0.0f};
        }
        expectOcclusionAgrees(soup, scene, light, d, width, height);
    }
}

// Camera rays of the bunny on a 24 x 24 grid of the standard image, their
// shadow rays, and four successive hits: every call on both paths, through
// a hand-laid tree and two of the library's builds.
TEST(ReferenceAgreement, BunnyCameraShadowAndSuccessiveRays)
{
    TriangleSoup soup;
    ASSERT_TRUE(loadBunny(soup));
    wl_camera cam;
    wl_camera_for(WL_SCENE_BUNNY, &cam);
    const int32_t side = 24;
    const double o[3] = {cam.eye[0], cam.eye[1], cam.eye[2]}, l[3] = {cam.light[0], cam.light[1], cam.light[2]};
    std::vector<ReferenceHit> eyeRefs;
    const PreparedScene scenes[] = {prepareMidpoint(soup, 18, 4), prepareSah(soup, 50, 0.2f),
                                    prepareSah(soup, 50, 1.0f)};
    for (const PreparedScene& scene : scenes)
        for (Path path : {Path::Packet, Path::Scalar}) {
            const VekrIntersectContext ctx = scene.context();
            RayBlock eye(side, side, path), shadow(side, side, path), layers(side, side, path, 4);
            for (int32_t r = 0; r < side; ++r)
                for (int32_t c = 0; c < side; ++c) {
                    const float row = static_cast<float>(r * 42 + 30), col = static_cast<float>(c * 42 + 30);
                    float d[3];
                    for (int k = 0; k < 3; ++k) d[k] = (cam.dv[k] * row + cam.d00[k]) + cam.du[k] * col;
                    eye.setDir(static_cast<size_t>(r * side + c), d);
                    layers.setDir(static_cast<size_t>(r * side + c), d);
                }
            ASSERT_EQ(eye.eye(ctx, cam.eye), vekStsOk);
            ASSERT_EQ(layers.multiple(ctx, cam.eye), vekStsOk);
            Tally tally;
            for (size_t i = 0; i < eye.count(); ++i) {
                const double d[3] = {eye.dir.x[i], eye.dir.y[i], eye.dir.z[i]};
                if (eyeRefs.size() == i) eyeRefs.push_back(closestHitReference(soup.view(), o, d, 1e30));
                const ReferenceHit& ref = eyeRefs[i];
                expectClosest(ref, eye.tri[i], eye.dist[i], eye.u[i], eye.v[i], 1e30f, path, tally, i);
                // The first plane of the successive hits is the closest hit.
                if (!ref.closeCall()) {
                    EXPECT_EQ(layers.tri[i], ref.tri) << name(path) << " ray " << i;
                }
                float s[3] = {0.0f, 0.0f, 0.0f};
                if (eye.tri[i] >= 0) wl_shadow_dir(&cam, eye.dir.x[i], eye.dir.y[i], eye.dir.z[i], eye.dist[i], s);
                shadow.setDir(i, s);
                shadow.mask[i] = eye.tri[i];
            }
            tally.expectSane(std::string("bunny eye ") + name(path));

            ASSERT_EQ(shadow.any(ctx, cam.light), vekStsOk);
            size_t blocked = 0;
            for (size_t i = 0; i < shadow.count(); ++i) {
                if (eye.tri[i] < 0) {
                    EXPECT_EQ(shadow.mask[i], eye.tri[i]);
                    continue;
                }
                const double d[3] = {shadow.dir.x[i], shadow.dir.y[i], shadow.dir.z[i]};
                const ReferenceHit ref = closestHitReference(soup.view(), l, d, 1.0);
                if (ref.closeCall()) continue;
                blocked += ref.tri >= 0;
                EXPECT_EQ(shadow.mask[i] < 0, ref.tri >= 0) << name(path) << " ray " << i;
                if (shadow.tri[i] >= 0) {
                    EXPECT_TRUE(blocks(soup.view(), shadow.tri[i], l, d)) << name(path) << " ray " << i;
                }
            }
            EXPECT_GT(blocked, 20u);
        }
}
