// Ray-by-ray paths of the intersection calls whose rays share one origin:
// closest hit, successive hits and occlusion.
#ifndef VEKR_INTERSECT_SCALAR_SHARED_ORIGIN_H
#define VEKR_INTERSECT_SCALAR_SHARED_ORIGIN_H

#include <cstdint>

#include "intersect/ray_block.h"
#include "intersect/ray_block_so.h"

namespace vekr {

void intersectScalarSO(const RayBlockSO& block, const SceneView& scene);
void successiveHitsScalar(const SuccessiveBlock& block, const SceneView& scene);
void occlusionScalar(const OcclusionBlock& block, const SceneView& scene);

// Nearest triangle crossed by origin + t d for 0 < t < 1, or -1; a later
// crossing must be nearer by more than 2^-23 to replace an earlier one.
// Uses neither the box nor any caller array.
int32_t nearestOccluder(const SceneView& scene, const float origin[3], const float d[3]);

}  // namespace vekr

#endif
