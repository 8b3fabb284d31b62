// Scenes of axis-aligned walls, floors and boxes for the intersection
// tests: triangles lie exactly on the planes the tree builder splits at and
// end up in cells of zero thickness, where walks that skip such a cell let
// light through walls.
#ifndef VEKR_TESTS_INTERSECT_WALL_SCENES_H
#define VEKR_TESTS_INTERSECT_WALL_SCENES_H

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "intersect/ray_blocks.h"
#include "support/random_scene.h"

namespace vekr_test {

// Quad on the plane x[axis] = at spanning [lo, hi] on the two other axes
// (in increasing axis order), as two triangles sharing a diagonal.
inline void addQuad(TriangleSoup& s, int axis, float at, const float lo[2], const float hi[2])
{
    const int u = (axis + 1) % 3 < (axis + 2) % 3 ? (axis + 1) % 3 : (axis + 2) % 3;
    const int v = 3 - axis - u;
    auto corner = [&](float cu, float cv) {
        Vec3 p{};
        p[axis] = at;
        p[u] = cu;
        p[v] = cv;
        return p;
    };
    const Vec3 a = corner(lo[0], lo[1]), b = corner(hi[0], lo[1]), c = corner(hi[0], hi[1]), d = corner(lo[0], hi[1]);
    s.addTriangle(a, b, c);
    s.addTriangle(a, c, d);
}

// Quads on random planes of a 1/8 grid (coordinates -2 to 2 and spans up to
// 1): many share a plane, edges meet and split candidates coincide with
// faces. Draws from rng, which the caller may go on using.
inline void addGridQuads(TriangleSoup& s, std::mt19937& rng, int count)
{
    std::uniform_int_distribution<int> grid(-16, 16), axisOf(0, 2), span(1, 8);
    auto g = [](int k) { return static_cast<float>(k) * 0.125f; };
    for (int q = 0; q < count; ++q) {
        const int axis = axisOf(rng);
        const int u0 = grid(rng), v0 = grid(rng);
        const float lo[2] = {g(u0), g(v0)}, hi[2] = {g(u0 + span(rng)), g(v0 + span(rng))};
        addQuad(s, axis, g(grid(rng)), lo, hi);
    }
}

// The six walls of the box [lo, hi]^3, each cut into n x n quads.
inline void addRoom(TriangleSoup& s, float lo, float hi, int n)
{
    const float step = (hi - lo) / static_cast<float>(n);
    for (int axis = 0; axis < 3; ++axis)
        for (float at : {lo, hi})
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) {
                    const float a[2] = {lo + step * static_cast<float>(i), lo + step * static_cast<float>(j)};
                    const float b[2] = {a[0] + step, a[1] + step};
                    addQuad(s, axis, at, a, b);
                }
}

// The closed room of the shadow and eye-ray tests: the six walls of
// [-1, 1]^3, each cut into 4 x 4 quads.
inline TriangleSoup closedRoom()
{
    TriangleSoup s;
    addRoom(s, -1.0f, 1.0f, 4);
    return s;
}

// Build boxes for the room: one enclosing it with room to spare, and one
// cutting through it, where the brute force over the whole room no longer
// applies and the paths can only be held to each other.
inline const float kRoomEnclosingBox[6] = {-3.0f, -3.0f, -3.0f, 3.0f, 3.0f, 3.0f};
inline const float kRoomCuttingBox[6] = {-0.5f, -2.0f, -2.0f, 2.0f, 0.25f, 2.0f};

// The trees the room is built into: both ends of the split factor, shallow
// and deep, and the two build boxes.
struct RoomBuild {
    int32_t depth;
    float factor;
    const float* box;

    bool cuts() const { return box == kRoomCuttingBox; }
    PreparedScene build(const TriangleSoup& room) const { return prepareSah(room, depth, factor, box); }
    std::string name() const
    {
        return "depth " + std::to_string(depth) + " factor " + std::to_string(factor) +
               (box ? (cuts() ? " cutting box" : " enclosing box") : "");
    }
};
inline const RoomBuild kRoomBuilds[] = {{50, 1.0f, nullptr}, {4, 1.0f, nullptr},          {50, 0.0f, nullptr},
                                        {12, 0.5f, nullptr}, {50, 1.0f, kRoomEnclosingBox}, {50, 1.0f, kRoomCuttingBox}};

// n random points inside the room, the same first ones for every n.
inline std::vector<Vec3> roomInterior(int n)
{
    std::vector<Vec3> targets;
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> pos(-0.95f, 0.95f);
    for (int i = 0; i < n; ++i) targets.push_back({pos(rng), pos(rng), pos(rng)});
    return targets;
}

// A build box [0, 1]^3 that cuts a long slanted triangle: the part inside
// the box lies low in y, the part far outside high in y, and two layers of
// small triangles make the builder split on y inside the box. Shadow rays
// from a light far out past the box's face x = 0 cross the slanted
// triangle near x = -4, well outside the box, where it lies near y = 0.67.
struct CutTriangleScene {
    TriangleSoup soup;
    int32_t slanted;
    PreparedScene scene;
    float light[3] = {-10.0f, 0.1f, 0.5f};
    std::vector<Vec3> targets;  // 16 x 16

    CutTriangleScene()
    {
        for (int i = 0; i < 8; ++i)
            for (float y : {0.1f, 0.9f}) {
                const float x = 0.0625f + 0.125f * static_cast<float>(i);
                soup.addTriangle({x, y, 0.2f}, {x + 0.05f, y, 0.8f}, {x, y + 0.05f, 0.5f});
            }
        slanted = soup.addTriangle({0.5f, 0.05f, 0.3f}, {0.5f, 0.05f, 0.7f}, {-6.0f, 0.95f, 0.5f});
        const float buildBox[6] = {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f};
        scene = prepareSah(soup, 50, 1.0f, buildBox);
        for (int i = 0; i < 16 * 16; ++i) {
            const float s = 1.0f + 0.002f * static_cast<float>(i % 16), z = 0.49f + 0.0008f * static_cast<float>(i / 16);
            targets.push_back({light[0] + 9.0f * s / 1.5f, light[1] + 0.855f * s / 1.5f, z});
        }
    }
};

// Points the first targets.size() rays of a block from `from` at the
// targets (shadow rays reach them at t = 1).
inline void aimAt(RayBlock& b, const float from[3], const std::vector<Vec3>& targets)
{
    for (size_t i = 0; i < targets.size(); ++i) {
        const float d[3] = {targets[i][0] - from[0], targets[i][1] - from[1], targets[i][2] - from[2]};
        b.setDir(i, d);
    }
}

// A w x h grid of targets on the plane x[axis] = at, spanning [lo, hi] on
// the other two axes.
inline std::vector<Vec3> targetGrid(int axis, float at, float lo, float hi, int32_t w, int32_t h)
{
    std::vector<Vec3> t;
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    for (int32_t r = 0; r < h; ++r)
        for (int32_t c = 0; c < w; ++c) {
            Vec3 p{};
            p[axis] = at;
            p[u] = lo + (hi - lo) * (static_cast<float>(c) + 0.5f) / static_cast<float>(w);
            p[v] = lo + (hi - lo) * (static_cast<float>(r) + 0.5f) / static_cast<float>(h);
            t.push_back(p);
        }
    return t;
}

}  // namespace vekr_test

#endif
