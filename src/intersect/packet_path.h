// Packet path of the intersection calls: taken by each export after its
// path test (block sides multiples of 4, per-ray planes 16-byte aligned).
#ifndef VEKR_INTERSECT_PACKET_PATH_H
#define VEKR_INTERSECT_PACKET_PATH_H

#include "intersect/ray_block.h"
#include "intersect/ray_block_so.h"

namespace vekr::isect {

// Closest hit, one origin per ray (8-ray packets for coherent tiles).
void packetClosestMO(const RayBlockMO& block, const SceneView& scene);

// Closest hit from a common origin (4-ray packets only).
void packetClosestSO(const RayBlockSO& block, const SceneView& scene);

// Up to hitCount successive hits from a common origin, one plane per hit.
void packetSuccessiveHits(const SuccessiveBlock& block, const SceneView& scene);

// Any hit in 0 < t < 1 for the rays whose mask entry is not negative.
void packetOcclusion(const OcclusionBlock& block, const SceneView& scene);

}  // namespace vekr::isect

#endif
