// Cubic resize (Lagrange, B-spline, Catmull-Rom and the B = 1/2, C = 3/10
// blend) as three separable 4-tap stages in single precision: source rows
// filtered along x into a ring of four row buffers, four rows combined along
// y into an intermediate plane (a ring of four), four planes combined along z
// into the destination. Each stage sums its products as
// (w0 p0 + w1 p1) + (w2 p2 + w3 p3).
//
// Integer outputs are rounded and saturated. Interior voxels (no tap on any
// axis moved by the border rule) round in single precision by adding the
// float just above one half, as the 4-wide loop does; voxels near the faces
// sum the z products in tap order, widen to double and add 0.5000001. The
// two roundings differ only for sums within about 1e-7 of a half.
#ifndef VEKR_VOLUME_RESIZE_CUBIC_H
#define VEKR_VOLUME_RESIZE_CUBIC_H

#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/isa_namespace.h"
#include "volume/cubic_kernels.h"
#include "volume/resize_caching.h"

namespace vekr {
namespace volume {
namespace VEKR_ISA_NS {

// One destination index of an axis: the floor of its source position, the
// four taps after the border rule and their four weights.
struct CubicTap {
    int32_t i;
    int32_t t[4];
    float w[4];
};

inline CubicTap makeCubicTap(const CubicKernel& kernel, const ResizeAxis& axis, int32_t d, int32_t extent)
{
    const double c = samplePosition(axis, d);
    CubicTap tap;
    const SplitPosition split = splitPosition(c);
    tap.i = split.i;
    const CubicTaps taps = clampCubicTaps(tap.i, extent);
    for (int k = 0; k < 4; ++k) tap.t[k] = taps.t[k];
    cubicTapWeights(kernel, static_cast<float>(split.fraction), tap.w);
    return tap;
}

// ---------------------------------------------------------------- per type

// The interior rounding constant: the single-precision value with bit
// pattern 0x3F000002, two steps above one half.
inline float interiorRoundingBias()
{
    return 0.50000012f;
}

template <class T>
struct CubicOutput;

template <>
struct CubicOutput<float> {
    static float interior(float v) { return v; }
    static float face(const float* w, const float* const* q, int32_t j)
    {
        return (w[0] * q[0][j] + w[1] * q[1][j]) + (w[2] * q[2][j] + w[3] * q[3][j]);
    }
    // 4-wide interior: stores v as computed.
    static void interior4(float* out, __m128 v) { _mm_storeu_ps(out, v); }
#if defined(__AVX2__)
    static void interior8(float* out, __m256 v) { _mm256_storeu_ps(out, v); }
#endif
};

template <class T, int Max>
struct CubicIntegerOutput {
    // trunc(v + 0.50000012f) in single precision, clamped to [0, Max].
    static T interior(float v)
    {
        const float r = v + interiorRoundingBias();
        return static_cast<T>(r <= 0.0f ? 0 : (r >= static_cast<float>(Max) ? Max : static_cast<int32_t>(r)));
    }
    // The four products summed in tap order in single precision, then the
    // sum widened to double for the rounding.
    static T face(const float* w, const float* const* q, int32_t j)
    {
        const float s = ((w[0] * q[0][j] + w[1] * q[1][j]) + w[2] * q[2][j]) + w[3] * q[3][j];
        const double r = static_cast<double>(s) + 0.5000001;
        return static_cast<T>(r <= 0.0 ? 0 : (r >= static_cast<double>(Max) ? Max : static_cast<int32_t>(r)));
    }
};

template <>
struct CubicOutput<uint16_t> : CubicIntegerOutput<uint16_t, 65535> {
    static void interior4(uint16_t* out, __m128 v)
    {
        // Clamping before truncation gives the same result as after it.
        v = _mm_min_ps(_mm_max_ps(_mm_add_ps(v, _mm_set1_ps(interiorRoundingBias())), _mm_setzero_ps()),
                       _mm_set1_ps(65535.0f));
        const __m128i i = _mm_sub_epi32(_mm_cvttps_epi32(v), _mm_set1_epi32(32768));
        const __m128i p = _mm_add_epi16(_mm_packs_epi32(i, i), _mm_set1_epi16(static_cast<short>(0x8000)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), p);
    }
#if defined(__AVX2__)
    // The same rounding and clamp in eight lanes; the clamped values pack
    // exactly with the unsigned pack.
    static void interior8(uint16_t* out, __m256 v)
    {
        v = _mm256_min_ps(_mm256_max_ps(_mm256_add_ps(v, _mm256_set1_ps(interiorRoundingBias())), _mm256_setzero_ps()),
                          _mm256_set1_ps(65535.0f));
        const __m256i i = _mm256_cvttps_epi32(v);
        const __m256i p = _mm256_permute4x64_epi64(_mm256_packus_epi32(i, i), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(p));
    }
#endif
};

template <>
struct CubicOutput<uint8_t> : CubicIntegerOutput<uint8_t, 255> {
    static void interior4(uint8_t* out, __m128 v)
    {
        v = _mm_min_ps(_mm_max_ps(_mm_add_ps(v, _mm_set1_ps(interiorRoundingBias())), _mm_setzero_ps()),
                       _mm_set1_ps(255.0f));
        const __m128i i = _mm_cvttps_epi32(v);
        const __m128i b = _mm_packus_epi16(_mm_packs_epi32(i, i), _mm_setzero_si128());
        const int32_t four = _mm_cvtsi128_si32(b);
        std::memcpy(out, &four, 4);
    }
#if defined(__AVX2__)
    static void interior8(uint8_t* out, __m256 v)
    {
        v = _mm256_min_ps(_mm256_max_ps(_mm256_add_ps(v, _mm256_set1_ps(interiorRoundingBias())), _mm256_setzero_ps()),
                          _mm256_set1_ps(255.0f));
        const __m256i i = _mm256_cvttps_epi32(v);
        const __m256i b = _mm256_packus_epi16(_mm256_packs_epi32(i, i), _mm256_setzero_si256());
        // Bytes 0-3 sit in dword 0 of each 128-bit lane.
        const __m256i eight = _mm256_permutevar8x32_epi32(b, _mm256_setr_epi32(0, 4, 1, 1, 1, 1, 1, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(eight));
    }
#endif
};

// (w0 a + w1 b) + (w2 c + w3 d) over n columns, 4-wide where possible; the
// scalar tail spells out the same order, so every column is identical.
inline void combineFour(const float* const* r, const float* w, int32_t n, float* out)
{
    const __m128 w0 = _mm_set1_ps(w[0]), w1 = _mm_set1_ps(w[1]), w2 = _mm_set1_ps(w[2]), w3 = _mm_set1_ps(w[3]);
    int32_t j = 0;
#if defined(__AVX2__)
    {
        const __m256 v0 = _mm256_set1_ps(w[0]), v1 = _mm256_set1_ps(w[1]);
        const __m256 v2 = _mm256_set1_ps(w[2]), v3 = _mm256_set1_ps(w[3]);
        for (; j + 8 <= n; j += 8) {
            const __m256 a = _mm256_add_ps(_mm256_mul_ps(v0, _mm256_loadu_ps(r[0] + j)),
                                           _mm256_mul_ps(v1, _mm256_loadu_ps(r[1] + j)));
            const __m256 b = _mm256_add_ps(_mm256_mul_ps(v2, _mm256_loadu_ps(r[2] + j)),
                                           _mm256_mul_ps(v3, _mm256_loadu_ps(r[3] + j)));
            _mm256_storeu_ps(out + j, _mm256_add_ps(a, b));
        }
    }
#endif
    for (; j + 4 <= n; j += 4) {
        const __m128 a = _mm_add_ps(_mm_mul_ps(w0, _mm_loadu_ps(r[0] + j)), _mm_mul_ps(w1, _mm_loadu_ps(r[1] + j)));
        const __m128 b = _mm_add_ps(_mm_mul_ps(w2, _mm_loadu_ps(r[2] + j)), _mm_mul_ps(w3, _mm_loadu_ps(r[3] + j)));
        _mm_storeu_ps(out + j, _mm_add_ps(a, b));
    }
    for (; j < n; ++j) out[j] = (w[0] * r[0][j] + w[1] * r[1][j]) + (w[2] * r[2][j] + w[3] * r[3][j]);
}

// ---------------------------------------------------------------- kernel

template <class Src, class Dst>
class CubicResize {
public:
    using T = typename Dst::Voxel;
    using Output = CubicOutput<T>;

