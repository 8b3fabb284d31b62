// Packet path of the intersection calls: taken by each export after its
// path test (block sides multiples of 4, per-ray planes 16-byte aligned).
// The kernels exist once per instruction set; the exports reach the set in
// use through the kernel table (core/kernel_table.h).
#ifndef VEKR_INTERSECT_PACKET_PATH_H
#define VEKR_INTERSECT_PACKET_PATH_H

#include "intersect/ray_block.h"
#include "intersect/ray_block_so.h"

namespace vekr::isect {

struct PacketKernelTable {
    // Closest hit, one origin per ray (8-ray packets for coherent tiles).
    void (*closestMO)(const RayBlockMO& block, const SceneView& scene);
    // Closest hit from a common origin (4-ray packets only).
    void (*closestSO)(const RayBlockSO& block, const SceneView& scene);
    // Up to hitCount successive hits from a common origin, one plane per hit.
    void (*successiveHits)(const SuccessiveBlock& block, const SceneView& scene);
    // Any hit in 0 < t < 1 for the rays whose mask entry is not negative.
    void (*occlusion)(const OcclusionBlock& block, const SceneView& scene);
};

}  // namespace vekr::isect

#endif
