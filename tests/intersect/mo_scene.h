// A scene ready for the intersection exports in tests: records from the
// library's own record export, the box from its bounds export (or given by
// hand), and a tree laid out from a hand-built tree.
#ifndef VEKR_TESTS_INTERSECT_MO_SCENE_H
#define VEKR_TESTS_INTERSECT_MO_SCENE_H

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/hand_tree.h"
#include "support/random_scene.h"
#include "support/test_buffers.h"
#include "vekr.h"

namespace vekr_test {

struct PreparedScene {
    std::vector<VekrTriangleAccel> accel;
    std::array<float, 6> box{};
    std::unique_ptr<TreeBlock> tree = std::make_unique<TreeBlock>();
    VekrIntersectContext context() const { return VekrIntersectContext{box.data(), accel.data(), tree->root}; }
};

// One list leaf holding every triangle in ascending order, the layout of the
// single-leaf build.
inline HandTree singleLeafTree(int32_t triangleCount)
{
    HandTree t;
    std::vector<int32_t> all(static_cast<size_t>(triangleCount));
    for (int32_t j = 0; j < triangleCount; ++j) all[static_cast<size_t>(j)] = j;
    t.leaf(all);
    return t;
}

inline PreparedScene prepare(const TriangleSoup& soup, const HandTree& tree, const float* box = nullptr)
{
    PreparedScene s;
    s.accel.resize(static_cast<size_t>(soup.triangleCount()));
    vekrTriangleAccelInit(s.accel.data(), soup.vertices.data(), soup.triangles.data(), soup.triangleCount());
    if (box)
        std::copy(box, box + 6, s.box.begin());
    else
        vekrSetBoundBox_32f(soup.vertices.data(), soup.vertexCount(), s.box.data());
    layOut(tree, *s.tree);
    return s;
}

// The planes of one intersection call, with guards around every plane.
struct HitBlock {
    explicit HitBlock(size_t n, size_t byteOffset = 4)
        : origin(n, byteOffset), dir(n, byteOffset), dist(n, byteOffset), u(n, byteOffset), v(n, byteOffset),
          tri(n, byteOffset)
    {
        u.fill(-7.0f);
        v.fill(-9.0f);
        tri.fill(12345);
    }
    Planes3 origin, dir;
    OffsetArray<float> dist, u, v;
    OffsetArray<int32_t> tri;

    void setRay(size_t i, const float o[3], const float d[3], float tmax)
    {
        for (int a = 0; a < 3; ++a) {
            origin[a][i] = o[a];
            dir[a][i] = d[a];
        }
        dist[i] = tmax;
    }
    // Every ray of a set, in order.
    void setRays(const RaySet& rays)
    {
        for (size_t i = 0; i < rays.size(); ++i) {
            const float o[3] = {rays.o[0][i], rays.o[1][i], rays.o[2][i]};
            const float d[3] = {rays.d[0][i], rays.d[1][i], rays.d[2][i]};
            setRay(i, o, d, rays.tmax[i]);
        }
    }
    VekStatus run(const VekrIntersectContext& ctx, int32_t width, int32_t height)
    {
        float* uv[2] = {u.data(), v.data()};
        return vekrIntersectMO_32f(origin.cp, dir.cp, dist.data(), uv, tri.data(), &ctx, VekrSize{width, height});
    }
    bool guardsIntact() const
    {
        return origin.x.guardsIntact() && origin.y.guardsIntact() && origin.z.guardsIntact() && dir.x.guardsIntact() &&
               dir.y.guardsIntact() && dir.z.guardsIntact() && dist.guardsIntact() && u.guardsIntact() &&
               v.guardsIntact() && tri.guardsIntact();
    }
};

}  // namespace vekr_test

#endif
