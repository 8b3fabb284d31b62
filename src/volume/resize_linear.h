// Trilinear resize as three separable stages: source rows are filtered
// along x into row buffers, pairs of rows are combined along y into bilinear
// planes, pairs of bilinear planes are combined along z into the
// destination. Rows and planes are cached while consecutive destination rows
// and planes need the same source row or plane, so on enlargement each one
// is filtered once.
//
// The arithmetic differs per voxel type (LinearStages below): 32f in single
// precision, 16u in 14-bit fixed point, and 8u in 14-bit fixed point that
// keeps six extra fractional bits between the stages of interior voxels.
#ifndef VEKR_VOLUME_RESIZE_LINEAR_H
#define VEKR_VOLUME_RESIZE_LINEAR_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include <immintrin.h>

#include "core/isa_namespace.h"
#include "volume/resize_caching.h"
#include "volume/resize_simd.h"

namespace vekr {
namespace volume {
namespace VEKR_ISA_NS {

// One destination index of the x or y axis.
struct LinearTap {
    int32_t i;        // floor of the source position
    int32_t t0, t1;   // taps moved inside the volume
    float f;          // fraction, single precision (32f weights 1 - f, f)
    uint16_t w0, w1;  // 14-bit weights of the integer types (sum 16384)
};

inline LinearTap makeLinearTap(const ResizeAxis& axis, int32_t d, int32_t extent)
{
    const double c = samplePosition(axis, d);
    const SplitPosition split = splitPosition(c);
    LinearTap t;
    t.i = split.i;
    const LinearTaps taps = clampLinearTaps(t.i, extent);
    t.t0 = taps.t0;
    t.t1 = taps.t1;
    t.f = static_cast<float>(split.fraction);
    t.w1 = linearFixedWeight(split.fraction);
    t.w0 = static_cast<uint16_t>(16384 - t.w1);
    return t;
}

// The x axis as the row stage reads it: the tap records, plus the first
// tap and the two float weights as separate arrays for the 4-wide loop, and
// the span of columns whose taps were not moved by the border rule.
struct LinearColumns {
    const LinearTap* tap;
    const int32_t* first;
    const float* w0;  // 1 - f
    const float* w1;  // f
    int32_t count;
    ColumnSpan interior;
    bool halving;  // interior first taps advance by exactly 2 (reduction by 2)
};

// ---------------------------------------------------------------- per type

template <class T>
struct LinearStages;

template <>
struct LinearStages<float> {
    using Inter = float;
    static constexpr bool kScaledInterior = false;

    static void filterRow(const float* in, const LinearColumns& x, bool, float* out)
    {
        const LinearTap* xt = x.tap;
        for (int32_t j = 0; j < x.interior.begin; ++j) out[j] = (1.0f - xt[j].f) * in[xt[j].t0] + xt[j].f * in[xt[j].t1];
        // Interior taps are neighbours: one 8-byte load fetches both, and
        // two shuffles sort four such pairs into first and second taps.
        int32_t j = x.interior.begin;
        if (x.halving) {
            // The pairs of four columns are eight consecutive voxels. The
            // wider copies take sixteen or eight columns at a time with the
            // same product and sum per column, which keeps the reduction's
            // filter ahead of the memory it streams through.
#if defined(__AVX512F__)
            const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
            const __m512i odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
            for (; j + 16 <= x.interior.end; j += 16) {
                const __m512 a = _mm512_loadu_ps(in + x.first[j]), b = _mm512_loadu_ps(in + x.first[j] + 16);
                const __m512 p0 = _mm512_permutex2var_ps(a, even, b);
                const __m512 p1 = _mm512_permutex2var_ps(a, odd, b);
                _mm512_storeu_ps(out + j, _mm512_add_ps(_mm512_mul_ps(_mm512_loadu_ps(x.w0 + j), p0),
                                                        _mm512_mul_ps(_mm512_loadu_ps(x.w1 + j), p1)));
            }
#elif defined(__AVX2__)
            for (; j + 8 <= x.interior.end; j += 8) {
                const __m256 a = _mm256_loadu_ps(in + x.first[j]), b = _mm256_loadu_ps(in + x.first[j] + 8);
                // In-lane shuffles give (a0 a2 b0 b2 | a4 a6 b4 b6); the
                // 64-bit permute restores the column order.
                const __m256 e = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
                const __m256 o = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
                const __m256 p0 = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(e), 0xD8));
                const __m256 p1 = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(o), 0xD8));
                _mm256_storeu_ps(out + j, _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(x.w0 + j), p0),
                                                        _mm256_mul_ps(_mm256_loadu_ps(x.w1 + j), p1)));
            }