    CubicResize(const ResizeJob<Src, Dst>& job, int32_t zFirst, int32_t zCount, unsigned char* buffer)
        : job_(job), plan_(job.plan), kernel_(cubicKernel(job.mode)), w_(plan_.width()), h_(plan_.height()),
          zFirst_(zFirst), zCount_(zCount)
    {
        // Pieces of the scratch buffer, within the size the query reports for
        // the cubic modes: x and y tap tables, a ring of four row buffers and
        // a ring of four intermediate planes.
        ScratchArena arena(buffer);
        xt_ = arena.take<CubicTap>(w_);
        yt_ = arena.take<CubicTap>(h_);
        pitch_ = roundUp4(w_);
        for (int s = 0; s < 4; ++s) row_[s] = arena.take<float>(pitch_);
        for (int s = 0; s < 4; ++s) plane_[s] = arena.take<float>(static_cast<size_t>(h_) * pitch_);

        const VekrVolume& v = job.srcVolume;
        for (int32_t j = 0; j < w_; ++j) xt_[j] = makeCubicTap(kernel_, plan_.x, plan_.x.begin + j, v.width);
        for (int32_t j = 0; j < h_; ++j) yt_[j] = makeCubicTap(kernel_, plan_.y, plan_.y.begin + j, v.height);
        interior_ = interiorColumns(xt_, w_, [&](int32_t i) { return isInteriorCubic(i, v.width); });
    }

