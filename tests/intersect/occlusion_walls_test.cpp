// Shadow rays against axis-aligned geometry: the scenes that walls, floors
// and boxes make, where triangles lie exactly on the planes the tree
// builder splits at and end up in cells of zero thickness. A walk that
// passes over such a cell, or that starts somewhere other than the light,
// lets light through walls; random soups almost never show it. Both paths
// are held to the double-precision brute force on every ray it does not
// call close, and to each other.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "intersect/ray_blocks.h"
#include "intersect/wall_scenes.h"
#include "support/hand_tree.h"
#include "support/random_scene.h"

using namespace vekr_test;

namespace {

struct Outcome {
    size_t blocked = 0, lit = 0, close = 0, wrong = 0;
};

// Shadow rays from light to the targets, a width x height block through
// both paths. A ray the brute force calls close (a crossing near an edge or
// near either end of the segment) is only counted. On every other ray both
// paths must agree with the brute force; with a build box that cuts the
// scene (checkReference false) the brute force does not apply, and the
// paths must agree with each other. Every named blocker must block.
Outcome expectSameShadows(const TriangleSoup& soup, const PreparedScene& scene, const float light[3],
                          const std::vector<Vec3>& targets, int32_t width, const std::string& what,
                          bool checkReference = true)
{
    const int32_t height = static_cast<int32_t>(targets.size()) / width;
    RayBlock packet(width, height, Path::Packet), scalar(width, height, Path::Scalar);
    aimAt(packet, light, targets);
    aimAt(scalar, light, targets);
    EXPECT_EQ(packet.any(scene.context(), light), vekStsOk);
    EXPECT_EQ(scalar.any(scene.context(), light), vekStsOk);
    EXPECT_TRUE(packet.guardsIntact() && scalar.guardsIntact()) << what;
    Outcome out;
    const double o[3] = {light[0], light[1], light[2]};
    for (size_t i = 0; i < targets.size(); ++i) {
        const double d[3] = {double(packet.dir.x[i]), double(packet.dir.y[i]), double(packet.dir.z[i])};
        for (const RayBlock* b : {&packet, &scalar})
            if (b->tri[i] >= 0) {
                EXPECT_EQ(b->mask[i], -1) << what << " ray " << i;
            }
        const ReferenceHit ref = closestHitReference(soup.view(), o, d, 1.0);
        if (ref.closeCall()) {
            ++out.close;
            continue;
        }
        const bool packetBlocked = packet.mask[i] < 0, scalarBlocked = scalar.mask[i] < 0;
        // Report the first few disagreements only: a leak shows up as
        // whole blocks of rays.
        auto disagree = [&](const char* path, bool blocked, bool expected) {
            if (blocked == expected) return;
            if (++out.wrong <= 5)
                ADD_FAILURE() << what << ": " << path << " ray " << i << " (row " << i / width << ", column "
                              << i % width << ") " << (blocked ? "blocked" : "lit") << ", expected "
                              << (expected ? "blocked" : "lit");
        };
        if (checkReference) {
            disagree("packet path", packetBlocked, ref.tri >= 0);
            disagree("scalar path", scalarBlocked, ref.tri >= 0);
            for (const RayBlock* b : {&packet, &scalar})
                if (b->tri[i] >= 0) {
                    EXPECT_TRUE(blocks(soup.view(), b->tri[i], o, d)) << what << " ray " << i;
                }
        } else {
            disagree("packet path (against the scalar path)", packetBlocked, scalarBlocked);
        }
        (packetBlocked ? out.blocked : out.lit) += 1;
    }
    return out;
}

}  // namespace

