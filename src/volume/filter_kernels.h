// Convolution kernels of the signed 16-bit volume filter.
//
// Destination voxel (x, y, z) is the mirrored sum
//   S = sum K(i, j, k) * src(x + ax - i, y + ay - j, z + az - k)
// of 32-bit (wrapping) products in a 64-bit accumulator, then divided and
// saturated by one of the functors of filter_rounding.h. The source window of
// a voxel starts at (x + ax - (kw - 1), y + ay - (kh - 1), z + az - (kd - 1))
// and is walked forward while the kernel is read from its last coefficient
// backwards, which pairs window tap (a, b, c) with K(kw-1-a, kh-1-b, kd-1-c).
//
// Two shapes: any kernel size through a triple loop, and cubes of N taps per
// axis (3 and 5 are the common ones) unrolled completely at compile time, so
// every coefficient and every row is read at a fixed offset.
//
// Two paths: the wide one above, which handles every kernel, and a narrow
// one for kernels whose coefficients are small enough that no product wraps
// and no partial sum of any voxel leaves 32 bits (the common smoothing and
// edge kernels). There integer addition gives the very same sum in any
// order, so eight voxels (sixteen in the AVX2 build, thirty-two in the
// AVX-512 one) are summed at once with 16-bit multiply-adds into 32-bit
// lanes; results are identical to the wide path.
#ifndef VEKR_VOLUME_FILTER_KERNELS_H
#define VEKR_VOLUME_FILTER_KERNELS_H

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "core/isa_namespace.h"
#include "volume/filter_args.h"
#include "volume/filter_rounding.h"

namespace vekr::volume::VEKR_ISA_NS {


// The product is formed in 32 bits and wraps on overflow, as a plain int32
// multiply does; unsigned arithmetic keeps that well defined.
inline int32_t wrappingProduct(int16_t s, int32_t k)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(s)) *
                                static_cast<uint32_t>(k));
}

// Row (absolute index) of a plane, as a pointer to its column 0.
inline const int16_t* sourceRow(const FilterArgs& a, int32_t plane, int32_t row)
{
    return a.src[plane] + static_cast<ptrdiff_t>(row) * a.srcStep;
}

template <class Divide>
void filterAnyShape(const FilterArgs& a, const Divide& divide)
{
    // In 64 bits: a kernel may hold more than 2^31 coefficients.
    const int64_t taps = int64_t{a.kw} * a.kh * a.kd;
    const int32_t* lastCoeff = a.kernel + static_cast<ptrdiff_t>(taps - 1);
    for (int32_t z = 0; z < a.depth; ++z) {
        const int32_t firstPlane = z + a.az - (a.kd - 1);
        for (int32_t y = 0; y < a.height; ++y) {
            const int32_t firstRow = y + a.ay - (a.kh - 1);
            int16_t* out = a.dst[z] + static_cast<ptrdiff_t>(y) * a.dstStep;
            for (int32_t x = 0; x < a.width; ++x) {
                const int32_t firstColumn = x + a.ax - (a.kw - 1);
                const int32_t* coeff = lastCoeff;
                int64_t sum = 0;
                for (int32_t c = 0; c < a.kd; ++c) {
                    for (int32_t b = 0; b < a.kh; ++b) {
                        const int16_t* s = sourceRow(a, firstPlane + c, firstRow + b) + firstColumn;
                        for (int32_t t = 0; t < a.kw; ++t) sum += wrappingProduct(s[t], *coeff--);
                    }
                }
                out[x] = divide(sum);
            }
        }
    }
}

// Sum of one voxel of an N x N x N kernel: tap T = a + N (b + N c) reads
// column a of window row b + N c and the coefficient stored T places before
// the last one. The fold expands to N^3 fixed-offset terms.
template <int N, size_t... T>
inline int64_t cubeSum(const int16_t* const* rows, int32_t x, const int32_t* lastCoeff,
                       std::index_sequence<T...>)
{
    return (int64_t{0} + ... +
            static_cast<int64_t>(wrappingProduct(rows[T / N][x + static_cast<int32_t>(T % N)],
                                                 lastCoeff[-static_cast<ptrdiff_t>(T)])));
}

template <int N, class Divide>
void filterCube(const FilterArgs& a, const Divide& divide)
{
    const int32_t* lastCoeff = a.kernel + (N * N * N - 1);
    const int16_t* rows[N * N];
    for (int32_t z = 0; z < a.depth; ++z) {
        const int32_t firstPlane = z + a.az - (N - 1);
        for (int32_t y = 0; y < a.height; ++y) {
            const int32_t firstRow = y + a.ay - (N - 1);
            // Window rows of this destination row, already moved to the
            // window's first column for x = 0.
            for (int32_t c = 0; c < N; ++c)
                for (int32_t b = 0; b < N; ++b)
                    rows[b + N * c] = sourceRow(a, firstPlane + c, firstRow + b) + (a.ax - (N - 1));
            int16_t* out = a.dst[z] + static_cast<ptrdiff_t>(y) * a.dstStep;
            for (int32_t x = 0; x < a.width; ++x)
                out[x] = divide(cubeSum<N>(rows, x, lastCoeff, std::make_index_sequence<N * N * N>{}));
        }
    }
}

