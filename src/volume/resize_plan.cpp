#include "volume/resize_plan.h"

#include <cmath>

namespace vekr {
namespace volume {

namespace {

// Truncation toward zero, saturated to the 32-bit range (NaN gives the
// lowest value) so that extreme factors and shifts stay defined.
int32_t truncToIndex(double v)
{
    if (!(v > -2147483648.0)) return INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(v);
}

ResizeAxis planAxis(int32_t srcFirst, int32_t srcTrimmedExtent, int32_t dstFirst, int32_t dstExtent, double factor,
                    double shift)
{
    // The scaled source region [first * F + S, (first + extent) * F + S)
    // meets the destination region; the constants decide that a voxel whose
    // centre lies exactly on the scaled region's edge is written at the far
    // end and skipped at the near end.
    const double scaledFirst = static_cast<double>(srcFirst) * factor + shift;
    const double scaledEnd = static_cast<double>(srcFirst + srcTrimmedExtent) * factor + shift;
    const double dstEnd = static_cast<double>(dstFirst) + static_cast<double>(dstExtent);
    const double lo = scaledFirst > dstFirst ? scaledFirst : static_cast<double>(dstFirst);
    const double hi = scaledEnd < dstEnd ? scaledEnd : dstEnd;
    ResizeAxis a;
    a.begin = truncToIndex(lo + 0.4999999999);
    // hi is at most the destination region's end, which the checks keep at
    // or below 2^31; only an end below the 32-bit range needs saturating.
    const double endPosition = hi + 0.5000000001;
    a.end = endPosition >= 2147483648.0 ? int64_t{2147483648} : int64_t{truncToIndex(endPosition)};
    // A NaN edge (a NaN shift, or 0 times an infinite factor) maps nothing.
    if (std::isnan(scaledFirst) || std::isnan(scaledEnd)) a.begin = 0, a.end = 0;
    a.invFactor = 1.0 / factor;
    a.offset = (0.0 - shift) / factor;
    return a;
}

uint64_t ceil16(uint64_t n) { return (n + 15u) / 16u; }
uint64_t a16(uint64_t n) { return (n + 15u) & ~uint64_t(15); }
uint64_t a64(uint64_t n) { return (n + 63u) & ~uint64_t(63); }
uint64_t f64(uint64_t n) { return n & ~uint64_t(63); }

// Every mode needs at least 4 bytes per voxel of each extent (64 bytes per
// 16 in nearest mode, 4 * A16(n) in the others), so an extent of 2^29 alone
// takes the size past 2^31. Clamping the extents there keeps the products
// within 64 bits without changing whether the size fits 32.
constexpr uint64_t kExtentClamp = uint64_t(1) << 29;

}  // namespace

VekStatus planResize(const VekrVolume& srcVolume, const VekrCuboid& srcVoi, const VekrCuboid& dstVoi, double xFactor,
                     double yFactor, double zFactor, double xShift, double yShift, double zShift, VekrResizePlan* plan)
{
    const VekrCuboid s{srcVoi.x,
                       srcVoi.y,
                       srcVoi.z,
                       srcVoi.width < srcVolume.width - srcVoi.x ? srcVoi.width : srcVolume.width - srcVoi.x,
                       srcVoi.height < srcVolume.height - srcVoi.y ? srcVoi.height : srcVolume.height - srcVoi.y,
                       srcVoi.depth < srcVolume.depth - srcVoi.z ? srcVoi.depth : srcVolume.depth - srcVoi.z};
    plan->x = planAxis(s.x, s.width, dstVoi.x, dstVoi.width, xFactor, xShift);
    plan->y = planAxis(s.y, s.height, dstVoi.y, dstVoi.height, yFactor, yShift);
    plan->z = planAxis(s.z, s.depth, dstVoi.z, dstVoi.depth, zFactor, zShift);
    if (plan->x.begin >= plan->x.end || plan->y.begin >= plan->y.end || plan->z.end <= plan->z.begin)
        return vekStsNoVoxelsWarn;
    return vekStsOk;
}

uint64_t resizeBufferBytesPerThread(int32_t mode, int32_t width, int32_t height, int32_t depth)
{
    auto clamped = [](int32_t n) { return n < 0 ? 0u : (uint64_t(n) < kExtentClamp ? uint64_t(n) : kExtentClamp); };
    const uint64_t w = clamped(width), h = clamped(height), d = clamped(depth);
    const uint64_t c = 1;  // channels
    if (mode == vekInterNearest) return 64u * (ceil16(w) + ceil16(h) + ceil16(d)) + 64u;
    const uint64_t tables = a16(w) + a16(h) + a16(d) + a64(w) + a64(h) + a64(d);
    if (mode == vekInterLinear)
        return 4u * (tables + c * f64(2u * w + 127u) + 2u * h * c * a64(w) + c * f64(8u * (w + h) + 127u)) + 64u;
    return 4u * (tables + c * f64(4u * w + 255u) + 4u * h * c * a64(w) + f64(4u * w + 255u) + f64(4u * h + 255u) +
                 f64(4u * d + 255u) + c * f64(48u * (w + h) + 255u)) +
           64u;
}

bool resizeBufferBytes(int32_t mode, int32_t width, int32_t height, int32_t depth, int32_t threads, int32_t* bytes)
{
    const uint64_t perThread = resizeBufferBytesPerThread(mode, width, height, depth);
    const uint64_t n = threads < 1 ? 1u : static_cast<uint64_t>(threads);
    // perThread is checked first so that the product stays below 2^62.
    if (perThread > uint64_t(INT32_MAX) || perThread * n > uint64_t(INT32_MAX)) return false;
    *bytes = static_cast<int32_t>(perThread * n);
    return true;
}

int32_t nearestSourceIndex(const ResizeAxis& axis, int32_t d, int32_t extent)
{
    const int32_t s = truncToIndex((static_cast<double>(d) + 0.5) * axis.invFactor - 1e-10 + axis.offset);
    return s < 0 ? 0 : (s > extent - 1 ? extent - 1 : s);
}

SplitPosition splitPosition(double c)
{
    const double floored = std::floor(c);
    const double fraction = c - floored;
    // A position a hair below a whole number gives a fraction of exactly 1
    // (index one lower); only a non-finite position has no usable fraction.
    return SplitPosition{truncToIndex(floored), std::isfinite(fraction) ? fraction : 0.0};
}

}  // namespace volume
}  // namespace vekr