// One triangle in the plane x = 0.5; two unused vertices make the root cell
// [-1, 1]^3, so the builder cuts a face at x = 0.5 and lists the triangle
// only in the flat cell there. The shadow ray reaches that cell as the far
// child with an empty segment [0.5714, 0.5714], and must still test it. The
// ray sits in element 0 of a 4 x 4 block with the others switched off, so
// the occluder cache stays empty and the packet walk alone decides.
TEST(OcclusionWalls, PlanarTriangleListedOnlyInAFlatCellBlocks)
{
    TriangleSoup soup;
    soup.addVertex(0.5f, 0.0f, 0.0f);
    soup.addVertex(0.5f, 1.0f, 0.0f);
    soup.addVertex(0.5f, 0.0f, 1.0f);
    soup.addVertex(-1.0f, -1.0f, -1.0f);
    soup.addVertex(1.0f, 1.0f, 1.0f);
    soup.addTriangle(0, 1, 2);
    const float light[3] = {0.9f, 0.3f, 0.2f};
    const float d[3] = {0.2f - 0.9f, 0.25f - 0.3f, 0.3f - 0.2f};
    for (int32_t depth : {4, 50}) {
        const PreparedScene scene = prepareSah(soup, depth, 1.0f);
        for (Path path : {Path::Packet, Path::Scalar}) {
            RayBlock b(4, 4, path);
            b.mask.fill(-1);
            b.mask[0] = 0;
            b.setDir(0, d);
            ASSERT_EQ(b.any(scene.context(), light), vekStsOk);
            EXPECT_EQ(b.mask[0], -1) << name(path) << " depth " << depth;
            EXPECT_EQ(b.tri[0], 0) << name(path) << " depth " << depth;
        }
    }
}

// A wall in the scene box's far face x = 1, listed only in the flat cell
// [1, 1] that a split at that face makes. Eye rays from inside reach the cell
// at the very end of their segment, where their walk ends; they must still
// test it and hit the wall, on both paths and for closest and successive
// hits alike.
TEST(OcclusionWalls, WallListedOnlyInTheFlatCellAtTheFarFaceIsHit)
{
    TriangleSoup soup;
    const float lo[2] = {-1.0f, -1.0f}, hi[2] = {1.0f, 1.0f};
    addQuad(soup, 0, 1.0f, lo, hi);
    addQuad(soup, 0, -1.0f, lo, hi);
    HandTree tree;
    const HandTree::Node root = tree.inner(0, 1.0f);
    tree.setChildren(root, tree.leaf({2, 3}), tree.leaf({0, 1}));
    const float box[6] = {-1, -1, -1, 1, 1, 1};
    const PreparedScene scene = prepare(soup, tree, box);
    const float eye[3] = {0.1f, 0.2f, -0.3f};
    const auto targets = targetGrid(0, 1.0f, -0.9f, 0.9f, 8, 8);
    for (Path path : {Path::Packet, Path::Scalar}) {
        RayBlock closest(8, 8, path), successive(8, 8, path, 2);
        aimAt(closest, eye, targets);
        aimAt(successive, eye, targets);
        ASSERT_EQ(closest.eye(scene.context(), eye), vekStsOk);
        ASSERT_EQ(successive.multiple(scene.context(), eye), vekStsOk);
        for (size_t i = 0; i < closest.count(); ++i) {
            EXPECT_TRUE(closest.tri[i] == 0 || closest.tri[i] == 1) << name(path) << " eye ray " << i;
            EXPECT_TRUE(successive.tri[i] == 0 || successive.tri[i] == 1) << name(path) << " successive ray " << i;
        }
    }
}

// A closed room of axis-aligned quads. With the light inside, every point
// just outside a wall is in shadow and every point inside is lit; with the
// light outside, every point inside is in shadow. Trees of both ends of the
// split factor, shallow and deep, and build boxes that enclose the room or
// cut through it.
TEST(OcclusionWalls, ClosedRoomLetsNoLightThrough)
{
    const TriangleSoup soup = closedRoom();
    const float inside[2][3] = {{0.3f, 0.2f, -0.1f}, {0.0f, 0.0f, 0.0f}};
    const float outside[2][3] = {{3.0f, 0.5f, 0.2f}, {-0.25f, -6.0f, 0.125f}};
    const std::vector<Vec3> interior = roomInterior(48 * 48);
    for (const RoomBuild& build : kRoomBuilds) {
        const PreparedScene scene = build.build(soup);
        const bool cut = build.cuts();
        const std::string tree = build.name();
        for (const auto& light : inside) {
            for (int axis = 0; axis < 3; ++axis)
                for (float at : {-1.25f, 1.25f}) {
                    // Behind the wall, all dark; and the same directions
                    // stopped short of the wall, all lit.
                    const auto behind = targetGrid(axis, at, -1.4f, 1.4f, 32, 32);
                    const Outcome dark = expectSameShadows(soup, scene, light, behind, 32, tree + " behind", !cut);
                    if (!cut) {
                        EXPECT_EQ(dark.lit, 0u) << tree;
                        EXPECT_GT(dark.blocked, 900u) << tree;
                    }
                    const auto before = targetGrid(axis, at * 0.7f, -0.6f, 0.6f, 16, 16);
                    const Outcome lit = expectSameShadows(soup, scene, light, before, 16, tree + " inside", !cut);
                    if (!cut) {
                        EXPECT_EQ(lit.blocked, 0u) << tree;
                    }
                }
        }
        for (const auto& light : outside) {
            const Outcome dark = expectSameShadows(soup, scene, light, interior, 48, tree + " light outside", !cut);
            if (!cut) {
                EXPECT_EQ(dark.lit, 0u) << tree;
            }
        }
    }
}

