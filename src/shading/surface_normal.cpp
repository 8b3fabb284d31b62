// Surface normals at the hit points: the hit triangle's own normal (flat) or
// the normal interpolated from its vertex normals and normalised (smooth).
//
// Both read interleaved per-triangle or per-vertex data at the hit
// triangle's number, so their 4-wide kernels gather one xyz triple per lane
// and transpose them into planes. A lane whose ray hit nothing reads nothing.

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/path_select.h"
#include "core/simd.h"
#include "shading/lanes.h"
#include "vekr.h"

namespace vekr::shading {
namespace {

// Squared lengths below the float epsilon (bits 0x34000000) have no usable
// direction; such normals come out as zero.
constexpr float kMinSquaredLength = 0x1p-23f;

// (p[0], p[1], p[2], 0), reading exactly three floats.
inline __m128 loadTriple(const float* p)
{
    // A 64-bit load with no alignment requirement: triples sit at any
    // multiple of 4 bytes.
    const __m128 xy = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    return _mm_movelh_ps(xy, _mm_load_ss(p + 2));
}

// Where the lanes of rays without a hit read from: nothing of the caller's
// is touched for them, and the gather needs no branch.
constexpr float kZeroTriple[3] = {0.0f, 0.0f, 0.0f};

// Four triples into x, y, z planes. The moves and shuffles keep every bit,
// NaN payloads included.
inline Lanes3 gatherTriples(const float* const triple[4])
{
    __m128 r0 = loadTriple(triple[0]);
    __m128 r1 = loadTriple(triple[1]);
    __m128 r2 = loadTriple(triple[2]);
    __m128 r3 = loadTriple(triple[3]);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    return {r0, r1, r2};
}

// ---- Flat normals --------------------------------------------------------

void flatNormalScalar(const float* triNorm, const int32_t* tri, float* const out[3], int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        const float* n = tri[i] < 0 ? nullptr : triNorm + 3 * static_cast<ptrdiff_t>(tri[i]);
        for (int k = 0; k < 3; ++k) out[k][i] = n ? n[k] : 0.0f;
    }
}

void flatNormalFourWide(const float* triNorm, const int32_t* tri, float* const out[3], int32_t count)
{
    for (int32_t i = 0; i < count; i += 4) {
        const float* triple[4];
        for (int j = 0; j < 4; ++j)
            triple[j] = tri[i + j] < 0 ? kZeroTriple : triNorm + 3 * static_cast<ptrdiff_t>(tri[i + j]);
        store3<AlignedAccess>(out, i, gatherTriples(triple));
    }
}

bool flatNormalTakesFourWide(const float* triNorm, const int32_t* tri, float* const out[3], int32_t count)
{
    return takesFourWidePath(count, triNorm, tri, out[0], out[1], out[2]);
}

// ---- Smooth normals ------------------------------------------------------

struct SmoothArgs {
    const float* vertNorm;
    const int32_t* index;
    const int32_t* tri;
    const float* u;
    const float* v;
    int32_t stride;
};

// The three vertex numbers of the triangle hit by ray i.
inline const int32_t* triangleVertices(const SmoothArgs& a, int32_t i)
{
    return a.index + static_cast<ptrdiff_t>(a.tri[i]) * a.stride;
}

inline const float* vertexNormal(const SmoothArgs& a, int32_t vertex)
{
    return a.vertNorm + 3 * static_cast<ptrdiff_t>(vertex);
}

// The normalised interpolated normal of active ray i, left at zero when its
// squared length is below the epsilon.
void smoothNormalOne(const SmoothArgs& a, int32_t i, float unit[3])
{
    const int32_t* vtx = triangleVertices(a, i);
    const float* n0 = vertexNormal(a, vtx[0]);
    const float* n1 = vertexNormal(a, vtx[1]);
    const float* n2 = vertexNormal(a, vtx[2]);
    const float u = a.u[i], v = a.v[i];
    const float w = (1.0f - u) - v;
    float n[3];
    for (int k = 0; k < 3; ++k) n[k] = (n2[k] * w) + ((n1[k] * v) + (n0[k] * u));
    const float lengthSq = ((n[2] * n[2]) + (n[1] * n[1])) + (n[0] * n[0]);
    if (lengthSq < kMinSquaredLength) return;
    const float length = std::sqrt(lengthSq);
    for (int k = 0; k < 3; ++k) unit[k] = n[k] / length;
}

void smoothNormalScalar(const SmoothArgs& a, float* const out[3], int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        float unit[3] = {0.0f, 0.0f, 0.0f};
        if (a.tri[i] >= 0) smoothNormalOne(a, i, unit);
        for (int k = 0; k < 3; ++k) out[k][i] = unit[k];
    }
}