    void run()
    {
        const int32_t depth = job_.srcVolume.depth, height = job_.srcVolume.height;
        for (int32_t k = 0; k < zCount_; ++k) {
            const int32_t z = zFirst_ + k;
            const CubicTap zt = makeCubicTap(kernel_, plan_.z, z, depth);
            const int64_t keys[4] = {zt.t[0], zt.t[1], zt.t[2], zt.t[3]};
            const float* q[4];
            for (int m = 0; m < 4; ++m) q[m] = intermediatePlane(zt.t[m], keys);
            const bool interiorPlane = isInteriorCubic(zt.i, depth);
            for (int32_t j = 0; j < h_; ++j) {
                const float* qr[4] = {q[0] + j * pitch_, q[1] + j * pitch_, q[2] + j * pitch_, q[3] + j * pitch_};
                T* out = job_.dst.voxel(plan_.x.begin, plan_.y.begin + j, z);
                const ColumnSpan inner =
                    interiorPlane && isInteriorCubic(yt_[j].i, height) ? interior_ : ColumnSpan{0, 0};
                outputRow(qr, zt.w, inner, out);
            }
        }
    }

private:
    void outputRow(const float* const* q, const float* w, ColumnSpan inner, T* out) const
    {
        for (int32_t j = 0; j < inner.begin; ++j) out[j] = Output::face(w, q, j);
        const __m128 w0 = _mm_set1_ps(w[0]), w1 = _mm_set1_ps(w[1]), w2 = _mm_set1_ps(w[2]), w3 = _mm_set1_ps(w[3]);
        int32_t j = inner.begin;
#if defined(__AVX2__)
        {
            const __m256 v0 = _mm256_set1_ps(w[0]), v1 = _mm256_set1_ps(w[1]);
            const __m256 v2 = _mm256_set1_ps(w[2]), v3 = _mm256_set1_ps(w[3]);
            for (; j + 8 <= inner.end; j += 8) {
                const __m256 a = _mm256_add_ps(_mm256_mul_ps(v0, _mm256_loadu_ps(q[0] + j)),
                                               _mm256_mul_ps(v1, _mm256_loadu_ps(q[1] + j)));
                const __m256 b = _mm256_add_ps(_mm256_mul_ps(v2, _mm256_loadu_ps(q[2] + j)),
                                               _mm256_mul_ps(v3, _mm256_loadu_ps(q[3] + j)));
                Output::interior8(out + j, _mm256_add_ps(a, b));
            }
        }
#endif
        for (; j + 4 <= inner.end; j += 4) {
            const __m128 a = _mm_add_ps(_mm_mul_ps(w0, _mm_loadu_ps(q[0] + j)), _mm_mul_ps(w1, _mm_loadu_ps(q[1] + j)));
            const __m128 b = _mm_add_ps(_mm_mul_ps(w2, _mm_loadu_ps(q[2] + j)), _mm_mul_ps(w3, _mm_loadu_ps(q[3] + j)));
            Output::interior4(out + j, _mm_add_ps(a, b));
        }
        for (; j < inner.end; ++j)
            out[j] = Output::interior((w[0] * q[0][j] + w[1] * q[1][j]) + (w[2] * q[2][j] + w[3] * q[3][j]));
        for (j = inner.end > inner.begin ? inner.end : inner.begin; j < w_; ++j) out[j] = Output::face(w, q, j);
    }

