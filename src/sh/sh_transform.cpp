// The six spherical-harmonics transforms: forward (accumulating projection)
// and inverse (reconstruction), one or three channels.
//
// Each sample's basis comes from the same evaluation as vekrSH_32f. The
// basis of a few consecutive samples is evaluated together (the recurrence
// kind runs four directions per vector), then the samples are applied one
// by one in increasing order, so the sums are exactly those of a
// sample-by-sample loop. All working storage is one fixed block on the
// stack.

#include <pmmintrin.h>

#include <algorithm>

#include "sh/sh_basis.h"
#include "sh/sh_state.h"

namespace vekr {
namespace {

// Samples whose basis is evaluated in one go: the widest step of the
// recurrence kernel (four vectors of four directions).
constexpr int32_t kChunk = 16;

// The checks every transform makes after its null checks. `work` tells
// whether any sample is to be processed. A state the basis evaluation
// would refuse at the first sample is refused here, before anything is
// written, which is what a caller observes either way.
VekStatus checkTransform(int32_t count, uint32_t order, const VekrSHState& state, bool& work)
{
    work = false;
    if (count == 0) return vekStsSizeErr;
    if (order > state.order) return vekStsRangeErr;
    if (count < 0) return vekStsOk;
    const VekStatus status = checkBasisKind(state, order);
    work = status == vekStsOk;
    return status;
}

// Calls perSample(i, basis of sample i) for i = 0 .. count - 1 in order.
template <class PerSample>
void forEachSample(const float* x, const float* y, const float* z, int32_t count, uint32_t order,
                   const VekrSHState& state, PerSample perSample)
{
    const uint32_t n = shCoeffCount(order);
    alignas(16) float basis[kChunk * kMaxCoeffs];
    for (int32_t i = 0; i < count; i += kChunk) {
        const int32_t k = std::min(kChunk, count - i);
        evaluateBasis(state, order, x + i, y + i, z + i, k, basis);
        for (int32_t s = 0; s < k; ++s) perSample(i + s, basis + s * n);
    }
}

// coeffs[j] = coeffs[j] + t[j] with t = value * basis, where a value of 0
// (either sign) makes t exactly zero whatever the basis holds. A value of
// 1 needs no case of its own: basis * 1 is the basis, bit for bit.
void accumulate(float* coeffs, const float* basis, float value, uint32_t n)
{
    const __m128 zero = _mm_setzero_ps();
    uint32_t j = 0;
    if (value == 0.0f) {
        for (; j + 4 <= n; j += 4) _mm_storeu_ps(coeffs + j, _mm_add_ps(_mm_loadu_ps(coeffs + j), zero));
        for (; j < n; ++j) coeffs[j] = coeffs[j] + 0.0f;
        return;
    }
    const __m128 v = _mm_set1_ps(value);
    for (; j + 4 <= n; j += 4)
        _mm_storeu_ps(coeffs + j, _mm_add_ps(_mm_loadu_ps(coeffs + j), _mm_mul_ps(_mm_loadu_ps(basis + j), v)));
    for (; j < n; ++j) coeffs[j] = coeffs[j] + basis[j] * value;
}

// Dot product in four interleaved partial sums (element j into sum j mod 4),
// combined as (s0 + s1) + (s2 + s3), then the tail added in order.
float dot(const float* coeffs, const float* basis, uint32_t n)
{
    __m128 acc = _mm_setzero_ps();
    uint32_t j = 0;
    for (; j + 4 <= n; j += 4) acc = _mm_add_ps(acc, _mm_mul_ps(_mm_loadu_ps(coeffs + j), _mm_loadu_ps(basis + j)));
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, acc);
    float sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    for (; j < n; ++j) sum = sum + coeffs[j] * basis[j];
    return sum;
}

}  // namespace
}  // namespace vekr

using namespace vekr;

