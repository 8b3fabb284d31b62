// Per-ray shading arithmetic under a hit mask: dot products, facing
// normals, scaling, division, accumulation and distance attenuation.
//
// Inactive elements (mask < 0) get a fixed value or are left as they are,
// never something computed from their inputs. The 4-wide kernels take only
// aligned arrays; everything else runs the scalar loop.

#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/path_select.h"
#include "core/simd.h"
#include "shading/lanes.h"
#include "vekr.h"

namespace vekr::shading {
namespace {

using A = AlignedAccess;

inline __m128 laneInactive(const int32_t* mask, int32_t i)
{
    return inactiveLanes(A::loadi(mask + i));
}

inline __m128 signBit()
{
    return _mm_castsi128_ps(_mm_set1_epi32(static_cast<int32_t>(0x80000000u)));
}

// ---- Dot products --------------------------------------------------------

void dotScalar(const float* const a[3], const float* const b[3], const int32_t* mask, float* dst, int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        dst[i] = mask[i] < 0 ? 0.0f : dotXYZ(a[0][i], a[1][i], a[2][i], b[0][i], b[1][i], b[2][i]);
}

void dotFourWide(const float* const a[3], const float* const b[3], const int32_t* mask, float* dst, int32_t count)
{
    for (int32_t i = 0; i < count; i += 4) {
        const __m128 inactive = laneInactive(mask, i);
        if (noLaneActive(inactive)) {
            A::store(dst + i, _mm_setzero_ps());
            continue;
        }
        A::store(dst + i, clearLanes(inactive, dotXYZ(load3<A>(a, i), load3<A>(b, i))));
    }
}

// ---- Normals facing against their vectors ---------------------------------

void faceNormalsScalar(const float* const vec[3], const int32_t* mask, float* const nrm[3], float* dot,
                       int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        if (mask[i] < 0) {
            dot[i] = 0.0f;
            continue;
        }
        const float d = dotXYZ(vec[0][i], vec[1][i], vec[2][i], nrm[0][i], nrm[1][i], nrm[2][i]);
        if (d > 0.0f) {
            for (int k = 0; k < 3; ++k) nrm[k][i] = -nrm[k][i];
            dot[i] = -d;
        } else {
            dot[i] = d;
        }
    }
}

// Flips the sign bits of the normal and of d in the active lanes where d > 0;
// inactive lanes store their normal back unchanged.
void faceNormalsFourWide(const float* const vec[3], const int32_t* mask, float* const nrm[3], float* dot,
                         int32_t count)
{
    const __m128 sign = signBit();
    for (int32_t i = 0; i < count; i += 4) {
        const __m128 inactive = laneInactive(mask, i);
        if (noLaneActive(inactive)) {
            A::store(dot + i, _mm_setzero_ps());
            continue;
        }
        const Lanes3 n = load3<A>(nrm, i);
        const __m128 d = dotXYZ(load3<A>(vec, i), n);
        const __m128 flip = _mm_and_ps(_mm_andnot_ps(inactive, _mm_cmpgt_ps(d, _mm_setzero_ps())), sign);
        store3<A>(nrm, i, Lanes3{_mm_xor_ps(n.x, flip), _mm_xor_ps(n.y, flip), _mm_xor_ps(n.z, flip)});
        A::store(dot + i, clearLanes(inactive, _mm_xor_ps(d, flip)));
    }
}

// ---- Scaling and division (one path) -------------------------------------

void mulScalar(const float* factor, const int32_t* mask, float* value, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) value[i] = mask[i] < 0 ? 0.0f : value[i] * factor[i];
}

// Division that gives a defined result for a zero divisor of either sign:
// the signed infinity of the value, or the quiet NaN 0xFFC00000 when the
// value has no sign (zero or NaN).
inline float divideOrSaturate(float value, float divisor)
{
    if (divisor != 0.0f) return value / divisor;
    if (value > 0.0f) return HUGE_VALF;
    if (value < 0.0f) return -HUGE_VALF;
    const uint32_t negativeQuietNaN = 0xFFC00000u;
    float nan;
    std::memcpy(&nan, &negativeQuietNaN, sizeof nan);
    return nan;
}

