// Nearest-neighbour resize: one source voxel per destination voxel, looked
// up through per-axis index tables. Destination planes (and rows) that take
// the same source plane (row) as their predecessor are copied from it rather
// than gathered again, which is what makes enlargement run near copy speed.
#ifndef VEKR_VOLUME_RESIZE_NEAREST_H
#define VEKR_VOLUME_RESIZE_NEAREST_H

#include <emmintrin.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "core/isa_namespace.h"
#include "volume/resize_caching.h"

namespace vekr {
namespace volume {
namespace VEKR_ISA_NS {

// Regions above this size leave the cache anyway; their plane copies bypass
// it so that they do not evict the source.
constexpr size_t kStreamingCopyBytes = 1u << 20;

// memcpy with cache-bypassing stores for the aligned body.
inline void streamingCopy(void* dst, const void* src, size_t n)
{
    auto* d = static_cast<unsigned char*>(dst);
    auto* s = static_cast<const unsigned char*>(src);
    size_t head = (16u - (reinterpret_cast<uintptr_t>(d) & 15u)) & 15u;
    if (head > n) head = n;
    std::memcpy(d, s, head);
    d += head;
    s += head;
    n -= head;
    for (; n >= 64; n -= 64, d += 64, s += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(d), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + 48), e);
    }
    for (; n >= 16; n -= 16, d += 16, s += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(d), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
    std::memcpy(d, s, n);
}

// Copies the plan's region of destination plane `from` into plane `to`: as
// one block when the region's rows are contiguous, else row by row.
template <class Dst>
void copyPlaneRegion(const Dst& dst, const VekrResizePlan& plan, int32_t from, int32_t to)
{
    using T = typename Dst::Voxel;
    const size_t rowBytes = static_cast<size_t>(plan.width()) * sizeof(T);
    const size_t regionBytes = rowBytes * static_cast<size_t>(plan.height());
    const bool streaming = regionBytes > kStreamingCopyBytes;
    auto copy = [&](T* d, const T* s, size_t n) {
        if (streaming) streamingCopy(d, s, n);
        else std::memcpy(d, s, n);
    };
    if (dst.rowStep == plan.width()) {
        copy(dst.voxel(plan.x.begin, plan.y.begin, to), dst.voxel(plan.x.begin, plan.y.begin, from), regionBytes);
    } else {
        for (int32_t j = 0; j < plan.height(); ++j) {
            const int32_t y = plan.y.begin + j;
            copy(dst.voxel(plan.x.begin, y, to), dst.voxel(plan.x.begin, y, from), rowBytes);
        }
    }
    if (streaming) _mm_sfence();
}

// Enlargement by a whole factor m (1, 2 or 4) makes the column table a
// staircase: after a first partial step of `lead` columns, every source
// column repeats m times. Such rows are widened with unpack instructions
// instead of gathered voxel by voxel.
struct Staircase {
    int32_t factor;  // 0 when the table is no such staircase
    int32_t lead;    // columns taking the first source column
};

inline Staircase findStaircase(const int32_t* xs, int32_t w)
{
    int32_t lead = 1;
    while (lead < w && xs[lead] == xs[0]) ++lead;
    for (int32_t m : {1, 2, 4}) {
        if (lead > m) continue;
        bool ok = true;
        for (int32_t j = lead; j < w && ok; ++j) ok = xs[j] == xs[0] + 1 + (j - lead) / m;
        if (ok) return Staircase{m, lead};
    }
    return Staircase{0, 0};
}

// Lanes of the widening copy: doubling each voxel of a 16-byte vector.
inline void doubleLanes(__m128i v, uint8_t*, __m128i& lo, __m128i& hi)
{
    lo = _mm_unpacklo_epi8(v, v);
    hi = _mm_unpackhi_epi8(v, v);
}
inline void doubleLanes(__m128i v, uint16_t*, __m128i& lo, __m128i& hi)
{
    lo = _mm_unpacklo_epi16(v, v);
    hi = _mm_unpackhi_epi16(v, v);
}
inline void doubleLanes(__m128i v, float*, __m128i& lo, __m128i& hi)
{
    lo = _mm_unpacklo_epi32(v, v);
    hi = _mm_unpackhi_epi32(v, v);
}

// out[j] = in[j / m] for j in [0, n), m = 1, 2 or 4.
template <class T>
void widenRow(const T* in, int32_t m, int32_t n, T* out)
{
    if (m == 1) {
        std::memcpy(out, in, static_cast<size_t>(n) * sizeof(T));
        return;
    }
    constexpr int32_t lanes = 16 / sizeof(T);
    int32_t j = 0;
    for (; j + m * lanes <= n; j += m * lanes, in += lanes) {
        __m128i lo, hi;
        doubleLanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), out, lo, hi);
        if (m == 2) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), lo);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j + lanes), hi);
        } else {
            __m128i a, b;
            doubleLanes(lo, out, a, b);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j + lanes), b);
            doubleLanes(hi, out, a, b);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j + 2 * lanes), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j + 3 * lanes), b);
        }
    }
    for (int32_t k = 0; j < n; ++j, ++k) out[j] = in[k / m];
}

