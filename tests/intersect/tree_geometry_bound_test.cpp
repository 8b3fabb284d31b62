// The triangles' box found from a tree's outer shell: it must hold every
// triangle of the scene, stay inside the scene box, and give up rather than
// guess.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "intersect/ray_blocks.h"
#include "intersect/tree_geometry_bound.h"
#include "support/random_scene.h"

using namespace vekr_test;
using vekr::isect::boundTreeGeometry;
using vekr::isect::boundTriangleRecord;
using vekr::isect::kAllSides;
using vekr::isect::openSidesAt;

namespace {

std::vector<VekrTriangleAccel> recordsOf(const TriangleSoup& soup)
{
    std::vector<VekrTriangleAccel> r(static_cast<size_t>(soup.triangleCount()));
    vekrTriangleAccelInit(r.data(), soup.vertices.data(), soup.triangles.data(), soup.triangleCount());
    return r;
}

// Per axis, the smallest and the largest coordinate of triangle j.
void cornerRange(const TriangleSoup& soup, int32_t j, double lo[3], double hi[3])
{
    for (int a = 0; a < 3; ++a) {
        lo[a] = INFINITY;
        hi[a] = -INFINITY;
        for (int c = 0; c < 3; ++c) {
            const double x = soup.vertices[3 * static_cast<size_t>(soup.triangles[4 * j + c]) + a];
            lo[a] = std::min(lo[a], x);
            hi[a] = std::max(hi[a], x);
        }
    }
}

}  // namespace

// Corners come back from the records of triangles of every orientation and
// of sizes from 1e-3 to 1e3, to within the slack the bound adds; slivers,
// whose edge fields have cancelled, are refused instead.
TEST(TreeGeometryBound, RecordCornersComeBackOrAreRefused)
{
    const TriangleSoup soup = randomTriangles(0x6E0B0D01u, 500);
    const std::vector<VekrTriangleAccel> records = recordsOf(soup);
    int refused = 0;
    for (int32_t j = 0; j < soup.triangleCount(); ++j) {
        double box[6];
        if (!boundTriangleRecord(records[static_cast<size_t>(j)], box)) {
            ++refused;
            continue;
        }
        double lo[3], hi[3];
        cornerRange(soup, j, lo, hi);
        const double size = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
        for (int a = 0; a < 3; ++a) {
            EXPECT_LE(box[a], lo[a]) << "triangle " << j;
            EXPECT_GE(box[a + 3], hi[a]) << "triangle " << j;
            EXPECT_GT(box[a], lo[a] - 0.01 * size) << "triangle " << j;
            EXPECT_LT(box[a + 3], hi[a] + 0.01 * size) << "triangle " << j;
        }
    }
    // Every fifth triangle is a sliver; the well-shaped ones are all kept.
    EXPECT_GE(refused, 1);
    EXPECT_LE(refused, soup.triangleCount() / 5);
    const VekrTriangleAccel degenerate{};
    double box[6];
    EXPECT_FALSE(boundTriangleRecord(degenerate, box));
    VekrTriangleAccel notARecord = records[0];
    notARecord.axes = (3 << 4) | (1 << 2) | 2;
    EXPECT_FALSE(boundTriangleRecord(notARecord, box));
}

// The box holds every triangle of the scene and lies within the scene box,
// for the library's build and for a hand-laid tree whose leaves overlap
// several cells. A budget too small for the shell gives no box, and so does
// a sliver on the outside, whose record does not say where its test can hit.
TEST(TreeGeometryBound, ShellBoxHoldsTheSceneAndRespectsTheBudget)
{
    TriangleSoup soup = wellShaped(randomSoup(0x6E0B0D02u, 600));
    const PreparedScene scenes[] = {prepareSah(soup, 50, 0.5f), prepareMidpoint(soup, 12, 4)};
    for (const PreparedScene& scene : scenes) {
        float box[6];
        ASSERT_TRUE(boundTreeGeometry(scene.tree->root, scene.accel.data(), 1u << 20, kAllSides, box));
        for (int32_t v = 0; v < soup.vertexCount(); ++v)
            for (int a = 0; a < 3; ++a) {
                const float x = soup.vertices[3 * static_cast<size_t>(v) + a];
                EXPECT_LE(box[a], x);
                EXPECT_GE(box[a + 3], x);
            }
        for (int a = 0; a < 3; ++a) {
            const float slack = 1e-3f * (scene.box[a + 3] - scene.box[a]);
            EXPECT_GE(box[a], scene.box[a] - slack);
            EXPECT_LE(box[a + 3], scene.box[a + 3] + slack);
        }
        EXPECT_FALSE(boundTreeGeometry(scene.tree->root, scene.accel.data(), 8, kAllSides, box));
        // The top side alone: the others are left open.
        ASSERT_TRUE(boundTreeGeometry(scene.tree->root, scene.accel.data(), 1u << 20, 1u << 4, box));
        EXPECT_TRUE(std::isinf(box[0]) && std::isinf(box[3]) && std::isinf(box[5]));
        for (int32_t v = 0; v < soup.vertexCount(); ++v) EXPECT_GE(box[4], soup.vertices[3 * static_cast<size_t>(v) + 1]);
        EXPECT_LE(box[4], scene.box[4] + 1e-3f * (scene.box[4] - scene.box[1]));
    }
    soup.addTriangle(Vec3{9.0f, 9.0f, 9.0f}, Vec3{9.5f, 9.5f, 9.5f}, Vec3{10.0f, 10.0f, 10.000001f});
    const PreparedScene withSliver = prepareSah(soup, 50, 0.5f);
    float box[6];
    EXPECT_FALSE(boundTreeGeometry(withSliver.tree->root, withSliver.accel.data(), 1u << 20, kAllSides, box));
    // Facing away from it, the sliver does not matter.
    EXPECT_TRUE(boundTreeGeometry(withSliver.tree->root, withSliver.accel.data(), 1u << 20, 0x7u, box));
}

// A point deep inside the scene lies in a closed cell; one beyond the scene
// on +x lies in a cell open on that side and closed on -x; a tree that is a
// single leaf is open everywhere.
TEST(TreeGeometryBound, OpenSidesOfAPointsCell)
{
    const TriangleSoup soup = randomSoup(0x6E0B0D03u, 300);
    const PreparedScene sah = prepareSah(soup, 50, 0.5f);
    const float inside[3] = {0.1f, -0.2f, 0.3f}, outside[3] = {40.0f, 0.0f, 0.0f};
    EXPECT_EQ(openSidesAt(sah.tree->root, inside), 0u);
    const unsigned open = openSidesAt(sah.tree->root, outside);
    EXPECT_TRUE(open & (1u << 3));
    EXPECT_FALSE(open & 1u);
    const PreparedScene leaf = prepareMidpoint(soup, 0, 1000);
    EXPECT_EQ(openSidesAt(leaf.tree->root, inside), kAllSides);
}
