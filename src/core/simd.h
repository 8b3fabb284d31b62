// SSE access policies shared by the 4-wide kernels.
//
// A kernel written once against an access policy serves both its aligned
// and its unaligned variant; the arithmetic, and so every result bit, is
// the same in both.
#ifndef VEKR_CORE_SIMD_H
#define VEKR_CORE_SIMD_H

#include <pmmintrin.h>

#include <cstdint>

namespace vekr {

struct AlignedAccess {
    static __m128 load(const float* p) { return _mm_load_ps(p); }
    static void store(float* p, __m128 v) { _mm_store_ps(p, v); }
    static __m128i loadi(const int32_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }
    static void storei(int32_t* p, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
};

struct UnalignedAccess {
    static __m128 load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, __m128 v) { _mm_storeu_ps(p, v); }
    static __m128i loadi(const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void storei(int32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
};

// Lanes whose mask entry is negative, as an all-ones float mask.
inline __m128 inactiveLanes(__m128i mask)
{
    return _mm_castsi128_ps(_mm_srai_epi32(mask, 31));
}

}  // namespace vekr

#endif
