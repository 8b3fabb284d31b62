// Scene bounding box with a relative safety margin.

#include <pmmintrin.h>

#include <cfloat>
#include <cstddef>
#include <cmath>

#include "vekr.h"

namespace {

// Running bounds per axis. NaN coordinates never replace a bound: every
// comparison with NaN is false, so the old value is kept.
struct Bounds {
    float lo[3] = {FLT_MAX, FLT_MAX, FLT_MAX};
    float hi[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};

    void add(int axis, float x)
    {
        if (x < lo[axis]) lo[axis] = x;
        if (x > hi[axis]) hi[axis] = x;
    }
};

// Four vertices are twelve floats, so three 4-float loads repeat the axis
// pattern (x y z x), (y z x y), (z x y z); one accumulator per load keeps
// each lane on a fixed axis. _mm_min_ps(x, m) is x < m ? x : m, which keeps
// m for a NaN x exactly as the scalar rule does. Minimum and maximum do not
// depend on the order of the values, so this gives the scalar result (a
// different choice between -0 and +0 cannot survive the margin: both give
// -e and +e).
int32_t accumulateGroupsOfFour(const float* v, int32_t count, Bounds& b)
{
    const int32_t groups = count / 4;
    __m128 lo[3], hi[3];
    for (int i = 0; i < 3; ++i) {
        lo[i] = _mm_set1_ps(FLT_MAX);
        hi[i] = _mm_set1_ps(-FLT_MAX);
    }
    for (int32_t g = 0; g < groups; ++g, v += 12) {
        for (int i = 0; i < 3; ++i) {
            const __m128 x = _mm_loadu_ps(v + 4 * i);
            lo[i] = _mm_min_ps(x, lo[i]);
            hi[i] = _mm_max_ps(x, hi[i]);
        }
    }
    alignas(16) float l[12], h[12];
    for (int i = 0; i < 3; ++i) {
        _mm_store_ps(l + 4 * i, lo[i]);
        _mm_store_ps(h + 4 * i, hi[i]);
    }
    for (int f = 0; f < 12; ++f) {
        const int axis = f % 3;
        if (l[f] < b.lo[axis]) b.lo[axis] = l[f];
        if (h[f] > b.hi[axis]) b.hi[axis] = h[f];
    }
    return groups * 4;
}

}  // namespace

extern "C" VEKR_API VekStatus VEK_CALL vekrSetBoundBox_32f(const float* pVertex, int32_t vertexCount, float* pBound)
{
    if (!pVertex) return vekStsNullPtrErr;

    Bounds b;
    const int32_t done = vertexCount > 0 ? accumulateGroupsOfFour(pVertex, vertexCount, b) : 0;
    for (int32_t i = done; i < vertexCount; ++i)
        for (int k = 0; k < 3; ++k) b.add(k, pVertex[3 * static_cast<ptrdiff_t>(i) + k]);

    // One margin for all six sides, relative to the largest coordinate
    // magnitude (never below the smallest normal float, so even a scene at
    // the origin gets a box of non-zero size).
    float magnitude = FLT_MIN;
    for (int k = 0; k < 3; ++k) {
        magnitude = std::fmax(magnitude, std::fabs(b.lo[k]));
        magnitude = std::fmax(magnitude, std::fabs(b.hi[k]));
    }
    const float e = 0.0001f * magnitude;
    for (int k = 0; k < 3; ++k) {
        pBound[k] = b.lo[k] - e;
        pBound[3 + k] = b.hi[k] + e;
    }
    return vekStsOk;
}
