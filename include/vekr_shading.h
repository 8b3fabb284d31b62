/**
 * @file vekr_shading.h
 * Ray generation and per-ray shading primitives.
 * Include <vekr.h> rather than this file.
 *
 * Every function here works element by element on packets of rays stored in
 * planar layout:
 *  - a P3 argument is an array of three pointers to the x, y and z planes,
 *    one float per element in each plane (only the array of pointers is
 *    checked for null, never the plane pointers);
 *  - a point argument is three consecutive floats (an origin, a light
 *    position, per-component constants); it is never checked for null;
 *  - a mask is the triangle-number array of an intersection: a negative entry
 *    marks an element inactive (the ray hit nothing), 0 or above active.
 *
 * Common rules:
 *  - Pointers are checked for null in the order each function lists; the
 *    first null gives vekStsNullPtrErr (-8) and nothing is read or written.
 *    This holds whatever the count.
 *  - A count below 1 returns vekStsOk and touches nothing.
 *  - Each function has a 4-wide SSE path, taken when the count is a multiple
 *    of 4 and the arrays it names are 16-byte aligned, and a scalar path
 *    otherwise. The paths give bit-identical results unless the function's
 *    documentation names a difference. An inactive element's output never
 *    depends on its inputs.
 *  - No function normalises a direction unless it says so.
 */
#ifndef VEKR_SHADING_H
#define VEKR_SHADING_H

