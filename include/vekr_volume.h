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
