// The warp and remap exports called by voxel type, for typed tests.
#ifndef VEKR_TESTS_VOLUME_WARP_REMAP_CALLS_H
#define VEKR_TESTS_VOLUME_WARP_REMAP_CALLS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <type_traits>
#include <vector>

#include "test_volume.h"
#include "vekr.h"

namespace vekr_test {

// The voxel types of warp and remap, for typed test suites.
using ResamplingVoxelTypes = ::testing::Types<uint8_t, uint16_t, float>;

// A value the exports never produce from the tests' sources, marking
// destination voxels that must stay untouched.
template <class T>
T sentinel()
{
    if constexpr (std::is_same_v<T, float>) return -7.25f;
    else return static_cast<T>(sizeof(T) == 1 ? 0xA5 : 0xA5A5);
}

template <class T>
TestVolume<T> filledWith(int w, int h, int d, T value, bool bottomUp = false)
{
    TestVolume<T> v(w, h, d, 0, bottomUp);
    v.fillAll([&] { return value; });
    return v;
}

inline VekStatus callWarp(const uint8_t* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi, uint8_t* const* d,
                          int32_t ds, VekrCuboid dvoi, const double* a, int32_t mode)
{
    return vekrWarpAffine_8u_C1PV(s, sv, ss, svoi, d, ds, dvoi, a, mode, nullptr);
}
inline VekStatus callWarp(const uint16_t* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi, uint16_t* const* d,
                          int32_t ds, VekrCuboid dvoi, const double* a, int32_t mode)
{
    return vekrWarpAffine_16u_C1PV(s, sv, ss, svoi, d, ds, dvoi, a, mode, nullptr);
}
inline VekStatus callWarp(const float* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi, float* const* d,
                          int32_t ds, VekrCuboid dvoi, const double* a, int32_t mode)
{
    return vekrWarpAffine_32f_C1PV(s, sv, ss, svoi, d, ds, dvoi, a, mode, nullptr);
}

inline VekStatus callRemap(const uint8_t* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi,
                           const float* const* mx, const float* const* my, const float* const* mz, int32_t ms,
                           uint8_t* const* d, int32_t ds, VekrVolume dv, int32_t mode)
{
    return vekrRemap_8u_C1PV(s, sv, ss, svoi, mx, my, mz, ms, d, ds, dv, mode);
}
inline VekStatus callRemap(const uint16_t* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi,
                           const float* const* mx, const float* const* my, const float* const* mz, int32_t ms,
                           uint16_t* const* d, int32_t ds, VekrVolume dv, int32_t mode)
{
    return vekrRemap_16u_C1PV(s, sv, ss, svoi, mx, my, mz, ms, d, ds, dv, mode);
}
inline VekStatus callRemap(const float* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi,
                           const float* const* mx, const float* const* my, const float* const* mz, int32_t ms,
                           float* const* d, int32_t ds, VekrVolume dv, int32_t mode)
{
    return vekrRemap_32f_C1PV(s, sv, ss, svoi, mx, my, mz, ms, d, ds, dv, mode);
}

template <class T>
VekrVolume extentOf(const TestVolume<T>& v)
{
    return VekrVolume{v.width(), v.height(), v.depth()};
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
    return callRemap(src.cplanes(), extentOf(src), src.step(), srcVoi, maps.x.cplanes(), maps.y.cplanes(),
                     maps.z.cplanes(), maps.x.step(), dst.planes(), dst.step(), extentOf(dst), mode);
}

template <class T>
VekStatus warpThrough(const TestVolume<T>& src, VekrCuboid srcVoi, const double* a, TestVolume<T>& dst,
                      VekrCuboid dstVoi, int mode)
{
    return callWarp(src.cplanes(), extentOf(src), src.step(), srcVoi, dst.planes(), dst.step(), dstVoi, a, mode);
}

}  // namespace vekr_test

#endif
