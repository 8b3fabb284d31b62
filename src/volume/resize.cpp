// The resize exports: checks, plan, then one kernel chosen by mode from the
// table of the voxel type and layout (of the instruction set in use). Only the 32f contiguous form splits
// its destination planes over threads.
#include <cstdint>

#include "vekr_volume.h"
#include "core/kernel_table.h"
#include "volume/resize_plan.h"
#include "volume/volume_frame.h"
#include "volume/volume_threading.h"

namespace vekr {
namespace volume {
namespace {

struct ResizeScale {
    double xFactor, yFactor, zFactor;
    double xShift, yShift, zShift;
};

enum class Threading { Serial, PlaneSlabs };

template <class Src, class Dst>
VekStatus resize(const Src& src, const Dst& dst, const void* pSrc, const void* pDst, const VekrVolume& srcVolume,
                 const VekrCuboid& srcVoi, const VekrCuboid& dstVoi, const ResizeScale& s, int32_t interpolation,
                 unsigned char* pBuffer, Threading threading)
{
    const VekStatus checked = checkResizeArguments(pSrc, pDst, pBuffer, srcVolume, srcVoi, dstVoi, s.xFactor,
                                                   s.yFactor, s.zFactor, interpolation);
    if (checked != vekStsOk) return checked;
    // The buffer was sized by the query for this dstVoi and mode; where the
    // query has no size to give, no buffer can be trusted to hold the
    // tables, so nothing is planned or written.
    int32_t bufferBytes = 0;
    if (!resizeBufferBytes(interpolation, dstVoi.width, dstVoi.height, dstVoi.depth, ownGetNumThreads(), &bufferBytes))
        return vekStsNoMemErr;
    ResizeJob<Src, Dst> job{src, dst, srcVolume, VekrResizePlan{}, interpolation};
    const VekStatus planned = planResize(srcVolume, srcVoi, dstVoi, s.xFactor, s.yFactor, s.zFactor, s.xShift,
                                         s.yShift, s.zShift, &job.plan);
    if (planned != vekStsOk) return planned;

    const auto kernel = kernels().resize.of(dst).byMode[interpolation];
    const VekrResizePlan& plan = job.plan;
    if (threading == Threading::Serial) {
        kernel(job, plan.z.begin, plan.depth(), pBuffer);
        return vekStsOk;
    }
    const uint64_t perThread = resizeBufferBytesPerThread(interpolation, dstVoi.width, dstVoi.height, dstVoi.depth);
    runOverPlaneSlabs(plan.width(), plan.height(), plan.depth(), plan.z.begin, pBuffer, perThread,
                      [&](const PlaneSlab& slab) { kernel(job, slab.firstPlane, slab.planeCount, slab.buffer); });
    return vekStsOk;
}

template <class T>
VekStatus resizePlanar(const T* const* pSrc, VekrVolume srcVolume, int32_t srcStep, VekrCuboid srcVoi, T* const* pDst,
                       int32_t dstStep, VekrCuboid dstVoi, const ResizeScale& s, int32_t interpolation,
                       uint8_t* pBuffer)
{
    return resize(PlanarVolume<const T>(pSrc, srcStep), PlanarVolume<T>(pDst, dstStep), pSrc, pDst, srcVolume, srcVoi,
                  dstVoi, s, interpolation, pBuffer, Threading::Serial);
}

template <class T>
VekStatus resizeContiguous(const T* pSrc, VekrVolume srcVolume, int32_t srcStep, int32_t srcPlaneStep,
                           VekrCuboid srcVoi, T* pDst, int32_t dstStep, int32_t dstPlaneStep, VekrCuboid dstVoi,
                           const ResizeScale& s, int32_t interpolation, uint8_t* pBuffer, Threading threading)
{
    return resize(ContiguousVolume<const T>(pSrc, srcStep, srcPlaneStep), ContiguousVolume<T>(pDst, dstStep, dstPlaneStep),
                  pSrc, pDst, srcVolume, srcVoi, dstVoi, s, interpolation, pBuffer, threading);
}

}  // namespace
}  // namespace volume
}  // namespace vekr

using vekr::volume::ResizeScale;
using vekr::volume::Threading;

extern "C" VEKR_API VekStatus VEK_CALL vekrResizeGetBufSize(VekrCuboid srcVoi, VekrCuboid dstVoi, int32_t nChannel,
                                                            int32_t interpolation, int32_t* pSize)
{
    const VekStatus checked = vekr::volume::checkBufSizeQuery(pSize, srcVoi, dstVoi, nChannel, interpolation);
    if (checked != vekStsOk) return checked;
    int32_t bytes = 0;
    if (!vekr::volume::resizeBufferBytes(interpolation, dstVoi.width, dstVoi.height, dstVoi.depth,
                                         ownGetNumThreads(), &bytes))
        return vekStsNoMemErr;
    *pSize = bytes;
    return vekStsOk;
}

// The six exports differ only in voxel type (and whether the contiguous form
// may split its planes over threads), so each type's pair is spelled once.
#define VEKR_DEFINE_RESIZE_EXPORTS(SUFFIX, T, C1V_THREADING)                                                        \
    extern "C" VEKR_API VekStatus VEK_CALL vekrResize_##SUFFIX##_C1PV(                                             \
        const T* const pSrc[], VekrVolume srcVolume, int32_t srcStep, VekrCuboid srcVoi, T* const pDst[],           \
        int32_t dstStep, VekrCuboid dstVoi, double xFactor, double yFactor, double zFactor, double xShift,          \
        double yShift, double zShift, int32_t interpolation, uint8_t* pBuffer)                                      \
    {                                                                                                               \
        return vekr::volume::resizePlanar(pSrc, srcVolume, srcStep, srcVoi, pDst, dstStep, dstVoi,                  \
                                          ResizeScale{xFactor, yFactor, zFactor, xShift, yShift, zShift},           \
                                          interpolation, pBuffer);                                                  \
    }                                                                                                               \
    extern "C" VEKR_API VekStatus VEK_CALL vekrResize_##SUFFIX##_C1V(                                              \
        const T* pSrc, VekrVolume srcVolume, int32_t srcStep, int32_t srcPlaneStep, VekrCuboid srcVoi, T* pDst,     \
        int32_t dstStep, int32_t dstPlaneStep, VekrCuboid dstVoi, double xFactor, double yFactor, double zFactor,   \
        double xShift, double yShift, double zShift, int32_t interpolation, uint8_t* pBuffer)                       \
    {                                                                                                               \
        return vekr::volume::resizeContiguous(pSrc, srcVolume, srcStep, srcPlaneStep, srcVoi, pDst, dstStep,        \
                                              dstPlaneStep, dstVoi,                                                 \
                                              ResizeScale{xFactor, yFactor, zFactor, xShift, yShift, zShift},       \
                                              interpolation, pBuffer, C1V_THREADING);                               \
    }

VEKR_DEFINE_RESIZE_EXPORTS(8u, uint8_t, Threading::Serial)
VEKR_DEFINE_RESIZE_EXPORTS(16u, uint16_t, Threading::Serial)
VEKR_DEFINE_RESIZE_EXPORTS(32f, float, Threading::PlaneSlabs)