#endif
            for (; j + 4 <= x.interior.end; j += 4) {
                const __m128 a = _mm_loadu_ps(in + x.first[j]), b = _mm_loadu_ps(in + x.first[j] + 4);
                const __m128 p0 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
                const __m128 p1 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
                _mm_storeu_ps(out + j, _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(x.w0 + j), p0), _mm_mul_ps(_mm_loadu_ps(x.w1 + j), p1)));
            }
        }
        for (; j + 4 <= x.interior.end; j += 4) {
            const __m128 zero = _mm_setzero_ps();
            const __m128 v01 = _mm_loadh_pi(_mm_loadl_pi(zero, reinterpret_cast<const __m64*>(in + x.first[j])),
                                            reinterpret_cast<const __m64*>(in + x.first[j + 1]));
            const __m128 v23 = _mm_loadh_pi(_mm_loadl_pi(zero, reinterpret_cast<const __m64*>(in + x.first[j + 2])),
                                            reinterpret_cast<const __m64*>(in + x.first[j + 3]));
            const __m128 p0 = _mm_shuffle_ps(v01, v23, _MM_SHUFFLE(2, 0, 2, 0));
            const __m128 p1 = _mm_shuffle_ps(v01, v23, _MM_SHUFFLE(3, 1, 3, 1));
            _mm_storeu_ps(out + j, _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(x.w0 + j), p0), _mm_mul_ps(_mm_loadu_ps(x.w1 + j), p1)));
        }
        for (; j < x.count; ++j) out[j] = (1.0f - xt[j].f) * in[xt[j].t0] + xt[j].f * in[xt[j].t1];
    }
    static void combineRows(const float* r0, const float* r1, const LinearTap& yt, int32_t w, float* out)
    {
        blendF32(r0, r1, 1.0f - yt.f, yt.f, w, out);
    }
    static void rowsToVoxels(const float* r0, const float* r1, const LinearTap& yt, int32_t w, ColumnSpan, bool,
                             float* out)
    {
        blendF32(r0, r1, 1.0f - yt.f, yt.f, w, out);
    }
    static void combinePlanes(const float* q0, const float* q1, const LinearTap& zt, int32_t w, ColumnSpan, bool,
                              float* out)
    {
        blendF32(q0, q1, 1.0f - zt.f, zt.f, w, out);
    }
};

template <>
struct LinearStages<uint16_t> {
    using Inter = uint16_t;
    static constexpr bool kScaledInterior = false;

    static void filterRow(const uint16_t* in, const LinearColumns& x, bool, uint16_t* out)
    {
        const LinearTap* xt = x.tap;
        for (int32_t j = 0; j < x.count; ++j)
            out[j] = static_cast<uint16_t>((xt[j].w0 * in[xt[j].t0] + xt[j].w1 * in[xt[j].t1] + 8192u) >> 14);
    }
    static void combineRows(const uint16_t* r0, const uint16_t* r1, const LinearTap& yt, int32_t w, uint16_t* out)
    {
        blendU16(r0, r1, yt.w0, yt.w1, 8192u, 14, w, out);
    }
    static void rowsToVoxels(const uint16_t* r0, const uint16_t* r1, const LinearTap& yt, int32_t w, ColumnSpan,
                             bool, uint16_t* out)
    {
        blendU16(r0, r1, yt.w0, yt.w1, 8192u, 14, w, out);
    }
    static void combinePlanes(const uint16_t* q0, const uint16_t* q1, const LinearTap& zt, int32_t w, ColumnSpan,
                              bool, uint16_t* out)
    {
        blendU16(q0, q1, zt.w0, zt.w1, 8192u, 14, w, out);
    }
};

