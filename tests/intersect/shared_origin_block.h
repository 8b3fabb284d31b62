// Ray blocks for the shared-origin intersection calls in tests, placed
// 16-byte aligned (packet path for sides that are multiples of 4) or 4 bytes
// off (ray-by-ray path), with guards around every plane; and references for
// successive hits and occlusion built on the brute-force closest hit.
#ifndef VEKR_TESTS_INTERSECT_SHARED_ORIGIN_BLOCK_H
#define VEKR_TESTS_INTERSECT_SHARED_ORIGIN_BLOCK_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "support/brute_force.h"
#include "support/test_buffers.h"
#include "vekr.h"

namespace vekr_test {

enum class Path { Packet, Scalar };

inline size_t byteOffsetFor(Path p) { return p == Path::Packet ? 0 : 4; }

// Planes of one call: per-ray directions, then `planes` hit planes of every
// output array (1 except for successive hits), and a mask.
struct SharedOriginBlock {
    SharedOriginBlock(int32_t width, int32_t height, Path path, int32_t planes = 1)
        : width(width), height(height), planes(planes), dir(count(), byteOffsetFor(path)),
          dist(count() * planes, byteOffsetFor(path)), u(count() * planes, byteOffsetFor(path)),
          v(count() * planes, byteOffsetFor(path)), tri(count() * planes, byteOffsetFor(path)),
          mask(count(), byteOffsetFor(path))
    {
        u.fill(-7.0f);
        v.fill(-9.0f);
        tri.fill(12345);
        dist.fill(1e30f);
        mask.fill(0);
    }
    size_t count() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }

    void setDir(size_t i, const float d[3])
    {
        for (int a = 0; a < 3; ++a) dir[a][i] = d[a];
    }
    VekStatus eye(const VekrIntersectContext& ctx, const float origin[3])
    {
        float* uv[2] = {u.data(), v.data()};
        return vekrIntersectEyeSO_32f(origin, dir.cp, dist.data(), uv, tri.data(), &ctx, VekrSize{width, height});
    }
    VekStatus multiple(const VekrIntersectContext& ctx, const float origin[3])
    {
        float* uv[2] = {u.data(), v.data()};
        return vekrIntersectMultipleSO_32f(origin, dir.cp, dist.data(), uv, tri.data(), VekrSize{width, height},
                                           planes, &ctx);
    }
    VekStatus any(const VekrIntersectContext& ctx, const float origin[3])
    {
        return vekrIntersectAnySO_32f(origin, dir.cp, tri.data(), mask.data(), VekrSize{width, height}, &ctx);
    }
    bool guardsIntact() const
    {
        return dir.x.guardsIntact() && dir.y.guardsIntact() && dir.z.guardsIntact() && dist.guardsIntact() &&
               u.guardsIntact() && v.guardsIntact() && tri.guardsIntact() && mask.guardsIntact();
    }

    int32_t width, height, planes;
    Planes3 dir;
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
