// Per-voxel interpolation shared by the affine warp and remap: given a source
// position that has passed the box test, produce one destination voxel.
//
// The position type P is double for the warp (positions advanced in double)
// and float for remap (positions read from float maps); everything after
// the integer split is single precision in both, so a remap whose maps hold
// a warp's exact positions reproduces the warp bit for bit.
//
// Samplers are templates over the voxel type and the interpolation mode; the
// traversal kernels of warp and remap take one as a template argument, which
// gives the eight-entry kernel tables of each family without copies.
#ifndef VEKR_VOLUME_SAMPLING_KERNELS_H
#define VEKR_VOLUME_SAMPLING_KERNELS_H

#include <pmmintrin.h>
#if defined(__AVX__)
#include <immintrin.h>
#endif

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/isa_namespace.h"
#include "volume/cubic_kernels.h"
#include "volume/volume_frame.h"

namespace vekr {
namespace volume {
namespace VEKR_ISA_NS {

// ---------------------------------------------------------------- voxels

// Reading voxels as float and turning interpolated floats back into voxels.
template <class T>
struct VoxelIO {
    static_assert(std::is_same_v<T, uint8_t> || std::is_same_v<T, uint16_t> || std::is_same_v<T, float>,
                  "warp and remap take 8u, 16u and 32f voxels");
    static constexpr bool kIsFloat = std::is_same_v<T, float>;
    static constexpr int32_t kMax = std::is_same_v<T, uint8_t> ? 255 : 65535;

    static float toFloat(T v) { return static_cast<float>(v); }

    // Four consecutive voxels.
    static __m128 load4(const T* p)
    {
        if constexpr (kIsFloat) {
            return _mm_loadu_ps(p);
        } else if constexpr (sizeof(T) == 1) {
            int32_t packed;
            std::memcpy(&packed, p, 4);
            const __m128i zero = _mm_setzero_si128();
            const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(packed), zero);
            return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero));
        } else {
            const __m128i words = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
            return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, _mm_setzero_si128()));
        }
    }

    // Voxels a[0], a[1], b[0], b[1]: the two x taps of two voxels.
    static __m128 loadPairs(const T* a, const T* b)
    {
        if constexpr (kIsFloat) {
            double lo, hi;
            std::memcpy(&lo, a, 8);
            std::memcpy(&hi, b, 8);
            return _mm_castpd_ps(_mm_setr_pd(lo, hi));
        } else if constexpr (sizeof(T) == 1) {
            uint16_t lo, hi;
            std::memcpy(&lo, a, 2);
            std::memcpy(&hi, b, 2);
            const __m128i zero = _mm_setzero_si128();
            const __m128i bytes = _mm_cvtsi32_si128(static_cast<int32_t>(lo | static_cast<uint32_t>(hi) << 16));
            return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
        } else {
            uint32_t lo, hi;
            std::memcpy(&lo, a, 4);
            std::memcpy(&hi, b, 4);
            const __m128i words = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int32_t>(lo)),
                                                     _mm_cvtsi32_si128(static_cast<int32_t>(hi)));
            return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, _mm_setzero_si128()));
        }
    }

    // Four voxels of one row at the given columns.
    static __m128 gather4(const T* row, const int32_t col[4])
    {
        return _mm_setr_ps(toFloat(row[col[0]]), toFloat(row[col[1]]), toFloat(row[col[2]]), toFloat(row[col[3]]));
    }

    // Round to nearest, ties to even (the processor's default rounding).
    static int32_t roundHalfEven(float v) { return _mm_cvtss_si32(_mm_set_ss(v)); }

    static int32_t clampToRange(int64_t v) { return static_cast<int32_t>(v < 0 ? 0 : (v > kMax ? kMax : v)); }

    // Linear results lie between their taps, so rounding alone suffices.
    static T fromLinear(float v)
    {
        if constexpr (kIsFloat) return v;
        else return static_cast<T>(roundHalfEven(v));
    }

    // Four results rounded to nearest, ties to even; saturated when the
    // interpolation can overshoot the voxel range.
    template <bool Saturate>
    static void storeRounded4(T* out, __m128 v)
    {
        if constexpr (kIsFloat) {
            _mm_storeu_ps(out, v);
        } else {
            alignas(16) int32_t r[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(r), _mm_cvtps_epi32(v));
            for (int l = 0; l < 4; ++l) out[l] = static_cast<T>(Saturate ? clampToRange(r[l]) : r[l]);
        }
    }

    // Four linear results at once, rounded like fromLinear().
    static void storeLinear4(T* out, __m128 v) { storeRounded4<false>(out, v); }

    // Cubic results of the 4-wide interior path: ties to even, saturated.
    // Out-of-range floats convert to INT_MIN, which saturates to 0 like any
    // other negative value.
    static T fromCubicInterior(float v)
    {
        if constexpr (kIsFloat) return v;
        else return static_cast<T>(clampToRange(roundHalfEven(v)));
    }

    // Four results of the 4-wide interior path, rounded like
    // fromCubicInterior().
    static void storeCubicInterior4(T* out, __m128 v) { storeRounded4<true>(out, v); }

    // Cubic results of voxels with moved taps: the scalar path's rounding,
    // half-up by a hair in double precision, then clamped.
    static T fromCubicMoved(float v)
    {
        if constexpr (kIsFloat) {
            return v;
        } else {
            const double r = std::trunc(static_cast<double>(v) + 0.5000001);
            return static_cast<T>(r <= 0.0 ? 0 : (r >= kMax ? kMax : static_cast<int32_t>(r)));
        }
    }
};

// The source as the samplers see it: the planes and the trimmed region.
template <class T>
struct SampledSource {
    PlanarVolume<const T> volume;
    InclusiveBox box;
};