#include "vekr_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @defgroup shading Ray generation and shading
 * Eye, reflection and shadow rays, hit points, surface normals and masked
 * shading arithmetic on planar packets of rays.
 *
 * Every function works element by element on P3 packets (three planes x, y,
 * z) under a mask (the triangle-number output of an intersection: a negative
 * entry marks an inactive ray). Pointers are checked for null in the order
 * each function lists, the first null giving ::vekStsNullPtrErr whatever the
 * count; a count below 1 returns ::vekStsOk and touches nothing. Each
 * function has a 4-wide SSE path, taken when the count is a multiple of 4
 * and the arrays it names are 16-byte aligned, and a scalar path; each
 * function's description says where the two differ. Every function runs on
 * the calling thread and may be called from several threads at once on
 * different arrays. See @ref conventions.
 *
 * Example: Lambert shading of one block of eye rays after
 * vekrIntersectEyeSO_32f (tri is its triangle-number output, n = w * h).
 * @code
 * vekrHitPoint3DEpsS0_32f_M(eye, dir, dist, tri, hit, n, 0.9999f);  // just short of the surface
 * vekrSurfFlatNormal_32f(triNormals, tri, normal, n);
 * vekrDotChangeNorm_32f_IM(dir, tri, normal, side, n);              // normals face the eye
 * vekrCastShadowSO_32f(light, side, normal, hit, tri, cosine, toHit, n);
 * vekrIntersectAnySO_32f(light, toHit, blocker, tri, blockSize, &scene);  // tri < 0: in shadow
 * vekrDistAttenuationSO_32f_M(light, hit, tri, atten, n);
 * vekrDiv_32f_C1IM(atten, tri, cosine, n);                          // |N . D| / |D|: the cosine
 * vekrAddMulMul_32f_AC1P3IM(lightColour, cosine, albedo, tri, colour, n);
 * @endcode
 * @{
 */

/** @name Ray generation
 * @{ */

/**
 * Directions of a block of eye rays. The ray through pixel (col, row) of the
 * whole image has direction
 *     origin + colStep * col + rowStep * row
 * where origin is the direction through pixel (0, 0), not the eye position
 * (the eye is the common origin of the intersection calls). Pass the
 * direction through the pixel's centre, or its corner, as the camera wants.
 * and the block (blockCol, blockRow) of size blockSize starts at image pixel
 * (blockCol * blockSize.width, blockRow * blockSize.height); those products
 * are formed in 32-bit integer arithmetic. outputSize.width x
 * outputSize.height directions are written row-major to pDst (element
 * row * width + col of each plane). Directions are not normalised.
 *
 * Only pDst is checked (-8); origin, colStep and rowStep are not, and are not
 * read when the output size is empty.
 *
 * Paths: 4-wide when outputSize.width is a multiple of 4 (any alignment);
 * scalar otherwise. The 4-wide path forms each row's base by repeated
 * addition of rowStep and each value as colStep * col + rowBase, the scalar
 * path as (rowStep * row + origin) + colStep * col, so the two agree up to
 * float rounding only.
 *
 * @param origin      direction through pixel (0, 0) of the whole image
 * @param colStep     change of direction from one column to the next
 * @param rowStep     change of direction from one row to the next
 * @param blockCol    column number of the block
 * @param blockRow    row number of the block
 * @param blockSize   size of every block; places the block in the image
 * @param pDst        three planes of outputSize.width x outputSize.height
 *                    directions (out)
 * @param outputSize  number of directions written per row and rows
 * @retval vekStsNullPtrErr  pDst is null
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrCastEye_32f(const float origin[3], const float colStep[3], const float rowStep[3],
                                            int32_t blockCol, int32_t blockRow, VekrSize blockSize,
                                            float* const pDst[3], VekrSize outputSize);

/**
 * Mirror directions: for an active ray, R = I - 2 (I . N) N with I the
 * incident direction and N the normal as given (only a unit normal gives a
 * true mirror direction); an inactive ray gets (0, 0, 0).
 *
 * Null checks in order: pIncident, pMask, pNormal, pReflected.
 *
 * Paths: 4-wide when count is a multiple of 4 (aligned or not); scalar
 * otherwise. The dot product is summed x+y+z on the 4-wide path and
 * (y+z)+x on the scalar path, so results agree up to float rounding only.
 *
 * @param pIncident   P3 incident directions
 * @param pMask       mask, one entry per ray
 * @param pNormal     P3 surface normals
 * @param pReflected  P3 mirror directions (out)
 * @param count       number of rays
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrCastReflectionRay_32f(const float* const pIncident[3], const int32_t* pMask,
                                                      const float* const pNormal[3], float* const pReflected[3],
                                                      int32_t count);

/**
 * Shadow rays from one light to the hit points. For an active ray,
 * D = hitPoint - light and dot = N . D; the ray is cast when |dot| is at
 * least 0.0017453292 (0.1 degree in radians) and the float product
 * pSide[i] * dot is greater than 0 (hit point and light on the same side, as
 * the side value states). A cast ray gets pDot[i] = |dot|, pDir = D and
 * keeps its mask entry; any other ray gets pDot[i] = 0, pDir = (0, 0, 0) and
 * the mask entry -1, ready for the any-hit test.
 *
 * Typical use: pSide is the pDot output of vekrDotChangeNorm_32f_IM run on
 * the eye rays and the hit normals (the dot product of each eye ray with its
 * normal turned towards the eye), so that a ray is cast only where the
 * light and the eye are on the same side of the surface;
 * pMask is usually the triangle-number output of the eye-ray intersection,
 * which is overwritten, so copy it first if the numbers are still needed.
 * Pull the hit points slightly towards the eye (for instance t * 0.9999)
 * before casting, or a surface may block its own shadow ray.
 *
 * Null checks in order: pSide, pNormal, pHit, pMask, pDir, pDot (note: the
 * direction planes are checked before the dot magnitudes).
 *
 * Paths: the first count - count % 4 rays always run 4-wide (aligned or
 * not), the remaining count % 4 one at a time, with identical decisions and
 * values. The one difference: a ray inactive on entry has its mask rewritten
 * to -1 among the first count - count % 4 rays, but keeps its (negative)
 * entry among the last count % 4.
 *
 * @param light    light position (point)
 * @param pSide    per-ray side value (C1)
 * @param pNormal  P3 surface normals at the hit points
 * @param pHit     P3 hit points
 * @param pMask    mask (in); -1 for every ray not cast (out)
 * @param pDot     |N . D| of a cast ray, 0 otherwise (out, C1)
 * @param pDir     P3 shadow directions from the light to the hit points (out)
 * @param count    number of rays
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrCastShadowSO_32f(const float light[3], const float* pSide,
                                                 const float* const pNormal[3], const float* const pHit[3],
                                                 int32_t* pMask, float* pDot, float* const pDir[3], int32_t count);

/** @} */

/** @name Hit points and surface normals
 * @{ */

/**
 * Hit points of rays sharing one origin: hit = origin + dir * dist * eps for
 * an active ray (pTriangle[i] >= 0), (0, 0, 0) for an inactive one. eps is a
 * plain factor on the distance; slightly below 1 places the point just short
 * of the surface.
 *
 * Null checks in order: pDist, pTriangle, pDir, pHit (origin is not checked).
 *
 * Paths: 4-wide when count is a multiple of 4 and pDist, pTriangle and the
 * planes of pDir and pHit are 16-byte aligned; scalar otherwise. The scalar
 * path multiplies (dir * eps) * dist, the 4-wide path (dir * dist) * eps, so
 * results agree up to float rounding only.
 *
 * @param origin     the common ray origin (point)
 * @param pDir       P3 ray directions
 * @param pDist      hit distances t (C1)
 * @param pTriangle  mask: the triangle numbers of the intersection
 * @param pHit       P3 hit points (out)
 * @param count      number of rays
 * @param eps        factor on the distance
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrHitPoint3DEpsS0_32f_M(const float origin[3], const float* const pDir[3],
                                                      const float* pDist, const int32_t* pTriangle,
                                                      float* const pHit[3], int32_t count, float eps);

/**
 * Hit points of rays with an origin each: as vekrHitPoint3DEpsS0_32f_M with
 * origin i taken from the planes of pOrigin.
 *
 * Null checks in order: pDist, pTriangle, pDir, pHit, pOrigin.
 *
 * Paths: 4-wide when count is a multiple of 4 and pDist, pTriangle and the
 * planes of pOrigin, pDir and pHit are 16-byte aligned; scalar otherwise;
 * same rounding difference as the single-origin form.
 *
 * @param pOrigin    P3 ray origins
 * @param pDir       P3 ray directions
 * @param pDist      hit distances t (C1)
 * @param pTriangle  mask: the triangle numbers of the intersection
 * @param pHit       P3 hit points (out)
 * @param count      number of rays
 * @param eps        factor on the distance
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrHitPoint3DEpsM0_32f_M(const float* const pOrigin[3], const float* const pDir[3],
                                                      const float* pDist, const int32_t* pTriangle,
                                                      float* const pHit[3], int32_t count, float eps);

/**
 * Flat normals: for an active ray with triangle number t, the normal is
 * pTriNorm[3t], pTriNorm[3t+1], pTriNorm[3t+2] copied bit for bit (not
 * normalised); an inactive ray gets (0, 0, 0).
 *
 * Null checks in order: pTriNorm, pTriangle, pSurfNorm.
 *
 * Paths: 4-wide when count is a multiple of 4 and pTriNorm, pTriangle and the
 * planes of pSurfNorm are 16-byte aligned; scalar otherwise. Results are
 * identical; neither path reads a triangle normal for an inactive ray.
 *
 * @param pTriNorm   three interleaved floats per triangle (vekrTriangleNormal_32f)
 * @param pTriangle  mask: the triangle numbers of the intersection
 * @param pSurfNorm  P3 normals (out)
 * @param count      number of rays
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrSurfFlatNormal_32f(const float* pTriNorm, const int32_t* pTriangle,
                                                   float* const pSurfNorm[3], int32_t count);

/**
 * Smooth normals: for an active ray with triangle number t and barycentric
 * pair (u, v), the vertices i0, i1, i2 are pIndex[t*stride + 0, 1, 2] and the
 * normal is u N[i0] + v N[i1] + (1 - u - v) N[i2], normalised; a result whose
 * squared length is below the float epsilon (1.1920929e-7) becomes
 * (0, 0, 0). An inactive ray gets (0, 0, 0) and reads no vertex data.
 * pVertNorm holds three floats per vertex; stride is the number of int32
 * entries per triangle in pIndex (at least 3 for plain index triples).
 *
 * Null checks in order: pVertNorm, pIndex, pTriangle, pHitUV, pSurfNorm.
 *
 * Paths: 4-wide when count is a multiple of 4 and pVertNorm, pIndex,
 * pTriangle, both planes of pHitUV and the planes of pSurfNorm are 16-byte
 * aligned; scalar otherwise. The scalar path divides by the exact square
 * root; the 4-wide path multiplies by a refined reciprocal-square-root
 * estimate, accurate to about 22 bits. At the boundary: a squared length
 * exactly equal to the epsilon gives (0, 0, 0) on the 4-wide path but is
 * normalised on the scalar path, and zeros below the epsilon may carry a
 * negative sign on the 4-wide path.
 *
 * @param pVertNorm  three interleaved floats per vertex
 * @param pIndex     vertex numbers, stride int32 entries per triangle
 * @param pTriangle  mask: the triangle numbers of the intersection
 * @param pHitUV     two planes u, v of the intersection
 * @param pSurfNorm  P3 normals (out)
 * @param count      number of rays
 * @param stride     int32 entries per triangle in pIndex
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrSurfSmoothNormal_32f(const float* pVertNorm, const int32_t* pIndex,
                                                     const int32_t* pTriangle, const float* const pHitUV[2],
                                                     float* const pSurfNorm[3], int32_t count, int32_t stride);

/** @} */

/** @name Shading arithmetic
 * @{ */

/**
 * Dot products: pDst[i] = a.x b.x + a.y b.y + a.z b.z (summed left to right)
 * for an active element, 0 for an inactive one (even with NaN inputs).
 *
 * Null checks in order: pSrc1, pSrc2, pMask, pDst.
 *
 * Paths: 4-wide when count is a multiple of 4 and the planes of both
 * sources, pMask and pDst are 16-byte aligned; identical results.
 *
 * @param pSrc1  P3 vectors a
 * @param pSrc2  P3 vectors b
 * @param pMask  mask, one entry per element
 * @param pDst   dot products (out, C1)
 * @param count  number of elements
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrDot_32f_P3C1M(const float* const pSrc1[3], const float* const pSrc2[3],
                                              const int32_t* pMask, float* pDst, int32_t count);

/**
 * Turns normals to face against their vectors. For an active element,
 * d = v . n; when d > 0 the normal is negated and pDot[i] = -d, otherwise
 * (d zero, negative or NaN) the normal is left as it is and pDot[i] = d. An
 * inactive element gets pDot[i] = 0 and keeps its normal.
 *
 * Null checks in order: pVec, pMask, pNormal, pDot.
 *
 * Paths: 4-wide when count is a multiple of 4 and the planes of pVec and
 * pNormal, pMask and pDot are 16-byte aligned; identical results.
 *
 * @param pVec     P3 vectors v (for instance the eye-ray directions)
 * @param pMask    mask, one entry per element
 * @param pNormal  P3 normals n (in and out)
 * @param pDot     the dot product after turning (out, C1)
 * @param count    number of elements
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrDotChangeNorm_32f_IM(const float* const pVec[3], const int32_t* pMask,
                                                     float* const pNormal[3], float* pDot, int32_t count);

/**
 * pSrcDst[i] *= pSrc[i] for an active element; 0 for an inactive one.
 *
 * Null checks in order: pSrc, pMask, pSrcDst. One path for all arrays.
 *
 * @param pSrc     factors (C1)
 * @param pMask    mask, one entry per element
 * @param pSrcDst  values scaled in place (C1)
 * @param count    number of elements
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrMul_32f_C1IM(const float* pSrc, const int32_t* pMask, float* pSrcDst,
                                             int32_t count);

/**
 * Scales each of the three planes by a per-element factor:
 * pSrcDst[k][i] *= pSrc[i] for an active element; all three planes 0 for an
 * inactive one.
 *
 * Null checks in order: pSrc, pMask, pSrcDst.
 *
 * Paths: 4-wide when count is a multiple of 4 and pSrc, pMask and the three
 * planes are 16-byte aligned; identical results.
 *
 * @param pSrc     factors (C1)
 * @param pMask    mask, one entry per element
 * @param pSrcDst  P3 values scaled in place
 * @param count    number of elements
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrMul_32f_C1P3IM(const float* pSrc, const int32_t* pMask, float* const pSrcDst[3],
                                               int32_t count);

/**
 * pSrcDst[i] /= pSrc[i] for an active element; 0 for an inactive one. A zero
 * divisor (of either sign) gives +infinity for a positive value, -infinity
 * for a negative one and the quiet NaN with bits 0xFFC00000 for a zero or
 * NaN value. A NaN divisor is divided by.
 *
 * Null checks in order: pSrc, pMask, pSrcDst. One path for all arrays.
 *
 * @param pSrc     divisors (C1)
 * @param pMask    mask, one entry per element
 * @param pSrcDst  values divided in place (C1)
 * @param count    number of elements
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrDiv_32f_C1IM(const float* pSrc, const int32_t* pMask, float* pSrcDst,
                                             int32_t count);

/**
 * Accumulates a contribution: pSrcDst[k][i] += pSrc2[k][i] * val[k] * pSrc1[i]
 * for an active element; an inactive element's accumulator is left as it is.
 *
 * Null checks in order: pSrc1, pSrc2, pMask, pSrcDst (val is not checked).
 *
 * Paths: 4-wide when count is a multiple of 4 and pSrc1, pMask and the
 * planes of pSrc2 and pSrcDst are 16-byte aligned; scalar otherwise. The
 * scalar path multiplies (src * val) * factor, the 4-wide path
 * (src * factor) * val, so results agree up to float rounding only.
 *
 * @param val      one constant per plane (point), e.g. a light's colour
 * @param pSrc1    per-element factors (C1)
 * @param pSrc2    P3 sources, e.g. surface colours
 * @param pMask    mask, one entry per element
 * @param pSrcDst  P3 accumulators (in and out)
 * @param count    number of elements
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrAddMulMul_32f_AC1P3IM(const float val[3], const float* pSrc1,
                                                      const float* const pSrc2[3], const int32_t* pMask,
                                                      float* const pSrcDst[3], int32_t count);

/**
 * Distance attenuation from one light: with q the squared distance from the
 * light to point i, pDst[i] = sqrt(q) when q > 1 and 1.0 otherwise (never
 * below 1), and 1.0 for an inactive element, so that a following
 * vekrDiv_32f_C1IM leaves inactive values as they are.
 *
 * Null checks in order: pSrc, pMask, pDst (light is not checked).
 *
 * Paths: 4-wide when count is a multiple of 4 and the planes of pSrc, pMask
 * and pDst are 16-byte aligned; scalar otherwise. Identical for every
 * non-NaN q; a NaN q gives 1.0 on the 4-wide path and NaN on the scalar path.
 *
 * @param light  light position (point)
 * @param pSrc   P3 points
 * @param pMask  mask, one entry per element
 * @param pDst   attenuation divisors (out, C1)
 * @param count  number of elements
 * @retval vekStsNullPtrErr  a pointer is null (checked in the order above)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrDistAttenuationSO_32f_M(const float light[3], const float* const pSrc[3],
                                                        const int32_t* pMask, float* pDst, int32_t count);
/** @} */

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* VEKR_SHADING_H */
