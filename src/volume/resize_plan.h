// The part of resize that every voxel type and mode shares: the plan (which
// destination voxels are written and how destination indices map back to
// source positions), the scratch-buffer size, the per-axis position tables
// and the rule that moves linear and cubic taps back inside the volume.
#ifndef VEKR_VOLUME_RESIZE_PLAN_H
#define VEKR_VOLUME_RESIZE_PLAN_H

#include <cstddef>
#include <cstdint>

#include "vekr_volume.h"

namespace vekr {
namespace volume {

// One axis of the plan: destination indices [begin, end) are written;
// destination index d samples the source at (d + 0.5) * invFactor + offset
// (minus 0.5 for the tap-based modes).
// end is 64-bit because a destination region may end on index 2^31 - 1,
// making the index one past it 2^31.
struct ResizeAxis {
    int32_t begin;
    int64_t end;
    double invFactor;
    double offset;
    int32_t count() const { return static_cast<int32_t>(end - begin); }
};

struct VekrResizePlan {
    ResizeAxis x, y, z;
    int32_t width() const { return x.count(); }
    int32_t height() const { return y.count(); }
    int32_t depth() const { return z.count(); }
};

// Computes the plan from checked arguments; returns vekStsNoVoxelsWarn (1)
// when the scaled source region misses the destination region, else 0.
VekStatus planResize(const VekrVolume& srcVolume, const VekrCuboid& srcVoi, const VekrCuboid& dstVoi, double xFactor,
                     double yFactor, double zFactor, double xShift, double yShift, double zShift,
                     VekrResizePlan* plan);

// Bytes one thread needs for a destination region of w x h x d voxels in a
// (checked) mode. Exact while every extent is below 2^29; beyond, the value
// is only guaranteed to exceed INT32_MAX, which is all that callers ask.
uint64_t resizeBufferBytesPerThread(int32_t mode, int32_t w, int32_t h, int32_t d);

// The scratch size of the whole buffer, the per-thread need times the thread
// count, or false when it does not fit a signed 32-bit size: no buffer the
// caller could be told to provide would then hold it.
bool resizeBufferBytes(int32_t mode, int32_t w, int32_t h, int32_t d, int32_t threads, int32_t* bytes);

// ---------------------------------------------------------------- tables

// Source index of nearest mode for destination index d, kept inside
// [0, extent - 1]. The 1e-10 bias puts positions that fall exactly on a
// boundary between two source voxels on the lower one.
int32_t nearestSourceIndex(const ResizeAxis& axis, int32_t d, int32_t extent);

// Source position of the tap-based modes for destination index d.
inline double samplePosition(const ResizeAxis& axis, int32_t d)
{
    return (static_cast<double>(d) + 0.5) * axis.invFactor - 0.5 + axis.offset;
}

// A position split into its floor, as a 32-bit index, and the unrounded
// fraction c - floor(c). The index saturates so that absurd factors cannot
// overflow it (the border rule moves such taps inside anyway); a position
// that is not finite (a denormal factor) gets fraction 0 rather than NaN.
struct SplitPosition {
    int32_t i;
    double fraction;
};
SplitPosition splitPosition(double c);

// Linear taps (i, i + 1) moved inside [0, n - 1]: both onto the face when i
// lies before the first or past the second-to-last voxel.
struct LinearTaps {
    int32_t t0, t1;
};
inline LinearTaps clampLinearTaps(int32_t i, int32_t n)
{
    if (i < 0) return {0, 0};
    if (i > n - 2) return {n - 1, n - 1};
    return {i, i + 1};
}
inline bool isInteriorLinear(int32_t i, int32_t n) { return i >= 0 && i <= n - 2; }

// Cubic taps (i - 1 .. i + 2) moved inside [0, n - 1]. The weights stay those
// of the unclamped taps, so repeated taps add up on the face voxel. Volumes
// thinner than 3 voxels would still name taps past the far face; each tap is
// clamped once more so that nothing outside the volume is ever read.
struct CubicTaps {
    int32_t t[4];
};
inline CubicTaps clampCubicTaps(int32_t i, int32_t n)
{
    CubicTaps c;
    if (i < 0) c = {{0, 0, 0, 1}};
    else if (i == 0) c = {{0, 0, 1, 2}};
    else if (i > n - 2) c = {{n - 2, n - 1, n - 1, n - 1}};
    else if (i == n - 2) c = {{n - 3, n - 2, n - 1, n - 1}};
    else c = {{i - 1, i, i + 1, i + 2}};
    for (int k = 0; k < 4; ++k) c.t[k] = c.t[k] < 0 ? 0 : (c.t[k] > n - 1 ? n - 1 : c.t[k]);
    return c;
}
inline bool isInteriorCubic(int32_t i, int32_t n) { return i >= 1 && i <= n - 3; }

// The 14-bit weight of the second linear tap for the integer voxel types,
// from the unrounded fraction; the tiny bias keeps exact fractions such as
// 0.25 from landing one step low.
inline uint16_t linearFixedWeight(double fraction)
{
    return static_cast<uint16_t>(static_cast<int32_t>(fraction * 16384.0 + 1e-7));
}

// ---------------------------------------------------------------- scratch

// Hands out 16-byte aligned pieces of the caller's buffer in order. The
// per-mode layouts take exactly the pieces that the buffer size provides.
class ScratchArena {
public:
    explicit ScratchArena(unsigned char* buffer)
        : next_(reinterpret_cast<unsigned char*>((reinterpret_cast<uintptr_t>(buffer) + 15u) & ~uintptr_t(15)))
    {
    }
    // count elements of T; the piece is rounded up to whole 16-byte units.
    template <class T>
    T* take(size_t count)
    {
        T* p = reinterpret_cast<T*>(next_);
        next_ += (count * sizeof(T) + 15u) & ~size_t(15);
        return p;
    }

private:
    unsigned char* next_;
};

// n rounded up to a multiple of 4, the lane count of the 4-wide loops.
inline size_t roundUp4(int32_t n) { return (static_cast<size_t>(n) + 3u) & ~size_t(3); }

}  // namespace volume
}  // namespace vekr

#endif