// 8u interior voxels (x and y taps both unclamped) carry six fractional bits
// from the x stage to the z stage and round once at the end; voxels with a
// clamped x or y tap round back to the voxel scale after every stage. A row
// buffer therefore depends on whether its destination row is interior
// ("scaled"), and within such a row only the interior columns are scaled.
template <>
struct LinearStages<uint8_t> {
    using Inter = uint16_t;
    static constexpr bool kScaledInterior = true;

    static void filterRow(const uint8_t* in, const LinearColumns& x, bool scaledRow, uint16_t* out)
    {
        const LinearTap* xt = x.tap;
        const int32_t w = x.count;
        const int32_t a = scaledRow ? x.interior.begin : w, b = scaledRow ? x.interior.end : w;
        for (int32_t j = 0; j < a; ++j)
            out[j] = static_cast<uint16_t>((xt[j].w0 * in[xt[j].t0] + xt[j].w1 * in[xt[j].t1] + 8192u) >> 14);
        for (int32_t j = a; j < b; ++j)
            out[j] = static_cast<uint16_t>((xt[j].w0 * in[xt[j].t0] + xt[j].w1 * in[xt[j].t1] + 128u) >> 8);
        for (int32_t j = b; j < w; ++j)
            out[j] = static_cast<uint16_t>((xt[j].w0 * in[xt[j].t0] + xt[j].w1 * in[xt[j].t1] + 8192u) >> 14);
    }
    static void combineRows(const uint16_t* r0, const uint16_t* r1, const LinearTap& yt, int32_t w, uint16_t* out)
    {
        // The same rounding keeps either scale.
        blendU16(r0, r1, yt.w0, yt.w1, 8192u, 14, w, out);
    }
    static void rowsToVoxels(const uint16_t* r0, const uint16_t* r1, const LinearTap& yt, int32_t w,
                             ColumnSpan interior, bool scaledRow, uint8_t* out)
    {
        finalStage(r0, r1, yt, w, interior, scaledRow, out);
    }
    static void combinePlanes(const uint16_t* q0, const uint16_t* q1, const LinearTap& zt, int32_t w,
                              ColumnSpan interior, bool scaledRow, uint8_t* out)
    {
        finalStage(q0, q1, zt, w, interior, scaledRow, out);
    }

private:
    static void finalStage(const uint16_t* a, const uint16_t* b, const LinearTap& t, int32_t w, ColumnSpan interior,
                           bool scaledRow, uint8_t* out)
    {
        if (!scaledRow) {
            blendU16(a, b, t.w0, t.w1, 8192u, 14, w, out);
            return;
        }
        blendU16(a, b, t.w0, t.w1, 8192u, 14, interior.begin, out);
        blendU16(a + interior.begin, b + interior.begin, t.w0, t.w1, 524288u, 20, interior.end - interior.begin,
                 out + interior.begin);
        blendU16(a + interior.end, b + interior.end, t.w0, t.w1, 8192u, 14, w - interior.end, out + interior.end);
    }
};

// ---------------------------------------------------------------- kernel

template <class Src, class Dst>
class LinearResize {
public:
    using T = typename Dst::Voxel;
    using Stages = LinearStages<T>;
    using Inter = typename Stages::Inter;

