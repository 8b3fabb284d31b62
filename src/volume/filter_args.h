// What the filter front hands to a convolution kernel, the tests that
// choose the kernel (kernel shape, divisor class, whether every sum fits 32
// bits) and the table of kernels of one instruction set.
#ifndef VEKR_VOLUME_FILTER_ARGS_H
#define VEKR_VOLUME_FILTER_ARGS_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace vekr::volume {

struct FilterArgs {
    const int16_t* const* src;  // plane array, indexed from az - (kd - 1)
    ptrdiff_t srcStep;          // elements between source rows
    int16_t* const* dst;
    ptrdiff_t dstStep;          // elements between destination rows
    int32_t width, height, depth;
    const int32_t* kernel;
    int32_t kw, kh, kd;
    int32_t ax, ay, az;
};

enum class DivisorClass { One, PowerOfTwo, General };

// -2^31 passes the usual power-of-two bit test but has no shift count, so
// only positive powers of two from 2 to 2^30 take the shifting path.
inline DivisorClass classifyDivisor(int32_t divisor)
{
    if (divisor == 1) return DivisorClass::One;
    if (divisor > 1 && (divisor & (divisor - 1)) == 0) return DivisorClass::PowerOfTwo;
    return DivisorClass::General;
}

// Stack room of the narrow path: window rows per voxel and coefficient pairs.
constexpr int32_t kMaxNarrowRows = 256;
constexpr int32_t kMaxNarrowPairs = 1024;

// A sum of 16-bit voxels times coefficients whose magnitudes add up to at
// most 65535 stays below 32768 * 65535 < 2^31 at every step, and so does
// each pair of products of a 16-bit multiply-add (no coefficient may be
// -32768 there, which the magnitude bound of 32767 excludes).
inline bool fitsNarrowPath(const FilterArgs& a)
{
    const int64_t rows = int64_t{a.kh} * a.kd;
    if (rows > kMaxNarrowRows || rows * ((a.kw + 1) / 2) > kMaxNarrowPairs) return false;
    const int64_t taps = rows * a.kw;
    int64_t magnitude = 0;
    for (int64_t i = 0; i < taps; ++i) {
        const int64_t k = std::llabs(static_cast<long long>(a.kernel[i]));
        if (k > 32767) return false;
        magnitude += k;
    }
    return magnitude <= 65535;
}

using FilterKernel = void (*)(const FilterArgs&, int32_t divisor);

// [path][shape][divisor class]. Paths: wide 64-bit sums, narrow 32-bit
// lanes. Shapes: any, 3 x 3 x 3, 5 x 5 x 5. Divisor classes in the order of
// DivisorClass.
struct FilterKernelTable {
    FilterKernel byPath[2][3][3];
};

}  // namespace vekr::volume

#endif