// Eye rays from inside a closed room all end on a wall, and the far walls
// lie in the faces of the scene box, where a ray's segment ends: both paths
// find the reference's wall on every ray, through every tree of the room
// but the one confined to a box that cuts it.
TEST(OcclusionWalls, EyeRaysInsideAClosedRoomAllEndOnAWall)
{
    const TriangleSoup soup = closedRoom();
    const float eyes[2][3] = {{0.3f, 0.2f, -0.1f}, {0.0f, 0.0f, 0.0f}};
    for (const RoomBuild& build : kRoomBuilds) {
        if (build.cuts()) continue;
        const PreparedScene scene = build.build(soup);
        for (const auto& eye : eyes)
            for (int axis = 0; axis < 3; ++axis)
                for (float at : {-1.25f, 1.25f}) {
                    const auto targets = targetGrid(axis, at, -1.4f, 1.4f, 16, 16);
                    for (Path path : {Path::Packet, Path::Scalar}) {
                        RayBlock b(16, 16, path);
                        aimAt(b, eye, targets);
                        ASSERT_EQ(b.eye(scene.context(), eye), vekStsOk);
                        const double o[3] = {eye[0], eye[1], eye[2]};
                        for (size_t i = 0; i < b.count(); ++i) {
                            const double d[3] = {targets[i][0] - o[0], targets[i][1] - o[1], targets[i][2] - o[2]};
                            const ReferenceHit ref = closestHitReference(soup.view(), o, d, 1e30);
                            ASSERT_GE(b.tri[i], 0) << build.name() << ", " << name(path) << " ray " << i;
                            if (!ref.closeCall()) {
                                ASSERT_EQ(b.tri[i], ref.tri) << build.name() << ", " << name(path) << " ray " << i;
                            }
                        }
                    }
                }
    }
}

// Random scenes of axis-aligned quads and boxes on a coarse grid, so that
// many quads share a plane, edges meet and split candidates coincide with
// faces. Lights inside and outside; targets anywhere, many of them straight
// along an axis from the light; now and then one ray of a tile turned into
// another octant so that tiles run as rows of 4-ray packets.
TEST(OcclusionWalls, AxisAlignedQuadScenesAgreeOnEveryRay)
{
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        std::mt19937 rng(seed * 7919u);
        std::uniform_int_distribution<int> grid(-16, 16), span(1, 8);
        auto g = [](int k) { return static_cast<float>(k) * 0.125f; };
        TriangleSoup soup;
        addGridQuads(soup, rng, 60);
        for (int b = 0; b < 4; ++b) {
            const int x = grid(rng), y = grid(rng), z = grid(rng), w = span(rng);
            const int c[3] = {x, y, z};
            for (int axis = 0; axis < 3; ++axis) {
                const int u = (axis + 1) % 3 < (axis + 2) % 3 ? (axis + 1) % 3 : (axis + 2) % 3, v = 3 - axis - u;
                const float lo[2] = {g(c[u]), g(c[v])}, hi[2] = {g(c[u] + w), g(c[v] + w)};
                addQuad(soup, axis, g(c[axis]), lo, hi);
                addQuad(soup, axis, g(c[axis] + w), lo, hi);
            }
        }
        const float cutting[6] = {-1.0f, -2.5f, -0.75f, 1.5f, 2.5f, 2.5f};
        const bool cut = seed % 3 == 0;
        const PreparedScene scene = prepareSah(soup, seed % 2 ? 50 : 10, seed % 4 < 2 ? 1.0f : 0.25f, cut ? cutting : nullptr);
        std::uniform_real_distribution<float> pos(-2.2f, 2.2f), far(-9.0f, 9.0f);
        const float lights[3][3] = {{g(grid(rng)), g(grid(rng)) + 0.0625f, g(grid(rng))},
                                    {pos(rng), pos(rng), pos(rng)},
                                    {far(rng), 9.5f, far(rng)}};
        for (const auto& light : lights) {
            const int32_t width = 32, height = 32;
            std::vector<Vec3> targets(static_cast<size_t>(width * height));
            for (size_t i = 0; i < targets.size(); ++i) {
                Vec3& t = targets[i];
                t = {pos(rng), pos(rng), pos(rng)};
                if (i % 6 == 1) {
                    // Straight along one axis from the light.
                    t = {light[0], light[1], light[2]};
                    t[i / 6 % 3] = pos(rng);
                }
                if (i % 37 == 5) {
                    for (int a = 0; a < 3; ++a) t[a] = 2.0f * light[a] - t[a];
                }
            }
            const std::string what = "seed " + std::to_string(seed) + (cut ? " cutting box" : "");
            const Outcome o = expectSameShadows(soup, scene, light, targets, width, what, !cut);
            EXPECT_GT(o.blocked, targets.size() / 20) << what;
            EXPECT_LT(o.close, targets.size() / 10) << what;
        }
        // Coherent tiles (8-ray kernel and the occluder cache): a light far
        // off and targets in a small patch behind the scene's middle.
        const float light[3] = {-12.0f, 0.3f, 0.7f};
        const std::vector<Vec3> patch = targetGrid(0, 2.125f, -1.5f, 1.5f, 32, 32);
        expectSameShadows(soup, scene, light, patch, 32, "seed " + std::to_string(seed) + " coherent", !cut);
    }
}

