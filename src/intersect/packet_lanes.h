// Lane arithmetic shared by the packet kernels.
//
// A packet is W vectors of four rays: W = 1 is one tile row (4-ray kernel),
// W = 2 two tile rows (8-ray kernel). Every helper works lane-wise, so the
// two kernel widths are one template and give the same bits per ray.
#ifndef VEKR_INTERSECT_PACKET_LANES_H
#define VEKR_INTERSECT_PACKET_LANES_H

#include <pmmintrin.h>

#include <cstdint>
#include <cstring>

namespace vekr::isect {

inline float floatFromBits(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Constants of the packet path, given by their bit patterns so that no
// decimal rounding can shift them.
struct PacketConst {
    // A direction component at most this large is treated as tiny.
    static float tiny() { return floatFromBits(0x34000000u); }  // 2^-23
    // Stand-in for a tiny component before its reciprocal: keeps the
    // inverse finite (about 83886) while the octant code keeps the sign.
    static float tinyReplacement() { return floatFromBits(0x37480000u); }  // 1.1920929e-5
    // Added to the exit distance so hits just behind the box face count.
    static float exitMargin() { return floatFromBits(0x38D1B717u); }  // 0.0001
    // Exit distance of an any-hit ray: its target (t = 1) plus the margin.
    static float anyHitExit() { return floatFromBits(0x3F800347u); }  // 1.0001
    static float floatMax() { return floatFromBits(0x7F7FFFFFu); }  // 3.4028235e38
};

// Reciprocal from the processor's 12-bit estimate, refined by one
// Newton-Raphson step: (r0 + r0) - (r0 * r0) * x.
inline __m128 rcpRefined(__m128 x)
{
    const __m128 r0 = _mm_rcp_ps(x);
    return _mm_sub_ps(_mm_add_ps(r0, r0), _mm_mul_ps(_mm_mul_ps(r0, r0), x));
}

// Inverse of a direction component for the packet traversal: tiny
// components (either sign) are replaced by a small positive value first.
inline __m128 packetInverse(__m128 c)
{
    const __m128 magnitude = _mm_and_ps(c, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
    const __m128 isTiny = _mm_cmple_ps(magnitude, _mm_set1_ps(PacketConst::tiny()));
    const __m128 safe =
        _mm_or_ps(_mm_and_ps(isTiny, _mm_set1_ps(PacketConst::tinyReplacement())), _mm_andnot_ps(isTiny, c));
    return rcpRefined(safe);
}

inline __m128 select(__m128 mask, __m128 a, __m128 b)
{
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

inline __m128i select(__m128 mask, __m128i a, __m128i b)
{
    const __m128i m = _mm_castps_si128(mask);
    return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b));
}

// Octant code of four directions: bit 0 for a negative x component, bit 1
// for y, bit 2 for z. -0 and NaN count as non-negative.
inline __m128i octantCodes(__m128 dx, __m128 dy, __m128 dz)
{
    const __m128 zero = _mm_setzero_ps();
    const __m128i bx = _mm_srli_epi32(_mm_castps_si128(_mm_cmplt_ps(dx, zero)), 31);
    const __m128i by = _mm_srli_epi32(_mm_castps_si128(_mm_cmplt_ps(dy, zero)), 31);
    const __m128i bz = _mm_srli_epi32(_mm_castps_si128(_mm_cmplt_ps(dz, zero)), 31);
    return _mm_or_si128(bx, _mm_or_si128(_mm_slli_epi32(by, 1), _mm_slli_epi32(bz, 2)));
}

// Lane-wise values of a W-vector packet.
template <int W>
struct Lanes {
    __m128 v[W];
    __m128& operator[](int j) { return v[j]; }
    const __m128& operator[](int j) const { return v[j]; }
};

template <int W>
struct IntLanes {
    __m128i v[W];
    __m128i& operator[](int j) { return v[j]; }
    const __m128i& operator[](int j) const { return v[j]; }
};

// Bits of the lanes set in a mask, all W vectors together (0 = none).
template <int W>
inline int anyLane(const Lanes<W>& m)
{
    int bits = 0;
    for (int j = 0; j < W; ++j) bits |= _mm_movemask_ps(m[j]) << (4 * j);
    return bits;
}

template <int W>
inline Lanes<W> splat(float f)
{
    Lanes<W> r;
    for (int j = 0; j < W; ++j) r[j] = _mm_set1_ps(f);
    return r;
}

template <int W>
inline Lanes<W> allLanes()
{
    Lanes<W> r;
    for (int j = 0; j < W; ++j) r[j] = _mm_castsi128_ps(_mm_set1_epi32(-1));
    return r;
}

}  // namespace vekr::isect

#endif
