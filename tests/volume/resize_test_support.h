// Volumes, export calls and independent reference models for the resize
// tests. The references work voxel by voxel straight from the mapping rules
// (no caching, no separable passes, double precision where the library uses
// single), so that they share nothing with the kernels but the rules.
#ifndef VEKR_TESTS_VOLUME_RESIZE_TEST_SUPPORT_H
#define VEKR_TESTS_VOLUME_RESIZE_TEST_SUPPORT_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "vekr.h"

namespace resize_test {

// A volume stored with padded rows, optionally bottom-up (negative row step).
template <class T>
class TestVolume {
public:
    TestVolume(VekrVolume extent, bool bottomUp = false, int pad = 3)
        : extent_(extent), pitch_(extent.width + pad), bottomUp_(bottomUp),
          data_(static_cast<size_t>(pitch_) * extent.height * extent.depth + 1)
    {
    }
    const VekrVolume& extent() const { return extent_; }
    T& at(int x, int y, int z) { return data_[index(x, y, z)]; }
    const T& at(int x, int y, int z) const { return data_[index(x, y, z)]; }
    int32_t rowStepBytes() const { return (bottomUp_ ? -1 : 1) * pitch_ * static_cast<int32_t>(sizeof(T)); }
    int32_t planeStepBytes() const { return extent_.height * pitch_ * static_cast<int32_t>(sizeof(T)); }
    T* origin() { return &data_[index(0, 0, 0)]; }
    std::vector<T*> planes()
    {
        std::vector<T*> p;
        for (int z = 0; z < extent_.depth; ++z) p.push_back(&data_[index(0, 0, z)]);
        return p;
    }
    const std::vector<T>& raw() const { return data_; }
    void fill(T v) { std::fill(data_.begin(), data_.end(), v); }

private:
    size_t index(int x, int y, int z) const
    {
        const int row = bottomUp_ ? extent_.height - 1 - y : y;
        return (static_cast<size_t>(z) * extent_.height + row) * pitch_ + x;
    }
    VekrVolume extent_;
    int pitch_;
    bool bottomUp_;
    std::vector<T> data_;
};

// White noise over the voxel type's range (floats in [0, 1)).
template <class T>
T randomVoxel(std::mt19937& rng)
{
    if constexpr (sizeof(T) == 4) return static_cast<float>(rng() >> 8) * 5.9604644775390625e-8f;
    else return static_cast<T>(rng());
}

template <class T>
TestVolume<T> randomVolume(VekrVolume extent, uint32_t seed, bool bottomUp = false)
{
    std::mt19937 rng(seed);
    TestVolume<T> v(extent, bottomUp);
    for (int z = 0; z < extent.depth; ++z)
        for (int y = 0; y < extent.height; ++y)
            for (int x = 0; x < extent.width; ++x) v.at(x, y, z) = randomVoxel<T>(rng);
    return v;
}

struct Scale {
    double fx = 1, fy = 1, fz = 1;
    double sx = 0, sy = 0, sz = 0;
};

enum class Layout { Planar, Contiguous };

template <class T>
struct Exports;
template <>
struct Exports<uint8_t> {
    static constexpr auto planar = vekrResize_8u_C1PV;
    static constexpr auto contiguous = vekrResize_8u_C1V;
};
template <>
struct Exports<uint16_t> {
    static constexpr auto planar = vekrResize_16u_C1PV;
    static constexpr auto contiguous = vekrResize_16u_C1V;
};
template <>
struct Exports<float> {
    static constexpr auto planar = vekrResize_32f_C1PV;
    static constexpr auto contiguous = vekrResize_32f_C1V;
};

// Queries the buffer size and calls the export with a buffer of exactly
// that many bytes (a heap block of its own, so a sanitizer sees overruns).
template <class T>
VekStatus resize(Layout layout, TestVolume<T>& src, VekrCuboid srcVoi, TestVolume<T>& dst, VekrCuboid dstVoi,
                 const Scale& s, int mode)
{
    int32_t size = 0;
    const int queryMode = (mode == 1 || mode == 2 || (mode >= 4 && mode <= 7)) ? mode : 1;
    if (vekrResizeGetBufSize(srcVoi, dstVoi, 1, queryMode, &size) != vekStsOk) size = 64;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    if (layout == Layout::Planar) {
        std::vector<T*> sp = src.planes(), dp = dst.planes();
        std::vector<const T*> csp(sp.begin(), sp.end());
        return Exports<T>::planar(csp.data(), src.extent(), src.rowStepBytes(), srcVoi, dp.data(), dst.rowStepBytes(),
                                  dstVoi, s.fx, s.fy, s.fz, s.sx, s.sy, s.sz, mode, buffer.data());
    }
    return Exports<T>::contiguous(src.origin(), src.extent(), src.rowStepBytes(), src.planeStepBytes(), srcVoi,
                                  dst.origin(), dst.rowStepBytes(), dst.planeStepBytes(), dstVoi, s.fx, s.fy, s.fz,
                                  s.sx, s.sy, s.sz, mode, buffer.data());
}

// ---------------------------------------------------------------- reference

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

// The cubic kernels in the (B, C) family form and as Lagrange polynomials.
inline double kernel(int mode, double t)
{
    t = std::fabs(t);
    if (mode == 4) {
        if (t < 1) return (t + 1) * (t - 1) * (t - 2) / 2;
        if (t < 2) return -(t - 1) * (t - 2) * (t - 3) / 6;
        return 0;
    }
    const double b = mode == 5 ? 1.0 : (mode == 6 ? 0.0 : 0.5);
    const double c = mode == 5 ? 0.0 : (mode == 6 ? 0.5 : 0.3);
    if (t < 1) return ((12 - 9 * b - 6 * c) * t * t * t + (-18 + 12 * b + 6 * c) * t * t + (6 - 2 * b)) / 6;
    if (t < 2) return ((-b - 6 * c) * t * t * t + (6 * b + 30 * c) * t * t + (-12 * b - 48 * c) * t + (8 * b + 24 * c)) / 6;
    return 0;
}

// Taps and weights of one axis for the tap-based modes, with the face rule:
// linear taps onto the face voxel, cubic taps as listed per case.
struct AxisSample {
    int n;
    int tap[4];
    double weight[4];
    bool interior;
};

inline AxisSample axisSample(int mode, int d, double f, double s, int extent)
{
    const double c = position(d, f, s);
    const int i = static_cast<int>(std::floor(c));
    const double fr = static_cast<float>(c - std::floor(c));  // the library keeps fractions in single precision
    AxisSample a{};
    if (mode == 2) {
        a.n = 2;
        a.interior = i >= 0 && i + 1 <= extent - 1;
        a.tap[0] = i < 0 ? 0 : std::min(i, extent - 1);
        a.tap[1] = i < 0 ? 0 : std::min(i + 1, extent - 1);
        a.weight[0] = 1 - fr;
        a.weight[1] = fr;
        return a;
    }
    a.n = 4;
    a.interior = i - 1 >= 0 && i + 2 <= extent - 1;
    // The face cases: before the first voxel, on it, on the second-to-last,
    // past it; each tap then kept inside (volumes thinner than 3 voxels).
    const int e = extent;
    const int t[4] = {i < 0 ? 0 : (i == 0 ? 0 : (i >= e - 1 ? e - 2 : i - 1)),
                      i < 0 ? 0 : (i == 0 ? 0 : (i >= e - 1 ? e - 1 : i)),
                      i < 0 ? 0 : (i == 0 ? 1 : (i >= e - 2 ? e - 1 : i + 1)),
                      i < 0 ? 1 : (i == 0 ? 2 : (i >= e - 2 ? e - 1 : i + 2))};
    for (int k = 0; k < 4; ++k) {
        a.tap[k] = std::max(0, std::min(t[k], extent - 1));
        a.weight[k] = kernel(mode, fr - (k - 1));
    }
    return a;
}

// Double-precision separable sum of one destination voxel.
template <class T>
double referenceVoxel(const TestVolume<T>& src, int mode, int x, int y, int z, const Scale& s, bool* interior = nullptr)
{
    const VekrVolume v = src.extent();
    const AxisSample ax = axisSample(mode, x, s.fx, s.sx, v.width);
    const AxisSample ay = axisSample(mode, y, s.fy, s.sy, v.height);
    const AxisSample az = axisSample(mode, z, s.fz, s.sz, v.depth);
    if (interior) *interior = ax.interior && ay.interior && az.interior;
    double sum = 0;
    for (int c = 0; c < az.n; ++c)
        for (int b = 0; b < ay.n; ++b)
            for (int a = 0; a < ax.n; ++a)
                sum += az.weight[c] * ay.weight[b] * ax.weight[a] * src.at(ax.tap[a], ay.tap[b], az.tap[c]);
    return sum;
}

// The fixed-point staging of 8u and 16u linear, voxel by voxel.
template <class T>
uint32_t linearIntegerVoxel(const TestVolume<T>& src, int x, int y, int z, const Scale& s)
{
    const VekrVolume v = src.extent();
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
    axis(x, s.fx, s.sx, v.width, x0, x1, wx, cx);
    axis(y, s.fy, s.sy, v.height, y0, y1, wy, cy);
    axis(z, s.fz, s.sz, v.depth, z0, z1, wz, cz);
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

}  // namespace resize_test

#endif