    LinearResize(const ResizeJob<Src, Dst>& job, int32_t zFirst, int32_t zCount, unsigned char* buffer)
        : job_(job), plan_(job.plan), w_(plan_.width()), h_(plan_.height()), zFirst_(zFirst), zCount_(zCount)
    {
        // Pieces of the scratch buffer, all within the size the query reports
        // for linear mode: the x and y tap tables, two row buffers and two
        // bilinear planes. The z tap of a plane is computed when the plane
        // is reached.
        ScratchArena arena(buffer);
        xt_ = arena.take<LinearTap>(w_);
        int32_t* first = arena.take<int32_t>(w_);
        float* w0 = arena.take<float>(w_);
        float* w1 = arena.take<float>(w_);
        yt_ = arena.take<LinearTap>(h_);
        pitch_ = roundUp4(w_);
        for (int s = 0; s < 2; ++s) row_[s] = arena.take<Inter>(pitch_);
        for (int s = 0; s < 2; ++s) plane_[s] = arena.take<Inter>(static_cast<size_t>(h_) * pitch_);

        const VekrVolume& v = job.srcVolume;
        for (int32_t j = 0; j < w_; ++j) xt_[j] = makeLinearTap(plan_.x, plan_.x.begin + j, v.width);
        for (int32_t j = 0; j < h_; ++j) yt_[j] = makeLinearTap(plan_.y, plan_.y.begin + j, v.height);
        interior_ = interiorColumns(xt_, w_, [&](int32_t i) { return isInteriorLinear(i, v.width); });
        for (int32_t j = 0; j < w_; ++j) {
            first[j] = xt_[j].t0;
            w0[j] = 1.0f - xt_[j].f;
            w1[j] = xt_[j].f;
        }
        bool halving = true;
        for (int32_t j = interior_.begin + 1; j < interior_.end; ++j) halving = halving && first[j] == first[j - 1] + 2;
        columns_ = LinearColumns{xt_, first, w0, w1, w_, interior_, halving};
        rowsShared_ = false;
        for (int32_t j = 1; j < h_; ++j) rowsShared_ = rowsShared_ || yt_[j].t0 <= yt_[j - 1].t1;
    }

    void run()
    {
        const int32_t depth = job_.srcVolume.depth;
        for (int32_t k = 0; k < zCount_; ++k) {
            const int32_t z = zFirst_ + k;
            const LinearTap weights = makeLinearTap(plan_.z, z, depth);
            const LinearTaps zt{weights.t0, weights.t1};
            if (zt.t0 == zt.t1) {
                // Both taps on one plane: the bilinear result is the voxel.
                for (int32_t j = 0; j < h_; ++j) {
                    const Inter* r[2];
                    rows(zt.t0, j, r);
                    Stages::rowsToVoxels(r[0], r[1], yt_[j], w_, interior_, scaledRow(j), dstRow(j, z));
                }
                continue;
            }
            if (!rowsShared_ && !planeShared(k, zt)) {
                streamRows(z, zt, weights);
                continue;
            }
            const int64_t keys[2] = {zt.t0, zt.t1};
            const Inter* q0 = bilinearPlane(zt.t0, keys);
            const Inter* q1 = bilinearPlane(zt.t1, keys);
            for (int32_t j = 0; j < h_; ++j)
                Stages::combinePlanes(q0 + j * pitch_, q1 + j * pitch_, weights, w_, interior_, scaledRow(j),
                                      dstRow(j, z));
        }
    }

private:
    // Whether destination plane k shares a source plane with plane k - 1 or
    // k + 1, which its bilinear planes would then serve twice.
    bool planeShared(int32_t k, const LinearTaps& zt) const
    {
        const int32_t depth = job_.srcVolume.depth;
        for (int32_t n : {k - 1, k + 1}) {
            if (n < 0 || n >= zCount_) continue;
            const LinearTap o = makeLinearTap(plan_.z, zFirst_ + n, depth);
            if (o.t0 == zt.t0 || o.t0 == zt.t1 || o.t1 == zt.t0 || o.t1 == zt.t1) return true;
        }
        return false;
    }

