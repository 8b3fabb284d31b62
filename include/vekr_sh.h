/**
 * @file vekr_sh.h
 * Real spherical harmonics and transforms. Include <vekr.h> rather than this
 * file.
 */
#ifndef VEKR_SH_H
#define VEKR_SH_H

#include "vekr_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @defgroup sh Spherical harmonics
 * Real orthonormal spherical harmonics (Condon-Shortley phase) of bands 0 to
 * 15 at unit directions, and forward (projection) and inverse
 * (reconstruction) transforms of one or three channels.
 *
 * A state (VekrSHState, in a caller buffer sized by vekrSHGetSize_32f)
 * chooses between closed forms in double precision (kind 0) and a float
 * recurrence (kind 1). Coefficient Y(l, m) of a band-limited function sits
 * at index l^2 + l + m. Every function runs on the calling thread with its
 * working blocks on the stack, allocates nothing, and may be called from
 * several threads at once (a state is only read).
 *
 * Example: project a function sampled at n unit directions onto bands 0 to
 * 3 and reconstruct it (examples/sh_projection.c is the full program).
 * @code
 * int32_t size;
 * vekrSHGetSize_32f(3, 1, &size);
 * VekrSHState* state = aligned_alloc(16, (size + 15) / 16 * 16);     // kind 1: 16-byte aligned
 * vekrSHInit_32f(state, 3, 1);
 * float coeffs[16] = { 0 };                                           // (3 + 1)^2, accumulated into
 * vekrSHTFwd_32f_C1I(x, y, z, values, n, coeffs, 3, state);
 * for (int j = 0; j < 16; ++j) coeffs[j] *= 4.0f * 3.14159265f / n;  // solid angle per sample
 * vekrSHTInv_32f_C1(coeffs, 3, x, y, z, smooth, n, state);
 * free(state);
 * @endcode
 * @{
 */

/**
 * Spherical-harmonics state, at the start of a caller-owned buffer sized by
 * vekrSHGetSize_32f and filled by vekrSHInit_32f. Kind 0 (direct) holds only
 * order and kind; kind 1 (recurrence) also holds two float tables of
 * recurrence factors inside the same buffer, which must be 16-byte aligned.
 *
 * On 32-bit targets the header is 16 bytes. On 64-bit targets the two
 * pointers make it 24 bytes: kind 0 then reports sizeof(VekrSHState), and
 * kind 1 reports 2 x A16(4m) + 32 bytes with table A 32 bytes after the first
 * 16-byte boundary of the buffer (A16 rounds up to a multiple of 16, m is the
 * table length (L + 1)(L + 2) / 2).
 */
typedef struct VekrSHState {
    uint32_t order;   /**< highest band that may be requested */
    int32_t kind;     /**< 0 direct, 1 recurrence */
    float* pTableA;   /**< kind 1: first factor table; kind 0: NULL */
    float* pTableB;   /**< kind 1: second factor table; kind 0: NULL */
} VekrSHState;

/**
 * Byte size of a state of the given order and kind.
 * @param order  highest band the state will allow (compared unsigned)
 * @param kind   0 direct (closed forms in double precision), 1 recurrence
 *               (single-precision recurrence over two factor tables)
 * @param pSize  receives the size
 *
 * Kind 0 needs sizeof(VekrSHState) bytes. Kind 1 needs 2 x A16(4m) + T bytes
 * (m = (L + 1)(L + 2) / 2, T = sizeof(VekrSHState) rounded up to 16: 16 on
 * 32-bit targets, 32 on 64-bit ones), laid out from a 16-byte aligned start.
 * Runs on the calling thread. On error *pSize is not written.
 * @retval vekStsNullPtrErr  pSize is null
 * @retval vekStsSizeErr     kind 0 with an order above 15 (a negative order
 *                           counts as large), or kind 1 with an order whose
 *                           size does not fit in int32 (the order is
 *                           otherwise not checked for kind 1, but
 *                           evaluation stops at 15)
 * @retval vekStsRangeErr    any other kind
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrSHGetSize_32f(uint32_t order, int32_t kind, int32_t* pSize);

/**
 * Builds a state in the caller's buffer of the size vekrSHGetSize_32f
 * reports. The buffer must be 16-byte aligned for kind 1, whose tables are
 * placed inside it (the reported size assumes that alignment).
 * @param pState  the buffer; zeroed over the reported size, then filled
 * @param order   highest band the state allows
 * @param kind    0 direct, 1 recurrence
 *
 * Checks and codes are those of vekrSHGetSize_32f, after the null check of
 * pState; on error the buffer is untouched. The state is never modified
 * afterwards and needs no release; it holds pointers into itself, so it
 * must not be moved or copied byte-wise to another address.
 * @retval vekStsNullPtrErr  pState is null
 * @retval vekStsSizeErr     as vekrSHGetSize_32f
 * @retval vekStsRangeErr    as vekrSHGetSize_32f
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrSHInit_32f(VekrSHState* pState, uint32_t order, int32_t kind);

/**
 * Evaluates the real orthonormal spherical harmonics (Condon-Shortley
 * phase) of bands 0 .. order at count unit directions (x[i], y[i], z[i]).
 * Direction i's (order + 1)^2 values start at pDst[i * (order + 1)^2];
 * Y(l, m) sits at l^2 + l + m within the block. Directions are used as
 * given: they must have unit length (nothing is normalised).
 * A kind-0 state evaluates closed-form polynomials in double precision and
 * rounds each value once to float. A kind-1 state runs the band-by-band
 * recurrence in float over the state's tables (four directions at a time
 * where possible, bit-identical to one at a time); it agrees with kind 0
 * to float rounding at low bands and a little less closely at band 15
 * (errors up to about 15 float epsilons of the band's largest value,
 * about 3e-6, against about 0.5 ulp for kind 0). Kind 1 uses about 20 KB
 * of stack for its working blocks; nothing is allocated.
 * @param pX      x components of the directions
 * @param pY      y components of the directions
 * @param pZ      z components of the directions
 * @param count   number of directions
 * @param pDst    count * (order + 1)^2 values (out)
 * @param order   highest band evaluated
 * @param pState  state from vekrSHInit_32f
 *
 * Check order:
 * @retval vekStsNullPtrErr  any of pX, pY, pZ, pDst, pState null
 * @retval vekStsSizeErr     count 0
 * @retval vekStsRangeErr    order above the state's order, or above 15, or a
 *                           state kind other than 0 and 1
 * @retval vekStsOk          negative count, with nothing written; otherwise
 */
VEKR_API VekStatus VEK_CALL vekrSH_32f(const float* pX, const float* pY, const float* pZ, int32_t count,
                                       float* pDst, uint32_t order, const VekrSHState* pState);

/**
 * Evaluates the single band `band` (closed forms in double precision, each
 * value rounded once to float) at count unit directions; needs no state.
 * Direction i's 2 band + 1 values start at pDst[i * (2 band + 1)], Y(band, m)
 * at offset band + m.
 * @param pX     x components of the directions
 * @param pY     y components of the directions
 * @param pZ     z components of the directions
 * @param count  number of directions
 * @param pDst   count * (2 band + 1) values (out)
 * @param band   the band, 0 to 15
 *
 * Check order:
 * @retval vekStsNullPtrErr  any of pX, pY, pZ, pDst null
 * @retval vekStsRangeErr    band above 15 (also when count is 0)
 * @retval vekStsSizeErr     count 0
 * @retval vekStsOk          negative count, with nothing written; otherwise
 */
VEKR_API VekStatus VEK_CALL vekrSHBand_32f(const float* pX, const float* pY, const float* pZ, int32_t count,
                                           float* pDst, uint32_t band);

/** @name Forward transforms
 * @{ */
/**
 * Forward transforms (projection), accumulating: for each sample i in
 * increasing order, the basis b of bands 0 .. order at (x[i], y[i], z[i])
 * (evaluated as vekrSH_32f does with pState) is scaled by the sample's value
 * v and added to the n = (order + 1)^2 coefficients: c[j] = c[j] + v b[j].
 * A value of exactly 1 adds b itself; a value of 0 (either sign) adds zeros.
 * The coefficients are never cleared (zero them for a fresh projection) and
 * no weighting by solid angle or sample count is applied. Channels are
 * independent: a three-channel call equals three one-channel calls bit for
 * bit. Working storage lives on the stack (under 40 KB); nothing is
 * allocated.
 *   C1I:   pSrc one value per sample; pCoeffs n floats.
 *   C3P3I: pSrc three interleaved values per sample (channel c of sample i
 *          at 3 i + c); pCoeffs three pointers to n floats each.
 *   P3I:   pSrc three pointers to planes of count values; pCoeffs as C3P3I.
 * @param pX       x components of the directions
 * @param pY       y components of the directions
 * @param pZ       z components of the directions
 * @param pSrc     the sample values (layout by variant, above)
 * @param count    number of samples
 * @param pCoeffs  the coefficients added to (layout by variant, above)
 * @param order    highest band
 * @param pState   state from vekrSHInit_32f
 *
 * Check order: the pointers null-checked in the order of the parameter list
 * (directions, values, coefficients, state), then the value planes (P3I)
 * and the coefficient planes: vekStsNullPtrErr; count 0: vekStsSizeErr;
 * order above the state's order: vekStsRangeErr; negative count: vekStsOk
 * with nothing done; order above 15 or an unknown state kind:
 * vekStsRangeErr. Nothing is written on error.
 * @retval vekStsNullPtrErr  a pointer or plane is null
 * @retval vekStsSizeErr     count 0
 * @retval vekStsRangeErr    order above the state's order or above 15, or an
 *                           unknown state kind
 * @retval vekStsOk          negative count, with nothing done; otherwise
 */
VEKR_API VekStatus VEK_CALL vekrSHTFwd_32f_C1I(const float* pX, const float* pY, const float* pZ,
                                               const float* pSrc, int32_t count, float* pCoeffs,
                                               uint32_t order, const VekrSHState* pState);
VEKR_API VekStatus VEK_CALL vekrSHTFwd_32f_C3P3I(const float* pX, const float* pY, const float* pZ,
                                                 const float* pSrc, int32_t count, float* const pCoeffs[3],
                                                 uint32_t order, const VekrSHState* pState);
VEKR_API VekStatus VEK_CALL vekrSHTFwd_32f_P3I(const float* pX, const float* pY, const float* pZ,
                                               const float* const pSrc[3], int32_t count,
                                               float* const pCoeffs[3], uint32_t order,
                                               const VekrSHState* pState);
/** @} */

/** @name Inverse transforms
 * @{ */
/**
 * Inverse transforms (reconstruction): for each sample i, the value of each
 * channel is the float dot product of that channel's n = (order + 1)^2
 * coefficients with the basis at (x[i], y[i], z[i]) (evaluated as
 * vekrSH_32f does with pState). Outputs are overwritten; coefficients are
 * only read. The dot product is summed in four interleaved partial sums,
 * so it may differ from a sequential sum in the last bits.
 *   C1:   pCoeffs n floats; pDst one value per sample.
 *   P3:   pCoeffs three pointers to n floats; pDst three planes.
 *   P3C3: pCoeffs three pointers; pDst three interleaved values per sample.
 * @param pCoeffs  the coefficients (layout by variant, above)
 * @param order    highest band
 * @param pX       x components of the directions
 * @param pY       y components of the directions
 * @param pZ       z components of the directions
 * @param pDst     the reconstructed values (out; layout by variant, above)
 * @param count    number of samples
 * @param pState   state from vekrSHInit_32f
 *
 * Check order: the pointers null-checked in the order of the parameter list
 * (coefficients, directions, values, state), then the coefficient planes
 * and the value planes (P3): vekStsNullPtrErr; count 0: vekStsSizeErr;
 * order above the state's order: vekStsRangeErr; negative count: vekStsOk
 * with nothing done; order above 15 or an unknown state kind:
 * vekStsRangeErr. Nothing is written on error.
 * @retval vekStsNullPtrErr  a pointer or plane is null
 * @retval vekStsSizeErr     count 0
 * @retval vekStsRangeErr    order above the state's order or above 15, or an
 *                           unknown state kind
 * @retval vekStsOk          negative count, with nothing done; otherwise
 */
VEKR_API VekStatus VEK_CALL vekrSHTInv_32f_C1(const float* pCoeffs, uint32_t order, const float* pX,
                                              const float* pY, const float* pZ, float* pDst, int32_t count,
                                              const VekrSHState* pState);
VEKR_API VekStatus VEK_CALL vekrSHTInv_32f_P3(const float* const pCoeffs[3], uint32_t order, const float* pX,
                                              const float* pY, const float* pZ, float* const pDst[3],
                                              int32_t count, const VekrSHState* pState);
VEKR_API VekStatus VEK_CALL vekrSHTInv_32f_P3C3(const float* const pCoeffs[3], uint32_t order,
                                                const float* pX, const float* pY, const float* pZ,
                                                float* pDst, int32_t count, const VekrSHState* pState);
/** @} */

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* VEKR_SH_H */
