// Lane arithmetic shared by the packet kernels.
//
// A packet holds W tile rows of four rays: W = 1 is one row (4-ray kernel),
// W = 2 two rows (8-ray kernel). Lanes<W> is one value per ray of such a
// packet: a 128-bit vector for W = 1; for W = 2 one 256-bit vector in the
// AVX2 copy of the kernels and a pair of 128-bit vectors in the SSE3 copy.
// The kernels are written once against the few operations below, which all
// work lane by lane (add, sub, mul, min, max, compare, bit logic and the
// refined reciprocal), so every ray gets the same bits at any width and
// from either copy. Operand order is kept as written (min and max return
// their second operand where either is NaN, add and mul the first one's
// NaN where both are), so no operation may be rewritten with its operands
// swapped.
#ifndef VEKR_INTERSECT_PACKET_LANES_H
#define VEKR_INTERSECT_PACKET_LANES_H

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/isa_namespace.h"

namespace vekr::isect::VEKR_ISA_NS {

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

// ------------------------------------------------------- raw vector level

// Two 128-bit vectors standing for one 8-lane vector: lanes 0-3 in lo (the
// packet's first row), lanes 4-7 in hi.
struct PairF {
    __m128 lo, hi;
};
struct PairI {
    __m128i lo, hi;
};

// 4 lanes.
inline __m128 vAdd(__m128 a, __m128 b) { return _mm_add_ps(a, b); }
inline __m128 vSub(__m128 a, __m128 b) { return _mm_sub_ps(a, b); }
inline __m128 vMul(__m128 a, __m128 b) { return _mm_mul_ps(a, b); }
inline __m128 vMin(__m128 a, __m128 b) { return _mm_min_ps(a, b); }
inline __m128 vMax(__m128 a, __m128 b) { return _mm_max_ps(a, b); }
inline __m128 vAnd(__m128 a, __m128 b) { return _mm_and_ps(a, b); }
inline __m128 vOr(__m128 a, __m128 b) { return _mm_or_ps(a, b); }
inline __m128 vAndNot(__m128 a, __m128 b) { return _mm_andnot_ps(a, b); }
inline __m128 vLt(__m128 a, __m128 b) { return _mm_cmplt_ps(a, b); }
inline __m128 vLe(__m128 a, __m128 b) { return _mm_cmple_ps(a, b); }
inline __m128 vGt(__m128 a, __m128 b) { return _mm_cmpgt_ps(a, b); }
inline __m128 vNlt(__m128 a, __m128 b) { return _mm_cmpnlt_ps(a, b); }
inline __m128 vRcp(__m128 a) { return _mm_rcp_ps(a); }
inline int vMovemask(__m128 a) { return _mm_movemask_ps(a); }
inline void vSet1(__m128& r, float f) { r = _mm_set1_ps(f); }
inline void vLoad(__m128& r, const float* p, size_t) { r = _mm_load_ps(p); }
inline void vStore(float* p, size_t, __m128 v) { _mm_store_ps(p, v); }

inline __m128i vAnd(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
inline __m128i vOr(__m128i a, __m128i b) { return _mm_or_si128(a, b); }
inline __m128i vAndNot(__m128i a, __m128i b) { return _mm_andnot_si128(a, b); }
inline __m128i vEq(__m128i a, __m128i b) { return _mm_cmpeq_epi32(a, b); }
inline __m128i vGt(__m128i a, __m128i b) { return _mm_cmpgt_epi32(a, b); }
inline void vSet1(__m128i& r, int32_t i) { r = _mm_set1_epi32(i); }
inline void vLoad(__m128i& r, const int32_t* p, size_t) { r = _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }
inline void vStore(int32_t* p, size_t, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
inline __m128 vAsFloat(__m128i a) { return _mm_castsi128_ps(a); }
inline __m128i vAsInt(__m128 a) { return _mm_castps_si128(a); }

#if defined(__AVX2__)
// 8 lanes in one register; the two rows of a packet are its two halves.
inline __m256 vAdd(__m256 a, __m256 b) { return _mm256_add_ps(a, b); }
inline __m256 vSub(__m256 a, __m256 b) { return _mm256_sub_ps(a, b); }
inline __m256 vMul(__m256 a, __m256 b) { return _mm256_mul_ps(a, b); }
inline __m256 vMin(__m256 a, __m256 b) { return _mm256_min_ps(a, b); }
inline __m256 vMax(__m256 a, __m256 b) { return _mm256_max_ps(a, b); }
inline __m256 vAnd(__m256 a, __m256 b) { return _mm256_and_ps(a, b); }
inline __m256 vOr(__m256 a, __m256 b) { return _mm256_or_ps(a, b); }
inline __m256 vAndNot(__m256 a, __m256 b) { return _mm256_andnot_ps(a, b); }
// The predicates of the 128-bit compares: ordered and false on NaN for
// lt, le, gt; unordered and true on NaN for nlt.
inline __m256 vLt(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_LT_OS); }
inline __m256 vLe(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_LE_OS); }
inline __m256 vGt(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_GT_OS); }
inline __m256 vNlt(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_NLT_US); }
// The same estimate table as the 128-bit form on the same processor (a
// test sweeps every mantissa to hold the library to that).
inline __m256 vRcp(__m256 a) { return _mm256_rcp_ps(a); }
inline int vMovemask(__m256 a) { return _mm256_movemask_ps(a); }
inline void vSet1(__m256& r, float f) { r = _mm256_set1_ps(f); }
inline void vLoad(__m256& r, const float* p, size_t stride)
{
    r = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(p)), _mm_load_ps(p + stride), 1);
}
inline void vStore(float* p, size_t stride, __m256 v)
{
    _mm_store_ps(p, _mm256_castps256_ps128(v));
    _mm_store_ps(p + stride, _mm256_extractf128_ps(v, 1));
}

