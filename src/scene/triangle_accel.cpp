// Per-triangle records for the intersection test.
//
// Each record projects its triangle onto the coordinate plane most nearly
// parallel to it (dropping axis k, the largest normal component), so the
// intersection code needs only the plane offset along k and four 2-D edge
// terms. Everything is computed in double and each field rounded to float
// once, so records do not depend on the order of the float arithmetic.

#include <cmath>
#include <cstring>

#include "scene/triangle_geometry.h"
#include "vekr.h"

namespace {

// The plane a triangle is projected on drops axis K; U and V are the other
// two. They keep their cyclic order for x and z; for y the natural order
// (x, z) is anticyclic, so det = -N.y there.
template <int K>
struct Projection {
    static constexpr int U = K == 0 ? 1 : 0;
    static constexpr int V = K == 2 ? 1 : 2;
    static constexpr double kSign = K == 1 ? -1.0 : 1.0;
};

constexpr uint32_t kAlongAxisFlag = 0x80000000u;

// Ties go to the lower axis: a later axis must be strictly larger.
int dominantAxis(const double n[3])
{
    int k = 0;
    if (std::fabs(n[1]) > std::fabs(n[0])) k = 1;
    if (std::fabs(n[2]) > std::fabs(n[k])) k = 2;
    return k;
}

// One instance per projection axis, so that every component index is a
// compile-time constant.
template <int K>
VekrTriangleAccel recordOnAxis(const vekr::TriangleEdges& g)
{
    using P = Projection<K>;
    constexpr int U = P::U, V = P::V;
    VekrTriangleAccel rec;
    const double r = 1.0 / g.n[K];
    uint32_t axes = K * 16 + U * 4 + V;

    // A normal exactly along K gives slopes of 0; flagging it lets the
    // intersection code skip the slope terms.
    if (std::fabs(g.n[V]) < vekr::kTinyNormal && std::fabs(g.n[U]) < vekr::kTinyNormal) {
        rec.nu = 0.0f;
        rec.nv = 0.0f;
        axes |= kAlongAxisFlag;
    } else {
        rec.nu = static_cast<float>(g.n[U] * r);
        rec.nv = static_cast<float>(g.n[V] * r);
    }
    rec.pk = static_cast<float>(g.c[K]);
    rec.pu = static_cast<float>(g.c[U]);
    rec.pv = static_cast<float>(g.c[V]);

    const double q = P::kSign * r;  // 1 / det
    rec.e2u = static_cast<float>(g.e2[U] * q);
    rec.e2v = static_cast<float>(g.e2[V] * q);
    rec.e1u = static_cast<float>(g.e1[U] * q);
    rec.e1v = static_cast<float>(g.e1[V] * q);
    rec.axes = static_cast<int32_t>(axes);
    return rec;
}

VekrTriangleAccel makeRecord(const vekr::TriangleEdges& g)
{
    const int k = dominantAxis(g.n);
    if (g.n[k] == 0.0) {
        VekrTriangleAccel zero;
        std::memset(&zero, 0, sizeof zero);  // degenerate: axes 0 means never hit
        return zero;
    }
    switch (k) {
    case 0:
        return recordOnAxis<0>(g);
    case 1:
        return recordOnAxis<1>(g);
    default:
        return recordOnAxis<2>(g);
    }
}

}  // namespace

extern "C" VEKR_API VekStatus VEK_CALL vekrTriangleAccelGetSize(int32_t* pSize)
{
    if (!pSize) return vekStsNullPtrErr;
    *pSize = static_cast<int32_t>(sizeof(VekrTriangleAccel));
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrTriangleAccelInit(VekrTriangleAccel* pAccel, const float* pVertex,
                                                            const int32_t* pTriangle, int32_t triangleCount)
{
    for (int32_t j = 0; j < triangleCount; ++j) pAccel[j] = makeRecord(vekr::triangleEdges(pVertex, pTriangle, j));
    return vekStsOk;
}