// ---------------------------------------------------------------- narrow path

// Kernel extents known at compile time (cubes) or read from the call.
template <int N>
struct CubeShape {
    explicit CubeShape(const FilterArgs&) {}
    static constexpr int32_t width() { return N; }
    static constexpr int32_t rows() { return N * N; }
};

struct AnyShape {
    explicit AnyShape(const FilterArgs& a) : w(a.kw), r(a.kh * a.kd) {}
    int32_t width() const { return w; }
    int32_t rows() const { return r; }
    int32_t w, r;
};

// One voxel of the window rows, walked forward against the kernel walked
// backwards; used for the last voxels of a row that do not fill 8 lanes.
inline int64_t windowSum(const int16_t* const* rows, int32_t rowCount, int32_t kw, int32_t x, const int32_t* lastCoeff)
{
    int64_t sum = 0;
    const int32_t* coeff = lastCoeff;
    for (int32_t r = 0; r < rowCount; ++r)
        for (int32_t t = 0; t < kw; ++t) sum += wrappingProduct(rows[r][x + t], *coeff--);
    return sum;
}

// Voxels summed at once by the narrow path: eight in a 128-bit vector,
// sixteen in a 256-bit one in the AVX2 build, thirty-two in a 512-bit one in
// the AVX-512 build. The sums are exact integers,
// so every grouping gives the same results. A vector of pairs (voxels at x
// and x + 1 interleaved) is multiplied and added in two halves: "low"
// holds the sums of the first four voxels of each 128-bit lane, "high" the
// last four.
struct Lanes8 {
    using V = __m128i;
    static constexpr int32_t kCount = 8;
    static V zero() { return _mm_setzero_si128(); }
    static V load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    static V broadcast(int32_t k) { return _mm_set1_epi32(k); }
    static V maddLow(V a, V b, V k) { return _mm_madd_epi16(_mm_unpacklo_epi16(a, b), k); }
    static V maddHigh(V a, V b, V k) { return _mm_madd_epi16(_mm_unpackhi_epi16(a, b), k); }
    static V add(V a, V b) { return _mm_add_epi32(a, b); }
    // The pack saturates to the 16-bit range and restores voxel order.
    static void storePacked(int16_t* out, V low, V high)
    {
        _mm_storeu_si128(reinterpret_cast<V*>(out), _mm_packs_epi32(low, high));
    }
    // The sums in voxel order.
    static void storeSums(int32_t* sums, V low, V high)
    {
        _mm_storeu_si128(reinterpret_cast<V*>(sums), low);
        _mm_storeu_si128(reinterpret_cast<V*>(sums + 4), high);
    }
};

#if defined(__AVX2__)
struct Lanes16 {
    using V = __m256i;
    static constexpr int32_t kCount = 16;
    static V zero() { return _mm256_setzero_si256(); }
    static V load(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    static V broadcast(int32_t k) { return _mm256_set1_epi32(k); }
    // Unpacking works within each 128-bit lane: low holds voxels 0-3 and
    // 8-11, high voxels 4-7 and 12-15.
    static V maddLow(V a, V b, V k) { return _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), k); }
    static V maddHigh(V a, V b, V k) { return _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), k); }
    static V add(V a, V b) { return _mm256_add_epi32(a, b); }
    // The pack works within 128-bit lanes too, which puts 0-3, 4-7 | 8-11,
    // 12-15 back in order.
    static void storePacked(int16_t* out, V low, V high)
    {
        _mm256_storeu_si256(reinterpret_cast<V*>(out), _mm256_packs_epi32(low, high));
    }
    static void storeSums(int32_t* sums, V low, V high)
    {
        _mm256_storeu_si256(reinterpret_cast<V*>(sums), _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_storeu_si256(reinterpret_cast<V*>(sums + 8), _mm256_permute2x128_si256(low, high, 0x31));
    }
};
#endif

