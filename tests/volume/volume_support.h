// Volumes, typed export calls and the independent references of the volume
// tests. The references work voxel by voxel straight from the mapping rules
// (no caching, no separable passes, double precision where the library uses
// single), so they share nothing with the kernels but the rules.
#ifndef VEKR_TESTS_VOLUME_VOLUME_SUPPORT_H
#define VEKR_TESTS_VOLUME_VOLUME_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <type_traits>
#include <vector>

#include "support/test_buffers.h"
#include "vekr.h"

namespace vekr_test {

// One plane-pointer array over a block of memory with a margin of voxels
// around the nominal extent on every side (for kernels that read before
// voxel 0, or tests of untouched borders) and padded rows, optionally stored
// bottom-up (negative row step). Planes are evenly spaced, so the same block
// also serves the contiguous (C1V) calls.
template <class T>
class TestVolume {
public:
    // Voxels (x, y, z) with -margin <= x < width + margin (and likewise) exist.
    TestVolume(int width, int height, int depth, int margin = 0, bool bottomUp = false, int rowPad = 3)
        : w_(width), h_(height), d_(depth), m_(margin), pitch_(width + 2 * margin + rowPad),
          rows_(height + 2 * margin), data_(static_cast<size_t>(pitch_) * rows_ * (depth + 2 * margin)),
          bottomUp_(bottomUp)
    {
        linkPlanes();
    }
    // Copies own their memory: the plane pointers are rebuilt over it.
    TestVolume(const TestVolume& o)
        : w_(o.w_), h_(o.h_), d_(o.d_), m_(o.m_), pitch_(o.pitch_), rows_(o.rows_), data_(o.data_),
          bottomUp_(o.bottomUp_)
    {
        linkPlanes();
    }
    TestVolume& operator=(const TestVolume&) = delete;

    int width() const { return w_; }
    int height() const { return h_; }
    int depth() const { return d_; }
    VekrVolume extent() const { return VekrVolume{w_, h_, d_}; }
    int32_t step() const { return static_cast<int32_t>((bottomUp_ ? -pitch_ : pitch_) * sizeof(T)); }
    int32_t planeStep() const { return static_cast<int32_t>(pitch_ * rows_ * sizeof(T)); }

    // Plane arrays as the exports take them: element z is plane z.
    T* const* planes() { return planes_.data() + m_; }
    const T* const* cplanes() const { return cplanes_.data() + m_; }

    T& at(int x, int y, int z) { return planes()[z][static_cast<ptrdiff_t>(y) * rowElements() + x]; }
    T at(int x, int y, int z) const { return cplanes()[z][static_cast<ptrdiff_t>(y) * rowElements() + x]; }

    // Every stored element, margins and row padding included.
    std::vector<T>& raw() { return data_; }
    const std::vector<T>& raw() const { return data_; }
    void fill(T v) { std::fill(data_.begin(), data_.end(), v); }
    // Voxels by coordinate, margins included, so that a bottom-up copy of a
    // volume filled from the same generator holds the same voxels.
    template <class Gen>
    void fillVoxels(Gen&& gen)
    {
        for (int z = -m_; z < d_ + m_; ++z)
            for (int y = -m_; y < h_ + m_; ++y)
                for (int x = -m_; x < w_ + m_; ++x) at(x, y, z) = gen();
    }

    // f(x, y, z) for every voxel of the extent, until an assertion fails.
    template <class F>
    void forEach(F&& f) const
    {
        for (int z = 0; z < d_; ++z)
            for (int y = 0; y < h_; ++y)
                for (int x = 0; x < w_; ++x) {
                    f(x, y, z);
                    if (::testing::Test::HasFatalFailure()) return;
                }
    }

private:
    ptrdiff_t rowElements() const { return bottomUp_ ? -pitch_ : pitch_; }
    void linkPlanes()
    {
        planes_.resize(d_ + 2 * m_);
        for (int p = 0; p < d_ + 2 * m_; ++p) {
            T* plane = data_.data() + static_cast<size_t>(p) * pitch_ * rows_ + m_;
            // Row 0 of the plane: first stored row (top-down) or last (bottom-up).
            planes_[p] = bottomUp_ ? plane + static_cast<ptrdiff_t>(rows_ - 1 - m_) * pitch_
                                   : plane + static_cast<ptrdiff_t>(m_) * pitch_;
        }
        cplanes_.assign(planes_.begin(), planes_.end());
    }

