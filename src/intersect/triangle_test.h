// Where one ray meets one triangle record, in single precision.
//
// The record stores the triangle's plane as nu·x[u] + nv·x[v] + x[k] = const
// through its reference vertex (pu, pv, pk), with k the dominant normal axis,
// and the inverse of its projection on the u-v plane. The test is kept free of
// divisions: the plane distance, the barycentric weights and the ray
// parameter all come out multiplied by det (the direction's component along
// the scaled normal), and the sign test on the weights works on those
// products, so only an accepted hit pays for the divisions.
//
// What differs between the exports (determinant threshold, acceptance window,
// which triangles are excluded) stays with the caller; this header is the
// arithmetic they share.
#ifndef VEKR_INTERSECT_TRIANGLE_TEST_H
#define VEKR_INTERSECT_TRIANGLE_TEST_H

#include <cmath>
#include <cstdint>

#include "vekr.h"

namespace vekr {

// Below this |det| the ray runs (nearly) parallel to the plane and the
// scaled weights carry no usable digits.
constexpr float kMinDeterminant = 1.1920929e-6f;  // bits 0x35A00000

// A ray line that meets a triangle inside or on its edges, with every value
// still multiplied by det.
struct TriangleCrossing {
    float det;
    float tn;  // det × t
    float w1;  // det × weight of the first vertex
    float w2;  // det × weight of the second vertex
};

// Asks for the records of triangles list[0 .. count-1] at once, so that
// their fetches overlap instead of each waiting for the test before it.
inline void requestRecords(const VekrTriangleAccel* accel, const int32_t* list, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        const char* record = reinterpret_cast<const char*>(accel + list[i]);
        __builtin_prefetch(record);
        __builtin_prefetch(record + sizeof(VekrTriangleAccel) - 1);
    }
}

inline int32_t recordAxisK(int32_t axes) { return (axes >> 4) & 3; }
inline int32_t recordAxisU(int32_t axes) { return (axes >> 2) & 3; }
inline int32_t recordAxisV(int32_t axes) { return axes & 3; }

// Fills c and returns true when the line o + t·d crosses the triangle of
// record r (edges and vertices count as inside, both faces are hit).
// Degenerate records (axes word 0) are refused before any arithmetic. With
// kDetThreshold, crossings at |det| < kMinDeterminant are refused too.
template <bool kDetThreshold>
inline bool crossTriangle(const VekrTriangleAccel& r, const float o[3], const float d[3], TriangleCrossing& c)
{
    if (r.axes == 0) return false;
    const int32_t k = recordAxisK(r.axes), u = recordAxisU(r.axes), v = recordAxisV(r.axes);

    const float det = r.nu * d[u] + r.nv * d[v] + d[k];
    if (kDetThreshold && std::fabs(det) < kMinDeterminant) return false;

    const float pu = r.pu - o[u];
    const float pv = r.pv - o[v];
    const float tn = r.pk + r.nu * pu + r.nv * pv - o[k];

    // det times the hit point's offsets from the reference vertex in the u-v plane.
    const float a = d[u] * tn - pu * det;
    const float b = d[v] * tn - pv * det;

    const float w1 = r.e2v * a - r.e2u * b;
    const float w2 = r.e1u * b - r.e1v * a;
    const float w0 = det - w1 - w2;

    // All three weights of one sign (or zero); a NaN product fails the test.
    // The three comparisons are combined without short-circuit: each alone
    // is a coin toss for the branch predictor, together they almost always
    // say "outside".
    const bool inside = (w0 * w1 >= 0.0f) & (w1 * w2 >= 0.0f) & (w0 * w2 >= 0.0f);
    if (!inside) return false;

    c = TriangleCrossing{det, tn, w1, w2};
    return true;
}

}  // namespace vekr

#endif
