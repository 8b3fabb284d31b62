/* vekr_volume.h - include <vekr.h> rather than this file. */
#ifndef VEKR_VOLUME_H
#define VEKR_VOLUME_H

#include "vekr_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Extent of a whole volume in voxels. */
typedef struct VekrVolume {
    int32_t width;
    int32_t height;
    int32_t depth;
} VekrVolume;

/* A box of voxels: first voxel (absolute indices) and extent. */
typedef struct VekrCuboid {
    int32_t x;
    int32_t y;
    int32_t z;
    int32_t width;
    int32_t height;
    int32_t depth;
} VekrCuboid;

/* A voxel position, e.g. the anchor of a filter kernel. */
typedef struct VekrPoint {
    int32_t x;
    int32_t y;
    int32_t z;
} VekrPoint;

/* Interpolation modes of resize, warp and remap. */
#define vekInterNearest 1
#define vekInterLinear 2
#define vekInterLagrange 4     /* 4-point cubic Lagrange */
#define vekInterBSpline 5      /* cubic B-spline, B = 1, C = 0 */
#define vekInterCatmullRom 6   /* Catmull-Rom, B = 0, C = 1/2 */
#define vekInterBlendCubic 7   /* cubic with B = 1/2, C = 3/10 */

/* ------------------------------------------------------------------------
 * Resize
 *
 * Scales the region srcVoi of a source volume by xFactor, yFactor, zFactor
 * and moves it by xShift, yShift, zShift (in destination voxels): source
 * coordinate u lands on u * factor + shift. Destination voxel d stands for
 * the point d + 0.5; only voxels of dstVoi that the scaled region covers are
 * written, the others keep their contents. Indices are absolute: voxel
 * (x, y, z) is written at pDst[z] + y * dstStep + x * size (C1PV) or
 * pDst + z * dstPlaneStep + y * dstStep + x * size (C1V), whatever dstVoi
 * is; steps are in bytes and may be negative.
 *
 * Sampling: nearest takes the source voxel containing the position, exact
 * boundaries going to the lower voxel. Linear and the four cubic modes work
 * separably along x, then y, then z; their taps are clamped to the whole
 * source volume (not to srcVoi), so voxels outside srcVoi but inside the
 * volume are read as neighbours, and the kernel does not widen when
 * reducing (reduction samples, it does not average).
 *
 * Arithmetic: 32f in single precision (results as computed, overshoot of
 * the cubic kernels kept); 8u and 16u linear in exact 14-bit fixed point;
 * 8u and 16u cubic computed in single precision, then rounded and
 * saturated. Voxels whose taps touch the volume's faces take a scalar path
 * whose rounding can differ by one from the interior's for sums within
 * about 1e-7 of a half.
 *
 * pBuffer must hold at least the bytes vekrResizeGetBufSize reports for the
 * same dstVoi and mode, queried with the same thread count; the buffer is
 * not checked for size. Only vekrResize_32f_C1V runs on several threads
 * (ownGetNumThreads(), when above 1 and the written region is at least
 * 16 voxels on every axis); its result does not depend on the thread count.
 *
 * Status, in the order checked, each leaving the destination untouched:
 * vekStsNullPtrErr (pSrc, pDst or pBuffer null); vekStsSizeErr (a srcVolume
 * extent below 1, a srcVoi or dstVoi corner below 0 or extent below 1);
 * vekStsResizeFactorErr (a factor not greater than 0);
 * vekStsInterpolationErr (mode not 1, 2, 4, 5, 6 or 7);
 * vekStsVoiOutsideWarn (srcVoi begins outside srcVolume; its extent may
 * run past the far faces and is then trimmed); vekStsNoVoxelsWarn (the
 * scaled region misses dstVoi). Otherwise vekStsOk.
 * ------------------------------------------------------------------------ */

/*
 * Scratch bytes the resize needs for dstVoi in the given mode, for
 * ownGetNumThreads() threads (the per-thread need times that count; srcVoi
 * is only checked). Status, in the order checked: vekStsNullPtrErr (pSize
 * null); vekStsSizeErr (srcVoi or dstVoi corner below 0 or extent below 1);
 * vekStsNumChannelsErr (nChannel not 1); vekStsInterpolationErr.
 */