// The box test of a source position, in the precision of the positions:
// double for the warp, single for remap (box bounds converted to float). A
// position that is not a number fails every comparison and so counts as
// outside.
template <class P>
struct PositionBox {
    explicit PositionBox(const InclusiveBox& b)
        : x0(static_cast<P>(b.x0)), y0(static_cast<P>(b.y0)), z0(static_cast<P>(b.z0)),
          x1(static_cast<P>(b.x1)), y1(static_cast<P>(b.y1)), z1(static_cast<P>(b.z1))
    {
    }
    bool contains(P x, P y, P z) const
    {
        return x >= x0 && x <= x1 && y >= y0 && y <= y1 && z >= z0 && z <= z1;
    }
    P x0, y0, z0, x1, y1, z1;
};

// ---------------------------------------------------------------- nearest

template <class T>
struct NearestSampler {
    static constexpr bool kFourWide = false;
    explicit NearestSampler(const SampledSource<T>& s) : src(s) {}

    // Ties go to the even index; the box test keeps the result in the box.
    template <class P>
    static int32_t nearestIndex(P c)
    {
        return static_cast<int32_t>(std::nearbyint(c));
    }

    template <class P>
    T operator()(P sx, P sy, P sz) const
    {
        return *src.volume.voxel(nearestIndex(sx), nearestIndex(sy), nearestIndex(sz));
    }

    SampledSource<T> src;
};

// ---------------------------------------------------------------- linear

// Taps and fractions of four positions on one axis, lane by lane the same
// operations as LinearSampler::axis().
struct LinearAxis4 {
    __m128i lower, upper;
    __m128 f;
};

// Four double positions of one axis held in registers: the warp walks four
// rows side by side, lane r on row r, and hands the positions over without
// a trip through memory. One 256-bit register where AVX has them, two
// 128-bit ones (lanes 0 and 1 in lo) otherwise; every operation below is
// lane by lane the same either way.
struct Double4 {
#if defined(__AVX__)
    __m256d v;
#else
    __m128d lo, hi;
#endif
};

inline Double4 loadDouble4(const double c[4])
{
#if defined(__AVX__)
    return Double4{_mm256_loadu_pd(c)};
#else
    return Double4{_mm_loadu_pd(c), _mm_loadu_pd(c + 2)};
#endif
}

inline void storeDouble4(double c[4], Double4 d)
{
#if defined(__AVX__)
    _mm256_storeu_pd(c, d.v);
#else
    _mm_storeu_pd(c, d.lo);
    _mm_storeu_pd(c + 2, d.hi);
#endif
}

inline Double4 broadcastDouble4(double c)
{
#if defined(__AVX__)
    return Double4{_mm256_set1_pd(c)};
#else
    return Double4{_mm_set1_pd(c), _mm_set1_pd(c)};
#endif
}

inline Double4 addDouble4(Double4 a, Double4 b)
{
#if defined(__AVX__)
    return Double4{_mm256_add_pd(a.v, b.v)};
#else
    return Double4{_mm_add_pd(a.lo, b.lo), _mm_add_pd(a.hi, b.hi)};
#endif
}

// Bit r set where lo <= c <= hi in lane r; a lane that is not a number
// fails both comparisons.
inline int lanesWithin(Double4 c, Double4 lo, Double4 hi)
{
#if defined(__AVX__)
    return _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(c.v, lo.v, _CMP_GE_OQ), _mm256_cmp_pd(c.v, hi.v, _CMP_LE_OQ)));
#else
    return _mm_movemask_pd(_mm_and_pd(_mm_cmpge_pd(c.lo, lo.lo), _mm_cmple_pd(c.lo, hi.lo))) |
           _mm_movemask_pd(_mm_and_pd(_mm_cmpge_pd(c.hi, lo.hi), _mm_cmple_pd(c.hi, hi.hi))) << 2;
#endif
}

// The integer parts of four non-negative positions (truncation is the
// floor) and their fractions in the positions' precision rounded to float,
// lane by lane the conversions of the scalar samplers.
inline __m128i truncate4(Double4 c)
{
#if defined(__AVX__)
    return _mm256_cvttpd_epi32(c.v);
#else
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(c.lo), _mm_cvttpd_epi32(c.hi));
#endif
}

inline __m128i truncate4(const double c[4])
{
    return truncate4(loadDouble4(c));
}

inline __m128i truncate4(const float c[4])
{
    return _mm_cvttps_epi32(_mm_loadu_ps(c));
}

inline __m128 fraction4(Double4 c, __m128i i)
{
#if defined(__AVX__)
    return _mm256_cvtpd_ps(_mm256_sub_pd(c.v, _mm256_cvtepi32_pd(i)));
#else
    const __m128d i01 = _mm_cvtepi32_pd(i), i23 = _mm_cvtepi32_pd(_mm_unpackhi_epi64(i, i));
    return _mm_movelh_ps(_mm_cvtpd_ps(_mm_sub_pd(c.lo, i01)), _mm_cvtpd_ps(_mm_sub_pd(c.hi, i23)));
#endif
}

inline __m128 fraction4(const double c[4], __m128i i)
{
    return fraction4(loadDouble4(c), i);
}

inline __m128 fraction4(const float c[4], __m128i i)
{
    return _mm_sub_ps(_mm_loadu_ps(c), _mm_cvtepi32_ps(i));
}

inline LinearAxis4 finishLinearAxis4(__m128i i, __m128 f)
{
    return LinearAxis4{_mm_andnot_si128(_mm_srai_epi32(i, 31), i), _mm_add_epi32(i, _mm_set1_epi32(1)), f};
}

inline LinearAxis4 linearAxis4(Double4 c, int32_t last)
{
    __m128i i = truncate4(c);
    i = _mm_add_epi32(i, _mm_cmpeq_epi32(i, _mm_set1_epi32(last)));  // last becomes last - 1
    return finishLinearAxis4(i, fraction4(c, i));
}

