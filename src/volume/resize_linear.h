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

#include "volume/resize_job.h"
#include "volume/resize_simd.h"

namespace vekr {
namespace volume {

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
    const double floored = std::floor(c);
    LinearTap t;
    t.i = floorToIndex(c);
    const LinearTaps taps = clampLinearTaps(t.i, extent);
    t.t0 = taps.t0;
    t.t1 = taps.t1;
    t.f = static_cast<float>(c - floored);
    t.w1 = linearFixedWeight(c - floored);
    t.w0 = static_cast<uint16_t>(16384 - t.w1);
    return t;
}

// ---------------------------------------------------------------- per type

template <class T>
struct LinearStages;

template <>
struct LinearStages<float> {
    using Inter = float;
    static constexpr bool kScaledInterior = false;

    static void filterRow(const float* in, const LinearTap* xt, int32_t w, ColumnSpan, bool, float* out)
    {
        for (int32_t j = 0; j < w; ++j) out[j] = (1.0f - xt[j].f) * in[xt[j].t0] + xt[j].f * in[xt[j].t1];
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

    static void filterRow(const uint16_t* in, const LinearTap* xt, int32_t w, ColumnSpan, bool, uint16_t* out)
    {
        for (int32_t j = 0; j < w; ++j)
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

    static void filterRow(const uint8_t* in, const LinearTap* xt, int32_t w, ColumnSpan interior, bool scaledRow,
                          uint16_t* out)
    {
        const int32_t a = scaledRow ? interior.begin : w, b = scaledRow ? interior.end : w;
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
        yt_ = arena.take<LinearTap>(h_);
        pitch_ = roundUp4(w_);
        for (int s = 0; s < 2; ++s) row_[s] = arena.take<Inter>(pitch_);
        for (int s = 0; s < 2; ++s) plane_[s] = arena.take<Inter>(static_cast<size_t>(h_) * pitch_);

        const VekrVolume& v = job.srcVolume;
        for (int32_t j = 0; j < w_; ++j) xt_[j] = makeLinearTap(plan_.x, plan_.x.begin + j, v.width);
        for (int32_t j = 0; j < h_; ++j) yt_[j] = makeLinearTap(plan_.y, plan_.y.begin + j, v.height);
        interior_ = ColumnSpan{w_, w_};
        for (int32_t j = 0; j < w_; ++j) {
            if (isInteriorLinear(xt_[j].i, v.width)) {
                if (interior_.begin == w_) interior_.begin = j;
                interior_.end = j + 1;
            }
        }
        if (interior_.begin == w_) interior_ = ColumnSpan{0, 0};
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
            const int64_t keys[2] = {zt.t0, zt.t1};
            const Inter* q0 = bilinearPlane(zt.t0, keys);
            const Inter* q1 = bilinearPlane(zt.t1, keys);
            for (int32_t j = 0; j < h_; ++j)
                Stages::combinePlanes(q0 + j * pitch_, q1 + j * pitch_, weights, w_, interior_, scaledRow(j),
                                      dstRow(j, z));
        }
    }

private:
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
                Stages::filterRow(job_.src.row(tap[k], p), xt_, w_, interior_, scaled, row_[s]);
            }
            r[k] = row_[s];
        }
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
    SlotCache<2> rowSlots_;
    SlotCache<2> planeSlots_;
};

template <class Src, class Dst>
void resizeLinear(const ResizeJob<Src, Dst>& job, int32_t zFirst, int32_t zCount, unsigned char* buffer)
{
    LinearResize<Src, Dst>(job, zFirst, zCount, buffer).run();
}

}  // namespace volume
}  // namespace vekr

#endif
