// Scenes and ray blocks for the intersection exports in tests: records from
// the library's record export, the box from its bounds export (or given by
// hand), trees laid out from hand-built trees or built by the library; and
// guarded ray blocks placed 16-byte aligned (packet path for sides that are
// multiples of 4) or 4 bytes off (ray-by-ray path).
#ifndef VEKR_TESTS_INTERSECT_RAY_BLOCKS_H
#define VEKR_TESTS_INTERSECT_RAY_BLOCKS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/brute_force.h"
#include "support/hand_tree.h"
#include "support/midpoint_tree.h"
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

inline PreparedScene prepareRecords(const TriangleSoup& soup, const float* box)
{
    PreparedScene s;
    s.accel.resize(static_cast<size_t>(soup.triangleCount()));
    vekrTriangleAccelInit(s.accel.data(), soup.vertices.data(), soup.triangles.data(), soup.triangleCount());
    if (box)
        std::copy(box, box + 6, s.box.begin());
    else
        vekrSetBoundBox_32f(soup.vertices.data(), soup.vertexCount(), s.box.data());
    return s;
}

inline PreparedScene prepare(const TriangleSoup& soup, const HandTree& tree, const float* box = nullptr)
{
    PreparedScene s = prepareRecords(soup, box);
    layOut(tree, *s.tree);
    return s;
}

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

inline PreparedScene prepareMidpoint(const TriangleSoup& soup, int32_t depth, int32_t leafSize)
{
    PreparedScene s = prepareRecords(soup, nullptr);
    layOut(midpointTree(soup, s.box.data(), depth, leafSize), *s.tree);
    return s;
}

// A tree from the library's surface-area-heuristic build, optionally
// confined to a build box.
inline PreparedScene prepareSah(const TriangleSoup& soup, int32_t depth, float factor, const float* buildBox = nullptr)
{
    PreparedScene s = prepareRecords(soup, nullptr);
    const VekrKDTreeBuildParams p{vekrKDTreeBuildSAH, depth, factor, 256, buildBox};
    EXPECT_EQ(vekrKDTreeBuildAlloc(&s.tree->root, soup.vertices.data(), soup.triangles.data(), soup.vertexCount(),
                                   soup.triangleCount(), &s.tree->size, &p),
              vekStsOk);
    return s;
}

enum class Path { Packet, Scalar };

inline const char* name(Path p) { return p == Path::Packet ? "packet" : "scalar"; }

// The planes of one call of any intersection export: per-ray origins (used
// by the per-origin call only), directions, `planes` hit planes of every
// output array (1 except for successive hits) and a mask, each guarded.
struct RayBlock {
    RayBlock(int32_t width, int32_t height, Path path, int32_t planes = 1)
        : width(width), height(height), planes(planes), origin(count(), offset(path)), dir(count(), offset(path)),
          dist(count() * planes, offset(path)), u(count() * planes, offset(path)), v(count() * planes, offset(path)),
          tri(count() * planes, offset(path)), mask(count(), offset(path))
    {
        u.fill(-7.0f);
        v.fill(-9.0f);
        tri.fill(12345);
        dist.fill(1e30f);
        mask.fill(0);
    }
    static size_t offset(Path p) { return p == Path::Packet ? 0 : 4; }
    size_t count() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }

    void setDir(size_t i, const float d[3])
    {
        for (int a = 0; a < 3; ++a) dir[a][i] = d[a];
    }
    void setRay(size_t i, const float o[3], const float d[3], float tmax)
    {
        for (int a = 0; a < 3; ++a) origin[a][i] = o[a];
        setDir(i, d);
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
    VekStatus closest(const VekrIntersectContext& ctx)
    {
        float* uv[2] = {u.data(), v.data()};
        return vekrIntersectMO_32f(origin.cp, dir.cp, dist.data(), uv, tri.data(), &ctx, VekrSize{width, height});
    }
    VekStatus eye(const VekrIntersectContext& ctx, const float o[3])
    {
        float* uv[2] = {u.data(), v.data()};
        return vekrIntersectEyeSO_32f(o, dir.cp, dist.data(), uv, tri.data(), &ctx, VekrSize{width, height});
    }
    VekStatus multiple(const VekrIntersectContext& ctx, const float o[3])
    {
        float* uv[2] = {u.data(), v.data()};
        return vekrIntersectMultipleSO_32f(o, dir.cp, dist.data(), uv, tri.data(), VekrSize{width, height}, planes,
                                           &ctx);
    }
    VekStatus any(const VekrIntersectContext& ctx, const float o[3])
    {
        return vekrIntersectAnySO_32f(o, dir.cp, tri.data(), mask.data(), VekrSize{width, height}, &ctx);
    }
    bool guardsIntact() const
    {
        for (const OffsetArray<float>* p : {&origin.x, &origin.y, &origin.z, &dir.x, &dir.y, &dir.z, &dist, &u, &v})
            if (!p->guardsIntact()) return false;
        return tri.guardsIntact() && mask.guardsIntact();
    }

    int32_t width, height, planes;
    Planes3 origin, dir;
    OffsetArray<float> dist, u, v;
    OffsetArray<int32_t> tri, mask;
};

// Every crossing of the ray line with a triangle at t > 0, nearest first,
// and whether any of them is a close call (near an edge, near t = 0, or
// within the tie tolerance of another crossing).
struct Crossings {
    std::vector<ReferenceHit> hits;
    bool closeCall = false;
};

inline Crossings crossingsReference(const MeshView& mesh, const double o[3], const double d[3])
{
    Crossings c;
    for (int32_t j = 0; j < mesh.triangleCount; ++j) {
        const MeshView one{mesh.vertices, mesh.triangles + 4 * static_cast<int64_t>(j), 1};
        ReferenceHit h = closestHitReference(one, o, d, 1e30);
        if (h.closeCall()) c.closeCall = true;
        if (h.tri < 0) continue;
        h.tri = j;
        c.hits.push_back(h);
    }
    std::sort(c.hits.begin(), c.hits.end(), [](const ReferenceHit& a, const ReferenceHit& b) { return a.t < b.t; });
    for (size_t k = 1; k < c.hits.size(); ++k)
        if (c.hits[k].t - c.hits[k - 1].t < 1e-4 * (1.0 + c.hits[k].t)) c.closeCall = true;
    return c;
}

// Does triangle j of the mesh cross the open segment 0 < t < 1?
inline bool blocks(const MeshView& mesh, int32_t j, const double o[3], const double d[3])
{
    const MeshView one{mesh.vertices, mesh.triangles + 4 * static_cast<int64_t>(j), 1};
    return closestHitReference(one, o, d, 1.0).tri == 0;
}

}  // namespace vekr_test

#endif
