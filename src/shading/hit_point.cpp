// Hit points: origin + direction x distance x eps for every ray that hit.
//
// The rays either share one origin or carry one each; one kernel pair serves
// both through an origin source that yields the origin of element i.

#include <cstdint>

#include "core/path_select.h"
#include "core/simd.h"
#include "shading/lanes.h"
#include "vekr.h"

namespace vekr::shading {
namespace {

// All rays start at the same point.
struct SharedOrigin {
    const float* point;
    bool aligned() const { return true; }
    float at(int k, int32_t) const { return point[k]; }
    __m128 lanes(int k, int32_t) const { return _mm_set1_ps(point[k]); }
};

// Ray i starts at element i of three origin planes.
struct OriginPerRay {
    const float* const* planes;
    bool aligned() const { return allAligned16(planes[0], planes[1], planes[2]); }
    float at(int k, int32_t i) const { return planes[k][i]; }
    __m128 lanes(int k, int32_t i) const { return _mm_load_ps(planes[k] + i); }
};

template <class Origin>
void hitPointScalar(const Origin& origin, const float* const dir[3], const float* dist, const int32_t* tri,
                    float* const hit[3], int32_t count, float eps)
{
    for (int32_t i = 0; i < count; ++i) {
        for (int k = 0; k < 3; ++k)
            hit[k][i] = tri[i] < 0 ? 0.0f : ((dir[k][i] * eps) * dist[i]) + origin.at(k, i);
    }
}

// Multiplies by the distance before eps, unlike the scalar loop.
template <class Origin>
void hitPointFourWide(const Origin& origin, const float* const dir[3], const float* dist, const int32_t* tri,
                      float* const hit[3], int32_t count, float eps)
{
    const __m128 scale = _mm_set1_ps(eps);
    for (int32_t i = 0; i < count; i += 4) {
        const __m128 inactive = inactiveLanes(AlignedAccess::loadi(tri + i));
        if (noLaneActive(inactive)) {
            store3<AlignedAccess>(hit, i, _mm_setzero_ps());
            continue;
        }
        const __m128 t = _mm_load_ps(dist + i);
        for (int k = 0; k < 3; ++k) {
            const __m128 along = _mm_mul_ps(_mm_mul_ps(_mm_load_ps(dir[k] + i), t), scale);
            _mm_store_ps(hit[k] + i, clearLanes(inactive, _mm_add_ps(along, origin.lanes(k, i))));
        }
    }
}

template <class Origin>
bool hitPointTakesFourWide(const Origin& origin, const float* const dir[3], const float* dist, const int32_t* tri,
                           float* const hit[3], int32_t count)
{
    return takesFourWidePath(count, dist, tri, dir[0], dir[1], dir[2], hit[0], hit[1], hit[2]) && origin.aligned();
}

template <class Origin>
VekStatus hitPoints(const Origin& origin, const float* const dir[3], const float* dist, const int32_t* tri,
                    float* const hit[3], int32_t count, float eps)
{
    if (count < 1) return vekStsOk;
    if (hitPointTakesFourWide(origin, dir, dist, tri, hit, count))
        hitPointFourWide(origin, dir, dist, tri, hit, count, eps);
    else
        hitPointScalar(origin, dir, dist, tri, hit, count, eps);
    return vekStsOk;
}

}  // namespace
}  // namespace vekr::shading

using namespace vekr::shading;

extern "C" VEKR_API VekStatus VEK_CALL vekrHitPoint3DEpsS0_32f_M(const float origin[3], const float* const pDir[3],
                                                                 const float* pDist, const int32_t* pTriangle,
                                                                 float* const pHit[3], int32_t count, float eps)
{
    if (!pDist || !pTriangle || !pDir || !pHit) return vekStsNullPtrErr;
    return hitPoints(SharedOrigin{origin}, pDir, pDist, pTriangle, pHit, count, eps);
}

extern "C" VEKR_API VekStatus VEK_CALL vekrHitPoint3DEpsM0_32f_M(const float* const pOrigin[3],
                                                                 const float* const pDir[3], const float* pDist,
                                                                 const int32_t* pTriangle, float* const pHit[3],
                                                                 int32_t count, float eps)
{
    if (!pDist || !pTriangle || !pDir || !pHit || !pOrigin) return vekStsNullPtrErr;
    return hitPoints(OriginPerRay{pOrigin}, pDir, pDist, pTriangle, pHit, count, eps);
}