inline LinearAxis4 linearAxis4(const double c[4], int32_t last)
{
    return linearAxis4(loadDouble4(c), last);
}

// The lanes that hold -0 (all ones), and whether any does: a sum that
// one-plane sampling shortens may differ from the full one in the sign of
// a zero only.
inline __m128i negativeZeroLanes(__m128 v)
{
    return _mm_cmpeq_epi32(_mm_castps_si128(v), _mm_set1_epi32(INT32_MIN));
}
inline bool hasNegativeZero(__m128 v)
{
    return _mm_movemask_epi8(negativeZeroLanes(v)) != 0;
}

inline LinearAxis4 linearAxis4(const float c[4], int32_t last)
{
    const __m128 v = _mm_loadu_ps(c);
    __m128i i = _mm_cvttps_epi32(v);
    i = _mm_add_epi32(i, _mm_cmpeq_epi32(i, _mm_set1_epi32(last)));  // last becomes last - 1
    return finishLinearAxis4(i, _mm_sub_ps(v, _mm_cvtepi32_ps(i)));
}

// OnePlane is the sampler of positions that all lie on one source plane k
// below the box's last (z fraction 0, so weights 1 and 0), with plane k + 1
// holding only finite values: onePlaneAt() tells. The far plane then adds
// a zero, so near * 1 + far * 0 is near bit for bit, except where a lane of
// near is -0 and a +0 would win: a float group with such a lane takes the
// full sum.
template <class T, bool OnePlane = false>
struct LinearSampler {
    static constexpr bool kFourWide = true;
    explicit LinearSampler(const SampledSource<T>& s) : src(s) {}

    template <class Finite>
    bool onePlaneAt(double sz, Finite& finite) const
    {
        const int32_t k = static_cast<int32_t>(sz);
        return k < src.box.z1 && static_cast<float>(sz - static_cast<double>(k)) == 0.0f && finite(k + 1);
    }
    LinearSampler<T, true> onePlane(double) const { return LinearSampler<T, true>(src); }

    // Lower tap on one axis. A position on the box's last voxel uses the taps
    // last - 1 and last with weight 1 on the upper one. In a box one voxel
    // thick at index 0 that lower tap would be -1; it carries weight 0, and
    // is read from voxel 0 instead so that every read stays in the volume.
    struct Axis {
        int32_t lower, upper;
        float f;
    };
    template <class P>
    static Axis axis(P c, int32_t last)
    {
        int32_t i = static_cast<int32_t>(c);  // c >= 0: truncation is the floor
        if (i == last) i = last - 1;
        const float f = static_cast<float>(c - static_cast<P>(i));
        return Axis{i < 0 ? 0 : i, i + 1, f};
    }

    // The trilinear sum in its fixed order, for one voxel or four lanes:
    // each tap row's x pair s0 gx + s1 fx first, then rows() over y and z.
    template <class V>
    static V blend(V s000, V s100, V s010, V s110, V s001, V s101, V s011, V s111, V fx, V fy, V fz, V one)
    {
        const V gx = one - fx;
        return rows(s000 * gx + s100 * fx, s010 * gx + s110 * fx, s001 * gx + s101 * fx, s011 * gx + s111 * fx, fy,
                    fz, one);
    }

    // The y and z steps over the x-interpolated rows xbc (tap row b, plane c).
    template <class V>
    static V rows(V x00, V x10, V x01, V x11, V fy, V fz, V one)
    {
        const V gy = one - fy, gz = one - fz;
        const V near = x00 * gy + x10 * fy;
        const V far = x01 * gy + x11 * fy;
        return near * gz + far * fz;
    }

    template <class P>
    T operator()(P sx, P sy, P sz) const
    {
        const Axis ax = axis(sx, src.box.x1), ay = axis(sy, src.box.y1), az = axis(sz, src.box.z1);
        const auto& v = src.volume;
        const T* r00 = v.row(ay.lower, az.lower);
        const T* r10 = v.row(ay.upper, az.lower);
        const T* r01 = v.row(ay.lower, az.upper);
        const T* r11 = v.row(ay.upper, az.upper);
        auto io = [](T s) { return VoxelIO<T>::toFloat(s); };
        return VoxelIO<T>::fromLinear(blend(io(r00[ax.lower]), io(r00[ax.upper]), io(r10[ax.lower]),
                                            io(r10[ax.upper]), io(r01[ax.lower]), io(r01[ax.upper]),
                                            io(r11[ax.lower]), io(r11[ax.upper]), ax.f, ay.f, az.f, 1.0f));
    }