    int w_, h_, d_, m_, pitch_, rows_;
    std::vector<T> data_;
    std::vector<T*> planes_;
    std::vector<const T*> cplanes_;
    bool bottomUp_;
};

// The exports by voxel type.
template <class T>
struct VoxelCalls;
#define VEKR_TEST_VOXEL_CALLS(T, tag)                                                                  \
    template <>                                                                                        \
    struct VoxelCalls<T> {                                                                             \
        static constexpr auto warp = vekrWarpAffine_##tag##_C1PV;                                      \
        static constexpr auto remap = vekrRemap_##tag##_C1PV;                                          \
        static constexpr auto resizePlanar = vekrResize_##tag##_C1PV;                                  \
        static constexpr auto resizeContiguous = vekrResize_##tag##_C1V;                               \
    };
VEKR_TEST_VOXEL_CALLS(uint8_t, 8u)
VEKR_TEST_VOXEL_CALLS(uint16_t, 16u)
VEKR_TEST_VOXEL_CALLS(float, 32f)
#undef VEKR_TEST_VOXEL_CALLS

using ResamplingVoxelTypes = ::testing::Types<uint8_t, uint16_t, float>;

// A value the exports never produce from the tests' sources, marking
// destination voxels that must stay untouched.
template <class T>
T sentinel()
{
    if constexpr (std::is_same_v<T, float>) return -7.25f;
    else return static_cast<T>(sizeof(T) == 1 ? 0xA5 : 0xA5A5);
}

// Largest voxel value, for tolerances relative to the type's range.
template <class T>
double valueScale()
{
    if constexpr (std::is_same_v<T, float>) return 1.0;
    else return sizeof(T) == 1 ? 255.0 : 65535.0;
}

// Random voxels: 8u and 16u over their range, float in [0, 1).
template <class T>
void fillRandom(TestVolume<T>& v, uint32_t seed)
{
    Rng rng(seed);
    if constexpr (std::is_same_v<T, float>) {
        std::uniform_real_distribution<float> d(0.0f, 1.0f);
        v.fillVoxels([&] { return d(rng); });
    } else {
        std::uniform_int_distribution<int> d(0, static_cast<int>(valueScale<T>()));
        v.fillVoxels([&] { return static_cast<T>(d(rng)); });
    }
}

template <class T>
TestVolume<T> filledWith(int w, int h, int d, T value, bool bottomUp = false)
{
    TestVolume<T> v(w, h, d, 0, bottomUp);
    v.fill(value);
    return v;
}

// The cubic kernels in forms other than the library's: the Lagrange basis
// polynomials of the nodes -1, 0, 1, 2, and the two-parameter (B, C) family.
inline double referenceKernel(int mode, double t)
{
    t = std::fabs(t);
    if (t >= 2.0) return 0.0;
    if (mode == vekInterLagrange)
        return t < 1.0 ? (t + 1) * (t - 1) * (t - 2) / 2 : -(t - 1) * (t - 2) * (t - 3) / 6;
    const double b = mode == vekInterBSpline ? 1.0 : (mode == vekInterCatmullRom ? 0.0 : 0.5);
    const double c = mode == vekInterBSpline ? 0.0 : (mode == vekInterCatmullRom ? 0.5 : 0.3);
    if (t < 1.0) return ((12 - 9 * b - 6 * c) * t * t * t + (-18 + 12 * b + 6 * c) * t * t + (6 - 2 * b)) / 6;
    return ((-b - 6 * c) * t * t * t + (6 * b + 30 * c) * t * t + (-12 * b - 48 * c) * t + (8 * b + 24 * c)) / 6;
}

// Sum over n x n x n taps of the product of the three axes' weights.
template <class T>
double separableSum(const TestVolume<T>& src, int n, const int tap[3][4], const double w[3][4])
{
    double v = 0.0;
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) v += w[0][i] * w[1][j] * w[2][k] * src.at(tap[0][i], tap[1][j], tap[2][k]);
    return v;
}

