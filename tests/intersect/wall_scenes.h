// Scenes of axis-aligned walls, floors and boxes for the intersection
// tests: triangles lie exactly on the planes the tree builder splits at and
// end up in cells of zero thickness, where walks that skip such a cell let
// light through walls.
#ifndef VEKR_TESTS_INTERSECT_WALL_SCENES_H
#define VEKR_TESTS_INTERSECT_WALL_SCENES_H

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
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

// An SAH tree over the soup, optionally confined to a build box.
inline PreparedScene sahTree(const TriangleSoup& soup, int32_t depth, float factor, const float* buildBox = nullptr)
{
    PreparedScene s = prepareRecords(soup, nullptr);
    const VekrKDTreeBuildParams p{vekrKDTreeBuildSAH, depth, factor, 256, buildBox};
    EXPECT_EQ(vekrKDTreeBuildAlloc(&s.tree->root, soup.vertices.data(), soup.triangles.data(), soup.vertexCount(),
                                   soup.triangleCount(), &s.tree->size, &p),
              vekStsOk);
    return s;
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