inline __m256i vAnd(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
inline __m256i vOr(__m256i a, __m256i b) { return _mm256_or_si256(a, b); }
inline __m256i vAndNot(__m256i a, __m256i b) { return _mm256_andnot_si256(a, b); }
inline __m256i vEq(__m256i a, __m256i b) { return _mm256_cmpeq_epi32(a, b); }
inline __m256i vGt(__m256i a, __m256i b) { return _mm256_cmpgt_epi32(a, b); }
inline void vSet1(__m256i& r, int32_t i) { r = _mm256_set1_epi32(i); }
inline void vLoad(__m256i& r, const int32_t* p, size_t stride)
{
    const __m128i lo = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_load_si128(reinterpret_cast<const __m128i*>(p + stride));
    r = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}
inline void vStore(int32_t* p, size_t stride, __m256i v)
{
    _mm_store_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(v));
    _mm_store_si128(reinterpret_cast<__m128i*>(p + stride), _mm256_extracti128_si256(v, 1));
}
inline __m256 vAsFloat(__m256i a) { return _mm256_castsi256_ps(a); }
inline __m256i vAsInt(__m256 a) { return _mm256_castps_si256(a); }
#endif

// A pair does each operation on both halves.
#define VEKR_PAIR_BINARY(T, op)                          \
    inline T op(const T& a, const T& b)                  \
    {                                                    \
        return T{op(a.lo, b.lo), op(a.hi, b.hi)};        \
    }
VEKR_PAIR_BINARY(PairF, vAdd)
VEKR_PAIR_BINARY(PairF, vSub)
VEKR_PAIR_BINARY(PairF, vMul)
VEKR_PAIR_BINARY(PairF, vMin)
VEKR_PAIR_BINARY(PairF, vMax)
VEKR_PAIR_BINARY(PairF, vAnd)
VEKR_PAIR_BINARY(PairF, vOr)
VEKR_PAIR_BINARY(PairF, vAndNot)
VEKR_PAIR_BINARY(PairF, vLt)
VEKR_PAIR_BINARY(PairF, vLe)
VEKR_PAIR_BINARY(PairF, vGt)
VEKR_PAIR_BINARY(PairF, vNlt)
VEKR_PAIR_BINARY(PairI, vAnd)
VEKR_PAIR_BINARY(PairI, vOr)
VEKR_PAIR_BINARY(PairI, vAndNot)
VEKR_PAIR_BINARY(PairI, vEq)
VEKR_PAIR_BINARY(PairI, vGt)
#undef VEKR_PAIR_BINARY