    // Four voxels whose positions all passed the box test: the same steps as
    // the scalar sample, lane by lane, with the eight taps of each voxel
    // gathered into vectors. Forced inline: out of line, the positions
    // would reach it through memory, each vector load of them waiting on
    // scalar stores it cannot be forwarded from. The positions C come as
    // four-element arrays (float or double) or as a Double4.
    template <class C>
    __attribute__((always_inline)) void four(C sx, C sy, C sz, T* out) const
    {
        const LinearAxis4 ax = linearAxis4(sx, src.box.x1), ay = linearAxis4(sy, src.box.y1),
                          az = linearAxis4(sz, src.box.z1);
        alignas(16) int32_t xl[4], xu[4], yl[4], yu[4], zl[4], zu[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(xl), ax.lower);
        _mm_store_si128(reinterpret_cast<__m128i*>(xu), ax.upper);
        _mm_store_si128(reinterpret_cast<__m128i*>(yl), ay.lower);
        _mm_store_si128(reinterpret_cast<__m128i*>(yu), ay.upper);
        _mm_store_si128(reinterpret_cast<__m128i*>(zl), az.lower);
        _mm_store_si128(reinterpret_cast<__m128i*>(zu), az.upper);
        const auto& v = src.volume;
        const F4 fx{ax.f}, fy{ay.f}, fz{az.f}, one{_mm_set1_ps(1.0f)};
        if (src.box.x1 >= 1 && src.box.y1 >= 1) {
            // Where the box reaches past index 0 on x and y, the upper taps
            // there are the lower ones' neighbours: one pointer per voxel
            // and plane (its lower corner) addresses all four taps of the
            // plane, instead of a row pointer per tap row.
            const ptrdiff_t rs = v.rowStep;
            const T *c0[4], *c1[4];
            for (int l = 0; l < 4; ++l) {
                c0[l] = v.row(yl[l], zl[l]) + xl[l];
                c1[l] = v.row(yl[l], zu[l]) + xl[l];
            }
            // Both x taps of a voxel come in one load, and the x step runs
            // on the pairs: products s0 gx and s1 fx side by side, summed
            // by the horizontal add (the same two roundings as blend()).
            const __m128 gx = _mm_sub_ps(one.v, fx.v);
            const __m128 w01 = _mm_unpacklo_ps(gx, fx.v), w23 = _mm_unpackhi_ps(gx, fx.v);
            auto xRow = [&](const T* const* c, ptrdiff_t at) {
                const __m128 v01 = _mm_mul_ps(VoxelIO<T>::loadPairs(c[0] + at, c[1] + at), w01);
                const __m128 v23 = _mm_mul_ps(VoxelIO<T>::loadPairs(c[2] + at, c[3] + at), w23);
                return F4{_mm_hadd_ps(v01, v23)};
            };
            if constexpr (OnePlane) {
                // rows()'s near plane; times gz = 1 it is itself.
                const F4 near = xRow(c0, 0) * (one - fy) + xRow(c0, rs) * fy;
                if (!VoxelIO<T>::kIsFloat || !hasNegativeZero(near.v)) {
                    VoxelIO<T>::storeLinear4(out, near.v);
                    return;
                }
            }
            const F4 r = rows(xRow(c0, 0), xRow(c0, rs), xRow(c1, 0), xRow(c1, rs), fy, fz, one);
            VoxelIO<T>::storeLinear4(out, r.v);
            return;
        }
        const T *r00[4], *r10[4], *r01[4], *r11[4];
        for (int l = 0; l < 4; ++l) {
            r00[l] = v.row(yl[l], zl[l]);
            r10[l] = v.row(yu[l], zl[l]);
            r01[l] = v.row(yl[l], zu[l]);
            r11[l] = v.row(yu[l], zu[l]);
        }
        auto gather = [](const T* const* rows, const int32_t* col) {
            return F4{_mm_setr_ps(VoxelIO<T>::toFloat(rows[0][col[0]]), VoxelIO<T>::toFloat(rows[1][col[1]]),
                                  VoxelIO<T>::toFloat(rows[2][col[2]]), VoxelIO<T>::toFloat(rows[3][col[3]]))};
        };
        const F4 r = blend(gather(r00, xl), gather(r00, xu), gather(r10, xl), gather(r10, xu), gather(r01, xl),
                           gather(r01, xu), gather(r11, xl), gather(r11, xu), fx, fy, fz, one);
        VoxelIO<T>::storeLinear4(out, r.v);
    }

    // Four float lanes with the arithmetic blend() needs.
    struct F4 {
        __m128 v;
        friend F4 operator+(F4 a, F4 b) { return F4{_mm_add_ps(a.v, b.v)}; }
        friend F4 operator-(F4 a, F4 b) { return F4{_mm_sub_ps(a.v, b.v)}; }
        friend F4 operator*(F4 a, F4 b) { return F4{_mm_mul_ps(a.v, b.v)}; }
    };

    SampledSource<T> src;
};

// ---------------------------------------------------------------- cubic

// The four lanes of v as integers. They leave the vector two to a 64-bit
// move where there is one; a 32-bit build goes through memory.
__attribute__((always_inline)) inline void lanes4(__m128i v, uint32_t out[4])
{
#if defined(__x86_64__)
    const uint64_t v01 = static_cast<uint64_t>(_mm_cvtsi128_si64(v));
    const uint64_t v23 = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
    out[0] = static_cast<uint32_t>(v01), out[1] = static_cast<uint32_t>(v01 >> 32);
    out[2] = static_cast<uint32_t>(v23), out[3] = static_cast<uint32_t>(v23 >> 32);
#else
    alignas(16) uint32_t m[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(m), v);
    out[0] = m[0], out[1] = m[1], out[2] = m[2], out[3] = m[3];
#endif
}

// The four weights of a fraction f (given in every lane): the kernel at
// distances |-f - 1|, |-f|, |1 - f|, |2 - f| looked up in the mode's table,
// the four lookups in one vector with the same single-precision steps as
// tableWeight().
__attribute__((always_inline)) inline __m128 cubicWeights4(const CubicPairTable& table, __m128 f)
{
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 d = _mm_andnot_ps(signBit, _mm_sub_ps(_mm_setr_ps(-1.0f, 0.0f, 1.0f, 2.0f), f));
    const __m128 s = _mm_mul_ps(_mm_min_ps(d, _mm_set1_ps(2.0f)), _mm_set1_ps(100.0f));
    const __m128i k = _mm_cvttps_epi32(s);
    const __m128 r = _mm_sub_ps(s, _mm_cvtepi32_ps(k));
    // Mostly the entries are 100 + k1, k1, 99 - k1, 199 - k1 for lane 1's
    // k1, and one aligned record holds all four pairs: (k1, k1, ~k1, ~k1)
    // plus (100, 0, 100, 200) is that pattern. A match also bounds k1 to
    // 0..99, since 99 - k1 is then a lane's entry.
    const __m128i k1 = _mm_shuffle_epi32(k, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128i expected =
        _mm_add_epi32(_mm_xor_si128(k1, _mm_setr_epi32(0, 0, -1, -1)), _mm_setr_epi32(100, 0, 100, 200));
    if (__builtin_expect(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(k, expected))) == 0xf, 1)) {
        const float* q = table.quad[_mm_cvtsi128_si32(k1)];
        return _mm_add_ps(_mm_load_ps(q), _mm_mul_ps(_mm_load_ps(q + 4), r));
    }
    const char* base = reinterpret_cast<const char*>(table.pair);
    auto pairAt = [base](uint32_t offset) { return reinterpret_cast<const __m64*>(base + offset); };
    uint32_t o[4];
    lanes4(_mm_slli_epi32(k, 3), o);
    const __m128 p01 = _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), pairAt(o[0])), pairAt(o[1]));
    const __m128 p23 = _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), pairAt(o[2])), pairAt(o[3]));
    const __m128 lo = _mm_shuffle_ps(p01, p23, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 step = _mm_shuffle_ps(p01, p23, _MM_SHUFFLE(3, 1, 3, 1));
    return _mm_add_ps(lo, _mm_mul_ps(step, r));
}

