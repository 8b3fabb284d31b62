// 4-, 8- and (in the AVX2 build) 16-lane helpers of the resize stages.
// SSE2/SSE3 has no unsigned 32-bit pack and no 32-bit multiply, so the
// integer stages build exact 32-bit products from the low and high halves of
// 16-bit products. Every lane computes what the scalar tail computes, so the
// width never changes a result.
#ifndef VEKR_VOLUME_RESIZE_SIMD_H
#define VEKR_VOLUME_RESIZE_SIMD_H

#include <immintrin.h>

#include <cstdint>

#include "core/isa_namespace.h"

namespace vekr {
namespace volume {
namespace VEKR_ISA_NS {

// a * wa + b * wb for eight unsigned 16-bit lanes, exact, as two vectors of
// four unsigned 32-bit sums (lanes 0-3 and 4-7). The sums must stay below 2^32.
inline void weightedSumU16(__m128i a, __m128i b, __m128i wa, __m128i wb, __m128i& lo, __m128i& hi)
{
    const __m128i al = _mm_mullo_epi16(a, wa), ah = _mm_mulhi_epu16(a, wa);
    const __m128i bl = _mm_mullo_epi16(b, wb), bh = _mm_mulhi_epu16(b, wb);
    lo = _mm_add_epi32(_mm_unpacklo_epi16(al, ah), _mm_unpacklo_epi16(bl, bh));
    hi = _mm_add_epi32(_mm_unpackhi_epi16(al, ah), _mm_unpackhi_epi16(bl, bh));
}

// Eight 32-bit lanes in [0, 65535] packed to unsigned 16 bits.
inline __m128i packU32ToU16(__m128i lo, __m128i hi)
{
    const __m128i bias32 = _mm_set1_epi32(32768);
    const __m128i bias16 = _mm_set1_epi16(static_cast<short>(0x8000));
    return _mm_add_epi16(_mm_packs_epi32(_mm_sub_epi32(lo, bias32), _mm_sub_epi32(hi, bias32)), bias16);
}

#if defined(__AVX2__)
// The 256-bit forms. Unpacking and packing work within 128-bit lanes: lo
// holds columns 0-3 and 8-11, hi columns 4-7 and 12-15, and the packs put
// them back in column order.
inline void weightedSumU16(__m256i a, __m256i b, __m256i wa, __m256i wb, __m256i& lo, __m256i& hi)
{
    const __m256i al = _mm256_mullo_epi16(a, wa), ah = _mm256_mulhi_epu16(a, wa);
    const __m256i bl = _mm256_mullo_epi16(b, wb), bh = _mm256_mulhi_epu16(b, wb);
    lo = _mm256_add_epi32(_mm256_unpacklo_epi16(al, ah), _mm256_unpacklo_epi16(bl, bh));
    hi = _mm256_add_epi32(_mm256_unpackhi_epi16(al, ah), _mm256_unpackhi_epi16(bl, bh));
}

// Sixteen results in [0, 65535] as unsigned 16-bit values.
inline void storeU16x16(uint16_t* p, __m256i lo, __m256i hi)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_packus_epi32(lo, hi));
}

// Sixteen results as bytes, saturated to [0, 255].
inline void storeU16x16(uint8_t* p, __m256i lo, __m256i hi)
{
    const __m256i words = _mm256_packs_epi32(lo, hi);  // results are below 2^15 here
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(bytes));
}
#endif

template <class Out>
struct U16Lanes;

// Storing eight results as unsigned 16-bit values.
template <>
struct U16Lanes<uint16_t> {
    static void store(uint16_t* p, __m128i lo, __m128i hi)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packU32ToU16(lo, hi));
    }
};

// Storing eight results as bytes, saturated to [0, 255].
template <>
struct U16Lanes<uint8_t> {
    static void store(uint8_t* p, __m128i lo, __m128i hi)
    {
        const __m128i words = _mm_packs_epi32(lo, hi);  // results are below 2^15 here
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(words, words));
    }
};

template <class Out>
inline Out saturateU32(uint32_t v);
template <>
inline uint8_t saturateU32<uint8_t>(uint32_t v)
{
    return static_cast<uint8_t>(v > 255u ? 255u : v);
}
template <>
inline uint16_t saturateU32<uint16_t>(uint32_t v)
{
    return static_cast<uint16_t>(v > 65535u ? 65535u : v);
}

// out[j] = (a[j] * wa + b[j] * wb + round) >> shift over n columns, saturated
// to Out. The integer stages of linear resize all have this form.
template <class Out>
void blendU16(const uint16_t* a, const uint16_t* b, uint32_t wa, uint32_t wb, uint32_t round, int shift, int32_t n,
              Out* out)
{
    int32_t j = 0;
    const __m128i va = _mm_set1_epi16(static_cast<short>(wa)), vb = _mm_set1_epi16(static_cast<short>(wb));
    const __m128i vr = _mm_set1_epi32(static_cast<int>(round));
    const __m128i vs = _mm_cvtsi32_si128(shift);
#if defined(__AVX2__)
    {
        const __m256i va16 = _mm256_set1_epi16(static_cast<short>(wa)), vb16 = _mm256_set1_epi16(static_cast<short>(wb));
        const __m256i vr16 = _mm256_set1_epi32(static_cast<int>(round));
        for (; j + 16 <= n; j += 16) {
            __m256i lo, hi;
            weightedSumU16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + j)),
                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + j)), va16, vb16, lo, hi);
            lo = _mm256_srl_epi32(_mm256_add_epi32(lo, vr16), vs);
            hi = _mm256_srl_epi32(_mm256_add_epi32(hi, vr16), vs);
            storeU16x16(out + j, lo, hi);
        }
    }
#endif
    for (; j + 8 <= n; j += 8) {
        __m128i lo, hi;
        weightedSumU16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + j)),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + j)), va, vb, lo, hi);
        lo = _mm_srl_epi32(_mm_add_epi32(lo, vr), vs);
        hi = _mm_srl_epi32(_mm_add_epi32(hi, vr), vs);
        U16Lanes<Out>::store(out + j, lo, hi);
    }
    for (; j < n; ++j) out[j] = saturateU32<Out>((a[j] * wa + b[j] * wb + round) >> shift);
}

// out[j] = wa * a[j] + wb * b[j] in single precision over n columns.
inline void blendF32(const float* a, const float* b, float wa, float wb, int32_t n, float* out)
{
    int32_t j = 0;
    const __m128 va = _mm_set1_ps(wa), vb = _mm_set1_ps(wb);
#if defined(__AVX2__)
    const __m256 va8 = _mm256_set1_ps(wa), vb8 = _mm256_set1_ps(wb);
    for (; j + 8 <= n; j += 8)
        _mm256_storeu_ps(out + j, _mm256_add_ps(_mm256_mul_ps(va8, _mm256_loadu_ps(a + j)),
                                                _mm256_mul_ps(vb8, _mm256_loadu_ps(b + j))));
#endif
    for (; j + 4 <= n; j += 4)
        _mm_storeu_ps(out + j, _mm_add_ps(_mm_mul_ps(va, _mm_loadu_ps(a + j)), _mm_mul_ps(vb, _mm_loadu_ps(b + j))));
    for (; j < n; ++j) out[j] = wa * a[j] + wb * b[j];
}

}  // namespace VEKR_ISA_NS
}  // namespace volume
}  // namespace vekr

#endif
