// Lane helpers shared by the 4-wide shading kernels: P3 groups of four
// elements and the masked-lane selections every masked kernel repeats.
#ifndef VEKR_SHADING_LANES_H
#define VEKR_SHADING_LANES_H

#include <pmmintrin.h>

#include <cstdint>

#include "core/simd.h"

namespace vekr::shading {

// The path an export takes: the scalar loop, or the 4-wide kernel in its
// aligned or unaligned access form.
enum class LanePath { Scalar, FourWideAligned, FourWideUnaligned };

// Four elements of a P3 vector: lane j of x, y, z is element i + j.
struct Lanes3 {
    __m128 x, y, z;
};

template <class Access>
inline Lanes3 load3(const float* const planes[3], int32_t i)
{
    return {Access::load(planes[0] + i), Access::load(planes[1] + i), Access::load(planes[2] + i)};
}

template <class Access>
inline void store3(float* const planes[3], int32_t i, const Lanes3& v)
{
    Access::store(planes[0] + i, v.x);
    Access::store(planes[1] + i, v.y);
    Access::store(planes[2] + i, v.z);
}

template <class Access>
inline void store3(float* const planes[3], int32_t i, __m128 v)
{
    store3<Access>(planes, i, Lanes3{v, v, v});
}

// True when no lane of the group is active: such a group gets its inactive
// outputs without any arithmetic.
inline bool noLaneActive(__m128 inactive)
{
    return _mm_movemask_ps(inactive) == 0xF;
}

// where ? a : b, lane by lane (where is all-ones or all-zeros per lane).
inline __m128 select(__m128 where, __m128 a, __m128 b)
{
    return _mm_or_ps(_mm_and_ps(where, a), _mm_andnot_ps(where, b));
}

// v with the lanes flagged in `where` cleared to +0.
inline __m128 clearLanes(__m128 where, __m128 v)
{
    return _mm_andnot_ps(where, v);
}

inline Lanes3 clearLanes(__m128 where, const Lanes3& v)
{
    return {clearLanes(where, v.x), clearLanes(where, v.y), clearLanes(where, v.z)};
}

// ((a.x b.x) + (a.y b.y)) + (a.z b.z): the summation order of every 4-wide
// dot product in this subsystem.
inline __m128 dotXYZ(const Lanes3& a, const Lanes3& b)
{
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(a.x, b.x), _mm_mul_ps(a.y, b.y)), _mm_mul_ps(a.z, b.z));
}

// The same order for one element, as the scalar loops that share it use.
inline float dotXYZ(float ax, float ay, float az, float bx, float by, float bz)
{
    return ((ax * bx) + (ay * by)) + (az * bz);
}

}  // namespace vekr::shading

#endif