inline __m128 cubicWeights4(const CubicPairTable& table, float f)
{
    return cubicWeights4(table, _mm_set1_ps(f));
}

template <int L>
inline __m128 broadcastLane(__m128 v)
{
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(L, L, L, L));
}

// cubicWeights4() of each lane of f at once: w[l] is the four weights of
// lane l. Each distance is formed and split exactly as there, only with
// the lanes of f across a vector and one vector per tap; the fractions
// (r) are then transposed to one vector per lane. When all four lanes
// land on their usual entries each takes its record; otherwise every lane
// takes cubicWeights4() on its own.
__attribute__((always_inline)) inline void cubicWeightsOfLanes(const CubicPairTable& table, __m128 f, __m128 w[4])
{
    const __m128 signBit = _mm_set1_ps(-0.0f);
    __m128i k[4];
    __m128 r[4];
    const float c[4] = {-1.0f, 0.0f, 1.0f, 2.0f};
    for (int t = 0; t < 4; ++t) {
        const __m128 d = _mm_andnot_ps(signBit, _mm_sub_ps(_mm_set1_ps(c[t]), f));
        const __m128 s = _mm_mul_ps(_mm_min_ps(d, _mm_set1_ps(2.0f)), _mm_set1_ps(100.0f));
        k[t] = _mm_cvttps_epi32(s);
        r[t] = _mm_sub_ps(s, _mm_cvtepi32_ps(k[t]));
    }
    const __m128i notK1 = _mm_xor_si128(k[1], _mm_set1_epi32(-1));
    const __m128i usual = _mm_and_si128(
        _mm_cmpeq_epi32(k[0], _mm_add_epi32(k[1], _mm_set1_epi32(100))),
        _mm_and_si128(_mm_cmpeq_epi32(k[2], _mm_add_epi32(notK1, _mm_set1_epi32(100))),
                      _mm_cmpeq_epi32(k[3], _mm_add_epi32(notK1, _mm_set1_epi32(200)))));
    if (__builtin_expect(_mm_movemask_ps(_mm_castsi128_ps(usual)) != 0xf, 0)) {
        w[0] = cubicWeights4(table, broadcastLane<0>(f));
        w[1] = cubicWeights4(table, broadcastLane<1>(f));
        w[2] = cubicWeights4(table, broadcastLane<2>(f));
        w[3] = cubicWeights4(table, broadcastLane<3>(f));
        return;
    }
    _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);
    uint32_t e[4];
    lanes4(k[1], e);
    for (int l = 0; l < 4; ++l) {
        const float* q = table.quad[e[l]];
        w[l] = _mm_add_ps(_mm_load_ps(q), _mm_mul_ps(_mm_load_ps(q + 4), r[l]));
    }
}

// Cubic tap columns of one axis around i = trunc(c), for a box whose last
// index is `last`. The upper end is held at the box; the lower end at index
// 0 of the volume, not at the box's first voxel.
inline void cubicTaps(int32_t i, int32_t last, int32_t tap[4])
{
    if (i < 1) {
        tap[0] = 0, tap[1] = 0, tap[2] = 1, tap[3] = 2;
    } else if (i == last - 1) {
        tap[0] = i - 1, tap[1] = i, tap[2] = i + 1, tap[3] = i + 1;
    } else if (i < last) {
        tap[0] = i - 1, tap[1] = i, tap[2] = i + 1, tap[3] = i + 2;
    } else {
        tap[0] = i - 1, tap[1] = i, tap[2] = i, tap[3] = i;
    }
}

// Whether cubicTaps() leaves the taps of i plain: 1 <= i <= last - 2.
inline bool hasPlainTaps(int32_t i, int32_t last)
{
    return i >= 1 && i <= last - 2;
}

// The same test for four lanes: all ones where the taps are plain.
inline __m128i plainTaps4(__m128i i, int32_t last)
{
    return _mm_and_si128(_mm_cmpgt_epi32(i, _mm_setzero_si128()), _mm_cmpgt_epi32(_mm_set1_epi32(last - 1), i));
}

// Horizontal sum in a fixed order: (l0 + l1) + (l2 + l3).
inline float sumLanes(__m128 v)
{
    const __m128 pairs = _mm_hadd_ps(v, v);
    return _mm_cvtss_f32(_mm_hadd_ps(pairs, pairs));
}

// The horizontal sums of four vectors, lane l holding sumLanes() of the
// l-th, in the same order of additions.
inline __m128 sumLanes4(__m128 a, __m128 b, __m128 c, __m128 d)
{
    return _mm_hadd_ps(_mm_hadd_ps(a, b), _mm_hadd_ps(c, d));
}

