// The packet kernels of one instruction set (the copy this source is
// compiled into), as the kernel table lists them.
#ifndef VEKR_INTERSECT_PACKET_KERNELS_H
#define VEKR_INTERSECT_PACKET_KERNELS_H

#include "core/isa_namespace.h"
#include "intersect/packet_path.h"

namespace vekr::isect::VEKR_ISA_NS {

void packetClosestMO(const RayBlockMO& block, const SceneView& scene);
void packetClosestSO(const RayBlockSO& block, const SceneView& scene);
void packetSuccessiveHits(const SuccessiveBlock& block, const SceneView& scene);
void packetOcclusion(const OcclusionBlock& block, const SceneView& scene);

}  // namespace vekr::isect::VEKR_ISA_NS

#endif
