/**
 * @file vekr_volume.h
 * 3-D volume resize, affine warp, remap and filter. Include <vekr.h> rather
 * than this file.
 */
#ifndef VEKR_VOLUME_H
#define VEKR_VOLUME_H

#include "vekr_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @defgroup volume Volume resize, warp, remap and filter
 * Resampling and filtering of single-channel 3-D volumes of unsigned 8-bit,
 * unsigned 16-bit, float and (filter) signed 16-bit voxels.
 *
 * Every function takes the whole volume's extent (VekrVolume) and a region
 * of it (VekrCuboid) in absolute voxel indices; row and plane steps are in
 * bytes and may be negative. Two layouts: C1PV, an array of plane pointers
 * (element z points at voxel (0, 0, z)), and C1V, one contiguous block with
 * a plane step. Resize treats voxel k as the cell [k, k + 1) (its centre is
 * k + 0.5); warp and remap treat it as the point k. See @ref conventions
 * for the resize position and the cubic modes.
 *
 * Threads: vekrResize_32f_C1V, the warps and the remaps split destination
 * planes over ownGetNumThreads() OpenMP threads; every other function runs
 * on the calling thread. The resize buffer depends on the thread count, so
 * query its size and resize at the same count.
 *
 * Example: enlarge a contiguous 32^3 float volume to 48^3 with Catmull-Rom
 * (examples/volume_resample.c is the full program).
 * @code
 * VekrVolume srcVolume = { 32, 32, 32 };
 * VekrCuboid srcVoi = { 0, 0, 0, 32, 32, 32 }, dstVoi = { 0, 0, 0, 48, 48, 48 };
 * int32_t bufSize;
 * vekrResizeGetBufSize(srcVoi, dstVoi, 1, vekInterCatmullRom, &bufSize);
 * uint8_t* buffer = malloc(bufSize);
 * int32_t srcRow = 32 * sizeof(float), dstRow = 48 * sizeof(float);
 * VekStatus st = vekrResize_32f_C1V(src, srcVolume, srcRow, 32 * srcRow, srcVoi,
 *                                   dst, dstRow, 48 * dstRow, dstVoi,
 *                                   1.5, 1.5, 1.5, 0.0, 0.0, 0.0, vekInterCatmullRom, buffer);
 * free(buffer);
 * @endcode
 * @{
 */

/** Extent of a whole volume in voxels. */
typedef struct VekrVolume {
    int32_t width;  /**< voxels per row (x) */
    int32_t height; /**< rows per plane (y) */
    int32_t depth;  /**< planes (z) */
} VekrVolume;

/** A box of voxels: first voxel (absolute indices) and extent. */
typedef struct VekrCuboid {
    int32_t x;      /**< first column */
    int32_t y;      /**< first row */
    int32_t z;      /**< first plane */
    int32_t width;  /**< number of columns */
    int32_t height; /**< number of rows */
    int32_t depth;  /**< number of planes */
} VekrCuboid;

/** A voxel position, e.g. the anchor of a filter kernel. */
typedef struct VekrPoint {
    int32_t x; /**< column */
    int32_t y; /**< row */
    int32_t z; /**< plane */
} VekrPoint;

/* Interpolation modes of resize, warp and remap. */
#define vekInterNearest 1      /**< nearest voxel */
#define vekInterLinear 2       /**< linear on each axis (trilinear) */
#define vekInterLagrange 4     /**< 4-point cubic Lagrange */
#define vekInterBSpline 5      /**< cubic B-spline, B = 1, C = 0, on the samples (no prefilter: smooths) */
#define vekInterCatmullRom 6   /**< Catmull-Rom, B = 0, C = 1/2 */
#define vekInterBlendCubic 7   /**< cubic with B = 1/2, C = 3/10 */

/** @} */

/**
 * @addtogroup volume
 * @par Resize
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
 * same dstVoi and mode at the same thread count (see the query below); the
 * buffer is not checked for size. Only vekrResize_32f_C1V runs on several
 * threads (ownGetNumThreads(), when above 1 and the written region is at
 * least 16 voxels on every axis); its result does not depend on the thread
 * count.
 *
 * Status, in the order checked, each leaving the destination and the
 * buffer untouched: vekStsNullPtrErr (pSrc, pDst or pBuffer null);
 * vekStsSizeErr (a srcVolume extent below 1, a srcVoi or dstVoi corner
 * below 0 or extent below 1, or a dstVoi whose last voxel would lie past
 * index 2^31 - 1 on some axis); vekStsResizeFactorErr (a factor not greater
 * than 0); vekStsInterpolationErr (mode not 1, 2, 4, 5, 6 or 7);
 * vekStsVoiOutsideWarn (srcVoi begins outside srcVolume; its extent may
 * run past the far faces and is then trimmed); vekStsNoMemErr (the query
 * refuses this dstVoi and mode at the current thread count, below);
 * vekStsNoVoxelsWarn (the scaled region misses dstVoi). Otherwise
 * vekStsOk.
 * @{
 */

/**
 * Scratch bytes the resize needs for dstVoi in the given mode, for
 * ownGetNumThreads() threads (the per-thread need times that count; srcVoi
 * is only checked). Status, in the order checked: vekStsNullPtrErr (pSize
 * null); vekStsSizeErr (srcVoi or dstVoi corner below 0 or extent below 1,
 * or dstVoi ending past index 2^31 - 1); vekStsNumChannelsErr (nChannel not
 * 1); vekStsInterpolationErr; vekStsNoMemErr when the size does not fit in
 * a signed 32-bit count (2,147,483,647 bytes), with *pSize left as it was.
 * The size is not reported modulo 2^32, since no buffer sized from a
 * wrapped value could hold the tables; the six resize exports refuse the
 * same dstVoi and mode with the same status, before writing anything.
 * Example: a 2000 x 2000 x 32 Catmull-Rom destination needs 66,437,184
 * bytes per thread, which fits for up to 32 threads and is refused from 33
 * on.
 *
 * Thread count: the buffer is cut into one slice per thread, so the query
 * and the resize it sizes must see the same ownGetNumThreads(). A resize
 * that runs on more threads than its query saw writes past the end of the
 * buffer. A multi-threaded application therefore sets the count once, with
 * vekSetNumThreads at start-up before any other thread calls vekr, and
 * leaves it alone; one that must change it does so only while no thread is
 * between a query and its resize, and queries again afterwards. Leaving
 * the count at its default (OpenMP's maximum) is stable in the same way as
 * long as nothing changes the OpenMP setting while vekr is in use.
 *
 * @param srcVoi         source region (only checked)
 * @param dstVoi         destination region
 * @param nChannel       number of channels; must be 1
 * @param interpolation  interpolation mode
 * @param pSize          receives the size in bytes
 * @retval vekStsNullPtrErr        pSize null
 * @retval vekStsSizeErr           srcVoi or dstVoi corner below 0 or extent
 *                                 below 1, or dstVoi ending past index
 *                                 2^31 - 1
 * @retval vekStsNumChannelsErr    nChannel not 1
 * @retval vekStsInterpolationErr  mode not 1, 2, 4, 5, 6 or 7
 * @retval vekStsNoMemErr          the size does not fit in a signed 32-bit count
 * @retval vekStsOk                otherwise
 */
VEKR_API VekStatus VEK_CALL vekrResizeGetBufSize(VekrCuboid srcVoi, VekrCuboid dstVoi, int32_t nChannel,
                                                 int32_t interpolation, int32_t* pSize);

/** @name Resize of plane-pointer volumes
 * @{ */
/**
 * Resize of plane-pointer (C1PV) volumes: unsigned 8-bit, unsigned 16-bit,
 * float voxels. Voxel (x, y, z) is pSrc[z] + y * srcStep + x * size. The
 * rules, paths, arithmetic and status order are those of the group's
 * Resize section; runs on the calling thread.
 * @param pSrc           source volume (voxel (0, 0, 0) or plane pointers)
 * @param srcVolume      extent of the whole source volume
 * @param srcStep        bytes from one source row to the next
 * @param srcVoi         source region
 * @param pDst           destination plane pointers
 * @param dstStep        bytes from one destination row to the next
 * @param dstVoi         destination region
 * @param xFactor        scale factor along x, greater than 0
 * @param yFactor        scale factor along y, greater than 0
 * @param zFactor        scale factor along z, greater than 0
 * @param xShift         shift along x, in destination voxels
 * @param yShift         shift along y, in destination voxels
 * @param zShift         shift along z, in destination voxels
 * @param interpolation  interpolation mode (vekInterNearest ... vekInterBlendCubic)
 * @param pBuffer        scratch of the size vekrResizeGetBufSize reports
 * @retval vekStsNullPtrErr        pSrc, pDst or pBuffer null
 * @retval vekStsSizeErr           a srcVolume extent below 1, a srcVoi or dstVoi
 *                                 corner below 0 or extent below 1, or a dstVoi
 *                                 ending past index 2^31 - 1
 * @retval vekStsResizeFactorErr   a factor not greater than 0
 * @retval vekStsInterpolationErr  mode not 1, 2, 4, 5, 6 or 7
 * @retval vekStsVoiOutsideWarn    srcVoi begins outside srcVolume
 * @retval vekStsNoMemErr          vekrResizeGetBufSize refuses this dstVoi and mode
 * @retval vekStsNoVoxelsWarn      the scaled region misses dstVoi
 * @retval vekStsOk                otherwise
 */
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
/** @} */

/** @name Resize of contiguous volumes
 * @{ */
/**
 * Resize of contiguous (C1V) volumes: pSrc and pDst point at voxel (0, 0, 0);
 * rows are srcStep / dstStep bytes apart, planes srcPlaneStep /
 * dstPlaneStep bytes. vekrResize_32f_C1V splits the destination planes over
 * threads as described above; the 8u and 16u forms run on the calling
 * thread.
 * @param pSrc           source volume (voxel (0, 0, 0) or plane pointers)
 * @param srcVolume      extent of the whole source volume
 * @param srcStep        bytes from one source row to the next
 * @param srcPlaneStep   bytes from one source plane to the next
 * @param srcVoi         source region
 * @param pDst           destination voxel (0, 0, 0)
 * @param dstStep        bytes from one destination row to the next
 * @param dstPlaneStep   bytes from one destination plane to the next
 * @param dstVoi         destination region
 * @param xFactor        scale factor along x, greater than 0
 * @param yFactor        scale factor along y, greater than 0
 * @param zFactor        scale factor along z, greater than 0
 * @param xShift         shift along x, in destination voxels
 * @param yShift         shift along y, in destination voxels
 * @param zShift         shift along z, in destination voxels
 * @param interpolation  interpolation mode (vekInterNearest ... vekInterBlendCubic)
 * @param pBuffer        scratch of the size vekrResizeGetBufSize reports
 * @retval vekStsNullPtrErr        pSrc, pDst or pBuffer null
 * @retval vekStsSizeErr           a srcVolume extent below 1, a srcVoi or dstVoi
 *                                 corner below 0 or extent below 1, or a dstVoi
 *                                 ending past index 2^31 - 1
 * @retval vekStsResizeFactorErr   a factor not greater than 0
 * @retval vekStsInterpolationErr  mode not 1, 2, 4, 5, 6 or 7
 * @retval vekStsVoiOutsideWarn    srcVoi begins outside srcVolume
 * @retval vekStsNoMemErr          vekrResizeGetBufSize refuses this dstVoi and mode
 * @retval vekStsNoVoxelsWarn      the scaled region misses dstVoi
 * @retval vekStsOk                otherwise
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
/** @} */

/**
 * A cubic kernel tabulated for warp and remap: weight[k] (k = 0 .. 200) is
 * the kernel at distance k / 100 rounded to single precision; entries 201 to
 * 207 are 0 so that a lookup at distance 2 may read one entry past 200.
 * A weight for distance t is T[k] + (T[k + 1] - T[k]) * r with
 * s = min(t, 2) * 100, k = trunc(s), r = s - k, all in single precision.
 */
#define VEKR_CUBIC_TABLE_SIZE 208
/** The tabulated cubic kernel described at VEKR_CUBIC_TABLE_SIZE. */
typedef struct VekrCubicKernelTable {
    float weight[VEKR_CUBIC_TABLE_SIZE]; /**< kernel at distances 0, 0.01, ..., 2, then zeros */
} VekrCubicKernelTable;

/** @} */

/**
 * @addtogroup volume
 * @par Affine warp, remap and the signed 16-bit filter
 *
 * Volumes in the C1PV layout are arrays of plane pointers: element z points
 * at voxel (0, 0, z); row y of a plane starts y * step bytes after it. All
 * indices are absolute (a region's corner is never folded into the
 * pointers), and steps may be negative.
 *
 * Warp and remap source positions use voxel k as the point k (no half-voxel
 * offset). A destination voxel whose source position lies outside the
 * trimmed source region [x, x + width - 1] x ... keeps its contents.
 *
 * Interpolation: vekInterNearest (ties to even), vekInterLinear, and the
 * four cubic modes, whose weights come from 0.01-spaced tables interpolated
 * linearly. A source volume thinner than 4 voxels on any axis runs cubic
 * modes as linear; thinner than 2 runs every mode as nearest. Linear and
 * cubic results of 8u and 16u are rounded to nearest (ties to even); cubic
 * results are saturated to the type's range. Cubic taps next to the faces
 * of the source region are held at the region's last voxel (upper end) and
 * at voxel 0 of the volume (lower end); such voxels are computed by the
 * scalar path, which rounds as trunc(v + 0.5000001) in double precision, so
 * they may differ by one from ties-to-even rounding. Linear and cubic modes
 * sample groups of four voxels inside the source region together, each
 * voxel in the same operation order as alone: results do not depend on the
 * grouping. A position on the region's last voxel of an axis is inside; the
 * linear taps are then last - 1 and last, with all the weight on last.
 *
 * The warp and remap exports run on ownGetNumThreads() OpenMP threads when
 * that is above 1 and every destination extent is at least 16, each thread
 * taking a slab of consecutive destination planes. Remap results do not
 * depend on the split; warp positions are advanced by addition from each
 * slab's first plane, so a threaded warp may differ from a serial one in the
 * last bits of a few source positions (and hence of a few voxels).
 * @{
 */

/**
 * Scratch size of the affine warp, which needs none: stores 0 in *pSize.
 * @param srcVoi         source region (only checked)
 * @param dstVoi         destination region (only checked)
 * @param nChannel       number of channels; must be 1
 * @param interpolation  interpolation mode
 * @param pSize          receives 0
 * @retval vekStsNullPtrErr        pSize null
 * @retval vekStsSizeErr           a corner coordinate of srcVoi or dstVoi
 *                                 below 0 or an extent below 1, or dstVoi
 *                                 ending past index 2^31 - 1
 * @retval vekStsNumChannelsErr    nChannel not 1
 * @retval vekStsInterpolationErr  mode not 1, 2, 4, 5, 6 or 7
 * @retval vekStsOk                otherwise
 */
VEKR_API VekStatus VEK_CALL vekrWarpAffineGetBufSize(VekrCuboid srcVoi, VekrCuboid dstVoi,
                                                     int32_t nChannel, int32_t interpolation,
                                                     int32_t* pSize);

/** @name Affine warp
 * @{ */
/**
 * Affine warp of a C1PV volume. coeffs is the forward transform (source point
 * to destination point), 3 x 4 doubles row by row: destination x is
 * coeffs[0] x + coeffs[1] y + coeffs[2] z + coeffs[3], and so on. The
 * transform is inverted once in double precision; every destination voxel
 * (X, Y, Z) of dstVoi whose source position lies inside the trimmed srcVoi
 * is interpolated there and written at pDst[Z] + Y * dstStep + X * size.
 * Positions are advanced by addition along rows, rows and planes.
 * pBuffer is not used (the size query reports 0); coeffs is not checked.
 *
 * Status, in the order checked: vekStsNullPtrErr (pSrc or pDst null);
 * vekStsSizeErr (srcVolume extent below 1, srcVoi or dstVoi corner below 0
 * or extent below 1, dstVoi ending past index 2^31 - 1; a dstVoi ending
 * exactly there is fine); vekStsCoeffErr (degenerate transform: the
 * diagonal is zero to 1e-100, or all three 2 x 2 minor tests of the linear
 * part fail);
 * vekStsInterpolationErr; vekStsVoiOutsideWarn (srcVoi begins outside the
 * source volume); vekStsCoeffErr (|determinant| below 1e-10). Nothing is
 * written unless the status is vekStsOk.
 *
 * Runs on ownGetNumThreads() threads as the group description says.
 * @param pSrc           source plane pointers
 * @param srcVolume      extent of the whole source volume
 * @param srcStep        bytes from one source row to the next
 * @param srcVoi         source region sampled
 * @param pDst           destination plane pointers
 * @param dstStep        bytes from one destination row to the next
 * @param dstVoi         destination region written
 * @param coeffs         the forward transform, 3 x 4 doubles row by row
 * @param interpolation  interpolation mode
 * @param pBuffer        not used; may be NULL
 * @retval vekStsNullPtrErr        pSrc or pDst null
 * @retval vekStsSizeErr           a region or extent out of its domain (above)
 * @retval vekStsCoeffErr          degenerate transform (checked before the
 *                                 mode), or |determinant| below 1e-10
 *                                 (checked after the source region)
 * @retval vekStsInterpolationErr  mode not 1, 2, 4, 5, 6 or 7
 * @retval vekStsVoiOutsideWarn    srcVoi begins outside the source volume
 * @retval vekStsOk                otherwise
 */
VEKR_API VekStatus VEK_CALL vekrWarpAffine_8u_C1PV(const uint8_t* const pSrc[], VekrVolume srcVolume,
                                                   int32_t srcStep, VekrCuboid srcVoi,
                                                   uint8_t* const pDst[], int32_t dstStep,
                                                   VekrCuboid dstVoi, const double* coeffs,
                                                   int32_t interpolation, uint8_t* pBuffer);
VEKR_API VekStatus VEK_CALL vekrWarpAffine_16u_C1PV(const uint16_t* const pSrc[], VekrVolume srcVolume,
                                                    int32_t srcStep, VekrCuboid srcVoi,
                                                    uint16_t* const pDst[], int32_t dstStep,
                                                    VekrCuboid dstVoi, const double* coeffs,
                                                    int32_t interpolation, uint8_t* pBuffer);
VEKR_API VekStatus VEK_CALL vekrWarpAffine_32f_C1PV(const float* const pSrc[], VekrVolume srcVolume,
                                                    int32_t srcStep, VekrCuboid srcVoi,
                                                    float* const pDst[], int32_t dstStep,
                                                    VekrCuboid dstVoi, const double* coeffs,
                                                    int32_t interpolation, uint8_t* pBuffer);
/** @} */

/** @name Remap
 * @{ */
/**
 * Remap of a C1PV volume through three float coordinate maps with the extent
 * of dstVolume (C1PV, one row step mapStep shared by the three): destination
 * voxel (X, Y, Z) samples the source at (pxMap, pyMap, pzMap)(X, Y, Z), in
 * absolute source voxel indices. Voxels whose position lies outside the
 * trimmed srcVoi (compared in single precision), or whose map values are
 * not numbers, keep their contents. Interpolation as in the affine warp.
 *
 * Status, in the order checked: vekStsNullPtrErr (pSrc or pDst null, then a
 * map null); vekStsSizeErr (srcVolume extent below 1, srcVoi corner below 0
 * or extent below 1, dstVolume extent below 1); vekStsInterpolationErr;
 * vekStsVoiOutsideWarn. Results do not depend on the thread count.
 *
 * Runs on ownGetNumThreads() threads as the group description says.
 * @param pSrc           source plane pointers
 * @param srcVolume      extent of the whole source volume
 * @param srcStep        bytes from one source row to the next
 * @param srcVoi         source region sampled
 * @param pxMap          plane pointers of the x positions
 * @param pyMap          plane pointers of the y positions
 * @param pzMap          plane pointers of the z positions
 * @param mapStep        bytes from one map row to the next
 * @param pDst           destination plane pointers
 * @param dstStep        bytes from one destination row to the next
 * @param dstVolume      extent of the destination and of the maps
 * @param interpolation  interpolation mode
 * @retval vekStsNullPtrErr        pSrc or pDst null, then a map null
 * @retval vekStsSizeErr           srcVolume extent below 1, srcVoi corner
 *                                 below 0 or extent below 1, dstVolume
 *                                 extent below 1
 * @retval vekStsInterpolationErr  mode not 1, 2, 4, 5, 6 or 7
 * @retval vekStsVoiOutsideWarn    srcVoi begins outside the source volume
 * @retval vekStsOk                otherwise
 */
VEKR_API VekStatus VEK_CALL vekrRemap_8u_C1PV(const uint8_t* const pSrc[], VekrVolume srcVolume,
                                              int32_t srcStep, VekrCuboid srcVoi,
                                              const float* const pxMap[], const float* const pyMap[],
                                              const float* const pzMap[], int32_t mapStep,
                                              uint8_t* const pDst[], int32_t dstStep,
                                              VekrVolume dstVolume, int32_t interpolation);
VEKR_API VekStatus VEK_CALL vekrRemap_16u_C1PV(const uint16_t* const pSrc[], VekrVolume srcVolume,
                                               int32_t srcStep, VekrCuboid srcVoi,
                                               const float* const pxMap[], const float* const pyMap[],
                                               const float* const pzMap[], int32_t mapStep,
                                               uint16_t* const pDst[], int32_t dstStep,
                                               VekrVolume dstVolume, int32_t interpolation);
VEKR_API VekStatus VEK_CALL vekrRemap_32f_C1PV(const float* const pSrc[], VekrVolume srcVolume,
                                               int32_t srcStep, VekrCuboid srcVoi,
                                               const float* const pxMap[], const float* const pyMap[],
                                               const float* const pzMap[], int32_t mapStep,
                                               float* const pDst[], int32_t dstStep,
                                               VekrVolume dstVolume, int32_t interpolation);
/** @} */

/**
 * Scratch size of the filter, which needs none: stores 0 in *pSize.
 * roiVolume and kernelVolume only have to be valid volumes.
 * @param roiVolume     extent of the destination (only checked)
 * @param kernelVolume  extent of the kernel (only checked)
 * @param nChannel      number of channels; must be 1
 * @param pSize         receives 0
 * @retval vekStsNullPtrErr      pSize null
 * @retval vekStsSizeErr         any of the six extents below 1
 * @retval vekStsNumChannelsErr  nChannel not 1
 * @retval vekStsOk              otherwise
 */
VEKR_API VekStatus VEK_CALL vekrFilterGetBufSize(VekrVolume roiVolume, VekrVolume kernelVolume,
                                                 int32_t nChannel, int32_t* pSize);

/**
 * 3-D convolution of a signed 16-bit C1PV volume with an integer kernel:
 *
 *   dst(x, y, z) = round(sum K(i, j, k) * src(x + ax - i, y + ay - j, z + az - k)
 *                        / divisor)
 *
 * over i < kw, j < kh, k < kd, for every voxel of dstVolume. K(i, j, k) is
 * pKernel[i + kw * (j + kh * k)]. Each product is a 32-bit (wrapping)
 * product summed into 64 bits. Division rounds to nearest with ties to
 * even: divisor 1 is exact; a positive power of two shifts; every other
 * divisor (negative ones included) divides in double precision by the
 * divisor rounded to single precision. The result saturates to
 * [-32768, 32767].
 *
 * There is no border handling: the source must hold planes az - (kd - 1) to
 * D - 1 + az, rows ay - (kh - 1) to H - 1 + ay and columns ax - (kw - 1) to
 * W - 1 + ax, so pSrc may point into the middle of the caller's plane
 * array and be indexed below 0. The anchor is not checked. pBuffer is not
 * used. Runs on the calling thread.
 *
 * @param pSrc          source plane pointers (may be indexed below 0)
 * @param srcStep       bytes from one source row to the next
 * @param pDst          destination plane pointers
 * @param dstStep       bytes from one destination row to the next
 * @param dstVolume     extent of the destination
 * @param pKernel       kw * kh * kd kernel values, x fastest
 * @param kernelVolume  kernel extent (kw, kh, kd)
 * @param anchor        kernel anchor (ax, ay, az)
 * @param divisor       the sum is divided by it; not 0
 * @param pBuffer       not used; may be NULL
 *
 * Status, in the order checked:
 * @retval vekStsNullPtrErr  pSrc, pDst or pKernel null
 * @retval vekStsSizeErr     a dstVolume or kernelVolume extent below 1, or
 *                           divisor 0
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrFilter_16s_C1PV(const int16_t* const pSrc[], int32_t srcStep,
                                                int16_t* const pDst[], int32_t dstStep,
                                                VekrVolume dstVolume, const int32_t* pKernel,
                                                VekrVolume kernelVolume, VekrPoint anchor,
                                                int32_t divisor, uint8_t* pBuffer);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* VEKR_VOLUME_H */