VEKR_API VekStatus VEK_CALL vekrResizeGetBufSize(VekrCuboid srcVoi, VekrCuboid dstVoi, int32_t nChannel,
                                                 int32_t interpolation, int32_t* pSize);

/* Resize of plane-pointer (C1PV) volumes: unsigned 8-bit, unsigned 16-bit, float voxels. */
VEKR_API VekStatus VEK_CALL vekrResize_8u_C1PV(const uint8_t* const pSrc[], VekrVolume srcVolume, int32_t srcStep,
                                               VekrCuboid srcVoi, uint8_t* const pDst[], int32_t dstStep,
                                               VekrCuboid dstVoi, double xFactor, double yFactor, double zFactor,
                                               double xShift, double yShift, double zShift, int32_t interpolation,
                                               uint8_t* pBuffer);
VEKR_API VekStatus VEK_CALL vekrResize_16u_C1PV(const uint16_t* const pSrc[], VekrVolume srcVolume, int32_t srcStep,
                                                VekrCuboid srcVoi, uint16_t* const pDst[], int32_t dstStep,
                                                VekrCuboid dstVoi, double xFactor, double yFactor, double zFactor,
                                                double xShift, double yShift, double zShift, int32_t interpolation,
                                                uint8_t* pBuffer);
VEKR_API VekStatus VEK_CALL vekrResize_32f_C1PV(const float* const pSrc[], VekrVolume srcVolume, int32_t srcStep,
                                                VekrCuboid srcVoi, float* const pDst[], int32_t dstStep,
                                                VekrCuboid dstVoi, double xFactor, double yFactor, double zFactor,
                                                double xShift, double yShift, double zShift, int32_t interpolation,
                                                uint8_t* pBuffer);

/*
 * Resize of contiguous (C1V) volumes: pSrc and pDst point at voxel (0, 0, 0);
 * rows are srcStep / dstStep bytes apart, planes srcPlaneStep /
 * dstPlaneStep bytes. vekrResize_32f_C1V splits the destination planes over
 * threads as described above.
 */
VEKR_API VekStatus VEK_CALL vekrResize_8u_C1V(const uint8_t* pSrc, VekrVolume srcVolume, int32_t srcStep,
                                              int32_t srcPlaneStep, VekrCuboid srcVoi, uint8_t* pDst, int32_t dstStep,
                                              int32_t dstPlaneStep, VekrCuboid dstVoi, double xFactor, double yFactor,
                                              double zFactor, double xShift, double yShift, double zShift,
                                              int32_t interpolation, uint8_t* pBuffer);
VEKR_API VekStatus VEK_CALL vekrResize_16u_C1V(const uint16_t* pSrc, VekrVolume srcVolume, int32_t srcStep,
                                               int32_t srcPlaneStep, VekrCuboid srcVoi, uint16_t* pDst,
                                               int32_t dstStep, int32_t dstPlaneStep, VekrCuboid dstVoi,
                                               double xFactor, double yFactor, double zFactor, double xShift,
                                               double yShift, double zShift, int32_t interpolation,
                                               uint8_t* pBuffer);
VEKR_API VekStatus VEK_CALL vekrResize_32f_C1V(const float* pSrc, VekrVolume srcVolume, int32_t srcStep,
                                               int32_t srcPlaneStep, VekrCuboid srcVoi, float* pDst, int32_t dstStep,
                                               int32_t dstPlaneStep, VekrCuboid dstVoi, double xFactor,
                                               double yFactor, double zFactor, double xShift, double yShift,
                                               double zShift, int32_t interpolation, uint8_t* pBuffer);

/*
 * A cubic kernel tabulated for warp and remap: weight[k] (k = 0 .. 200) is
 * the kernel at distance k / 100 rounded to single precision; entries 201 to
 * 207 are 0 so that a lookup at distance 2 may read one entry past 200.
 * A weight for distance t is T[k] + (T[k + 1] - T[k]) * r with
 * s = min(t, 2) * 100, k = trunc(s), r = s - k, all in single precision.
 */
#define VEKR_CUBIC_TABLE_SIZE 208
typedef struct VekrCubicKernelTable {
    float weight[VEKR_CUBIC_TABLE_SIZE];
} VekrCubicKernelTable;

#ifdef __cplusplus
}
#endif

#endif /* VEKR_VOLUME_H */