// Sixty-four taps as sixteen rows of four. Row (b, c) gets the weight
// vector wx * (wy[b] * wz[c]); lane a accumulates weight * voxel over the
// rows of each plane, then over the planes; the lanes are summed last. The
// interior path loads each row's four voxels at once; a voxel with a moved
// tap gathers them through the tap tables. Both run the same arithmetic,
// only the output rounding differs.
//
// The accumulation is spelled out without helper calls and forced inline:
// it is the whole cost of a cubic voxel, and left to the compiler's
// judgement it became an out-of-line call per plane with the weights
// spilled around it.
//
// OnePlane is the sampler of positions that all lie on one source plane k
// (z fraction 0) which the mode weighs exactly 0, 1, 0, 0, with planes
// k - 1, k + 1 and k + 2 holding only finite values: onePlaneAt() tells.
// Those three planes then add zeros to plane k's sum, so (p0 + p1) +
// (p2 + p3) is p1 bit for bit, except where a lane of p1 is -0 and a +0
// would win: a float voxel with such a lane takes the full sum. Integer
// results cannot tell the two zeros apart.
template <class T, bool OnePlane = false>
struct CubicSampler {
    static constexpr bool kFourWide = true;
    CubicSampler(const SampledSource<T>& s, int32_t mode) : src(s), table(cubicPairTable(mode)) {}
    CubicSampler(const SampledSource<T>& s, const CubicPairTable& t, __m128 wz) : src(s), table(t), planeWz(wz) {}

    // Whether positions inside the box with this sz may take the OnePlane
    // sampler; finite(z) tells whether source plane z is free of NaN and
    // infinity, for a NaN or an infinity times 0 is not 0.
    template <class Finite>
    bool onePlaneAt(double sz, Finite& finite) const
    {
        const int32_t k = static_cast<int32_t>(sz);
        if (!hasPlainTaps(k, src.box.z1)) return false;
        const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), zWeights(sz));
        if (_mm_movemask_ps(_mm_cmpeq_ps(magnitude, _mm_setr_ps(0.0f, 1.0f, 0.0f, 0.0f))) != 0xf) return false;
        return finite(k - 1) && finite(k + 1) && finite(k + 2);
    }
    // The OnePlane sampler for positions with this sz, which all share
    // its z weights.
    CubicSampler<T, true> onePlane(double sz) const { return CubicSampler<T, true>(src, table, zWeights(sz)); }
    __m128 zWeights(double sz) const
    {
        return cubicWeights4(table, static_cast<float>(sz - static_cast<double>(static_cast<int32_t>(sz))));
    }

    // One plane's four rows in order b, with lane b of yz = wy[b] * wz[c].
    template <class Rows>
    __attribute__((always_inline)) static __m128 planeSum(__m128 wx, __m128 yz, const Rows& rows, int c)
    {
        __m128 acc = _mm_mul_ps(_mm_mul_ps(wx, broadcastLane<0>(yz)), rows(0, c));
        acc = _mm_add_ps(acc, _mm_mul_ps(_mm_mul_ps(wx, broadcastLane<1>(yz)), rows(1, c)));
        acc = _mm_add_ps(acc, _mm_mul_ps(_mm_mul_ps(wx, broadcastLane<2>(yz)), rows(2, c)));
        return _mm_add_ps(acc, _mm_mul_ps(_mm_mul_ps(wx, broadcastLane<3>(yz)), rows(3, c)));
    }

#if defined(__AVX2__)
    // Planes c and c + 1 side by side in one 256-bit register, c in the low
    // half: each half runs planeSum()'s operations in planeSum()'s order,
    // so the sums are bit for bit the 128-bit path's, in half the
    // instructions.
    template <int L>
    __attribute__((always_inline)) static __m256 broadcastLanePair(__m256 v)
    {
        return _mm256_shuffle_ps(v, v, _MM_SHUFFLE(L, L, L, L));
    }

    // Row b of planes c (low half) and c + 1 (high half).
    template <class Rows>
    __attribute__((always_inline)) static __m256 rowPair(const Rows& rows, int b, int c)
    {
        return _mm256_set_m128(rows(b, c + 1), rows(b, c));
    }

    template <class Rows>
    __attribute__((always_inline)) static __m256 planePairSum(__m256 wx, __m256 yz, const Rows& rows, int c)
    {
        __m256 acc = _mm256_mul_ps(_mm256_mul_ps(wx, broadcastLanePair<0>(yz)), rowPair(rows, 0, c));
        acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_mul_ps(wx, broadcastLanePair<1>(yz)), rowPair(rows, 1, c)));
        acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_mul_ps(wx, broadcastLanePair<2>(yz)), rowPair(rows, 2, c)));
        return _mm256_add_ps(acc, _mm256_mul_ps(_mm256_mul_ps(wx, broadcastLanePair<3>(yz)), rowPair(rows, 3, c)));
    }
#endif

#if defined(__AVX512F__)
    // All four planes side by side in one 512-bit register, plane c in
    // quarter c, each quarter again running planeSum()'s operations in its
    // order. Shuffles are spelled as masked ones of every lane: GCC 12's
    // plain forms start from an "undefined" vector that its own warnings
    // then flag as uninitialised.
    static constexpr __mmask16 kEveryLane = 0xFFFF;

    template <int L>
    __attribute__((always_inline)) static __m512 broadcastLaneQuad(__m512 v)
    {
        return _mm512_mask_permute_ps(v, kEveryLane, v, _MM_SHUFFLE(L, L, L, L));
    }

    // Row b of planes 0 to 3.
    template <class Rows>
    __attribute__((always_inline)) static __m512 rowQuad(const Rows& rows, int b)
    {
        __m512 r = _mm512_castps128_ps512(rows(b, 0));
        r = _mm512_mask_insertf32x4(r, kEveryLane, r, rows(b, 1), 1);
        r = _mm512_mask_insertf32x4(r, kEveryLane, r, rows(b, 2), 2);
        return _mm512_mask_insertf32x4(r, kEveryLane, r, rows(b, 3), 3);
    }

    template <class Rows>
    __attribute__((always_inline)) static __m512 planeQuadSum(__m512 wx, __m512 yz, const Rows& rows)
    {
        __m512 acc = _mm512_mul_ps(_mm512_mul_ps(wx, broadcastLaneQuad<0>(yz)), rowQuad(rows, 0));
        acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_mul_ps(wx, broadcastLaneQuad<1>(yz)), rowQuad(rows, 1)));
        acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_mul_ps(wx, broadcastLaneQuad<2>(yz)), rowQuad(rows, 2)));
        return _mm512_add_ps(acc, _mm512_mul_ps(_mm512_mul_ps(wx, broadcastLaneQuad<3>(yz)), rowQuad(rows, 3)));
    }
