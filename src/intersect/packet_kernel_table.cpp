// The packet kernels of one instruction set, bound into the table the
// intersection exports read.
#include "intersect/packet_kernels.h"

namespace vekr::isect::VEKR_ISA_NS {

extern const PacketKernelTable packetKernels = {packetClosestMO, packetClosestSO, packetSuccessiveHits,
                                                packetOcclusion};

}  // namespace vekr::isect::VEKR_ISA_NS