void divScalar(const float* divisor, const int32_t* mask, float* value, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) value[i] = mask[i] < 0 ? 0.0f : divideOrSaturate(value[i], divisor[i]);
}

// ---- Scaling the three planes --------------------------------------------

void mulPlanesScalar(const float* factor, const int32_t* mask, float* const value[3], int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k) value[k][i] = mask[i] < 0 ? 0.0f : value[k][i] * factor[i];
}

void mulPlanesFourWide(const float* factor, const int32_t* mask, float* const value[3], int32_t count)
{
    for (int32_t i = 0; i < count; i += 4) {
        const __m128 inactive = laneInactive(mask, i);
        if (noLaneActive(inactive)) {
            store3<A>(value, i, _mm_setzero_ps());
            continue;
        }
        const __m128 f = A::load(factor + i);
        for (int k = 0; k < 3; ++k)
            A::store(value[k] + i, clearLanes(inactive, _mm_mul_ps(A::load(value[k] + i), f)));
    }
}

// ---- Accumulation ----------------------------------------------------------

void addMulMulScalar(const float* constant, const float* factor, const float* const src[3], const int32_t* mask,
                     float* const acc[3], int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        if (mask[i] < 0) continue;
        for (int k = 0; k < 3; ++k) acc[k][i] = ((src[k][i] * constant[k]) * factor[i]) + acc[k][i];
    }
}

// Multiplies by the per-element factor before the per-plane constant, unlike
// the scalar loop.
void addMulMulFourWide(const float* constant, const float* factor, const float* const src[3],
                       const int32_t* mask, float* const acc[3], int32_t count)
{
    const __m128 c[3] = {_mm_set1_ps(constant[0]), _mm_set1_ps(constant[1]), _mm_set1_ps(constant[2])};
    for (int32_t i = 0; i < count; i += 4) {
        const __m128 inactive = laneInactive(mask, i);
        if (noLaneActive(inactive)) continue;
        const __m128 f = A::load(factor + i);
        for (int k = 0; k < 3; ++k) {
            const __m128 old = A::load(acc[k] + i);
            const __m128 sum = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(A::load(src[k] + i), f), c[k]), old);
            A::store(acc[k] + i, select(inactive, old, sum));
        }
    }
}

// ---- Distance attenuation --------------------------------------------------

void attenuationScalar(const float* light, const float* const pts[3], const int32_t* mask, float* dst,
                       int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        if (mask[i] < 0) {
            dst[i] = 1.0f;
            continue;
        }
        const float dx = pts[0][i] - light[0], dy = pts[1][i] - light[1], dz = pts[2][i] - light[2];
        const float q = dotXYZ(dx, dy, dz, dx, dy, dz);
        dst[i] = q < 1.0f ? 1.0f : std::sqrt(q);
    }
}

// Takes the root of (q > 1 ? q : 1), so a NaN q gives 1.0 here where the
// scalar loop gives NaN.
void attenuationFourWide(const float* light, const float* const pts[3], const int32_t* mask, float* dst,
                         int32_t count)
{
    const __m128 one = _mm_set1_ps(1.0f);
    const Lanes3 l = {_mm_set1_ps(light[0]), _mm_set1_ps(light[1]), _mm_set1_ps(light[2])};
    for (int32_t i = 0; i < count; i += 4) {
        const __m128 inactive = laneInactive(mask, i);
        if (noLaneActive(inactive)) {
            A::store(dst + i, one);
            continue;
        }
        const Lanes3 p = load3<A>(pts, i);
        const Lanes3 d = {_mm_sub_ps(p.x, l.x), _mm_sub_ps(p.y, l.y), _mm_sub_ps(p.z, l.z)};
        const __m128 q = dotXYZ(d, d);
        // maxps yields its second operand when the first is NaN: q where
        // q > 1, 1 elsewhere, NaN included.
        const __m128 distance = _mm_sqrt_ps(_mm_max_ps(q, one));
        A::store(dst + i, select(inactive, one, distance));
    }
}

}  // namespace
}  // namespace vekr::shading