// Asks for the cache lines holding row[first .. last], into the
// second-level cache: the first level holds too few requests in flight.
template <class T>
inline void prefetchSpan(const T* row, int32_t first, int32_t last)
{
    const char* p = reinterpret_cast<const char*>(row + first);
    const char* end = reinterpret_cast<const char*>(row + last);
    for (; p <= end; p += 64) _mm_prefetch(p, _MM_HINT_T1);
}

// On reduction every gathered row is a fresh stretch of memory, and
// gathering one takes far less time than fetching it: rows are asked for
// this many destination rows ahead, across plane ends. One row ahead left
// V2 nearest waiting on memory for half its time.
constexpr int32_t kRowsAhead = 8;

// Reduction by two makes the column table step by 2: every other voxel.
inline bool isHalving(const int32_t* xs, int32_t w)
{
    for (int32_t j = 1; j < w; ++j)
        if (xs[j] != xs[j - 1] + 2) return false;
    return w > 1;
}

// The even lanes of two 16-byte vectors, in order.
inline __m128i evenLanes(__m128i a, __m128i b, uint8_t*)
{
    const __m128i low = _mm_set1_epi16(0x00FF);
    return _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low));
}
inline __m128i evenLanes(__m128i a, __m128i b, uint16_t*)
{
    // Sign-extending the low halves lets the signed pack restore them exactly.
    return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16), _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
}
inline __m128i evenLanes(__m128i a, __m128i b, float*)
{
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}

// out[j] = in[2 j] for j in [0, n).
template <class T>
void halveRow(const T* in, int32_t n, T* out)
{
    constexpr int32_t lanes = 16 / sizeof(T);
    int32_t j = 0;
    // The second load reaches in[2 j + 2 lanes - 1]; stay within in[2 (n - 1)].
    for (; j + lanes <= n && 2 * (j + lanes) - 1 <= 2 * (n - 1); j += lanes) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * j));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * j + lanes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), evenLanes(a, b, out));
    }
    for (; j < n; ++j) out[j] = in[2 * j];
}

template <class Src, class Dst>
void resizeNearest(const ResizeJob<Src, Dst>& job, int32_t zFirst, int32_t zCount, unsigned char* buffer)
{
    using T = typename Dst::Voxel;
    const VekrResizePlan& plan = job.plan;
    const int32_t w = plan.width(), h = plan.height();

    ScratchArena arena(buffer);
    int32_t* xs = arena.take<int32_t>(w);  // source column per destination column
    // Source row per destination row. The table holds the row, not the row
    // times the step: a source plane may span more than 2^31 bytes, and the
    // product is formed in pointer width where it is used.
    int32_t* ys = arena.take<int32_t>(h);
    int32_t* zs = arena.take<int32_t>(zCount);
    for (int32_t j = 0; j < w; ++j) xs[j] = nearestSourceIndex(plan.x, plan.x.begin + j, job.srcVolume.width);
    for (int32_t j = 0; j < h; ++j) ys[j] = nearestSourceIndex(plan.y, plan.y.begin + j, job.srcVolume.height);
    for (int32_t j = 0; j < zCount; ++j) zs[j] = nearestSourceIndex(plan.z, zFirst + j, job.srcVolume.depth);
    const Staircase stairs = findStaircase(xs, w);
    const bool halving = isHalving(xs, w);

    for (int32_t k = 0; k < zCount; ++k) {
        const int32_t z = zFirst + k;
        if (k > 0 && zs[k] == zs[k - 1]) {
            copyPlaneRegion(job.dst, plan, z - 1, z);
            continue;
        }
        T* previous = nullptr;
        for (int32_t j = 0; j < h; ++j) {
            T* out = job.dst.voxel(plan.x.begin, plan.y.begin + j, z);
            // Ask for the row gathered kRowsAhead rows on (row ja of plane
            // ka), unless it will be copied instead: a row that repeats
            // its predecessor, or any row of a plane that repeats its own.
            const int32_t ka = k + (j + kRowsAhead) / h, ja = (j + kRowsAhead) % h;
            if (ka < zCount && (ka == k || zs[ka] != zs[ka - 1]) && (ja == 0 || ys[ja] != ys[ja - 1]))
                prefetchSpan(job.src.row(ys[ja], zs[ka]), xs[0], xs[w - 1]);
            if (j > 0 && ys[j] == ys[j - 1]) {
                std::memcpy(out, previous, static_cast<size_t>(w) * sizeof(T));
            } else {
                const T* in = job.src.row(ys[j], zs[k]);
                if (halving) {
                    halveRow(in + xs[0], w, out);
                } else if (stairs.factor != 0) {
                    for (int32_t i = 0; i < stairs.lead; ++i) out[i] = in[xs[0]];
                    widenRow(in + xs[0] + 1, stairs.factor, w - stairs.lead, out + stairs.lead);
                } else {
                    for (int32_t i = 0; i < w; ++i) out[i] = in[xs[i]];
                }
            }
            previous = out;
        }
    }
}

}  // namespace VEKR_ISA_NS
}  // namespace volume
}  // namespace vekr

#endif