// Lane j's interpolated normal as (x, y, z, 0): the three vertex normals
// are blended as loaded, so only the sum needs transposing into planes. A
// lane without a hit reads no vertex data and gives zero.
template <int j>
inline __m128 blendLane(const SmoothArgs& a, int32_t i, __m128 u, __m128 v, __m128 w)
{
    if (a.tri[i + j] < 0) return _mm_setzero_ps();
    const int32_t* vtx = triangleVertices(a, i + j);
    const __m128 uj = _mm_shuffle_ps(u, u, _MM_SHUFFLE(j, j, j, j));
    const __m128 vj = _mm_shuffle_ps(v, v, _MM_SHUFFLE(j, j, j, j));
    const __m128 wj = _mm_shuffle_ps(w, w, _MM_SHUFFLE(j, j, j, j));
    const __m128 n0 = loadTriple(vertexNormal(a, vtx[0]));
    const __m128 n1 = loadTriple(vertexNormal(a, vtx[1]));
    const __m128 n2 = loadTriple(vertexNormal(a, vtx[2]));
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(n0, uj), _mm_mul_ps(n1, vj)), _mm_mul_ps(n2, wj));
}

// Normalises with the reciprocal-square-root estimate and one Newton-Raphson
// step instead of a division by the exact root: about 22 bits, at a
// fraction of the cost. The weighted terms are summed as
// ((N0 u) + (N1 v)) + (N2 w), unlike the scalar loop.
void smoothNormalFourWide(const SmoothArgs& a, float* const out[3], int32_t count)
{
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 minusHalf = _mm_set1_ps(-0.5f);
    const __m128 three = _mm_set1_ps(3.0f);
    const __m128 minLengthSq = _mm_set1_ps(kMinSquaredLength);
    for (int32_t i = 0; i < count; i += 4) {
        const __m128 inactive = inactiveLanes(AlignedAccess::loadi(a.tri + i));
        if (noLaneActive(inactive)) {
            store3<AlignedAccess>(out, i, _mm_setzero_ps());
            continue;
        }
        const __m128 u = _mm_load_ps(a.u + i);
        const __m128 v = _mm_load_ps(a.v + i);
        const __m128 w = _mm_sub_ps(_mm_sub_ps(one, u), v);
        __m128 nx = blendLane<0>(a, i, u, v, w);
        __m128 ny = blendLane<1>(a, i, u, v, w);
        __m128 nz = blendLane<2>(a, i, u, v, w);
        __m128 spare = blendLane<3>(a, i, u, v, w);
        _MM_TRANSPOSE4_PS(nx, ny, nz, spare);
        const __m128 lengthSq = _mm_add_ps(_mm_add_ps(_mm_mul_ps(nz, nz), _mm_mul_ps(ny, ny)), _mm_mul_ps(nx, nx));
        const __m128 r0 = _mm_and_ps(_mm_rsqrt_ps(lengthSq), _mm_cmpgt_ps(lengthSq, minLengthSq));
        const __m128 r1 = _mm_mul_ps(_mm_mul_ps(r0, minusHalf),
                                     _mm_sub_ps(_mm_mul_ps(_mm_mul_ps(lengthSq, r0), r0), three));
        const Lanes3 unit = {_mm_mul_ps(nx, r1), _mm_mul_ps(ny, r1), _mm_mul_ps(nz, r1)};
        store3<AlignedAccess>(out, i, clearLanes(inactive, unit));
    }
}

bool smoothNormalTakesFourWide(const SmoothArgs& a, float* const out[3], int32_t count)
{
    return takesFourWidePath(count, a.vertNorm, a.index, a.tri, out[0], out[1], out[2], a.u, a.v);
}

}  // namespace
}  // namespace vekr::shading

using namespace vekr::shading;

extern "C" VEKR_API VekStatus VEK_CALL vekrSurfFlatNormal_32f(const float* pTriNorm, const int32_t* pTriangle,
                                                              float* const pSurfNorm[3], int32_t count)
{
    if (!pTriNorm || !pTriangle || !pSurfNorm) return vekStsNullPtrErr;
    if (count < 1) return vekStsOk;
    if (flatNormalTakesFourWide(pTriNorm, pTriangle, pSurfNorm, count))
        flatNormalFourWide(pTriNorm, pTriangle, pSurfNorm, count);
    else
        flatNormalScalar(pTriNorm, pTriangle, pSurfNorm, count);
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrSurfSmoothNormal_32f(const float* pVertNorm, const int32_t* pIndex,
                                                                const int32_t* pTriangle,
                                                                const float* const pHitUV[2],
                                                                float* const pSurfNorm[3], int32_t count,
                                                                int32_t stride)
{
    if (!pVertNorm || !pIndex || !pTriangle || !pHitUV || !pSurfNorm) return vekStsNullPtrErr;
    if (count < 1) return vekStsOk;
    const SmoothArgs args = {pVertNorm, pIndex, pTriangle, pHitUV[0], pHitUV[1], stride};
    if (smoothNormalTakesFourWide(args, pSurfNorm, count))
        smoothNormalFourWide(args, pSurfNorm, count);
    else
        smoothNormalScalar(args, pSurfNorm, count);
    return vekStsOk;
}