using namespace vekr::shading;
using vekr::takesFourWidePath;

extern "C" VEKR_API VekStatus VEK_CALL vekrDot_32f_P3C1M(const float* const pSrc1[3], const float* const pSrc2[3],
                                                         const int32_t* pMask, float* pDst, int32_t count)
{
    if (!pSrc1 || !pSrc2 || !pMask || !pDst) return vekStsNullPtrErr;
    if (count < 1) return vekStsOk;
    if (takesFourWidePath(count, pSrc1[0], pSrc1[1], pSrc1[2], pSrc2[0], pSrc2[1], pSrc2[2], pMask, pDst))
        dotFourWide(pSrc1, pSrc2, pMask, pDst, count);
    else
        dotScalar(pSrc1, pSrc2, pMask, pDst, count);
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrDotChangeNorm_32f_IM(const float* const pVec[3], const int32_t* pMask,
                                                                float* const pNormal[3], float* pDot,
                                                                int32_t count)
{
    if (!pVec || !pMask || !pNormal || !pDot) return vekStsNullPtrErr;
    if (count < 1) return vekStsOk;
    if (takesFourWidePath(count, pVec[0], pVec[1], pVec[2], pNormal[0], pNormal[1], pNormal[2], pMask, pDot))
        faceNormalsFourWide(pVec, pMask, pNormal, pDot, count);
    else
        faceNormalsScalar(pVec, pMask, pNormal, pDot, count);
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrMul_32f_C1IM(const float* pSrc, const int32_t* pMask, float* pSrcDst,
                                                        int32_t count)
{
    if (!pSrc || !pMask || !pSrcDst) return vekStsNullPtrErr;
    mulScalar(pSrc, pMask, pSrcDst, count);
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrMul_32f_C1P3IM(const float* pSrc, const int32_t* pMask,
                                                          float* const pSrcDst[3], int32_t count)
{
    if (!pSrc || !pMask || !pSrcDst) return vekStsNullPtrErr;
    if (count < 1) return vekStsOk;
    if (takesFourWidePath(count, pSrc, pMask, pSrcDst[0], pSrcDst[1], pSrcDst[2]))
        mulPlanesFourWide(pSrc, pMask, pSrcDst, count);
    else
        mulPlanesScalar(pSrc, pMask, pSrcDst, count);
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrDiv_32f_C1IM(const float* pSrc, const int32_t* pMask, float* pSrcDst,
                                                        int32_t count)
{
    if (!pSrc || !pMask || !pSrcDst) return vekStsNullPtrErr;
    divScalar(pSrc, pMask, pSrcDst, count);
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrAddMulMul_32f_AC1P3IM(const float val[3], const float* pSrc1,
                                                                 const float* const pSrc2[3], const int32_t* pMask,
                                                                 float* const pSrcDst[3], int32_t count)
{
    if (!pSrc1 || !pSrc2 || !pMask || !pSrcDst) return vekStsNullPtrErr;
    if (count < 1) return vekStsOk;
    if (takesFourWidePath(count, pSrc1, pMask, pSrc2[0], pSrc2[1], pSrc2[2], pSrcDst[0], pSrcDst[1], pSrcDst[2]))
        addMulMulFourWide(val, pSrc1, pSrc2, pMask, pSrcDst, count);
    else
        addMulMulScalar(val, pSrc1, pSrc2, pMask, pSrcDst, count);
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrDistAttenuationSO_32f_M(const float light[3], const float* const pSrc[3],
                                                                   const int32_t* pMask, float* pDst, int32_t count)
{
    if (!pSrc || !pMask || !pDst) return vekStsNullPtrErr;
    if (count < 1) return vekStsOk;
    if (takesFourWidePath(count, pSrc[0], pSrc[1], pSrc[2], pMask, pDst))
        attenuationFourWide(light, pSrc, pMask, pDst, count);
    else
        attenuationScalar(light, pSrc, pMask, pDst, count);
    return vekStsOk;
}