extern "C" VEKR_API VekStatus VEK_CALL vekrSHTFwd_32f_C1I(const float* pX, const float* pY, const float* pZ,
                                                          const float* pSrc, int32_t count, float* pCoeffs,
                                                          uint32_t order, const VekrSHState* pState)
{
    if (!pX || !pY || !pZ || !pSrc || !pCoeffs || !pState) return vekStsNullPtrErr;
    bool work = false;
    const VekStatus status = checkTransform(count, order, *pState, work);
    if (!work) return status;
    const uint32_t n = shCoeffCount(order);
    forEachSample(pX, pY, pZ, count, order, *pState,
                  [&](int32_t i, const float* b) { accumulate(pCoeffs, b, pSrc[i], n); });
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrSHTFwd_32f_C3P3I(const float* pX, const float* pY, const float* pZ,
                                                            const float* pSrc, int32_t count,
                                                            float* const pCoeffs[3], uint32_t order,
                                                            const VekrSHState* pState)
{
    if (!pX || !pY || !pZ || !pSrc || !pCoeffs || !pState) return vekStsNullPtrErr;
    if (!pCoeffs[0] || !pCoeffs[1] || !pCoeffs[2]) return vekStsNullPtrErr;
    bool work = false;
    const VekStatus status = checkTransform(count, order, *pState, work);
    if (!work) return status;
    const uint32_t n = shCoeffCount(order);
    float* const coeffs[3] = {pCoeffs[0], pCoeffs[1], pCoeffs[2]};
    forEachSample(pX, pY, pZ, count, order, *pState, [&](int32_t i, const float* b) {
        for (int c = 0; c < 3; ++c) accumulate(coeffs[c], b, pSrc[3 * size_t(i) + c], n);
    });
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrSHTFwd_32f_P3I(const float* pX, const float* pY, const float* pZ,
                                                          const float* const pSrc[3], int32_t count,
                                                          float* const pCoeffs[3], uint32_t order,
                                                          const VekrSHState* pState)
{
    if (!pX || !pY || !pZ || !pSrc || !pCoeffs || !pState) return vekStsNullPtrErr;
    if (!pSrc[0] || !pSrc[1] || !pSrc[2]) return vekStsNullPtrErr;
    if (!pCoeffs[0] || !pCoeffs[1] || !pCoeffs[2]) return vekStsNullPtrErr;
    bool work = false;
    const VekStatus status = checkTransform(count, order, *pState, work);
    if (!work) return status;
    const uint32_t n = shCoeffCount(order);
    const float* const src[3] = {pSrc[0], pSrc[1], pSrc[2]};
    float* const coeffs[3] = {pCoeffs[0], pCoeffs[1], pCoeffs[2]};
    forEachSample(pX, pY, pZ, count, order, *pState, [&](int32_t i, const float* b) {
        for (int c = 0; c < 3; ++c) accumulate(coeffs[c], b, src[c][i], n);
    });
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrSHTInv_32f_C1(const float* pCoeffs, uint32_t order, const float* pX,
                                                         const float* pY, const float* pZ, float* pDst,
                                                         int32_t count, const VekrSHState* pState)
{
    if (!pCoeffs || !pX || !pY || !pZ || !pDst || !pState) return vekStsNullPtrErr;
    bool work = false;
    const VekStatus status = checkTransform(count, order, *pState, work);
    if (!work) return status;
    const uint32_t n = shCoeffCount(order);
    forEachSample(pX, pY, pZ, count, order, *pState,
                  [&](int32_t i, const float* b) { pDst[i] = dot(pCoeffs, b, n); });
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrSHTInv_32f_P3(const float* const pCoeffs[3], uint32_t order,
                                                         const float* pX, const float* pY, const float* pZ,
                                                         float* const pDst[3], int32_t count,
                                                         const VekrSHState* pState)
{
    if (!pCoeffs || !pX || !pY || !pZ || !pDst || !pState) return vekStsNullPtrErr;
    if (!pCoeffs[0] || !pCoeffs[1] || !pCoeffs[2]) return vekStsNullPtrErr;
    if (!pDst[0] || !pDst[1] || !pDst[2]) return vekStsNullPtrErr;
    bool work = false;
    const VekStatus status = checkTransform(count, order, *pState, work);
    if (!work) return status;
    const uint32_t n = shCoeffCount(order);
    const float* const coeffs[3] = {pCoeffs[0], pCoeffs[1], pCoeffs[2]};
    float* const dst[3] = {pDst[0], pDst[1], pDst[2]};
    forEachSample(pX, pY, pZ, count, order, *pState, [&](int32_t i, const float* b) {
        for (int c = 0; c < 3; ++c) dst[c][i] = dot(coeffs[c], b, n);
    });
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrSHTInv_32f_P3C3(const float* const pCoeffs[3], uint32_t order,
                                                           const float* pX, const float* pY, const float* pZ,
                                                           float* pDst, int32_t count, const VekrSHState* pState)
{
    if (!pCoeffs || !pX || !pY || !pZ || !pDst || !pState) return vekStsNullPtrErr;
    if (!pCoeffs[0] || !pCoeffs[1] || !pCoeffs[2]) return vekStsNullPtrErr;
    bool work = false;
    const VekStatus status = checkTransform(count, order, *pState, work);
    if (!work) return status;
    const uint32_t n = shCoeffCount(order);
    const float* const coeffs[3] = {pCoeffs[0], pCoeffs[1], pCoeffs[2]};
    forEachSample(pX, pY, pZ, count, order, *pState, [&](int32_t i, const float* b) {
        for (int c = 0; c < 3; ++c) pDst[3 * size_t(i) + c] = dot(coeffs[c], b, n);
    });
    return vekStsOk;
}
