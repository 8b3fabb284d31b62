// The signed 16-bit volume filter and its buffer-size query: argument
// checks, then one kernel chosen by kernel shape and divisor class.

#include "vekr.h"
#include "core/kernel_table.h"
#include "volume/filter_args.h"
#include "volume/volume_frame.h"

namespace {

using namespace vekr::volume;

int shapeIndex(const VekrVolume& k)
{
    if (k.width == 3 && k.height == 3 && k.depth == 3) return 1;
    if (k.width == 5 && k.height == 5 && k.depth == 5) return 2;
    return 0;
}

}  // namespace

extern "C" VEKR_API VekStatus VEK_CALL vekrFilterGetBufSize(VekrVolume roiVolume, VekrVolume kernelVolume,
                                                            int32_t nChannel, int32_t* pSize)
{
    if (pSize == nullptr) return vekStsNullPtrErr;
    if (!isValidVolume(roiVolume) || !isValidVolume(kernelVolume)) return vekStsSizeErr;
    if (nChannel != 1) return vekStsNumChannelsErr;
    *pSize = 0;
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrFilter_16s_C1PV(const int16_t* const pSrc[], int32_t srcStep,
                                                           int16_t* const pDst[], int32_t dstStep,
                                                           VekrVolume dstVolume, const int32_t* pKernel,
                                                           VekrVolume kernelVolume, VekrPoint anchor,
                                                           int32_t divisor, uint8_t* /*pBuffer*/)
{
    if (const VekStatus s = checkFilterArguments(pSrc, pDst, pKernel, dstVolume, kernelVolume, divisor); s != vekStsOk)
        return s;

    const FilterArgs args{pSrc,
                          srcStep >> 1,
                          pDst,
                          dstStep >> 1,
                          dstVolume.width,
                          dstVolume.height,
                          dstVolume.depth,
                          pKernel,
                          kernelVolume.width,
                          kernelVolume.height,
                          kernelVolume.depth,
                          anchor.x,
                          anchor.y,
                          anchor.z};
    const int path = fitsNarrowPath(args) ? 1 : 0;
    vekr::kernels().filter.byPath[path][shapeIndex(kernelVolume)][static_cast<int>(classifyDivisor(divisor))](args,
                                                                                                      divisor);
    return vekStsOk;
}