#endif

    // Sum over the rows; rows(b, c) gives the four voxels of row b of plane
    // c. Each plane accumulates on its own, so the four chains of additions
    // overlap; the planes are then summed as (p0 + p1) + (p2 + p3).
    template <class Rows>
    __attribute__((always_inline)) static __m128 accumulate(__m128 wx, __m128 wy, __m128 wz, const Rows& rows)
    {
#if defined(__AVX512F__)
        const __m512 none = _mm512_setzero_ps();
        const __m512 wx4 = _mm512_mask_broadcast_f32x4(none, kEveryLane, wx);
        const __m512 wy4 = _mm512_mask_broadcast_f32x4(none, kEveryLane, wy);
        // wz[c] in every lane of quarter c.
        const __m512 z0123 = _mm512_mask_permutexvar_ps(
            none, kEveryLane, _mm512_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3),
            _mm512_castps128_ps512(wz));
        const __m512 p = planeQuadSum(wx4, _mm512_mul_ps(wy4, z0123), rows);
        const __m128 quarter = _mm_setzero_ps();
        const __m128 p0 = _mm512_mask_extractf32x4_ps(quarter, 0xF, p, 0);
        const __m128 p1 = _mm512_mask_extractf32x4_ps(quarter, 0xF, p, 1);
        const __m128 p2 = _mm512_mask_extractf32x4_ps(quarter, 0xF, p, 2);
        const __m128 p3 = _mm512_mask_extractf32x4_ps(quarter, 0xF, p, 3);
#elif defined(__AVX2__)
        const __m256 wx2 = _mm256_set_m128(wx, wx), wy2 = _mm256_set_m128(wy, wy), wz2 = _mm256_set_m128(wz, wz);
        // wz[c] in the low half, wz[c + 1] in the high.
        const __m256 z01 = _mm256_permutevar_ps(wz2, _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1));
        const __m256 z23 = _mm256_permutevar_ps(wz2, _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3));
        const __m256 p01 = planePairSum(wx2, _mm256_mul_ps(wy2, z01), rows, 0);
        const __m256 p23 = planePairSum(wx2, _mm256_mul_ps(wy2, z23), rows, 2);
        const __m128 p0 = _mm256_castps256_ps128(p01), p1 = _mm256_extractf128_ps(p01, 1);
        const __m128 p2 = _mm256_castps256_ps128(p23), p3 = _mm256_extractf128_ps(p23, 1);
#else
        const __m128 p0 = planeSum(wx, _mm_mul_ps(wy, broadcastLane<0>(wz)), rows, 0);
        const __m128 p1 = planeSum(wx, _mm_mul_ps(wy, broadcastLane<1>(wz)), rows, 1);
        const __m128 p2 = planeSum(wx, _mm_mul_ps(wy, broadcastLane<2>(wz)), rows, 2);
        const __m128 p3 = planeSum(wx, _mm_mul_ps(wy, broadcastLane<3>(wz)), rows, 3);