    // Plane z, when no source row serves two destination rows and neither
    // source plane serves a neighbouring destination plane: each
    // destination row is finished from its two bilinear rows while they are
    // in the first-level cache, instead of through two whole bilinear
    // planes. The operations per voxel are the same. The rows use the first
    // rows of the plane buffers, so the plane cache starts over.
    void streamRows(int32_t z, const LinearTaps& zt, const LinearTap& weights)
    {
        planeSlots_.clear();
        for (int32_t j = 0; j < h_; ++j) {
            const Inter* r[2];
            rows(zt.t0, j, r);
            Stages::combineRows(r[0], r[1], yt_[j], w_, plane_[0]);
            rows(zt.t1, j, r);
            Stages::combineRows(r[0], r[1], yt_[j], w_, plane_[1]);
            Stages::combinePlanes(plane_[0], plane_[1], weights, w_, interior_, scaledRow(j), dstRow(j, z));
        }
    }

    bool scaledRow(int32_t j) const
    {
        return Stages::kScaledInterior && isInteriorLinear(yt_[j].i, job_.srcVolume.height);
    }
    T* dstRow(int32_t j, int32_t z) const { return job_.dst.voxel(plan_.x.begin, plan_.y.begin + j, z); }

    // The x-filtered source rows that destination row j needs in plane p.
    void rows(int32_t p, int32_t j, const Inter* r[2])
    {
        const bool scaled = scaledRow(j);
        const int32_t tap[2] = {yt_[j].t0, yt_[j].t1};
        const int64_t keys[2] = {rowKey(p, tap[0], scaled), rowKey(p, tap[1], scaled)};
        for (int k = 0; k < 2; ++k) {
            int s = rowSlots_.find(keys[k]);
            if (s < 0) {
                s = rowSlots_.claim(keys[k], keys, 2);
                prefetchAhead(p, tap[k]);
                Stages::filterRow(job_.src.row(tap[k], p), columns_, scaled, row_[s]);
            }
            r[k] = row_[s];
        }
    }

    // Source rows are read in ascending order; asking for the stretch two
    // rows ahead keeps several memory requests in flight on reduction,
    // where no row is read twice.
    void prefetchAhead(int32_t p, int32_t row) const
    {
        const int32_t ahead = row + 2;
        if (ahead >= job_.srcVolume.height) return;
        const char* a = reinterpret_cast<const char*>(job_.src.row(ahead, p) + columns_.tap[0].t0);
        const char* b = reinterpret_cast<const char*>(job_.src.row(ahead, p) + columns_.tap[w_ - 1].t1);
        for (; a <= b; a += 64) _mm_prefetch(a, _MM_HINT_T0);
    }

    static int64_t rowKey(int32_t plane, int32_t row, bool scaled)
    {
        return (static_cast<int64_t>(plane) << 33) | (static_cast<int64_t>(row) << 1) | (scaled ? 1 : 0);
    }

    const Inter* bilinearPlane(int32_t p, const int64_t* needed)
    {
        int s = planeSlots_.find(p);
        if (s >= 0) return plane_[s];
        s = planeSlots_.claim(p, needed, 2);
        Inter* out = plane_[s];
        for (int32_t j = 0; j < h_; ++j) {
            const Inter* r[2];
            rows(p, j, r);
            Stages::combineRows(r[0], r[1], yt_[j], w_, out + j * pitch_);
        }
        return out;
    }

    const ResizeJob<Src, Dst>& job_;
    const VekrResizePlan& plan_;
    int32_t w_, h_, zFirst_, zCount_;
    size_t pitch_;
    LinearTap* xt_;
    LinearTap* yt_;
    Inter* row_[2];
    Inter* plane_[2];
    ColumnSpan interior_;
    LinearColumns columns_;
    SlotCache<2> rowSlots_;
    SlotCache<2> planeSlots_;
    bool rowsShared_;  // some source row serves two destination rows
};

template <class Src, class Dst>
void resizeLinear(const ResizeJob<Src, Dst>& job, int32_t zFirst, int32_t zCount, unsigned char* buffer)
{
    LinearResize<Src, Dst>(job, zFirst, zCount, buffer).run();
}

}  // namespace VEKR_ISA_NS
}  // namespace volume
}  // namespace vekr

#endif
