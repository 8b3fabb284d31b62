// Closest hit by testing every triangle in double precision: the reference
// the intersection exports are measured against.
//
// It shares nothing with the library's records or traversal: it works from
// the vertex and triangle index arrays directly, solves for the plane
// crossing and the barycentric weights in double, and counts points on edges
// and vertices as inside. Because float and double arithmetic legitimately
// disagree on rays that graze an edge, run nearly parallel to a triangle or
// meet two triangles at almost the same distance, the reference also says
// whether a ray is that close to such a boundary; callers compare triangle
// numbers on the other rays strictly and only count the close ones.
#ifndef VEKR_TESTS_SUPPORT_BRUTE_FORCE_H
#define VEKR_TESTS_SUPPORT_BRUTE_FORCE_H

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vekr_test {

// Scene arrays in the library's layout: 3 floats per vertex, 4 int32 per
// triangle (the fourth unused).
struct MeshView {
    const float* vertices;
    const int32_t* triangles;
    int32_t triangleCount;
};

// How close to a boundary counts as "close". tie and edge are absolute: tie in
// ray-parameter units, edge in barycentric weight; graze bounds the cosine
// between the direction and the triangle's plane.
struct BoundaryTolerance {
    double tie = 1e-4;
    double edge = 1e-4;
    double graze = 1e-5;
};

struct ReferenceHit {
    int32_t tri = -1;  // -1: no hit
    double t = 0.0;
    double u = 0.0;  // weight of the first vertex
    double v = 0.0;  // weight of the second vertex
    bool nearTie = false;   // another hit, or t = 0 or the limit, within the tie tolerance
    bool nearEdge = false;  // a triangle grazed or met within the edge tolerance of its border
    bool closeCall() const { return nearTie || nearEdge; }
};

namespace detail {

struct Vec {
    double x, y, z;
};
inline Vec sub(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline double norm(Vec a) { return std::sqrt(dot(a, a)); }

}  // namespace detail

// Hits count for 0 < t < tmax. With several hits at (exactly) the same t the
// first triangle number wins; such rays are flagged nearTie anyway.
inline ReferenceHit closestHitReference(const MeshView& mesh, const double o[3], const double d[3], double tmax,
                                        const BoundaryTolerance& tol = {})
{
    using namespace detail;
    const Vec ro{o[0], o[1], o[2]}, rd{d[0], d[1], d[2]};
    const double dlen = norm(rd);

    ReferenceHit best;
    double secondT = INFINITY;     // nearest hit of another triangle
    double nearestEdgeT = INFINITY;  // nearest crossing close to a border or grazing
    auto vertex = [&](int32_t i) {
        const float* p = mesh.vertices + 3 * static_cast<int64_t>(i);
        return Vec{p[0], p[1], p[2]};
    };
    for (int32_t j = 0; j < mesh.triangleCount; ++j) {
        const int32_t* tri = mesh.triangles + 4 * static_cast<int64_t>(j);
        const Vec a = vertex(tri[0]), b = vertex(tri[1]), c = vertex(tri[2]);
        const Vec e1 = sub(a, c), e2 = sub(b, c), n = cross(e1, e2);
        const double nn = dot(n, n);
        if (nn == 0.0) continue;  // degenerate: never hit
        const double nd = dot(n, rd);
        const bool grazing = std::fabs(nd) <= tol.graze * std::sqrt(nn) * dlen;
        if (nd == 0.0) continue;
        const double t = dot(n, sub(c, ro)) / nd;
        const Vec p{ro.x + t * rd.x, ro.y + t * rd.y, ro.z + t * rd.z};
        const Vec pc = sub(p, c);
        const double wa = dot(n, cross(pc, e2)) / nn;
        const double wb = dot(n, cross(e1, pc)) / nn;
        const double wc = 1.0 - wa - wb;
        const double wmin = std::min({wa, wb, wc});
        if (wmin < -tol.edge) continue;
        const double slack = tol.tie * (1.0 + std::fabs(t));
        if (t <= -slack || t >= tmax + slack) continue;
        if (grazing || wmin <= tol.edge || std::fabs(t) < slack || std::fabs(tmax - t) < slack)
            nearestEdgeT = std::min(nearestEdgeT, t);
        if (wmin < 0.0 || t <= 0.0 || t >= tmax) continue;
        if (best.tri < 0 || t < best.t) {
            if (best.tri >= 0) secondT = std::min(secondT, best.t);
            best.tri = j;
            best.t = t;
            best.u = wa;
            best.v = wb;
        } else {
            secondT = std::min(secondT, t);
        }
    }
    const double slack = tol.tie * (1.0 + std::fabs(best.t));
    if (best.tri >= 0) best.nearTie = secondT - best.t < slack;
    best.nearEdge = best.tri < 0 ? nearestEdgeT < INFINITY : nearestEdgeT < best.t + slack;
    return best;
}

}  // namespace vekr_test

#endif
