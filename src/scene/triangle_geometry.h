// The edges and unnormalised normal of one triangle of the scene arrays, in
// double precision. The triangle records and the triangle normals both start
// from here, so the two always agree in direction.
#ifndef VEKR_SCENE_TRIANGLE_GEOMETRY_H
#define VEKR_SCENE_TRIANGLE_GEOMETRY_H

#include <cstddef>
#include <cstdint>

namespace vekr {

// With A, B, C the first, second and third vertex: e1 = A - C, e2 = B - C,
// n = e1 x e2. c is the reference vertex C.
struct TriangleEdges {
    double c[3];
    double e1[3];
    double e2[3];
    double n[3];
};

// Triangle j: four index words per triangle, of which the fourth is never
// read; three floats per vertex. Offsets are formed in pointer width so that
// large vertex numbers cannot overflow a 32-bit product.
inline TriangleEdges triangleEdges(const float* vertices, const int32_t* triangles, int32_t j)
{
    const int32_t* t = triangles + 4 * static_cast<ptrdiff_t>(j);
    const float* a = vertices + 3 * static_cast<ptrdiff_t>(t[0]);
    const float* b = vertices + 3 * static_cast<ptrdiff_t>(t[1]);
    const float* c = vertices + 3 * static_cast<ptrdiff_t>(t[2]);

    TriangleEdges g;
    for (int k = 0; k < 3; ++k) {
        g.c[k] = c[k];
        g.e1[k] = static_cast<double>(a[k]) - g.c[k];
        g.e2[k] = static_cast<double>(b[k]) - g.c[k];
    }
    g.n[0] = g.e1[1] * g.e2[2] - g.e1[2] * g.e2[1];
    g.n[1] = g.e1[2] * g.e2[0] - g.e1[0] * g.e2[2];
    g.n[2] = g.e1[0] * g.e2[1] - g.e1[1] * g.e2[0];
    return g;
}

// 2^-52: the threshold below which a normal component (triangle records) or
// the squared normal length (triangle normals) counts as zero.
constexpr double kTinyNormal = 2.220446049250313e-16;

}  // namespace vekr

#endif
