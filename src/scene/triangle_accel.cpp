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

struct ProjectionAxes {
    int u, v;
    double sign;  // makes det = sign * N[k] the determinant of the u-v projection
};

// u and v keep their cyclic order for x and z; for y the natural order
// (x, z) is anticyclic, hence the negative sign.
constexpr ProjectionAxes kAxes[3] = {{1, 2, 1.0}, {0, 2, -1.0}, {0, 1, 1.0}};

constexpr uint32_t kAlongAxisFlag = 0x80000000u;

// Ties go to the lower axis: a later axis must be strictly larger.
int dominantAxis(const double n[3])
{
    int k = 0;
    if (std::fabs(n[1]) > std::fabs(n[0])) k = 1;
    if (std::fabs(n[2]) > std::fabs(n[k])) k = 2;
    return k;
}

VekrTriangleAccel makeRecord(const vekr::TriangleEdges& g)
{
    VekrTriangleAccel rec;
    const int k = dominantAxis(g.n);
    if (g.n[k] == 0.0) {
        std::memset(&rec, 0, sizeof rec);  // degenerate: axes 0 means never hit
        return rec;
    }
    const ProjectionAxes& p = kAxes[k];
    const double r = 1.0 / g.n[k];
    uint32_t axes = static_cast<uint32_t>(k * 16 + p.u * 4 + p.v);

    // A normal exactly along k gives slopes of 0; flagging it lets the
    // intersection code skip the slope terms.
    if (std::fabs(g.n[p.v]) < vekr::kTinyNormal && std::fabs(g.n[p.u]) < vekr::kTinyNormal) {
        rec.nu = 0.0f;
        rec.nv = 0.0f;
        axes |= kAlongAxisFlag;
    } else {
        rec.nu = static_cast<float>(g.n[p.u] * r);
        rec.nv = static_cast<float>(g.n[p.v] * r);
    }
    rec.pk = static_cast<float>(g.c[k]);
    rec.pu = static_cast<float>(g.c[p.u]);
    rec.pv = static_cast<float>(g.c[p.v]);

    const double q = p.sign * r;  // 1 / det
    rec.e2u = static_cast<float>(g.e2[p.u] * q);
    rec.e2v = static_cast<float>(g.e2[p.v] * q);
    rec.e1u = static_cast<float>(g.e1[p.u] * q);
    rec.e1v = static_cast<float>(g.e1[p.v] * q);
    rec.axes = static_cast<int32_t>(axes);
    return rec;
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
