/**
 * @file vekr_base.h
 * What every vekr export shares: calling convention, export macro, status
 * codes, the version record and the ray-block size.
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

/**
 * @defgroup base Status codes, version record and common records
 * What every export shares.
 *
 * Every export but vekrGetLibVersion returns a ::VekStatus: 0 success,
 * negative errors, positive warnings; after an error or a warning nothing
 * has been written. The @ref status_codes "status-code page" lists which
 * exports return which code, and the @ref conventions "conventions page"
 * the array layouts they all share.
 *
 * Example:
 * @code
 * const VekLibraryVersion* v = vekrGetLibVersion();
 * printf("%s %s (%d.%d)\n", v->libraryName, v->versionText, v->versionMajor, v->versionMinor);
 * @endcode
 * @{
 */

#if defined(_WIN32) && !defined(_WIN64)
/** Calling convention of every export: __stdcall on 32-bit Windows, the
 *  platform's default elsewhere. */
#define VEK_CALL __stdcall
#else
/** Calling convention of every export (the platform's default here). */
#define VEK_CALL
#endif

#if defined(_WIN32)
#if defined(VEKR_BUILDING_LIBRARY)
#define VEKR_API __declspec(dllexport)
#elif defined(VEKR_STATIC)
/* linked from the library's objects into the program itself */
#define VEKR_API
#else
#define VEKR_API __declspec(dllimport)
#endif
#else
/** Marks a declaration as an export of the shared library. */
#define VEKR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Result of every export but vekrGetLibVersion: 0 success, negative errors,
 * positive warnings. After an error or a warning nothing has been written.
 */
typedef int32_t VekStatus;

#define vekStsOk 0                 /**< success */
#define vekStsNoVoxelsWarn 1       /**< resize: the destination region is empty */
#define vekStsVoiOutsideWarn 40    /**< source region begins outside the source volume */
#define vekStsErr (-2)             /**< internal consistency check of the SAH build failed */
#define vekStsNoMemErr (-4)        /**< tree block allocation failed, memory limit below the minimum,
                                      or a resize buffer size beyond 2^31 - 1 bytes */
#define vekStsBadArgErr (-5)       /**< unknown kd-tree build algorithm tag */
#define vekStsSizeErr (-6)         /**< size, count or length outside its domain */
#define vekStsRangeErr (-7)        /**< spherical-harmonics kind or order out of range */
#define vekStsNullPtrErr (-8)      /**< a required pointer is null */
#define vekStsMemAllocErr (-9)     /**< SAH build exhausted its memory budget */
#define vekStsBadParamErr (-11)    /**< kd-tree build depth or split factor out of range */
#define vekStsInterpolationErr (-22) /**< interpolation mode not supported */
#define vekStsResizeFactorErr (-23)  /**< resize factor not greater than 0 */
#define vekStsNumChannelsErr (-53)   /**< channel count other than 1 */
#define vekStsCoeffErr (-56)         /**< affine transform degenerate or singular */

/** The constant record describing this build of the library. */
typedef struct VekLibraryVersion {
    int32_t versionMajor;    /**< major version number (6) */
    int32_t versionMinor;    /**< minor version number (1) */
    int32_t buildMajor;      /**< major build number */
    int32_t buildNumber;     /**< build number */
    char cpuTag[4];          /**< processor variant, NUL-padded, e.g. "t7" */
    const char* libraryName; /**< the library's name, e.g. "vekrt7-6.1.dll" */
    const char* versionText; /**< the version as text, e.g. "6.1 build 137.20" */
    const char* buildDate;   /**< the date of the build, as text, e.g. "Jun 10 2009" */
} VekLibraryVersion;

/** Width and height of a rectangular block of rays or pixels, row-major. */
typedef struct VekrSize {
    int32_t width;  /**< elements per row */
    int32_t height; /**< number of rows */
} VekrSize;

/**
 * Returns the library's single constant version record. Never null; the same
 * pointer on every call. Do not write through it or free it.
 * Checks nothing; safe to call from any thread.
 * @return the version record
 */
VEKR_API const VekLibraryVersion* VEK_CALL vekrGetLibVersion(void);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* VEKR_BASE_H */
