/*
 * vekr_base.h - what every vekr export shares: calling convention, export
 * macro, status codes, the version record and the ray-block size.
 *
 * Plain C99; include <vekr.h> rather than this file.
 *
 * Instruction sets: the library runs on any processor with SSE3. Its hot
 * kernels (volume resize, warp, remap and filter, the recurrence basis)
 * also exist in AVX2 form; the first call that needs one picks AVX2 when
 * the processor and operating system support it. Both forms give
 * bit-identical results. The environment variable VEKR_ISA=sse3, read once
 * per process, holds the library to the SSE3 kernels: it is the only
 * environment variable the library reads.
 */
#ifndef VEKR_BASE_H
#define VEKR_BASE_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define VEK_CALL __stdcall
#else
#define VEK_CALL
#endif

#if defined(_WIN32)
#if defined(VEKR_BUILDING_LIBRARY)
#define VEKR_API __declspec(dllexport)
#else
#define VEKR_API __declspec(dllimport)
#endif
#else
#define VEKR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Result of every export but vekrGetLibVersion: 0 success, negative errors,
 * positive warnings. After an error or a warning nothing has been written.
 */
typedef int32_t VekStatus;

#define vekStsOk 0
#define vekStsNoVoxelsWarn 1       /* resize: the destination region is empty */
#define vekStsVoiOutsideWarn 40    /* source region begins outside the source volume */
#define vekStsErr (-2)             /* internal consistency check of the SAH build failed */
#define vekStsNoMemErr (-4)        /* tree block allocation failed, or memory limit below the minimum */
#define vekStsBadArgErr (-5)       /* unknown kd-tree build algorithm tag */
#define vekStsSizeErr (-6)         /* size, count or length outside its domain */
#define vekStsRangeErr (-7)        /* spherical-harmonics kind or order out of range */
#define vekStsNullPtrErr (-8)      /* a required pointer is null */
#define vekStsMemAllocErr (-9)     /* SAH build exhausted its memory budget */
#define vekStsBadParamErr (-11)    /* kd-tree build depth or split factor out of range */
#define vekStsInterpolationErr (-22) /* interpolation mode not supported */
#define vekStsResizeFactorErr (-23)  /* resize factor not greater than 0 */
#define vekStsNumChannelsErr (-53)   /* channel count other than 1 */
#define vekStsCoeffErr (-56)         /* affine transform degenerate or singular */

/* The constant record describing this build of the library. */
typedef struct VekLibraryVersion {
    int32_t versionMajor;
    int32_t versionMinor;
    int32_t buildMajor;
    int32_t buildNumber;
    char cpuTag[4];          /* processor variant, NUL-padded */
    const char* libraryName;
    const char* versionText;
    const char* buildDate;
} VekLibraryVersion;

/* Width and height of a rectangular block of rays or pixels, row-major. */
typedef struct VekrSize {
    int32_t width;
    int32_t height;
} VekrSize;

/*
 * Returns the library's single constant version record. Never null; the same
 * pointer on every call. Do not write through it or free it.
 */
VEKR_API const VekLibraryVersion* VEK_CALL vekrGetLibVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* VEKR_BASE_H */