#if defined(__AVX512BW__)
struct Lanes32 {
    using V = __m512i;
    static constexpr int32_t kCount = 32;
    static V zero() { return _mm512_setzero_si512(); }
    static V load(const int16_t* p) { return _mm512_loadu_si512(p); }
    static V broadcast(int32_t k) { return _mm512_set1_epi32(k); }
    // Per 128-bit lane again: low holds voxels 0-3, 8-11, 16-19 and 24-27,
    // high the four after each of those.
    static V maddLow(V a, V b, V k) { return _mm512_madd_epi16(_mm512_unpacklo_epi16(a, b), k); }
    static V maddHigh(V a, V b, V k) { return _mm512_madd_epi16(_mm512_unpackhi_epi16(a, b), k); }
    static V add(V a, V b) { return _mm512_add_epi32(a, b); }
    static void storePacked(int16_t* out, V low, V high) { _mm512_storeu_si512(out, _mm512_packs_epi32(low, high)); }
    // 128-bit blocks taken alternately from low and high (64-bit indices 8
    // and up name high's quarters).
    static void storeSums(int32_t* sums, V low, V high)
    {
        _mm512_storeu_si512(sums, _mm512_permutex2var_epi64(low, _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11), high));
        _mm512_storeu_si512(sums + 16,
                            _mm512_permutex2var_epi64(low, _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15), high));
    }
};
#endif

// Window tap t of row r meets coefficient lastCoeff[-(t + kw r)]. Taps are
// taken in pairs (t, t + 1): interleaving the voxels at x + t and x + t + 1
// lets one multiply-add form both products of four voxels; an odd last tap
// pairs with a zero coefficient and a zero vector, so no voxel past the
// window is read. Runs of L::kCount voxels from x while they fit the row;
// returns the first voxel left over.
template <class L, class Shape, class Divide>
inline int32_t filterNarrowRun(const Shape& shape, const int16_t* const* rows, const int32_t* packed, int32_t x,
                               int32_t width, const Divide& divide, int16_t* out)
{
    using V = typename L::V;
    const int32_t kw = shape.width(), rowCount = shape.rows(), pairs = (kw + 1) / 2;
    const V zero = L::zero();
    for (; x + L::kCount <= width; x += L::kCount) {
        V low = zero, high = zero;
#pragma GCC unroll 32
        for (int32_t r = 0; r < rowCount; ++r) {
            const int16_t* s = rows[r] + x;
#pragma GCC unroll 8
            for (int32_t p = 0; p < pairs; ++p) {
                const int32_t t = 2 * p;
                const V v0 = L::load(s + t);
                const V v1 = t + 1 < kw ? L::load(s + t + 1) : zero;
                const V k = L::broadcast(packed[r * pairs + p]);
                low = L::add(low, L::maddLow(v0, v1, k));
                high = L::add(high, L::maddHigh(v0, v1, k));
            }
        }
        if constexpr (Divide::kHasLanes) {
            L::storePacked(out + x, divide.lanes(low), divide.lanes(high));
        } else {
            int32_t sums[L::kCount];
            L::storeSums(sums, low, high);
            for (int32_t i = 0; i < L::kCount; ++i) out[x + i] = divide(sums[i]);
        }
    }
    return x;
}

template <class Shape, class Divide>
void filterNarrow(const FilterArgs& a, const Divide& divide)
{
    const Shape shape(a);
    const int32_t kw = shape.width(), rowCount = shape.rows(), pairs = (kw + 1) / 2;
    const int32_t* lastCoeff = a.kernel + (kw * rowCount - 1);
    int32_t packed[kMaxNarrowPairs];
    for (int32_t r = 0; r < rowCount; ++r)
        for (int32_t p = 0; p < pairs; ++p) {
            const int32_t t = 2 * p;
            const int32_t k0 = lastCoeff[-(t + kw * r)];
            const int32_t k1 = t + 1 < kw ? lastCoeff[-(t + 1 + kw * r)] : 0;
            packed[r * pairs + p] =
                static_cast<int32_t>((static_cast<uint32_t>(k0) & 0xFFFFu) | (static_cast<uint32_t>(k1) << 16));
        }

    const int16_t* rows[kMaxNarrowRows];
    for (int32_t z = 0; z < a.depth; ++z) {
        const int32_t firstPlane = z + a.az - (a.kd - 1);
        for (int32_t y = 0; y < a.height; ++y) {
            const int32_t firstRow = y + a.ay - (a.kh - 1);
            for (int32_t r = 0; r < rowCount; ++r)
                rows[r] = sourceRow(a, firstPlane + r / a.kh, firstRow + r % a.kh) + (a.ax - (kw - 1));
            int16_t* out = a.dst[z] + static_cast<ptrdiff_t>(y) * a.dstStep;
            int32_t x = 0;
#if defined(__AVX512BW__)
            x = filterNarrowRun<Lanes32>(shape, rows, packed, x, a.width, divide, out);
#endif
#if defined(__AVX2__)
            x = filterNarrowRun<Lanes16>(shape, rows, packed, x, a.width, divide, out);
#endif
            x = filterNarrowRun<Lanes8>(shape, rows, packed, x, a.width, divide, out);
            for (; x < a.width; ++x) out[x] = divide(windowSum(rows, rowCount, kw, x, lastCoeff));
        }
    }
}

}  // namespace vekr::volume::VEKR_ISA_NS

#endif
