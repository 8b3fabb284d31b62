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
#ifndef VEKR_VOLUME_FILTER_KERNELS_H
#define VEKR_VOLUME_FILTER_KERNELS_H

#include <cstddef>
#include <cstdint>
#include <utility>

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
    const int32_t taps = a.kw * a.kh * a.kd;
    const int32_t* lastCoeff = a.kernel + (taps - 1);
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

}  // namespace vekr::volume

#endif