// ------------------------------------------------------------ warp, remap

// The source region as an inclusive box.
struct RefBox {
    int x0, y0, z0, x1, y1, z1;
};

// Cubic weight at distance t from a table of entries float(K(k / 100)),
// interpolated linearly, the way the library's tables are meant to be read
// but without its single-precision steps.
inline double tabulatedWeight(int mode, double t)
{
    const double s = std::fmin(std::fabs(t), 2.0) * 100.0;
    const int k = static_cast<int>(s);
    const double lo = static_cast<float>(referenceKernel(mode, k / 100.0));
    const double hi = k + 1 > 200 ? 0.0 : static_cast<float>(referenceKernel(mode, (k + 1) / 100.0));
    return lo + (hi - lo) * (s - k);
}

// Nearest, trilinear or cubic interpolation at one source position. Taps
// are held at the box's last index above; below, a position in the first
// voxel of the volume repeats voxel 0 (and then reads 1 and 2 whatever the
// box).
template <class T>
double referenceSample(const TestVolume<T>& src, const RefBox& box, int mode, double sx, double sy, double sz)
{
    const double c[3] = {sx, sy, sz};
    const int last[3] = {box.x1, box.y1, box.z1};
    if (mode == vekInterNearest)
        return src.at(static_cast<int>(std::nearbyint(sx)), static_cast<int>(std::nearbyint(sy)),
                      static_cast<int>(std::nearbyint(sz)));
    int tap[3][4];
    double w[3][4];
    for (int a = 0; a < 3; ++a) {
        int i = static_cast<int>(std::floor(c[a]));
        if (mode == vekInterLinear) {
            if (i == last[a]) i = last[a] - 1;
            const double f = c[a] - i;
            tap[a][0] = i < 0 ? 0 : i, tap[a][1] = i + 1;
            w[a][0] = 1.0 - f, w[a][1] = f;
            continue;
        }
        const double f = c[a] - i;
        for (int t = 0; t < 4; ++t) {
            const int at = i - 1 + t;
            tap[a][t] = i < 1 ? (t == 0 ? 0 : t - 1) : (at <= last[a] ? at : (i == last[a] ? i : last[a]));
            w[a][t] = tabulatedWeight(mode, t - 1 - f);
        }
    }
    return separableSum(src, mode == vekInterLinear ? 2 : 4, tap, w);
}

// Three coordinate maps of one destination extent.
struct Maps {
    Maps(int w, int h, int d) : x(w, h, d), y(w, h, d), z(w, h, d) {}
    template <class F>
    void fill(F&& position)  // position(X, Y, Z, float out[3])
    {
        for (int k = 0; k < x.depth(); ++k)
            for (int j = 0; j < x.height(); ++j)
                for (int i = 0; i < x.width(); ++i) {
                    float p[3];
                    position(i, j, k, p);
                    x.at(i, j, k) = p[0], y.at(i, j, k) = p[1], z.at(i, j, k) = p[2];
                }
    }
    TestVolume<float> x, y, z;
};

template <class T>
VekStatus remapThrough(const TestVolume<T>& src, VekrCuboid srcVoi, const Maps& maps, TestVolume<T>& dst, int mode)
{
    return VoxelCalls<T>::remap(src.cplanes(), src.extent(), src.step(), srcVoi, maps.x.cplanes(), maps.y.cplanes(),
                                maps.z.cplanes(), maps.x.step(), dst.planes(), dst.step(), dst.extent(), mode);
}

template <class T>
VekStatus warpThrough(const TestVolume<T>& src, VekrCuboid srcVoi, const double* a, TestVolume<T>& dst,
                      VekrCuboid dstVoi, int mode)
{
    return VoxelCalls<T>::warp(src.cplanes(), src.extent(), src.step(), srcVoi, dst.planes(), dst.step(), dstVoi, a,
                               mode, nullptr);
}

