// The intersection calls whose rays share one origin: closest hit,
// successive hits and occlusion. Each checks nothing (they sit in a
// renderer's innermost loop), picks its path once and returns vekStsOk.
#include "core/kernel_table.h"
#include "intersect/intersect_path.h"
#include "intersect/ray_block_so.h"
#include "intersect/scalar_shared_origin.h"
#include "vekr.h"

extern "C" VEKR_API VekStatus VEK_CALL vekrIntersectEyeSO_32f(const float* pOrigin, const float* const pDirection[3],
                                                              float* pDist, float* const pHitUV[2],
                                                              int32_t* pTriIndex,
                                                              const VekrIntersectContext* pContext,
                                                              VekrSize blockSize)
{
    if (blockSize.width < 1 || blockSize.height < 1) return vekStsOk;
    const vekr::RayBlockSO block{pOrigin,
                                 {pDirection[0], pDirection[1], pDirection[2]},
                                 {pDist, pHitUV[0], pHitUV[1], pTriIndex},
                                 blockSize.width,
                                 blockSize.height};
    const vekr::SceneView scene = vekr::sceneOf(*pContext);
    if (vekr::takesPacketPathSO(block))
        vekr::kernels().packet.closestSO(block, scene);
    else
        vekr::intersectScalarSO(block, scene);
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrIntersectMultipleSO_32f(const float* pOrigin,
                                                                   const float* const pDirection[3], float* pDist,
                                                                   float* const pHitUV[2], int32_t* pTriIndex,
                                                                   VekrSize blockSize, int32_t hitCount,
                                                                   const VekrIntersectContext* pContext)
{
    // Without a plane there is nowhere to record a hit: touch nothing.
    if (blockSize.width < 1 || blockSize.height < 1 || hitCount < 1) return vekStsOk;
    const vekr::SuccessiveBlock block{pOrigin,
                                      {pDirection[0], pDirection[1], pDirection[2]},
                                      {pDist, pHitUV[0], pHitUV[1], pTriIndex},
                                      blockSize.width,
                                      blockSize.height,
                                      hitCount};
    const vekr::SceneView scene = vekr::sceneOf(*pContext);
    if (vekr::takesPacketPathSuccessive(block))
        vekr::kernels().packet.successiveHits(block, scene);
    else
        vekr::successiveHitsScalar(block, scene);
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrIntersectAnySO_32f(const float* pOrigin, const float* const pDirection[3],
                                                              int32_t* pTriIndex, int32_t* pMask, VekrSize blockSize,
                                                              const VekrIntersectContext* pContext)
{
    if (blockSize.width < 1 || blockSize.height < 1) return vekStsOk;
    const vekr::OcclusionBlock block{pOrigin,
                                     {pDirection[0], pDirection[1], pDirection[2]},
                                     pTriIndex,
                                     pMask,
                                     blockSize.width,
                                     blockSize.height};
    // The segments are fixed to [0, 1]: the box is never read.
    const vekr::SceneView scene{nullptr, pContext->pAccel, pContext->pRootNode};
    if (vekr::takesPacketPathOcclusion(block))
        vekr::kernels().packet.occlusion(block, scene);
    else
        vekr::occlusionScalar(block, scene);
    return vekStsOk;
}