    // Source row `row` of plane p filtered along x into out.
    void filterRow(int32_t p, int32_t row, float* out) const
    {
        using S = typename Src::Voxel;
        const S* in = job_.src.row(row, p);
        for (int32_t j = 0; j < w_; ++j) {
            const CubicTap& t = xt_[j];
            const float p0 = static_cast<float>(in[t.t[0]]), p1 = static_cast<float>(in[t.t[1]]);
            const float p2 = static_cast<float>(in[t.t[2]]), p3 = static_cast<float>(in[t.t[3]]);
            out[j] = (t.w[0] * p0 + t.w[1] * p1) + (t.w[2] * p2 + t.w[3] * p3);
        }
    }

    const float* intermediatePlane(int32_t p, const int64_t* needed)
    {
        int s = planeSlots_.find(p);
        if (s >= 0) return plane_[s];
        s = planeSlots_.claim(p, needed, 4);
        float* out = plane_[s];
        for (int32_t j = 0; j < h_; ++j) {
            const CubicTap& t = yt_[j];
            const int64_t keys[4] = {rowKey(p, t.t[0]), rowKey(p, t.t[1]), rowKey(p, t.t[2]), rowKey(p, t.t[3])};
            const float* r[4];
            for (int m = 0; m < 4; ++m) {
                int rs = rowSlots_.find(keys[m]);
                if (rs < 0) {
                    rs = rowSlots_.claim(keys[m], keys, 4);
                    filterRow(p, t.t[m], row_[rs]);
                }
                r[m] = row_[rs];
            }
            combineFour(r, t.w, w_, out + j * pitch_);
        }
        return out;
    }

    static int64_t rowKey(int32_t plane, int32_t row) { return (static_cast<int64_t>(plane) << 32) | row; }

    const ResizeJob<Src, Dst>& job_;
    const VekrResizePlan& plan_;
    const CubicKernel& kernel_;
    int32_t w_, h_, zFirst_, zCount_;
    size_t pitch_;
    CubicTap* xt_;
    CubicTap* yt_;
    float* row_[4];
    float* plane_[4];
    ColumnSpan interior_;
    SlotCache<4> rowSlots_;
    SlotCache<4> planeSlots_;
};

template <class Src, class Dst>
void resizeCubic(const ResizeJob<Src, Dst>& job, int32_t zFirst, int32_t zCount, unsigned char* buffer)
{
    CubicResize<Src, Dst>(job, zFirst, zCount, buffer).run();
}

}  // namespace VEKR_ISA_NS
}  // namespace volume
}  // namespace vekr

#endif
