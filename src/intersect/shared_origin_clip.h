// Clipping rays that share one origin to the scene box.
//
// The box's offsets from the origin are formed once per call. Slab
// distances are divided by the direction component rather than multiplied
// by its reciprocal, so each is correctly rounded. A component of magnitude
// at most 2^-23 constrains nothing here: its slab is taken as all-covering,
// and its reciprocal stand-in is so large that split distances on that
// axis land far outside any segment.
#ifndef VEKR_INTERSECT_SHARED_ORIGIN_CLIP_H
#define VEKR_INTERSECT_SHARED_ORIGIN_CLIP_H

#include <cmath>

#include "intersect/ray_box_clip.h"
#include "intersect/scalar_traversal.h"

namespace vekr {

constexpr float kTinyInverseSO = 838860800.0f;  // bits 0x4E480000

// Box planes relative to the common origin.
struct OriginBox {
    float lo[3], hi[3];

    OriginBox(const float box[6], const float origin[3])
    {
        for (int a = 0; a < 3; ++a) {
            lo[a] = box[a] - origin[a];
            hi[a] = box[a + 3] - origin[a];
        }
    }
};

// Sets ray.inv and ray.sign and the segment [tnear, tfar] within the box,
// starting from [0, tmax]. Returns false when the segment is empty.
inline bool clipToBoxSO(const OriginBox& box, const float d[3], float tmax, TraversalRay& ray, float& tnear,
                        float& tfar)
{
    tnear = 0.0f;
    tfar = tmax;
    for (int a = 0; a < 3; ++a) {
        if (std::fabs(d[a]) <= kTinyComponent) {
            ray.sign[a] = 0;
            ray.inv[a] = kTinyInverseSO;
            continue;
        }
        ray.sign[a] = d[a] < 0.0f ? 1 : 0;
        ray.inv[a] = 1.0f / d[a];
        float t0 = box.lo[a] / d[a];
        float t1 = box.hi[a] / d[a];
        if (t0 > t1) {
            const float s = t0;
            t0 = t1;
            t1 = s;
        }
        tnear = t0 > tnear ? t0 : tnear;
        tfar = t1 < tfar ? t1 : tfar;
        if (tnear > tfar) return false;
    }
    return true;
}

}  // namespace vekr

#endif