inline PairF vRcp(const PairF& a) { return PairF{vRcp(a.lo), vRcp(a.hi)}; }
inline int vMovemask(const PairF& a) { return vMovemask(a.lo) | vMovemask(a.hi) << 4; }
inline void vSet1(PairF& r, float f) { vSet1(r.lo, f), vSet1(r.hi, f); }
inline void vSet1(PairI& r, int32_t i) { vSet1(r.lo, i), vSet1(r.hi, i); }
inline void vLoad(PairF& r, const float* p, size_t stride) { vLoad(r.lo, p, 0), vLoad(r.hi, p + stride, 0); }
inline void vLoad(PairI& r, const int32_t* p, size_t stride) { vLoad(r.lo, p, 0), vLoad(r.hi, p + stride, 0); }
inline void vStore(float* p, size_t stride, const PairF& v) { vStore(p, 0, v.lo), vStore(p + stride, 0, v.hi); }
inline void vStore(int32_t* p, size_t stride, const PairI& v) { vStore(p, 0, v.lo), vStore(p + stride, 0, v.hi); }
inline PairF vAsFloat(const PairI& a) { return PairF{vAsFloat(a.lo), vAsFloat(a.hi)}; }
inline PairI vAsInt(const PairF& a) { return PairI{vAsInt(a.lo), vAsInt(a.hi)}; }

template <int W>
struct LaneTypes;
template <>
struct LaneTypes<1> {
    using F = __m128;
    using I = __m128i;
};
template <>
struct LaneTypes<2> {
#if defined(__AVX2__)
    using F = __m256;
    using I = __m256i;
#else
    using F = PairF;
    using I = PairI;
#endif
};

// ----------------------------------------------------------- packet level

// One float per ray of a W-row packet. Comparisons give all-ones lanes.
template <int W>
struct Lanes {
    typename LaneTypes<W>::F v;
};

// One int32 per ray of a W-row packet.
template <int W>
struct IntLanes {
    typename LaneTypes<W>::I v;
};

template <int W>
inline Lanes<W> operator+(const Lanes<W>& a, const Lanes<W>& b) { return {vAdd(a.v, b.v)}; }
template <int W>
inline Lanes<W> operator-(const Lanes<W>& a, const Lanes<W>& b) { return {vSub(a.v, b.v)}; }
template <int W>
inline Lanes<W> operator*(const Lanes<W>& a, const Lanes<W>& b) { return {vMul(a.v, b.v)}; }
template <int W>
inline Lanes<W> operator&(const Lanes<W>& a, const Lanes<W>& b) { return {vAnd(a.v, b.v)}; }
template <int W>
inline Lanes<W> operator|(const Lanes<W>& a, const Lanes<W>& b) { return {vOr(a.v, b.v)}; }
// min and max as the processor does them: b wherever either is NaN.
template <int W>
inline Lanes<W> min(const Lanes<W>& a, const Lanes<W>& b) { return {vMin(a.v, b.v)}; }
template <int W>
inline Lanes<W> max(const Lanes<W>& a, const Lanes<W>& b) { return {vMax(a.v, b.v)}; }
// (NOT a) AND b.
template <int W>
inline Lanes<W> andNot(const Lanes<W>& a, const Lanes<W>& b) { return {vAndNot(a.v, b.v)}; }
template <int W>
inline Lanes<W> lt(const Lanes<W>& a, const Lanes<W>& b) { return {vLt(a.v, b.v)}; }
template <int W>
inline Lanes<W> le(const Lanes<W>& a, const Lanes<W>& b) { return {vLe(a.v, b.v)}; }
template <int W>
inline Lanes<W> gt(const Lanes<W>& a, const Lanes<W>& b) { return {vGt(a.v, b.v)}; }
// Not less than: true where a >= b or either is NaN.
template <int W>
inline Lanes<W> nlt(const Lanes<W>& a, const Lanes<W>& b) { return {vNlt(a.v, b.v)}; }

