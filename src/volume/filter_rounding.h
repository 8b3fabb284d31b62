// Division of a filter sum by the caller's divisor, rounded to nearest with
// ties to even and saturated to the signed 16-bit range.
//
// The divisor is classified once per call and the matching functor is baked
// into the convolution kernel as a template argument, so the per-voxel work
// carries no branch on the class and the power-of-two case no division.
#ifndef VEKR_VOLUME_FILTER_ROUNDING_H
#define VEKR_VOLUME_FILTER_ROUNDING_H

#include <immintrin.h>

#include <cmath>
#include <cstdint>

#include "core/isa_namespace.h"

namespace vekr::volume::VEKR_ISA_NS {

inline int16_t saturateToInt16(int64_t v)
{
    if (v > 32767) return 32767;
    if (v < -32768) return -32768;
    return static_cast<int16_t>(v);
}

// The divisions of 1 and of powers of two also come in a 4-lane form for
// sums known to fit in 32 bits; saturation is then left to the final pack.
struct NoDivision {
    static constexpr bool kHasLanes = true;
    explicit NoDivision(int32_t) {}
    int16_t operator()(int64_t sum) const { return saturateToInt16(sum); }
    __m128i lanes(__m128i sum) const { return sum; }
#if defined(__AVX2__)
    __m256i lanes(__m256i sum) const { return sum; }
#endif
#if defined(__AVX512F__)
    __m512i lanes(__m512i sum) const { return sum; }
#endif
};

// d = 2^s. t is floor(sum / d) and rem the non-negative remainder; one is
// added when rem exceeds d / 2, or equals it with t odd. The addend is
// folded into a single shift: rem + (t & 1) + d / 2 - 1 reaches d exactly
// in those cases, and stays below 2d.
struct PowerOfTwoDivision {
    static constexpr bool kHasLanes = true;
    explicit PowerOfTwoDivision(int32_t divisor) : shift(0), d(divisor)
    {
        while ((int64_t{1} << shift) < d) ++shift;
    }
    // The same steps in 32-bit lanes: rem + 1 + d / 2 - 1 stays below
    // 1.5 * 2^30, so nothing overflows.
    __m128i lanes(__m128i sum) const
    {
        const __m128i count = _mm_cvtsi32_si128(shift);
        const __m128i t = _mm_sra_epi32(sum, count);
        const __m128i rem = _mm_and_si128(sum, _mm_set1_epi32(static_cast<int32_t>(d - 1)));
        const __m128i odd = _mm_and_si128(t, _mm_set1_epi32(1));
        const __m128i bias = _mm_add_epi32(_mm_add_epi32(rem, odd), _mm_set1_epi32(static_cast<int32_t>(d / 2 - 1)));
        return _mm_add_epi32(t, _mm_sra_epi32(bias, count));
    }
#if defined(__AVX2__)
    // The same steps in eight lanes.
    __m256i lanes(__m256i sum) const
    {
        const __m128i count = _mm_cvtsi32_si128(shift);
        const __m256i t = _mm256_sra_epi32(sum, count);
        const __m256i rem = _mm256_and_si256(sum, _mm256_set1_epi32(static_cast<int32_t>(d - 1)));
        const __m256i odd = _mm256_and_si256(t, _mm256_set1_epi32(1));
        const __m256i bias =
            _mm256_add_epi32(_mm256_add_epi32(rem, odd), _mm256_set1_epi32(static_cast<int32_t>(d / 2 - 1)));
        return _mm256_add_epi32(t, _mm256_sra_epi32(bias, count));
    }
#endif
#if defined(__AVX512F__)
    // And in sixteen. The shifts are spelled as masked shifts of every
    // lane: GCC 12's plain form starts from an "undefined" vector that its
    // own warnings then flag as uninitialised.
    __m512i lanes(__m512i sum) const
    {
        const __m128i count = _mm_cvtsi32_si128(shift);
        const __mmask16 all = 0xFFFF;
        const __m512i t = _mm512_mask_sra_epi32(sum, all, sum, count);
        const __m512i rem = _mm512_and_si512(sum, _mm512_set1_epi32(static_cast<int32_t>(d - 1)));
        const __m512i odd = _mm512_and_si512(t, _mm512_set1_epi32(1));
        const __m512i bias =
            _mm512_add_epi32(_mm512_add_epi32(rem, odd), _mm512_set1_epi32(static_cast<int32_t>(d / 2 - 1)));
        return _mm512_add_epi32(t, _mm512_mask_sra_epi32(bias, all, bias, count));
    }
#endif
    int16_t operator()(int64_t sum) const
    {
        const int64_t t = sum >> shift;  // arithmetic: floor for negative sums
        const int64_t rem = sum & (d - 1);
        return saturateToInt16(t + ((rem + (t & 1) + d / 2 - 1) >> shift));
    }
    int shift;
    int64_t d;
};

// Every other divisor, negative ones included. The divisor goes through
// single precision first (large divisors lose low bits there), the quotient
// is double. Out-of-range quotients saturate before rounding; exact halves
// are moved to the even neighbour.
struct GeneralDivision {
    static constexpr bool kHasLanes = false;
    explicit GeneralDivision(int32_t divisor)
        : divisor(static_cast<double>(static_cast<float>(divisor)))
    {
    }
    int16_t operator()(int64_t sum) const
    {
        const double q = static_cast<double>(sum) / divisor;
        if (q >= 32767.0) return 32767;
        if (q <= -32768.0) return -32768;
        if (q >= -0.5 && q <= 0.5) return 0;
        double r;
        if (q > 0.5) {
            r = std::trunc(q + 0.5);
            if (r - q == 0.5 && isOdd(r)) r -= 1.0;
        } else {
            r = std::trunc(q - 0.5);
            if (r - q == -0.5 && isOdd(r)) r += 1.0;
        }
        return saturateToInt16(static_cast<int64_t>(r));
    }
    static bool isOdd(double r) { return (static_cast<int64_t>(r) & 1) != 0; }
    double divisor;
};

}  // namespace vekr::volume::VEKR_ISA_NS

#endif