// The tree lists the slanted triangle of the cut-triangle scene only in
// the cells of its part inside the build box, which reach out to infinity
// past the box's face x = 0. A shadow ray from far out on that side starts
// in such a cell, where the triangle is tested and found crossed further
// along, well outside the box, in a cell that does not list it. A walk that
// starts anywhere but at the light misses it.
TEST(OcclusionWalls, TriangleCutByTheBuildBoxIsFoundFromTheLight)
{
    const CutTriangleScene cut;
    const double o[3] = {cut.light[0], cut.light[1], cut.light[2]};
    size_t crossing = 0;
    for (const Vec3& t : cut.targets) {
        const double d[3] = {t[0] - o[0], t[1] - o[1], t[2] - o[2]};
        crossing += blocks(cut.soup.view(), cut.slanted, o, d);
    }
    ASSERT_GT(crossing, cut.targets.size() / 2);
    const Outcome o1 = expectSameShadows(cut.soup, cut.scene, cut.light, cut.targets, 16, "cut triangle", false);
    EXPECT_GT(o1.blocked, cut.targets.size() / 2);
}

// The segment tested is open at both ends: a surface through the light
// (crossed at t = 0 exactly) and one through the targets (t = 1) block
// nothing; the same surface halfway blocks every ray. The targets' surface
// is left out on the packet path, whose estimated 1/det may round a
// crossing at t = 1 to either side.
TEST(OcclusionWalls, SurfacesAtEitherEndOfTheSegmentDoNotBlock)
{
    const float light[3] = {0.25f, 0.5f, 0.0f};
    const float lo[2] = {-4.0f, -4.0f}, hi[2] = {4.0f, 4.0f};
    const std::vector<Vec3> targets = targetGrid(2, 2.0f, -1.0f, 1.0f, 4, 4);
    struct Row {
        float at;
        bool blocks, packet;
        const char* what;
    } rows[] = {
        {0.0f, false, true, "surface through the light"},
        {2.0f, false, false, "surface through the targets"},
        {1.0f, true, true, "surface halfway"},
    };
    for (const Row& row : rows) {
        TriangleSoup soup;
        addQuad(soup, 2, row.at, lo, hi);
        const PreparedScene scene = prepareSah(soup, 8, 1.0f);
        for (Path path : {Path::Scalar, Path::Packet}) {
            if (path == Path::Packet && !row.packet) continue;
            RayBlock b(4, 4, path);
            aimAt(b, light, targets);
            ASSERT_EQ(b.any(scene.context(), light), vekStsOk);
            for (size_t i = 0; i < targets.size(); ++i) {
                EXPECT_EQ(b.mask[i] < 0, row.blocks) << row.what << (path == Path::Packet ? ", packet" : ", scalar")
                                                     << " path, ray " << i;
                EXPECT_EQ(b.tri[i] >= 0, row.blocks) << row.what << ", ray " << i;
            }
        }
    }
}