// Bits of the lanes set in a mask (lane i is bit i; 0 = none).
template <int W>
inline int anyLane(const Lanes<W>& m)
{
    return vMovemask(m.v);
}

template <int W>
inline Lanes<W> splat(float f)
{
    Lanes<W> r;
    vSet1(r.v, f);
    return r;
}

template <int W>
inline Lanes<W> zeros()
{
    return splat<W>(0.0f);
}

template <int W>
inline IntLanes<W> splatInt(int32_t i)
{
    IntLanes<W> r;
    vSet1(r.v, i);
    return r;
}

template <int W>
inline Lanes<W> allLanes()
{
    return Lanes<W>{vAsFloat(splatInt<W>(-1).v)};
}

// Where mask is set a, elsewhere b.
template <int W>
inline Lanes<W> select(const Lanes<W>& mask, const Lanes<W>& a, const Lanes<W>& b)
{
    return {vOr(vAnd(mask.v, a.v), vAndNot(mask.v, b.v))};
}

template <int W>
inline IntLanes<W> select(const Lanes<W>& mask, const IntLanes<W>& a, const IntLanes<W>& b)
{
    const auto m = vAsInt(mask.v);
    return {vOr(vAnd(m, a.v), vAndNot(m, b.v))};
}

template <int W>
inline Lanes<W> equal(const IntLanes<W>& a, const IntLanes<W>& b)
{
    return {vAsFloat(vEq(a.v, b.v))};
}

template <int W>
inline Lanes<W> greater(const IntLanes<W>& a, const IntLanes<W>& b)
{
    return {vAsFloat(vGt(a.v, b.v))};
}

// The W rows of a packet from the planes at p, rows `stride` entries apart
// (16-byte aligned).
template <int W>
inline Lanes<W> loadRows(const float* p, size_t stride)
{
    Lanes<W> r;
    vLoad(r.v, p, stride);
    return r;
}

template <int W>
inline IntLanes<W> loadRows(const int32_t* p, size_t stride)
{
    IntLanes<W> r;
    vLoad(r.v, p, stride);
    return r;
}

template <int W>
inline void storeRows(float* p, size_t stride, const Lanes<W>& v)
{
    vStore(p, stride, v.v);
}

template <int W>
inline void storeRows(int32_t* p, size_t stride, const IntLanes<W>& v)
{
    vStore(p, stride, v.v);
}

// Writes v to the lanes of mask and keeps the others.
template <int W, class T, class L>
inline void storeRowsMasked(T* p, size_t stride, const Lanes<W>& mask, const L& v)
{
    storeRows<W>(p, stride, select(mask, v, loadRows<W>(p, stride)));
}

// Reciprocal from the processor's 12-bit estimate, refined by one
// Newton-Raphson step: (r0 + r0) - (r0 * r0) * x.
template <int W>
inline Lanes<W> rcpRefined(const Lanes<W>& x)
{
    const Lanes<W> r0{vRcp(x.v)};
    return (r0 + r0) - (r0 * r0) * x;
}

// Inverse of a direction component for the packet traversal: tiny
// components (either sign) are replaced by a small positive value first.
template <int W>
inline Lanes<W> packetInverse(const Lanes<W>& c)
{
    const Lanes<W> magnitude = c & Lanes<W>{vAsFloat(splatInt<W>(0x7FFFFFFF).v)};
    const Lanes<W> isTiny = le(magnitude, splat<W>(PacketConst::tiny()));
    const Lanes<W> safe = (isTiny & splat<W>(PacketConst::tinyReplacement())) | andNot(isTiny, c);
    return rcpRefined(safe);
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

}  // namespace vekr::isect::VEKR_ISA_NS

#endif