#endif
        return _mm_add_ps(_mm_add_ps(p0, p1), _mm_add_ps(p2, p3));
    }

    // The integer split of a position and the weights of its three axes.
    struct Split {
        int32_t i, j, k;
        __m128 wx, wy, wz;
    };
    template <class P>
    Split split(P sx, P sy, P sz) const
    {
        const int32_t i = static_cast<int32_t>(sx), j = static_cast<int32_t>(sy), k = static_cast<int32_t>(sz);
        return Split{i,
                     j,
                     k,
                     cubicWeights4(table, static_cast<float>(sx - static_cast<P>(i))),
                     cubicWeights4(table, static_cast<float>(sy - static_cast<P>(j))),
                     cubicWeights4(table, static_cast<float>(sz - static_cast<P>(k)))};
    }

    // The lane sum of a voxel whose taps are all plain: each row's four
    // voxels lie side by side.
    __attribute__((always_inline)) __m128 interiorSum(const Split& p) const
    {
        const auto& v = src.volume;
        const ptrdiff_t rowStep = v.rowStep;
        const ptrdiff_t corner = static_cast<ptrdiff_t>(p.j - 1) * rowStep + (p.i - 1);
        const T* const planes[4] = {v.planes[p.k - 1] + corner, v.planes[p.k] + corner, v.planes[p.k + 1] + corner,
                                    v.planes[p.k + 2] + corner};
        return accumulate(p.wx, p.wy, p.wz,
                          [&](int b, int c) { return VoxelIO<T>::load4(planes[c] + b * rowStep); });
    }

    // Plane k's part of interiorSum() for a voxel of a OnePlane sampler:
    // all of it, unless a lane is -0 (four() tells).
    __attribute__((always_inline)) __m128 onePlaneSum(const Split& p) const
    {
        const auto& v = src.volume;
        const ptrdiff_t rowStep = v.rowStep;
        const T* const plane = v.planes[p.k] + static_cast<ptrdiff_t>(p.j - 1) * rowStep + (p.i - 1);
        return planeSum(p.wx, _mm_mul_ps(p.wy, broadcastLane<1>(p.wz)), [&](int b, int) {
            return VoxelIO<T>::load4(plane + b * rowStep);
        }, 1);
    }

    T sample(const Split& p) const
    {
        if (hasPlainTaps(p.i, src.box.x1) && hasPlainTaps(p.j, src.box.y1) && hasPlainTaps(p.k, src.box.z1))
            return VoxelIO<T>::fromCubicInterior(sumLanes(interiorSum(p)));
        const auto& v = src.volume;
        int32_t tx[4], ty[4], tz[4];
        cubicTaps(p.i, src.box.x1, tx);
        cubicTaps(p.j, src.box.y1, ty);
        cubicTaps(p.k, src.box.z1, tz);
        const __m128 sum = accumulate(p.wx, p.wy, p.wz, [&](int b, int c) {
            return VoxelIO<T>::gather4(v.row(ty[b], tz[c]), tx);
        });
        return VoxelIO<T>::fromCubicMoved(sumLanes(sum));
    }

    template <class P>
    T operator()(P sx, P sy, P sz) const
    {
        return sample(split(sx, sy, sz));
    }

    // The weights of one axis for the four fractions f of a group. Along a
    // destination row an axis often does not move at all (a rotation about
    // z keeps sz, a scaling keeps sy and sz): equal fractions then share one
    // lookup, which gives the same bits.
    __attribute__((always_inline)) void axisWeights4(__m128 f, __m128 w[4]) const
    {
        const __m128 f0 = broadcastLane<0>(f);
        if (_mm_movemask_ps(_mm_cmpeq_ps(f, f0)) == 0xf) {
            w[0] = w[1] = w[2] = w[3] = cubicWeights4(table, f0);
        } else {
            cubicWeightsOfLanes(table, f, w);
        }
    }

    // Four voxels inside the box, each getting exactly what it gets alone.
    // The integer splits and the tap test run four lanes at once; the
    // weights of all four come before any sum, so their table lookups
    // overlap. When all four have plain taps, their lane sums finish
    // together and the results are stored as one vector. The positions C
    // come as four-element arrays (float or double) or as a Double4.
    // Inlined into the walks: as a call, the positions went through memory
    // and the four results came back through it (V3 Catmull-Rom spent a
    // tenth of its time there).
    template <class C>
    __attribute__((always_inline)) void four(const C& sx, const C& sy, const C& sz, T* out) const
    {
        const __m128i i = truncate4(sx), j = truncate4(sy), k = truncate4(sz);
        const __m128 fx = fraction4(sx, i), fy = fraction4(sy, j), fz = fraction4(sz, k);
        alignas(16) int32_t ii[4], jj[4], kk[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(ii), i);
        _mm_store_si128(reinterpret_cast<__m128i*>(jj), j);
        _mm_store_si128(reinterpret_cast<__m128i*>(kk), k);
        const __m128i plain = _mm_and_si128(_mm_and_si128(plainTaps4(i, src.box.x1), plainTaps4(j, src.box.y1)),
                                            plainTaps4(k, src.box.z1));
        __m128 wx[4], wy[4], wz[4];
        axisWeights4(fx, wx);
        axisWeights4(fy, wy);
        if constexpr (OnePlane) wz[0] = wz[1] = wz[2] = wz[3] = planeWz;
        else axisWeights4(fz, wz);
        const Split p[4] = {{ii[0], jj[0], kk[0], wx[0], wy[0], wz[0]},
                            {ii[1], jj[1], kk[1], wx[1], wy[1], wz[1]},
                            {ii[2], jj[2], kk[2], wx[2], wy[2], wz[2]},
                            {ii[3], jj[3], kk[3], wx[3], wy[3], wz[3]}};
        if (_mm_movemask_epi8(plain) == 0xffff) {
            if constexpr (OnePlane) {
                __m128 sum[4] = {onePlaneSum(p[0]), onePlaneSum(p[1]), onePlaneSum(p[2]), onePlaneSum(p[3])};
                // A -0 lane may be +0 in the full sum: one test for the
                // group, then the full sum for the voxels that have one.
                if constexpr (VoxelIO<T>::kIsFloat) {
                    const __m128i any =
                        _mm_or_si128(_mm_or_si128(negativeZeroLanes(sum[0]), negativeZeroLanes(sum[1])),
                                     _mm_or_si128(negativeZeroLanes(sum[2]), negativeZeroLanes(sum[3])));
                    if (__builtin_expect(_mm_movemask_epi8(any) != 0, 0))
                        for (int l = 0; l < 4; ++l)
                            if (hasNegativeZero(sum[l])) sum[l] = interiorSum(p[l]);
                }
                VoxelIO<T>::storeCubicInterior4(out, sumLanes4(sum[0], sum[1], sum[2], sum[3]));
            } else
                VoxelIO<T>::storeCubicInterior4(
                    out, sumLanes4(interiorSum(p[0]), interiorSum(p[1]), interiorSum(p[2]), interiorSum(p[3])));
            return;
        }
        for (int l = 0; l < 4; ++l) out[l] = sample(p[l]);
    }

    SampledSource<T> src;
    const CubicPairTable& table;
    __m128 planeWz = _mm_setzero_ps();  // OnePlane: the z weights every position shares
};

// ---------------------------------------------------------------- by mode

// The sampler of a (degraded) mode: 1 nearest, 2 linear, 4 to 7 cubic with
// that mode's table.
template <class T, int Mode>
auto makeSampler(const SampledSource<T>& s)
{
    static_assert(Mode == vekInterNearest || Mode == vekInterLinear ||
                      (Mode >= vekInterLagrange && Mode <= vekInterBlendCubic),
                  "not an interpolation mode");
    if constexpr (Mode == vekInterNearest) return NearestSampler<T>(s);
    else if constexpr (Mode == vekInterLinear) return LinearSampler<T>(s);
    else return CubicSampler<T>(s, Mode);
}

}  // namespace VEKR_ISA_NS
}  // namespace volume
}  // namespace vekr

#endif