// ------------------------------------------------------------------ resize

struct Scale {
    double fx = 1, fy = 1, fz = 1;
    double sx = 0, sy = 0, sz = 0;
};

enum class Layout { Planar, Contiguous };

// Queries the buffer size and calls the export with a buffer of exactly
// that many bytes (a heap block of its own, so a sanitizer sees overruns).
template <class T>
VekStatus resize(Layout layout, const TestVolume<T>& src, VekrCuboid srcVoi, TestVolume<T>& dst, VekrCuboid dstVoi,
                 const Scale& s, int mode)
{
    int32_t size = 0;
    const int queryMode = (mode == 1 || mode == 2 || (mode >= 4 && mode <= 7)) ? mode : 1;
    if (vekrResizeGetBufSize(srcVoi, dstVoi, 1, queryMode, &size) != vekStsOk) size = 64;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    if (layout == Layout::Planar)
        return VoxelCalls<T>::resizePlanar(src.cplanes(), src.extent(), src.step(), srcVoi, dst.planes(), dst.step(),
                                           dstVoi, s.fx, s.fy, s.fz, s.sx, s.sy, s.sz, mode, buffer.data());
    return VoxelCalls<T>::resizeContiguous(src.cplanes()[0], src.extent(), src.step(), src.planeStep(), srcVoi,
                                           dst.planes()[0], dst.step(), dst.planeStep(), dstVoi, s.fx, s.fy, s.fz,
                                           s.sx, s.sy, s.sz, mode, buffer.data());
}

// Destination range [begin, end) written on one axis.
struct Range {
    int begin, end;
};

inline Range writtenRange(int srcFirst, int srcExtent, int volumeExtent, int dstFirst, int dstExtent, double f,
                          double s)
{
    const int trimmed = std::min(srcExtent, volumeExtent - srcFirst);
    const double lo = std::max(srcFirst * f + s, static_cast<double>(dstFirst));
    const double hi = std::min((srcFirst + trimmed) * f + s, static_cast<double>(dstFirst + dstExtent));
    return Range{static_cast<int>(lo + 0.4999999999), static_cast<int>(hi + 0.5000000001)};
}

struct Regions {
    Range x, y, z;
    bool contain(int px, int py, int pz) const
    {
        return px >= x.begin && px < x.end && py >= y.begin && py < y.end && pz >= z.begin && pz < z.end;
    }
};

inline Regions writtenRegions(VekrVolume v, VekrCuboid src, VekrCuboid dst, const Scale& s)
{
    return Regions{writtenRange(src.x, src.width, v.width, dst.x, dst.width, s.fx, s.sx),
                   writtenRange(src.y, src.height, v.height, dst.y, dst.height, s.fy, s.sy),
                   writtenRange(src.z, src.depth, v.depth, dst.z, dst.depth, s.fz, s.sz)};
}

// Source position of destination index d for the tap-based modes, in the
// operation order of the mapping rule (reciprocal factor, then offset), so
// that exact boundaries fall the same way.
inline double position(int d, double f, double s)
{
    return (d + 0.5) * (1.0 / f) - 0.5 + (0.0 - s) / f;
}

inline int nearestIndex(int d, double f, double s)
{
    return static_cast<int>((d + 0.5) * (1.0 / f) - 1e-10 + (0.0 - s) / f);
}

// Taps and weights of one axis for the tap-based modes, with the face rule:
// linear taps onto the face voxel, cubic taps as listed per case.
struct AxisSample {
    int tap[4];
    double weight[4];
};

