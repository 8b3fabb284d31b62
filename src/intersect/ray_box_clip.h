// Clipping a ray with its own origin to the scene box.
//
// The clip narrows the ray's segment to the part inside the box before the
// tree walk and fixes the per-axis reciprocal and sign the walk uses. A
// direction component of magnitude at most 2^-23 is treated as zero: the
// slab distances would be meaningless, so the ray must instead start strictly
// inside that slab, and the reciprocal is replaced by a large finite stand-in
// so that split distances stay finite and ordered.
#ifndef VEKR_INTERSECT_RAY_BOX_CLIP_H
#define VEKR_INTERSECT_RAY_BOX_CLIP_H

#include <cmath>

#include <xmmintrin.h>

#include "intersect/scalar_traversal.h"

namespace vekr {

constexpr float kTinyComponent = 1.1920929e-7f;  // 2^-23, bits 0x34000000
constexpr float kTinyInverseMO = 83886.08f;      // bits 0x47A3D70A

// Sets ray.inv and ray.sign and the segment [tnear, tfar] of the ray within
// the box, starting from [0, tmax]. Returns false when the segment is empty.
inline bool clipToBoxMO(const float box[6], const float d[3], float tmax, TraversalRay& ray, float& tnear,
                        float& tfar)
{
    for (int a = 0; a < 3; ++a) {
        const float lo = box[a], hi = box[a + 3], o = ray.o[a];
        if (std::fabs(d[a]) <= kTinyComponent) {
            ray.sign[a] = 0;
            ray.inv[a] = kTinyInverseMO;
            if (!(hi > o && o > lo)) return false;
            if (a == 0) {
                tnear = 0.0f;
                tfar = tmax;
            }
            continue;
        }
        ray.sign[a] = d[a] < 0.0f ? 1 : 0;
        const float inv = 1.0f / d[a];
        ray.inv[a] = inv;
        const float e0 = (lo - o) * inv;
        const float e1 = (hi - o) * inv;
        // Ordered by min/max rather than a swap under a branch: the
        // direction's sign decides, a coin toss per axis for incoherent
        // rays. Both give the same pair, NaN included.
        const float t0 = _mm_cvtss_f32(_mm_min_ss(_mm_set_ss(e1), _mm_set_ss(e0)));
        const float t1 = _mm_cvtss_f32(_mm_max_ss(_mm_set_ss(e0), _mm_set_ss(e1)));
        const float nearBound = a == 0 ? 0.0f : tnear;
        const float farBound = a == 0 ? tmax : tfar;
        tnear = t0 > nearBound ? t0 : nearBound;
        tfar = t1 < farBound ? t1 : farBound;
        if (tnear > tfar) return false;
    }
    return true;
}

}  // namespace vekr

#endif
