#include "volume/volume_frame.h"

namespace vekr {
namespace volume {

VekStatus checkVolumeAndRegions(const VekrVolume& srcVolume, const VekrCuboid& srcVoi, const VekrCuboid& dstVoi)
{
    if (!isValidVolume(srcVolume) || !isValidCuboid(srcVoi) || !isValidCuboid(dstVoi)) return vekStsSizeErr;
    if (!endsWithinIndexRange(dstVoi)) return vekStsSizeErr;
    return vekStsOk;
}

VekStatus checkModeAndSourceRegion(int32_t interpolation, const VekrVolume& srcVolume, const VekrCuboid& srcVoi)
{
    if (!isSupportedInterpolation(interpolation)) return vekStsInterpolationErr;
    if (!beginsInside(srcVolume, srcVoi)) return vekStsVoiOutsideWarn;
    return vekStsOk;
}

VekStatus checkResizeArguments(const void* pSrc, const void* pDst, const void* pBuffer, const VekrVolume& srcVolume,
                               const VekrCuboid& srcVoi, const VekrCuboid& dstVoi, double xFactor, double yFactor,
                               double zFactor, int32_t interpolation)
{
    if (pSrc == nullptr || pDst == nullptr || pBuffer == nullptr) return vekStsNullPtrErr;
    if (const VekStatus s = checkVolumeAndRegions(srcVolume, srcVoi, dstVoi); s != vekStsOk) return s;
    // Written as "not greater than" so that a NaN factor is refused too.
    if (!(xFactor > 0.0) || !(yFactor > 0.0) || !(zFactor > 0.0)) return vekStsResizeFactorErr;
    return checkModeAndSourceRegion(interpolation, srcVolume, srcVoi);
}

VekStatus checkWarpPointersAndSizes(const void* pSrc, const void* pDst, const VekrVolume& srcVolume,
                                    const VekrCuboid& srcVoi, const VekrCuboid& dstVoi)
{
    if (pSrc == nullptr || pDst == nullptr) return vekStsNullPtrErr;
    return checkVolumeAndRegions(srcVolume, srcVoi, dstVoi);
}

VekStatus checkRemapArguments(const void* pSrc, const void* pDst, const void* pxMap, const void* pyMap,
                              const void* pzMap, const VekrVolume& srcVolume, const VekrCuboid& srcVoi,
                              const VekrVolume& dstVolume, int32_t interpolation)
{
    if (pSrc == nullptr || pDst == nullptr) return vekStsNullPtrErr;
    if (pxMap == nullptr || pyMap == nullptr || pzMap == nullptr) return vekStsNullPtrErr;
    if (!isValidVolume(srcVolume) || !isValidCuboid(srcVoi) || !isValidVolume(dstVolume)) return vekStsSizeErr;
    return checkModeAndSourceRegion(interpolation, srcVolume, srcVoi);
}

VekStatus checkFilterArguments(const void* pSrc, const void* pDst, const void* pKernel, const VekrVolume& dstVolume,
                               const VekrVolume& kernelVolume, int32_t divisor)
{
    if (pSrc == nullptr || pDst == nullptr || pKernel == nullptr) return vekStsNullPtrErr;
    if (!isValidVolume(dstVolume) || !isValidVolume(kernelVolume) || divisor == 0) return vekStsSizeErr;
    return vekStsOk;
}

VekStatus checkBufSizeQuery(const void* pSize, const VekrCuboid& srcVoi, const VekrCuboid& dstVoi, int32_t nChannel,
                            int32_t interpolation)
{
    if (pSize == nullptr) return vekStsNullPtrErr;
    if (!isValidCuboid(srcVoi) || !isValidCuboid(dstVoi) || !endsWithinIndexRange(dstVoi)) return vekStsSizeErr;
    if (nChannel != 1) return vekStsNumChannelsErr;
    if (!isSupportedInterpolation(interpolation)) return vekStsInterpolationErr;
    return vekStsOk;
}

}  // namespace volume
}  // namespace vekr