inline AxisSample axisSample(int mode, int d, double f, double s, int extent)
{
    const double c = position(d, f, s);
    const int i = static_cast<int>(std::floor(c));
    const double fr = static_cast<float>(c - std::floor(c));  // the library keeps fractions in single precision
    AxisSample a{};
    if (mode == vekInterLinear) {
        a.tap[0] = i < 0 ? 0 : std::min(i, extent - 1);
        a.tap[1] = i < 0 ? 0 : std::min(i + 1, extent - 1);
        a.weight[0] = 1 - fr;
        a.weight[1] = fr;
        return a;
    }
    // The face cases: before the first voxel, on it, on the second-to-last,
    // past it; each tap then kept inside (volumes thinner than 3 voxels).
    const int e = extent;
    const int t[4] = {i < 0 ? 0 : (i == 0 ? 0 : (i >= e - 1 ? e - 2 : i - 1)),
                      i < 0 ? 0 : (i == 0 ? 0 : (i >= e - 1 ? e - 1 : i)),
                      i < 0 ? 0 : (i == 0 ? 1 : (i >= e - 2 ? e - 1 : i + 1)),
                      i < 0 ? 1 : (i == 0 ? 2 : (i >= e - 2 ? e - 1 : i + 2))};
    for (int k = 0; k < 4; ++k) {
        a.tap[k] = std::max(0, std::min(t[k], extent - 1));
        a.weight[k] = referenceKernel(mode, fr - (k - 1));
    }
    return a;
}

// Double-precision sum of one destination voxel of a linear or cubic resize.
template <class T>
double referenceVoxel(const TestVolume<T>& src, int mode, int x, int y, int z, const Scale& s)
{
    const AxisSample a[3] = {axisSample(mode, x, s.fx, s.sx, src.width()),
                             axisSample(mode, y, s.fy, s.sy, src.height()),
                             axisSample(mode, z, s.fz, s.sz, src.depth())};
    int tap[3][4];
    double w[3][4];
    for (int k = 0; k < 3; ++k)
        for (int t = 0; t < 4; ++t) tap[k][t] = a[k].tap[t], w[k][t] = a[k].weight[t];
    return separableSum(src, mode == vekInterLinear ? 2 : 4, tap, w);
}

// The fixed-point staging of 8u and 16u linear, voxel by voxel.
template <class T>
uint32_t linearIntegerVoxel(const TestVolume<T>& src, int x, int y, int z, const Scale& s)
{
    auto axis = [](int d, double f, double sh, int n, int& t0, int& t1, uint32_t& w, bool& clamped) {
        const double c = position(d, f, sh);
        const int i = static_cast<int>(std::floor(c));
        w = static_cast<uint32_t>((c - std::floor(c)) * 16384.0 + 1e-7);
        clamped = i < 0 || i > n - 2;
        t0 = i < 0 ? 0 : (i > n - 2 ? n - 1 : i);
        t1 = i < 0 ? 0 : (i > n - 2 ? n - 1 : i + 1);
    };
    int x0, x1, y0, y1, z0, z1;
    uint32_t wx, wy, wz;
    bool cx, cy, cz;
    axis(x, s.fx, s.sx, src.width(), x0, x1, wx, cx);
    axis(y, s.fy, s.sy, src.height(), y0, y1, wy, cy);
    axis(z, s.fz, s.sz, src.depth(), z0, z1, wz, cz);
    const bool sixBits = sizeof(T) == 1 && !cx && !cy;
    auto xs = [&](int yy, int zz) {
        const uint32_t sum = (16384 - wx) * src.at(x0, yy, zz) + wx * src.at(x1, yy, zz);
        return sixBits ? (sum + 128) >> 8 : (sum + 8192) >> 14;
    };
    auto ysum = [&](int zz) { return (16384 - wy) * xs(y0, zz) + wy * xs(y1, zz); };
    auto sat = [](uint32_t r) { return std::min<uint32_t>(r, sizeof(T) == 1 ? 255u : 65535u); };
    if (z0 == z1) return sat(sixBits ? (ysum(z0) + 524288) >> 20 : (ysum(z0) + 8192) >> 14);
    const uint32_t q0 = (ysum(z0) + 8192) >> 14, q1 = (ysum(z1) + 8192) >> 14;
    const uint32_t zsum = (16384 - wz) * q0 + wz * q1;
    return sat(sixBits ? (zsum + 524288) >> 20 : (zsum + 8192) >> 14);
}

}  // namespace vekr_test

#endif
