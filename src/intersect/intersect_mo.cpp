// vekrIntersectMO_32f: closest hit for a block of rays with an origin each.
#include "core/kernel_table.h"
#include "intersect/intersect_path.h"
#include "intersect/ray_block.h"
#include "intersect/scalar_intersect_mo.h"
#include "vekr.h"

extern "C" VEKR_API VekStatus VEK_CALL vekrIntersectMO_32f(const float* const pOrigin[3],
                                                           const float* const pDirection[3], float* pDist,
                                                           float* const pHitUV[2], int32_t* pTriIndex,
                                                           const VekrIntersectContext* pContext, VekrSize blockSize)
{
    // Nothing is checked: this sits in the innermost loop of a renderer,
    // and the caller owns the contract on pointers and sizes. An empty block
    // touches no argument at all.
    if (blockSize.width < 1 || blockSize.height < 1) return vekStsOk;
    const vekr::RayBlockMO block{{pOrigin[0], pOrigin[1], pOrigin[2]},
                                 {pDirection[0], pDirection[1], pDirection[2]},
                                 {pDist, pHitUV[0], pHitUV[1], pTriIndex},
                                 blockSize.width,
                                 blockSize.height};
    if (vekr::takesPacketPathMO(block))
        vekr::kernels().packet.closestMO(block, vekr::sceneOf(*pContext));
    else
        vekr::intersectScalarMO(block, vekr::sceneOf(*pContext));
    return vekStsOk;
}
